// Runs tests/support/http_test_server.py on 127.0.0.1 for the length of one test.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_processes.h"

namespace dltest {

class HttpTestServer {
  public:
    // `faults` are "PATH=MODE" pairs; `tls` is {certificate, key} for an https server;
    // `validators` sends ETag and Last-Modified and honours Range requests.
    explicit HttpTestServer(const std::string& root, const std::vector<std::string>& faults = {},
                            const std::vector<std::string>& tls = {}, bool validators = false)
        : log_((std::filesystem::temp_directory_path() / ("launcher-dl-requests-" + std::to_string(getpid()) +
                                                          "-" + std::to_string(counter()++) + ".log"))
                   .string()) {
        const std::string script = (std::filesystem::path(__FILE__).parent_path() / "http_test_server.py")
                                       .lexically_normal()
                                       .string();
        std::vector<std::string> argv = {"python3", script, "--root", root, "--log", log_};
        for (const auto& fault : faults) argv.insert(argv.end(), {"--fault", fault});
        if (tls.size() == 2) argv.insert(argv.end(), {"--tls", tls[0], tls[1]});
        if (validators) argv.push_back("--validators");
        std::vector<char*> args;
        for (auto& arg : argv) args.push_back(arg.data());
        args.push_back(nullptr);

        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawnp(&pid_, "python3", &actions, nullptr, args.data(), environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::string line;
        char c = 0;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        port_ = std::atoi(line.c_str());
    }
    ~HttpTestServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove(log_, ignored);
        std::filesystem::remove(log_ + ".sent", ignored);
    }
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    bool started() const { return port_ > 0; }
    std::string url(const std::string& relative, const std::string& scheme = "http") const {
        return scheme + "://127.0.0.1:" + std::to_string(port_) + "/" + relative;
    }
    // One JSON line per request, headers in lower case.
    std::string requestLog() const { return readText(log_); }
    // Body bytes sent in all answers so far.
    std::uint64_t bytesServed() const {
        std::uint64_t total = 0;
        std::istringstream lines(readText(log_ + ".sent"));
        for (std::string line; std::getline(lines, line);) total += std::stoull(line);
        return total;
    }

  private:
    static int& counter() {
        static int next = 0;
        return next;
    }
    std::string log_;
    pid_t pid_ = 0;
    int port_ = 0;
};

} // namespace dltest
