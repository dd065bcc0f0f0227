// Starting programs that the launcher does not wait for (CreateProcess), on POSIX: posix_spawn.
//
// [X] a failed start is a failure: glibc's posix_spawn reports a failed exec (missing file, no
//     execute permission, bad interpreter) as its result, so false never hides behind a child
// [X] handles not inherited: descriptors above the standard three are closed in the child
// [X] the child starts with the default action for every signal and nothing blocked, as a new
//     Windows process would, whatever this process ignores or blocks
// [X] every child is waited for by a thread of its own, so an ended client never lingers as a
//     zombie that the game-process scan would take for a running game
// [X] the game client: looked for in the launcher's folder, then in the working folder (names
//     matched without regard to case, as on Windows); run directly when executable, otherwise,
//     or when the system cannot run it (no binfmt_misc for Windows programs), through `wine` from
//     the absolute folders of PATH (empty and relative entries are skipped); inside a Wine prefix (a
//     `drive_c` folder above the client) it runs in that prefix
// [ ] CreateProcess's further search of the system folders and PATH for the client: not kept, a
//     game client is never installed there
#include "platform/files.h"
#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

struct ActionsDeleter {
    void operator()(posix_spawn_file_actions_t* actions) const { posix_spawn_file_actions_destroy(actions); }
};
struct AttributesDeleter {
    void operator()(posix_spawnattr_t* attributes) const { posix_spawnattr_destroy(attributes); }
};

void reportFailure(const std::string& program, int error) {
    diagnose("Cannot start " + program + ": " + std::strerror(error));
}

void reapLater(pid_t child) {
    std::thread([child] {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

// 0 when the program runs, otherwise the error number of the failed start.
int spawn(const std::string& program, const std::vector<std::string>& arguments,
          const std::string& workingFolder, const std::vector<std::string>& environment, bool searchPath) {
    posix_spawn_file_actions_t actionsStorage;
    if (posix_spawn_file_actions_init(&actionsStorage) != 0) return ENOMEM;
    std::unique_ptr<posix_spawn_file_actions_t, ActionsDeleter> actions(&actionsStorage);
    if (!workingFolder.empty() && workingFolder != ".")
        posix_spawn_file_actions_addchdir_np(actions.get(), workingFolder.c_str());
    posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);

    posix_spawnattr_t attributesStorage;
    if (posix_spawnattr_init(&attributesStorage) != 0) return ENOMEM;
    std::unique_ptr<posix_spawnattr_t, AttributesDeleter> attributes(&attributesStorage);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(attributes.get(), &none);
    posix_spawnattr_setsigdefault(attributes.get(), &all);
    posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    pid_t child = 0;
    const int result =
        searchPath
            ? posix_spawnp(&child, program.c_str(), actions.get(), attributes.get(), argv.data(), envp.data())
            : posix_spawn(&child, program.c_str(), actions.get(), attributes.get(), argv.data(), envp.data());
    if (result == 0) reapLater(child);
    return result;
}

std::vector<std::string> currentEnvironment() {
    std::vector<std::string> entries;
    for (char** entry = environ; entry && *entry; ++entry) entries.emplace_back(*entry);
    return entries;
}

bool isRegularFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool isExecutableFile(const std::string& path) {
    return isRegularFile(path) && ::access(path.c_str(), X_OK) == 0;
}

std::string workingFolderPath() {
    std::unique_ptr<char, decltype(&std::free)> folder(::getcwd(nullptr, 0), &std::free);
    return folder ? std::string(folder.get()) + "/" : std::string("./");
}

std::optional<std::string> findClient(const std::string& folder, const std::string& clientName) {
    const std::string path = resolveCaseInsensitive(folder, clientName);
    if (isRegularFile(path)) return path;
    return std::nullopt;
}

std::optional<std::string> findInPath(const std::string& name) {
    const char* variable = std::getenv("PATH");
    const std::string path = variable ? variable : "/usr/local/bin:/usr/bin:/bin";
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find(':', begin);
        if (end == std::string::npos) end = path.size();
        // An empty or relative entry names the working folder, where anyone who can leave a file
        // would have their `wine` run: skipped.
        const std::string folder = path.substr(begin, end - begin);
        if (folder.starts_with('/') && isExecutableFile(folder + "/" + name)) return folder + "/" + name;
        begin = end + 1;
    }
    return std::nullopt;
}

// The folder that holds the `drive_c` folder above `file`, if there is one.
std::optional<std::string> winePrefixOf(const std::string& file) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(file.c_str(), nullptr), &std::free);
    const std::string path = real ? std::string(real.get()) : file;
    const std::string marker = "/drive_c/";
    const std::size_t found = path.rfind(marker);
    if (found == std::string::npos || found == 0) return std::nullopt;
    return path.substr(0, found);
}

std::vector<std::string> clientEnvironment(const std::string& client) {
    std::vector<std::string> environment = currentEnvironment();
    if (const auto prefix = winePrefixOf(client)) {
        std::erase_if(environment,
                      [](const std::string& entry) { return entry.rfind("WINEPREFIX=", 0) == 0; });
        environment.push_back("WINEPREFIX=" + *prefix);
    }
    return environment;
}

} // namespace

bool startProcess(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& workingFolder) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const bool searchPath = program.find('/') == std::string::npos;
    const int error = spawn(program, argv, workingFolder, currentEnvironment(), searchPath);
    if (error != 0) reportFailure(program, error);
    return error == 0;
}

bool startGameClient(const std::string& launcherFolder, const std::string& clientName,
                     const std::string& argument) {
    auto client = findClient(launcherFolder, clientName);
    if (!client) client = findClient(workingFolderPath(), clientName);
    if (!client) {
        diagnose("Cannot find " + clientName + " in " + launcherFolder + " or in the working folder");
        return false;
    }
    const std::vector<std::string> environment = clientEnvironment(*client);
    if (isExecutableFile(*client)) {
        const int error = spawn(*client, {*client, argument}, ".", environment, false);
        if (error == 0) return true;
        // ENOEXEC: an executable bit on a Windows program that this system cannot run by itself.
        if (error != ENOEXEC) {
            reportFailure(*client, error);
            return false;
        }
    }
    const auto wine = findInPath("wine");
    if (!wine) {
        diagnose("Cannot start " + *client + ": it is not executable and wine is not installed");
        return false;
    }
    const int error = spawn(*wine, {"wine", *client, argument}, ".", environment, false);
    if (error != 0) reportFailure(*wine, error);
    return error == 0;
}

} // namespace platform
