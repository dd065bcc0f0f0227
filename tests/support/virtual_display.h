// A private X server (Xvfb) for tests that need a real display: started on the first free display
// number from a given one, stopped and reaped at the end.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

extern char** environ;

namespace dltest {

class VirtualDisplay {
  public:
    // `screen` as Xvfb takes it ("1366x768x24"). Numbers from `firstNumber` on are tried; tests
    // that run side by side pass different ones.
    VirtualDisplay(const std::string& screen, int firstNumber) {
        namespace fs = std::filesystem;
        if (!fs::exists(program)) return;
        for (int number = firstNumber; number < firstNumber + 100 && name_.empty(); ++number)
            if (!fs::exists(socketOf(number)) && !fs::exists("/tmp/.X" + std::to_string(number) + "-lock"))
                name_ = ":" + std::to_string(number);
        if (name_.empty()) return;
        const char* arguments[] = {"Xvfb",    name_.c_str(), "-nolisten",    "tcp",  "-noreset",
                                   "-screen", "0",           screen.c_str(), nullptr};
        if (posix_spawn(&server_, program, nullptr, nullptr, const_cast<char**>(arguments), environ) != 0) {
            server_ = 0;
            return;
        }
        const std::string socket = socketOf(std::stoi(name_.substr(1)));
        for (int i = 0; i < 500 && !fs::exists(socket); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!fs::exists(socket)) stop();
    }
    ~VirtualDisplay() { stop(); }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    static bool available() { return std::filesystem::exists(program); }
    bool running() const { return server_ > 0; }
    // The value for DISPLAY (":153").
    const std::string& name() const { return name_; }
    void stop() {
        if (server_ <= 0) return;
        kill(server_, SIGTERM);
        waitpid(server_, nullptr, 0);
        server_ = 0;
    }

  private:
    static constexpr const char* program = "/usr/bin/Xvfb";
    static std::string socketOf(int number) { return "/tmp/.X11-unix/X" + std::to_string(number); }

    std::string name_;
    pid_t server_ = 0;
};

} // namespace dltest
