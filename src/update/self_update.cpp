// Handler of message 1001: when the server answers "false", the published launcher is downloaded,
// checked, put in the running launcher's place (the running one moves aside) and started, and this
// process ends. The next launcher removes the old copy at start-up.
//
// Nothing unverified is ever put under the launcher's name: the new launcher arrives under a name
// of its own and must be whole (the transfer complete, a complete program for this system, signed
// where this build requires it, and of a higher release than the running one) before the running
// launcher moves aside. Releases only go forward: a mirror cannot bring back an older launcher,
// and one still serving the running launcher (the same release) cannot make it restart for ever. On any
// failure the running launcher keeps its name, nothing is left beside it, one diagnostic says why, and the
// process ends as it would with no launcher published. Should the process end between the move aside and the
// new launcher's arrival under the name, the running launcher goes back under it.
#include "update/self_update.h"

#include <iostream>
#include <memory>
#include <mutex>
#include <optional>

#include "core/launcher_state.h"
#include "core/protocol.h"
#include "launcher_config.h"
#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/process.h"
#include "update/download.h"
#include "update/resume.h"
#include "update/temporary_names.h"

namespace {

#ifdef _WIN32
constexpr const char* executableSuffix = ".exe";
// The module's own path, and so installFolder(), separates with backslashes.
constexpr const char* separators = "/\\";
#else
constexpr const char* executableSuffix = "";
constexpr const char* separators = "/";
#endif

constexpr const char* outOfDateAnswer = "false";
constexpr const char* selfUpdateStatusText = "Download a new version of the Launcher.";
constexpr const char* selfUpdateFailedText = "Launcher update failed. Please restart launcher.";
constexpr const char* publishedLauncherPath = "patches/Launcher/";
constexpr const char* oldCopyMarker = "OLDVersion";
// Beside the launcher while it is checked; never under a name that start-up would run or remove.
constexpr const char* arrivingSuffix = ".new";
constexpr const char* notAProgramText = "The published launcher is not a complete program for this system: ";
constexpr const char* notInPlaceText = "The new launcher could not be put in place: ";
constexpr const char* notNewerText = " is not newer than this launcher (release ";
constexpr const char* notNewerSeparator = " <= ";
constexpr std::size_t answerLengthOffset = 4;

// Windows' own paths (the install folder from the module's name) end in a backslash.
std::string withSeparator(std::string folder) {
    if (!folder.empty() && std::string_view(separators).find(folder.back()) == std::string_view::npos)
        folder += '/';
    return folder;
}

std::string fileNameOf(const std::string& path) {
    const auto separator = path.find_last_of(separators);
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

// What "*.exe" finds on Windows: a program file directly in the folder, never a folder.
bool isProgramFile(const std::string& path) {
    if (!platform::isExecutableFile(path)) return false;
#ifdef _WIN32
    // The pattern matches without regard to case, as the system's own search does.
    constexpr std::string_view suffix = ".exe";
    return path.size() >= suffix.size() &&
           platform::equalsIgnoringAsciiCase(std::string_view(path).substr(path.size() - suffix.size()),
                                             suffix);
#else
    return true;
#endif
}

} // namespace

std::string launcherFileName() {
    return std::string(brandName) + "Launcher" + executableSuffix;
}

std::string oldLauncherFileName() {
    return std::string(brandName) + "Launcher_OLDVersion" + executableSuffix;
}

std::string arrivingLauncherFileName() {
    return launcherFileName() + arrivingSuffix;
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
        // A launcher started from the old-copy name keeps its file, as Windows would refuse to
        // delete a running program.
        if (platform::isRunningExecutable(path)) continue;
        std::cout << path << std::endl;
        platform::deleteFile(path);
    }
}

void removeOldLaunchers() {
    removeOldLaunchersIn(installFolder());
}

