// The integrity check of 1000 MiB in 20 files, all in order, against md5sum of the same files (the
// check hashes on every core, md5sum on one), the extraction of a 500 MiB deflated archive against
// unzip -o into an empty folder, and the extraction of 2,000 / 8,000 / 20,000 entries of 1 KiB in
// one folder into an empty folder, against unzip -o (the time must grow with the number of
// entries). Prints the median times, their ratios and each operation's peak memory above idle. The
// operations run in child processes of this program, so that every peak is measured from a fresh
// process.
//
// Usage: update_bench [MiB for the integrity check] [MiB for the extraction]  (default 1000 500;
//        0 leaves that part out)
//        update_bench entries   (only the many-entries comparison)
//        update_bench delta     (only the delta patch against the full patch, delta_bench.cpp)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "../support/server_messages.h"
#include "../support/test_processes.h"
#include "bench_support.h"
#include "core/launcher_state.h"
#include "delta_bench.h"
#include "platform/files.h"
#include "update/extract_archive.h"
#include "update/integrity_check.h"

namespace {

namespace fs = std::filesystem;
using bench::Clock;
using bench::median;
using bench::processorSeconds;
using bench::quoted;
using bench::seconds;
using bench::statusKib;
using bench::writeData;
constexpr int fileCount = 20;
constexpr int runs = 3;

// Wall and CPU time of one run; on a busy machine the CPU time is the steadier comparison.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

// Runs a child operation of this program; it prints "seconds peakKiB". The whole child's CPU
// time counts, as it does for the command it is compared with.
std::pair<Timing, long> runChild(const std::string& self, const std::string& arguments) {
    const double cpuBefore = processorSeconds(RUSAGE_CHILDREN);
    std::FILE* pipe = popen((quoted(self) + " " + arguments).c_str(), "r");
    if (!pipe) return {{}, 0};
    Timing timing;
    long peak = 0;
    if (std::fscanf(pipe, "%lf %ld", &timing.wall, &peak) != 2) timing.wall = 0;
    pclose(pipe);
    timing.cpu = processorSeconds(RUSAGE_CHILDREN) - cpuBefore;
    return {timing, peak};
}

Timing timeCommand(const std::string& command) {
    const double cpuBefore = processorSeconds(RUSAGE_CHILDREN);
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
    return {seconds(start), processorSeconds(RUSAGE_CHILDREN) - cpuBefore};
}

void printComparison(const std::string& what, const char* other, const std::vector<Timing>& ours,
                     const std::vector<Timing>& theirs, double target, long peakKib) {
    std::vector<double> ourWall, ourCpu, theirWall, theirCpu;
    for (const auto& t : ours) {
        ourWall.push_back(t.wall);
        ourCpu.push_back(t.cpu);
    }
    for (const auto& t : theirs) {
        theirWall.push_back(t.wall);
        theirCpu.push_back(t.cpu);
    }
    std::printf("%s: %.3f s (cpu %.3f s), %s %.3f s (cpu %.3f s), ratio %.3f, cpu ratio %.3f "
                "(target <= %.1f), peak %.1f MiB above idle\n",
                what.c_str(), median(ourWall), median(ourCpu), other, median(theirWall), median(theirCpu),
                median(ourWall) / median(theirWall), median(ourCpu) / median(theirCpu), target,
                static_cast<double>(peakKib) / 1024.0);
}

int childIntegrity(const std::string& folder, const std::string& messagePath) {
    std::ifstream in(messagePath, std::ios::binary);
    const std::string message{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const long idle = statusKib("VmRSS");
    const auto start = Clock::now();
    // Nothing listens there: a file that needed repair would fail, and the status would say so.
    runIntegrityCheckIn(message, folder, "http://127.0.0.1:9/");
    const double time = seconds(start);
    std::lock_guard lock(launcherState.textLock);
    if (launcherState.statusText != "Ready.") std::fprintf(stderr, "%s\n", launcherState.statusText.c_str());
    std::printf("%f %ld\n", time, statusKib("VmHWM") - idle);
    return 0;
}

int childExtract(const std::string& archive, const std::string& target) {
    const long idle = statusKib("VmRSS");
    const auto start = Clock::now();
    const bool extracted = extractArchive(archive, target);
    const double time = seconds(start);
    if (!extracted) std::fprintf(stderr, "extraction failed\n");
    std::printf("%f %ld\n", time, statusKib("VmHWM") - idle);
    return 0;
}

void benchIntegrity(const std::string& self, const std::string& folder, long mebibytes) {
    const std::string files = folder + "/files";
    fs::create_directories(files);
    const std::size_t size = (static_cast<std::size_t>(mebibytes) << 20) / fileCount;
    for (int i = 0; i < fileCount; ++i)
        writeData(files + "/f" + std::to_string(i) + ".dat", size, unsigned(i));

    // md5sum gives the accepted digests, and warms the cache for both sides.
    const std::string sums = folder + "/sums.txt";
    timeCommand("cd " + quoted(files) + " && md5sum *.dat > " + quoted(sums));
    std::vector<dltest::Listed> entries;
    std::ifstream in(sums);
    for (std::string digest, name; in >> digest >> name;) entries.push_back({name, name, digest});
    const std::string message = dltest::fileList(entries, "");
    const std::string messagePath = folder + "/message.bin";
    std::ofstream(messagePath, std::ios::binary) << message;

    std::vector<Timing> ours, theirs;
    long peak = 0;
    for (int run = 0; run < runs; ++run) {
        const auto [time, kib] =
            runChild(self, "integrity " + quoted(files + "/") + " " + quoted(messagePath));
        ours.push_back(time);
        peak = std::max(peak, kib);
        theirs.push_back(timeCommand("cd " + quoted(files) + " && md5sum *.dat > /dev/null"));
    }
    printComparison("integrity check, " + std::to_string(mebibytes) + " MiB in " + std::to_string(fileCount) +
                        " files, all in order",
                    "md5sum", ours, theirs, 0.6, peak);
    fs::remove_all(files);
}

void benchExtraction(const std::string& self, const std::string& folder, long mebibytes) {
    const std::string source = folder + "/source";
    fs::create_directories(source + "/data/maps");
    constexpr int sourceFiles = 50;
    const std::size_t size = (static_cast<std::size_t>(mebibytes) << 20) / sourceFiles;
    for (int i = 0; i < sourceFiles; ++i)
        writeData(source + (i % 2 ? "/data/maps/m" : "/data/d") + std::to_string(i) + ".dat", size,
                  1000u + unsigned(i));
    const std::string archive = folder + "/patch.zip";
    timeCommand("cd " + quoted(source) + " && zip -q -r " + quoted(archive) + " .");
    fs::remove_all(source);

    const std::string target = folder + "/target";
    std::vector<Timing> ours, theirs;
    long peak = 0;
    for (int run = 0; run < runs; ++run) {
        fs::remove_all(target);
        fs::create_directories(target);
        timeCommand("sync");
        const auto [time, kib] = runChild(self, "extract " + quoted(archive) + " " + quoted(target));
        ours.push_back(time);
        peak = std::max(peak, kib);
        fs::remove_all(target);
        fs::create_directories(target);
        timeCommand("sync");
        theirs.push_back(timeCommand("unzip -q -o " + quoted(archive) + " -d " + quoted(target)));
    }
    const auto archiveMib = static_cast<long>(fs::file_size(archive) >> 20);
    printComparison("extraction of " + std::to_string(mebibytes) + " MiB deflated into a " +
                        std::to_string(archiveMib) + " MiB archive",
                    "unzip -o", ours, theirs, 1.2, peak);
}

// Entries in one folder are the worst case for looking names up without regard to case.
void benchManyEntries(const std::string& self, const std::string& folder) {
    for (const int count : {2000, 8000, 20000}) {
        const std::string source = folder + "/entries";
        fs::create_directories(source + "/data");
        for (int i = 0; i < count; ++i)
            writeData(source + "/data/f" + std::to_string(i) + ".dat", 1024, 7000u + unsigned(i));
        const std::string archive = folder + "/entries.zip";
        fs::remove(archive);
        timeCommand("cd " + quoted(source) + " && zip -q -r " + quoted(archive) + " .");
        fs::remove_all(source);

        // Into an empty folder: every name is new, which is when each one needed a look at its
        // folder's names.
        const std::string target = folder + "/target";
        std::vector<Timing> ours, theirs;
        long peak = 0;
        for (int run = 0; run < runs; ++run) {
            fs::remove_all(target);
            fs::create_directories(target);
            const auto [time, kib] = runChild(self, "extract " + quoted(archive) + " " + quoted(target));
            ours.push_back(time);
            peak = std::max(peak, kib);
            fs::remove_all(target);
            fs::create_directories(target);
            theirs.push_back(timeCommand("unzip -q -o " + quoted(archive) + " -d " + quoted(target)));
        }
        printComparison("extraction of " + std::to_string(count) + " entries of 1 KiB in one folder",
                        "unzip -o", ours, theirs, 1.5, peak);
        fs::remove_all(target);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "integrity") return childIntegrity(argv[2], argv[3]);
    if (argc == 4 && std::string(argv[1]) == "extract") return childExtract(argv[2], argv[3]);
    if (argc == 4 && std::string(argv[1]) == "patch") return bench::childPatch(argv[2], argv[3]);
    const long integrityMib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000;
    const long extractMib = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 500;
    const std::string self = platform::executablePath();
    dltest::TestFolder folder;
    if (argc == 2 && std::string(argv[1]) == "entries") {
        benchManyEntries(self, folder.path());
        return 0;
    }
    if (argc == 2 && std::string(argv[1]) == "delta") {
        bench::benchDelta(self, folder.path());
        return 0;
    }
    if (integrityMib > 0) benchIntegrity(self, folder.path(), integrityMib);
    if (extractMib > 0) benchExtraction(self, folder.path(), extractMib);
    benchManyEntries(self, folder.path());
    return 0;
}
