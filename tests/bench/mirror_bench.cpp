// What passing a file on to the next update server costs: for each way the first server fails
// (refused connections, a 500 after the retries, a stall, content the launcher refuses), the
// time of fetching from "failing;good" against the failed attempt alone plus the good server
// alone. The fail-over should add nothing beyond the failed attempt: the ratio stays near 1.
//
// Usage: mirror_bench [MiB]   (default 16)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../support/http_test_server.h"
#include "bench_support.h"
#include "platform/http.h"
#include "update/download.h"

namespace {

using bench::Clock;
using bench::median;
using bench::seconds;

constexpr int rounds = 3;
constexpr int retryPauseMs = 250; // real pauses, shortened so the benchmark takes seconds

// Median seconds of fetching `relative` from `servers`; `expected` says whether it should arrive.
double timeFetch(const std::string& servers, const std::string& relative, const std::string& target,
                 const AcceptDownload& accept, bool expected, bool& surprised) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        forgetWorkingUpdateServer();
        std::filesystem::remove(target);
        Downloader sink;
        const auto start = Clock::now();
        const bool fetched = fetchUpdateFile(servers, relative, target, sink, accept);
        times.push_back(seconds(start));
        surprised = surprised || fetched != expected;
    }
    return median(times);
}

} // namespace

int main(int argc, char** argv) {
    const long mebibytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 16;
    dltest::TestFolder folder;
    const std::string good = folder.file("good");
    const std::string bad = folder.file("bad");
    std::filesystem::create_directories(good);
    std::filesystem::create_directories(bad);
    dltest::writeText(good + "/patch.zip", std::string(static_cast<std::size_t>(mebibytes) << 20, 'g'));
    dltest::writeText(bad + "/patch.zip", std::string(static_cast<std::size_t>(mebibytes) << 20, 'b'));
    dltest::HttpTestServer goodServer(good);
    dltest::HttpTestServer failingServer(good, {"/patch.zip=500"});
    dltest::HttpTestServer stallingServer(good, {"/patch.zip=stall"});
    dltest::HttpTestServer refusedServer(bad);
    if (!goodServer.started() || !failingServer.started() || !stallingServer.started() ||
        !refusedServer.started()) {
        std::fprintf(stderr, "a test server did not start\n");
        return 1;
    }
    setDownloadRetryPause([](int) { std::this_thread::sleep_for(std::chrono::milliseconds(retryPauseMs)); });
    platform::setDownloadStallSeconds(1);
    // Content that is not the good file is refused, as a digest or a signature would refuse it.
    const AcceptDownload onlyGood = [](const FetchedFile& file) {
        return dltest::readText(file.temporaryPath).front() == 'g';
    };
    const std::string target = folder.file("patch.zip");

    bool surprised = false;
    std::printf("file: %ld MiB over loopback, median of %d rounds, retry pauses %d ms, stall 1 s\n",
                mebibytes, rounds, retryPauseMs);
    const struct {
        const char* what;
        std::string first;
    } failures[] = {
        {"refused connections", "http://127.0.0.1:1/"},
        {"500 after the retries", failingServer.url("")},
        {"stalled transfer", stallingServer.url("")},
        {"refused content", refusedServer.url("")},
    };
    for (const auto& failure : failures) {
        // Measured side by side, so that the machine's load weighs on all three alike.
        const double alone = timeFetch(goodServer.url(""), "patch.zip", target, onlyGood, true, surprised);
        const double failed = timeFetch(failure.first, "patch.zip", target, onlyGood, false, surprised);
        const double both = timeFetch(failure.first + ";" + goodServer.url(""), "patch.zip", target, onlyGood,
                                      true, surprised);
        std::printf("%-22s failed attempt %.3f s, good server %.3f s, both in turn %.3f s; "
                    "fail-over cost / failed attempt = %.3f (target <= 1.0)\n",
                    failure.what, failed, alone, both, (both - alone) / failed);
    }
    setDownloadRetryPause({});
    platform::setDownloadStallSeconds(0);
    if (surprised) {
        std::fprintf(stderr, "a fetch ended otherwise than expected\n");
        return 1;
    }
    return 0;
}
