// Downloads one large file from a loopback server with downloadFile and with the curl program,
// and prints the time ratio and the download's peak memory above idle; also what hashing the
// file while it streams in (as a build that requires signatures does) costs on top.
//
// Usage: download_bench [MiB]   (default 500)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "../support/http_test_server.h"
#include "bench_support.h"
#include "update/download.h"

namespace {

using bench::Clock;
using bench::median;
using bench::processorSeconds;
using bench::seconds;
using bench::statusKib;

bool writeSource(const std::string& path, long mebibytes) {
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 2654435761u) >> 13);
    std::ofstream out(path, std::ios::binary);
    for (long i = 0; i < mebibytes && out; ++i) {
        block[0] = static_cast<char>(i);
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    const long mebibytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 500;
    const long bytes = mebibytes << 20;
    dltest::TestFolder folder;
    const std::string root = folder.file("root");
    std::filesystem::create_directory(root);
    if (!writeSource(root + "/big.bin", mebibytes) || !writeSource(root + "/small.bin", 1)) {
        std::fprintf(stderr, "cannot write the source files\n");
        return 1;
    }
    dltest::HttpTestServer server(root);
    if (!server.started()) {
        std::fprintf(stderr, "the test server did not start\n");
        return 1;
    }
    const std::string url = server.url("big.bin");
    const std::string target = folder.file("big.bin");

    // Idle is this process before its first download: curl's own start-up counts against us.
    const long idleKib = statusKib("VmRSS");
    downloadFile(server.url("small.bin"), folder.file("small.bin"), downloader);

    // The machine is shared: rounds alternate which side goes first, and the medians are compared.
    constexpr int rounds = 5;
    std::vector<double> ours;
    std::vector<double> hashed;
    std::vector<double> theirs;
    std::vector<double> oursCpu;
    std::vector<double> theirsCpu;
    long peakKib = 0;
    const auto runOurs = [&] {
        std::filesystem::remove(target);
        const double cpuBefore = processorSeconds(RUSAGE_SELF);
        const auto start = Clock::now();
        downloadFile(url, target, downloader);
        ours.push_back(seconds(start));
        oursCpu.push_back(processorSeconds(RUSAGE_SELF) - cpuBefore);
        if (peakKib == 0) peakKib = statusKib("VmHWM");
        return static_cast<long>(std::filesystem::file_size(target)) == bytes &&
               downloader.progressPercent == 100;
    };
    const auto runHashed = [&] {
        std::filesystem::remove(target);
        setDownloadHashingForTests(true);
        const auto start = Clock::now();
        downloadFile(url, target, downloader);
        hashed.push_back(seconds(start));
        setDownloadHashingForTests(false);
        return static_cast<long>(std::filesystem::file_size(target)) == bytes;
    };
    const auto runCurl = [&] {
        std::filesystem::remove(target);
        const std::string command = "curl -s -f -o '" + target + "' '" + url + "'";
        const double cpuBefore = processorSeconds(RUSAGE_CHILDREN);
        const auto start = Clock::now();
        const int status = std::system(command.c_str());
        theirs.push_back(seconds(start));
        theirsCpu.push_back(processorSeconds(RUSAGE_CHILDREN) - cpuBefore);
        return status == 0 && static_cast<long>(std::filesystem::file_size(target)) == bytes;
    };
    for (int round = 0; round < rounds; ++round) {
        const bool oursFirst = round % 2 == 0;
        if (!(oursFirst ? runOurs() : runCurl()) || !runHashed() || !(oursFirst ? runCurl() : runOurs())) {
            std::fprintf(stderr, "a download delivered a wrong file\n");
            return 1;
        }
    }

    const double oursMedian = median(ours);
    const double theirsMedian = median(theirs);
    std::printf("file: %ld MiB over loopback, median of %d rounds\n", mebibytes, rounds);
    std::printf("downloadFile: %.3f s (%.0f MiB/s)\n", oursMedian,
                static_cast<double>(mebibytes) / oursMedian);
    std::printf("curl -o:      %.3f s (%.0f MiB/s)\n", theirsMedian,
                static_cast<double>(mebibytes) / theirsMedian);
    std::printf("time ratio downloadFile / curl: %.3f (target <= 1.1)\n", oursMedian / theirsMedian);
    std::printf("downloadFile hashing SHA-256 as it streams: %.3f s, ratio to plain %.3f\n", median(hashed),
                median(hashed) / oursMedian);
    std::printf("processor time: downloadFile %.3f s, curl %.3f s, ratio %.3f\n", median(oursCpu),
                median(theirsCpu), median(oursCpu) / median(theirsCpu));
    std::printf(
        "peak resident memory above idle: %.1f MiB (idle %.1f MiB, peak %.1f MiB; target <= 64 MiB)\n",
        static_cast<double>(peakKib - idleKib) / 1024.0, static_cast<double>(idleKib) / 1024.0,
        static_cast<double>(peakKib) / 1024.0);
    return 0;
}