namespace {

std::mutex releaseLock;
std::optional<std::uint32_t> testRelease;

std::uint32_t ownRelease() {
    std::lock_guard lock(releaseLock);
    return testRelease ? *testRelease : builtInLauncherRelease();
}

void removeArriving(const std::string& arrivingPath) {
    // The temporaries of its download (see download.cpp) go with it.
    for (const std::string& path :
         {arrivingPath, downloadPartPath(arrivingPath), resumeFilePath(downloadPartPath(arrivingPath))})
        platform::deleteFile(path);
}

// Downloads the new launcher to `arrivingPath` and checks it there; true when it may take the
// launcher's place. Leaves nothing behind otherwise.
bool fetchNewLauncher(const std::string& url, const std::string& arrivingPath) {
    removeArriving(arrivingPath);
    const auto separator = url.rfind(publishedLauncherPath);
    const std::string baseUrl = url.substr(0, separator);
    const std::string relativePath = separator == std::string::npos ? url : url.substr(separator);
    const auto isNewerProgram = [](const FetchedFile& fetched) {
        if (!platform::isCompleteExecutable(fetched.temporaryPath)) {
            platform::diagnose(notAProgramText + fetched.url);
            return false;
        }
        // Read only now: with a key built in, the signature has vouched for the whole file.
        const std::uint32_t published = platform::executableRelease(fetched.temporaryPath);
        const std::uint32_t own = ownRelease();
        if (published > own) return true;
        platform::diagnose(fetched.url + notNewerText + std::to_string(published) + notNewerSeparator +
                           std::to_string(own) + ")");
        return false;
    };
    if (separator != std::string::npos &&
        fetchUpdateFile(baseUrl, relativePath, arrivingPath, downloader, isNewerProgram))
        return true;
    // An address outside the update server (never built by this program) is not fetched.
    removeArriving(arrivingPath);
    return false;
}

} // namespace

void useLauncherReleaseForTesting(std::optional<std::uint32_t> release) {
    std::lock_guard lock(releaseLock);
    testRelease = release;
}

bool replaceLauncherIn(const std::string& folder, const std::string& url) {
    const std::string launcherPath = withSeparator(folder) + launcherFileName();
    const std::string oldCopyPath = withSeparator(folder) + oldLauncherFileName();
    const std::string arrivingPath = withSeparator(folder) + arrivingLauncherFileName();

    {
        // Should the process end during the download, nothing of it stays beside the launcher.
        const platform::EndStep removeDownload([=] { removeArriving(arrivingPath); });
        if (!fetchNewLauncher(url, arrivingPath)) return false;
        platform::makeExecutable(arrivingPath);

        // The move aside and the arrival under the name are one step for a process that ends
        // meanwhile (the server closes the connection): it waits for them, then puts the running
        // launcher back if the name was left empty.
        struct Swap {
            std::mutex lock;
            bool movedAside = false;
        };
        const auto swap = std::make_shared<Swap>();
        const platform::EndStep putBack([=] {
            std::lock_guard guard(swap->lock);
            if (swap->movedAside) platform::moveFileNoReplace(oldCopyPath, launcherPath);
        });
        std::lock_guard guard(swap->lock);
        swap->movedAside = platform::moveFileNoReplace(launcherPath, oldCopyPath);
        if (!swap->movedAside && platform::pathExists(launcherPath) && platform::pathExists(oldCopyPath) &&
            !platform::isRunningExecutable(oldCopyPath)) {
            // A stale old copy holds the name; the running launcher must still find room beside.
            platform::deleteFile(oldCopyPath);
            swap->movedAside = platform::moveFileNoReplace(launcherPath, oldCopyPath);
        }
        const bool arrived = platform::replaceFile(arrivingPath, launcherPath);
        if (!arrived) {
            platform::diagnose(notInPlaceText + launcherPath);
            removeArriving(arrivingPath);
            if (swap->movedAside) platform::moveFileNoReplace(oldCopyPath, launcherPath);
        }
        swap->movedAside = false;
        if (!arrived) return false;
    }
    // The new launcher takes this folder's lock over; this one only ends from here on.
    platform::releaseInstallFolderLock();
    return platform::startDetached(launcherPath);
}

bool replaceLauncher(const std::string& url) {
    return replaceLauncherIn(installFolder(), url);
}

void runLauncherSelfUpdate(std::string_view message) {
    // Too short to hold the answer: not an instruction to replace anything.
    std::size_t position = answerLengthOffset;
    const auto answer = readTextAt(message, position);
    if (!answer || *answer != outOfDateAnswer) return;

    setUpdatePhase(launcherDownloadPhase);
    setStatusText(selfUpdateStatusText);
    // With several update servers, the URL begins with all their base URLs (see fetchUpdateFile).
    if (!replaceLauncher(std::string(updateServerUrls) + publishedLauncherPath + launcherFileName()))
        setStatusText(selfUpdateFailedText);
    platform::endProcess(0);
}
