// Test helpers around real processes and folders: a temporary folder and a child process that the
// test owns and reaps.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_folder.h"

extern char** environ;

namespace dltest {

// A child started with an argv[0] of our choosing; killed and reaped at the end of the test,
// so no zombie outlives it.
class ChildProcess {
  public:
    ChildProcess(const std::string& program, const std::vector<std::string>& argv) {
        std::vector<char*> args;
        for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, args.data(), environ) != 0) pid_ = 0;
    }
    ~ChildProcess() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    int pid() const { return pid_; }
    // Waits for the end; the signal that ended the child, or 0 when it exited by itself.
    int reap() {
        int status = 0;
        if (pid_ <= 0 || reaped_ || waitpid(pid_, &status, 0) != pid_) return -1;
        reaped_ = true;
        return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }

  private:
    pid_t pid_ = 0;
    bool reaped_ = false;
};

// Copies a long-sleeping program to `folder/name`, so that the kernel names the process `name`.
inline std::string standInProgram(const std::string& folder, const std::string& name) {
    const std::string path = folder + "/" + name;
    std::filesystem::copy_file("/bin/sleep", path, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

} // namespace dltest
