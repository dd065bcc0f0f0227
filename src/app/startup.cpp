// The entry point's body: the installation folder's lock, the launcher's own digest, the server
// connection and its acceptance, the window, the interface thread, and then the window's message
// pump for good.
#include "app/startup.h"

#include <exception>
#include <thread>

#include "app/dispatch.h"
#include "core/connection.h"
#include "core/file_digest.h"
#include "core/install_folder.h"
#include "core/launcher_state.h"
#include "launcher_config.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/net.h"
#include "platform/process.h"
#include "ui/window.h"
#include "update/leftovers.h"

namespace {

constexpr const char* cannotConnectText = "Cannot connect to the server.";
constexpr const char* cannotConnectCaption = "Confirmation";
constexpr const char* lockFileSuffix = "Launcher.lock";
constexpr const char* alreadyRunningText = "Another launcher is running in this folder: ";
constexpr const char* unlockedText = "The installation folder cannot be locked, going on without: ";

// An exception that no thread handled must not leave the others running half-way.
[[noreturn]] void endOnUncaughtFailure() {
    const char* what = "unknown failure";
    try {
        if (const auto failure = std::current_exception()) std::rethrow_exception(failure);
    } catch (const std::exception& failure) {
        what = failure.what();
    } catch (...) {
    }
    platform::diagnose(std::string("Uncaught failure, ending the launcher: ") + what);
    platform::endProcess(uncaughtFailureExitCode);
}

int reportCannotConnect() {
    platform::diagnose(cannotConnectText);
    platform::showMessageBox(cannotConnectCaption, cannotConnectText, platform::DialogButtons::ok,
                             platform::DialogIcon::question);
    // The entry point returns: the clean-up must not be cut off by the end of the process.
    waitForUpdateWorker();
    return 0;
}

} // namespace

void queueLeftoverRemoval(const std::string& folder) {
    queueUpdateJob([folder] { removeLeftoversIn(folder); });
}

int runLauncher() {
    std::set_terminate(endOnUncaughtFailure);
    // Before anything touches the folder or the server: a second launcher here would remove the
    // first one's downloads and write the same files.
    const std::string lockPath = installFolder() + brandName + lockFileSuffix;
    switch (platform::lockInstallFolder(lockPath)) {
    case platform::FolderLock::held:
        break;
    case platform::FolderLock::heldByAnother:
        platform::diagnose(alreadyRunningText + lockPath);
        platform::showRunningLauncher(lockPath);
        return 0;
    case platform::FolderLock::unavailable:
        platform::diagnose(unlockedText + lockPath);
        break;
    }
    {
        // The window is made, hidden, before the server is asked, so that it can show the moment
        // the server accepts; the digest is read meanwhile.
        std::jthread digest([] { launcherState.launcherDigest = fileDigest(platform::executablePath()); });
        prepareLauncherWindow();
    }
    queueLeftoverRemoval(installFolder());
    if (!platform::startNetworking()) return reportCannotConnect();
    launcherState.serverSocket = platform::createTcpSocket();
    if (launcherState.serverSocket == platform::invalidSocket) {
        platform::stopNetworking();
        return reportCannotConnect();
    }
    if (!connectToServer(dispatchMessage)) return reportCannotConnect();
    if (!createLauncherWindow()) return 0;
    std::thread(runInterfaceThread).detach();
    pumpWindowMessages();
}
