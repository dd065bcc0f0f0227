// Ending this process, pausing, and starting programs that the launcher does not wait for.
//
// [X] ExitProcess: end steps run and the standard streams are flushed (end_process.cpp), then
//     _exit, because other threads are still running and static destructors must not run under them
// [X] Sleep
// [X] ShellExecute "open" of a downloaded launcher: started as a detached process (a session of
//     its own, reparented at once so it never lingers as our zombie); a failed exec is reported
// [X] ShellExecute "open" of an address: SDL_OpenURL (xdg-open); like ShellExecute's use here,
//     the outcome is not looked at
#include "platform/process.h"

#include <SDL2/SDL.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace platform {

void exitImmediately(int exitCode) {
    ::_exit(exitCode);
}

void diagnose(std::string_view line) {
    std::string text(line);
    text += '\n';
    std::cerr << text << std::flush;
}

void sleepMilliseconds(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace {

struct DescriptorCloser {
    void operator()(const int* descriptor) const {
        if (*descriptor >= 0) ::close(*descriptor);
    }
};
using ScopedDescriptor = std::unique_ptr<int, DescriptorCloser>;

// Runs in the forked child, where only async-signal-safe calls are allowed.
[[noreturn]] void detachAndExec(const char* program, int reportDescriptor) {
    const pid_t grandchild = ::fork();
    if (grandchild != 0) {
        if (grandchild < 0) {
            const int error = errno;
            [[maybe_unused]] auto written = ::write(reportDescriptor, &error, sizeof error);
        }
        ::_exit(0);
    }
    ::setsid();
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    char* const arguments[] = {const_cast<char*>(program), nullptr};
    ::execv(program, arguments);
    const int error = errno;
    [[maybe_unused]] auto written = ::write(reportDescriptor, &error, sizeof error);
    ::_exit(127);
}

} // namespace

bool startDetached(const std::string& program) {
    int descriptors[2];
    if (::pipe2(descriptors, O_CLOEXEC) != 0) return false;
    int readEnd = descriptors[0];
    int writeEnd = descriptors[1];
    ScopedDescriptor readGuard(&readEnd);
    ScopedDescriptor writeGuard(&writeEnd);

    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) detachAndExec(program.c_str(), writeEnd);

    ::close(writeEnd);
    writeEnd = -1;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes on a successful exec; an error number arrives when exec or fork failed.
    int error = 0;
    ssize_t got;
    do {
        got = ::read(readEnd, &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    if (got == 0) return true;
    diagnose("Cannot start " + program + ": error " + std::to_string(got > 0 ? error : errno));
    return false;
}

void openAddress(const std::string& url) {
    SDL_OpenURL(url.c_str());
}

} // namespace platform
