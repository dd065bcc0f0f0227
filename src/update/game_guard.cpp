// The game process guard: no game file is downloaded, extracted or put in place while the game runs.
#include "update/game_guard.h"

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/process.h"
#include "update/download.h"

namespace {

constexpr const char* warningCaption = "Warning";
constexpr const char* warningText =
    "The game is currently running.\nDo you want to close it to proceed with the update?";
constexpr const char* errorCaption = "Error";
constexpr const char* errorText = "Failed to close the game.\nPlease close it manually.";
constexpr const char* cancelledCaption = "Cancelled";
constexpr const char* cancelledText = "Update cancelled.\nPlease close the game and try again.";
constexpr const char* stillRunningDiagnostic = "Cannot proceed with update. Game is still running.";

constexpr int closePauseMs = 1000;

// A game run under Wine carries a Windows path in argv[0], so both separators end a folder.
std::string lastPathComponent(const std::string& path) {
    const auto separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

bool isGameProcess(const platform::ProcessEntry& entry) {
    return platform::equalsIgnoringAsciiCase(entry.name, gameExecutableName) ||
           platform::equalsIgnoringAsciiCase(lastPathComponent(entry.argv0), gameExecutableName);
}

} // namespace

bool isGameRunning() {
    for (const auto& entry : platform::listProcesses())
        if (isGameProcess(entry)) return true;
    return false;
}

bool closeGame() {
    bool terminated = false;
    for (const auto& entry : platform::listProcesses())
        if (isGameProcess(entry) && platform::terminateProcess(entry.pid)) terminated = true;
    return terminated;
}

bool gameClosedForUpdate() {
    if (!isGameRunning()) return true;
    const auto answer = platform::showMessageBox(warningCaption, warningText, platform::DialogButtons::yesNo,
                                                 platform::DialogIcon::warning);
    if (answer == platform::DialogAnswer::yes) {
        if (closeGame()) {
            platform::sleepMilliseconds(closePauseMs);
            if (!isGameRunning()) return true;
        }
        platform::showMessageBox(errorCaption, errorText, platform::DialogButtons::ok,
                                 platform::DialogIcon::error);
    } else {
        platform::showMessageBox(cancelledCaption, cancelledText, platform::DialogButtons::ok,
                                 platform::DialogIcon::information);
    }
    platform::diagnose(stillRunningDiagnostic);
    return false;
}

bool guardedDownload(const std::string& baseUrl, const std::string& relativePath, const std::string& path,
                     Downloader& sink, const AcceptDownload& accept, const MayReplace& mayReplace) {
    return gameClosedForUpdate() && fetchUpdateFile(baseUrl, relativePath, path, sink, accept, mayReplace);
}
