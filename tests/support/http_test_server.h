// Runs tests/support/http_test_server.py on 127.0.0.1 for the length of one test.
#pragma once

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_folder.h"
#include "test_tools.h"

namespace dltest {

class HttpTestServer {
  public:
    // `faults` are "PATH=MODE" pairs; `tls` is {certificate, key} for an https server;
    // `validators` sends ETag and Last-Modified and honours Range requests.
    explicit HttpTestServer(const std::string& root, const std::vector<std::string>& faults = {},
                            const std::vector<std::string>& tls = {}, bool validators = false)
        : log_((std::filesystem::temp_directory_path() /
                ("launcher-dl-requests-" + std::to_string(processId()) + "-" + std::to_string(counter()++) +
                 ".log"))
                   .string()),
          process_(arguments(root, faults, tls, validators)) {}
    ~HttpTestServer() {
        std::error_code ignored;
        std::filesystem::remove(log_, ignored);
        std::filesystem::remove(log_ + ".sent", ignored);
    }
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    bool started() const { return process_.port() > 0; }
    std::string url(const std::string& relative, const std::string& scheme = "http") const {
        return scheme + "://127.0.0.1:" + std::to_string(process_.port()) + "/" + relative;
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
    std::vector<std::string> arguments(const std::string& root, const std::vector<std::string>& faults,
                                       const std::vector<std::string>& tls, bool validators) const {
        // The server appends: a log left by an ended process of the same id must not count.
        std::error_code ignored;
        std::filesystem::remove(log_, ignored);
        std::filesystem::remove(log_ + ".sent", ignored);
        std::vector<std::string> argv = {"--root", root, "--log", log_};
        for (const auto& fault : faults) argv.insert(argv.end(), {"--fault", fault});
        if (tls.size() == 2) argv.insert(argv.end(), {"--tls", tls[0], tls[1]});
        if (validators) argv.push_back("--validators");
        return argv;
    }
    std::string log_;
    ToolServer process_;
};

} // namespace dltest
