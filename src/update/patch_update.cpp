// Handler of message 1002: fetch and apply, in list order, every patch newer than the installed one.
//
// Versions that are not numbers (an empty version.dat, an empty line, the empty piece after a
// final line feed) are never compared: such a token is skipped with a diagnostic, and such an
// installed version counts as the default. A token that would name a file outside "Downloads" is
// refused and ends the run as a patch that did not apply. Runs never overlap: the update worker
// runs one handler at a time, so a second list waits for the first and two runs never write the
// same archive or game files.
//
// An archive is extracted only when its download arrived whole (an older file of the same name
// in "Downloads" is never taken for it), and the version shown moves on only when the patch
// applied. The first patch that does not apply ends the run: the next patches build on it, and
// the archive's version.dat, written only by a complete extraction, keeps the installed version
// so the next start fetches it again. The final status names the version that did not apply, so
// a failed run never reads as a finished one.
//
// Where the server publishes a delta patch of a version, it is tried first; the full patch
// follows when there is none or it does not apply.
#include "update/patch_update.h"

#include <cstdint>
#include <optional>

#include "core/launcher_state.h"
#include "core/protocol.h"
#include "core/text_conversion.h"
#include "launcher_config.h"
#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/process.h"
#include "update/delta_patch.h"
#include "update/download.h"
#include "update/extract_archive.h"
#include "update/game_guard.h"

namespace {

constexpr const char* versionFileName = "version.dat";
constexpr const char* defaultVersion = "1000";
// Far longer than any version number; a longer first line is no number all the same.
constexpr std::size_t longestVersionLine = 64 * 1024;
constexpr const char* downloadsFolderName = "Downloads";
constexpr const char* patchesPath = "patches/";
constexpr const char* archiveSuffix = ".zip";
constexpr const char* downloadingStatusText = "Downloading version: ";
constexpr const char* finishedStatusText = "Updated, There is no new patches.";
constexpr const char* failedStatusText = "Update to version ";
constexpr const char* failedStatusEndText = " failed. Please restart launcher.";
constexpr std::size_t listLengthOffset = 4;
constexpr std::size_t listOffset = 5;
constexpr const char* blanks = " \t\r\v\f";

constexpr const char* notANumberText = "Skipping patch version that is not a number: ";
constexpr const char* leavesFolderText = "Refusing patch version that names a path outside Downloads: ";
constexpr const char* installedNotANumberText = "Installed version is not a number, using 1000: ";

template <typename Text> std::vector<Text> splitAny(const Text& text, const Text& delimiter) {
    std::vector<Text> pieces;
    if (delimiter.empty()) {
        pieces.push_back(text);
        return pieces;
    }
    std::size_t start = 0;
    for (auto found = text.find(delimiter); found != Text::npos; found = text.find(delimiter, start)) {
        pieces.push_back(text.substr(start, found - start));
        start = found + delimiter.size();
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

// The token becomes a file name in "Downloads"; it must not name a path anywhere else.
bool isPlainFileName(const std::string& token) {
    return token != "." && token != ".." && token.find_first_of("/\\") == std::string::npos;
}

} // namespace

std::vector<std::string> splitText(std::string_view text, std::string_view delimiter) {
    return splitAny(std::string(text), std::string(delimiter));
}

std::vector<std::u16string> splitText(std::u16string_view text, std::u16string_view delimiter) {
    return splitAny(std::u16string(text), std::u16string(delimiter));
}

// On Windows characters that the ANSI code page lacks become '?', as GetModuleFileNameA gives them.
std::string installFolderAnsi() {
    return platform::ansiCodePageForm(installFolder());
}

std::string readInstalledVersionIn(const std::string& folder) {
    const std::string path = folder + versionFileName;
    if (platform::File file = platform::openFile(path, platform::OpenMode::read)) {
        std::string line;
        std::optional<std::string> block;
        while (line.find('\n') == std::string::npos && line.size() < longestVersionLine &&
               (block = file.readUpTo(4096)) && !block->empty())
            line += *block;
        if (block) {
            line = line.substr(0, line.find('\n'));
            // A file written on Windows or by hand ("1003\r\n", "1003  ") names the same version.
            const auto first = line.find_first_not_of(blanks);
            if (first == std::string::npos) return {};
            return line.substr(first, line.find_last_not_of(blanks) - first + 1);
        }
    }
    // A failure to create the file leaves the default all the same.
    platform::writeWholeFile(path, defaultVersion);
    return defaultVersion;
}

std::string readInstalledVersion() {
    // Through the wide form, which names every folder: the ANSI form names only those whose name
    // the code page holds (and then the same file), so a player's "C:\Users\Jérôme" or "D:\Игры"
    // would never reach it.
    return readInstalledVersionIn(installFolder());
}

void runPatchUpdateIn(std::string_view message, const std::string& folder, const std::string& baseUrl) {
    if (message.size() <= listLengthOffset) return;
    const auto length = static_cast<unsigned char>(message[listLengthOffset]);
    if (length == 0) return;
    const std::string listText = readField(message, listOffset, length).value_or(std::string());
    std::vector<std::string> tokens;
    for (const auto& piece : splitText(toWide(listText), u"\n")) tokens.push_back(toNarrow(piece));
    const std::string lastToken = tokens.back();

    std::string installed = readInstalledVersionIn(folder);
    if (!toInt32(installed)) {
        platform::diagnose(installedNotANumberText + installed);
        installed = defaultVersion;
    }
    setGameVersion(installed);
    // The version reached so far; only numbers are ever stored in it.
    std::int32_t reached = *toInt32(installed);

    platform::createFolder(folder + downloadsFolderName);

    std::optional<std::string> failedVersion;
    for (const auto& token : tokens) {
        const auto version = toInt32(token);
        if (!version) {
            platform::diagnose(notANumberText + token);
            continue;
        }
        if (*version <= reached) continue;
        if (!isPlainFileName(token)) {
            // A patch that cannot be fetched is one that did not apply: the later ones build on it.
            platform::diagnose(leavesFolderText + token);
            failedVersion = std::to_string(*version);
            break;
        }

        setUpdatePhase(patchingPhase);
        const std::string archivePath = folder + downloadsFolderName + "/" + token + archiveSuffix;
        setStatusText(downloadingStatusText + token + "/" + lastToken);
        if (!runDeltaPatch(baseUrl, token, folder)) {
            // The guard asks again before extracting: the game may have started during the download.
            if (!guardedDownload(baseUrl, std::string(patchesPath) + token + archiveSuffix, archivePath,
                                 downloader) ||
                !gameClosedForUpdate() || !extractArchive(archivePath, folder)) {
                failedVersion = token;
                break;
            }
            platform::deleteFile(archivePath);
        }
        setGameVersion(token);
        reached = *version;
    }
    setStatusText(failedVersion ? failedStatusText + *failedVersion + failedStatusEndText
                                : finishedStatusText);
}

void runPatchUpdate(std::string_view message) {
    runPatchUpdateIn(message, installFolder(), updateServerUrls);
}
