// Handler of message 1001: when the server answers "false", the running launcher moves aside,
// the published launcher is downloaded under the launcher's name and started, and this process
// ends. The next launcher removes the old copy at start-up.
//
// Two things differ from a plain move-download-start, both so that the player is never left
// without a launcher: when nothing arrives, the running launcher is moved back under its own
// name (and nothing is started); and the start-up clean-up never deletes the file of the running
// process, which on this system would succeed while the download is still under way.
#include "update/self_update.h"

#include <filesystem>
#include <iostream>
#include <optional>

#include "core/launcher_state.h"
#include "core/protocol.h"
#include "launcher_config.h"
#include "platform/files.h"
#include "platform/process.h"
#include "update/download.h"

namespace {

#ifdef _WIN32
constexpr const char* executableSuffix = ".exe";
#else
constexpr const char* executableSuffix = "";
#endif

constexpr const char* outOfDateAnswer = "false";
constexpr const char* selfUpdateStatusText = "Download a new version of the Launcher.";
constexpr const char* publishedLauncherPath = "patches/Launcher/";
constexpr const char* oldCopyMarker = "OLDVersion";
constexpr std::size_t answerLengthOffset = 4;

std::string withSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

std::string fileNameOf(const std::string& path) {
    const auto separator = path.find_last_of('/');
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

// What "*.exe" finds on Windows: a program file directly in the folder, never a folder.
bool isProgramFile(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::is_regular_file(status)) return false;
#ifdef _WIN32
    return path.size() >= 4 && path.compare(path.size() - 4, 4, ".exe") == 0;
#else
    using std::filesystem::perms;
    return (status.permissions() & (perms::owner_exec | perms::group_exec | perms::others_exec)) !=
           perms::none;
#endif
}

} // namespace

std::string launcherFileName() {
    return std::string(brandName) + "Launcher" + executableSuffix;
}

std::string oldLauncherFileName() {
    return std::string(brandName) + "Launcher_OLDVersion" + executableSuffix;
}

std::vector<std::string> listExecutables(const std::string& folder) {
    std::vector<std::string> paths;
    const std::string prefix = withSeparator(folder);
    for (const auto& name : platform::listFolder(folder)) {
        std::string path = prefix + name;
        if (isProgramFile(path)) paths.push_back(std::move(path));
    }
    return paths;
}

void removeOldLaunchersIn(const std::string& folder) {
    for (const auto& path : listExecutables(folder)) {
        if (fileNameOf(path).find(oldCopyMarker) == std::string::npos) continue;
        // A launcher that has just moved itself aside (the self-update runs beside start-up)
        // still needs its file until its replacement has arrived.
        if (platform::isRunningExecutable(path)) continue;
        std::cout << path << std::endl;
        platform::deleteFile(path);
    }
}

void removeOldLaunchers() {
    removeOldLaunchersIn(installFolder());
}

void replaceLauncherIn(const std::string& folder, const std::string& url) {
    const std::string launcherPath = withSeparator(folder) + launcherFileName();
    const std::string oldCopyPath = withSeparator(folder) + oldLauncherFileName();

    bool movedAside = platform::moveFileNoReplace(launcherPath, oldCopyPath);
    if (!movedAside && platform::pathExists(launcherPath) && platform::pathExists(oldCopyPath) &&
        !platform::isRunningExecutable(oldCopyPath)) {
        // A stale old copy holds the name; without the move the download below would delete the
        // running launcher, and a failed download would leave none.
        platform::deleteFile(oldCopyPath);
        movedAside = platform::moveFileNoReplace(launcherPath, oldCopyPath);
    }

    {
        // The process may end from another thread during the download (the server closes the
        // connection): the running launcher then goes back under its name all the same.
        std::optional<platform::EndStep> moveBack;
        if (movedAside) moveBack.emplace([=] { platform::moveFileNoReplace(oldCopyPath, launcherPath); });
        downloadFile(url, launcherPath, downloader);
    }

    if (!platform::pathExists(launcherPath)) {
        if (movedAside) platform::moveFileNoReplace(oldCopyPath, launcherPath);
        return;
    }
    platform::makeExecutable(launcherPath);
    platform::startDetached(launcherPath);
}

void replaceLauncher(const std::string& url) {
    replaceLauncherIn(installFolder(), url);
}

void runLauncherSelfUpdate(std::string_view message) {
    // Too short to hold the answer: not an instruction to replace anything.
    std::size_t position = answerLengthOffset;
    const auto answer = readTextAt(message, position);
    if (!answer || *answer != outOfDateAnswer) return;

    setUpdatePhase(launcherDownloadPhase);
    setStatusText(selfUpdateStatusText);
    replaceLauncher(std::string(updateBaseUrl) + publishedLauncherPath + launcherFileName());
    platform::endProcess(0);
}
