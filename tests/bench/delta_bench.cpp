// A 512 MiB pack of random bytes with 2 MiB overwritten at 10 %, 1 MiB inserted at 50 % and
// 1 MiB overwritten at 90 %, plus 40 small files of which 4 change, released by the release tool.
// Prints the bytes the launcher downloads for the version against the changed bytes (target:
// at most 1.3 x changed + 1 MiB), the time to fetch and apply the delta patch against the full
// patch on the loopback, and each run's peak memory above idle.
#include "delta_bench.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "../support/http_test_server.h"
#include "../support/server_messages.h"
#include "bench_support.h"
#include "core/launcher_state.h"
#include "platform/files.h"
#include "update/patch_update.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t mebibyte = 1 << 20;
constexpr std::size_t packBytes = 512 * mebibyte;
constexpr int smallFiles = 40;

// Bytes no compressor shrinks (xorshift), `count` of them from `seed`.
void appendRandom(std::ofstream& out, std::size_t count, std::uint64_t seed) {
    std::vector<std::uint64_t> block(mebibyte / 8);
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::size_t written = 0; written < count;) {
        for (auto& word : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const std::size_t n = std::min(block.size() * 8, count - written);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        written += n;
    }
}

// The old pack is random piece by piece; the new one is the same pieces with the changes, so
// neither is ever held whole.
void writePacks(const std::string& oldPath, const std::string& newPath) {
    const std::size_t tenth = packBytes / 10;
    std::ofstream oldPack(oldPath, std::ios::binary);
    std::ofstream newPack(newPath, std::ios::binary);
    struct Piece {
        std::size_t from, size;
    };
    // Old pieces with their seeds; the new pack replaces pieces 1 and 3 and inserts piece 2.
    const std::vector<Piece> pieces = {{0, tenth},
                                       {tenth, 2 * mebibyte},
                                       {tenth + 2 * mebibyte, packBytes / 2 - tenth - 2 * mebibyte},
                                       {packBytes / 2, 9 * tenth - packBytes / 2},
                                       {9 * tenth, mebibyte},
                                       {9 * tenth + mebibyte, packBytes - 9 * tenth - mebibyte}};
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        appendRandom(oldPack, pieces[i].size, i);
        if (i == 3) appendRandom(newPack, mebibyte, 100);
        appendRandom(newPack, pieces[i].size, i == 1 || i == 4 ? 200 + i : i);
    }
}

std::uint64_t treeBytes(const std::string& folder) {
    std::uint64_t bytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) bytes += entry.file_size();
    return bytes;
}

std::pair<double, long> runPatchChild(const std::string& self, const std::string& install,
                                      const std::string& url) {
    std::FILE* pipe = popen((quoted(self) + " patch " + quoted(install) + " " + quoted(url)).c_str(), "r");
    double time = 0;
    long peak = 0;
    if (!pipe || std::fscanf(pipe, "%lf %ld", &time, &peak) != 2) std::fprintf(stderr, "patch run failed\n");
    if (pipe) pclose(pipe);
    return {time, peak};
}

bool sameFile(const std::string& a, const std::string& b) {
    return std::system(("cmp -s " + quoted(a) + " " + quoted(b)).c_str()) == 0;
}

} // namespace

int childPatch(const std::string& folder, const std::string& baseUrl) {
    const long idle = statusKib("VmRSS");
    const auto start = Clock::now();
    runPatchUpdateIn(dltest::patchList("1001"), folder, baseUrl);
    const double time = seconds(start);
    if (readInstalledVersionIn(folder) != "1001") std::fprintf(stderr, "version 1001 did not install\n");
    std::printf("%f %ld\n", time, statusKib("VmHWM") - idle);
    return 0;
}

void benchDelta(const std::string& self, const std::string& folder) {
    const std::string oldFolder = folder + "/old", newFolder = folder + "/new", served = folder + "/served/";
    fs::create_directories(oldFolder + "/data");
    fs::create_directories(newFolder + "/data");
    writePacks(oldFolder + "/data/pack.dat", newFolder + "/data/pack.dat");
    std::uint64_t changedBytes = 4 * mebibyte;
    for (int i = 0; i < smallFiles; ++i) {
        const std::string name = "/data/small" + std::to_string(i) + ".txt";
        writeData(oldFolder + name, 4096, unsigned(i));
        writeData(newFolder + name, 4096, unsigned(i) + (i % 10 == 0 ? 1000u : 0u));
        if (i % 10 == 0) changedBytes += 4096;
    }
    const std::string tool = fs::path(self).parent_path().parent_path().parent_path() / "ostrevan-release";
    const auto made = Clock::now();
    if (std::system((quoted(tool) + " patch --version 1001 --from " + quoted(oldFolder) + " --to " +
                     quoted(newFolder) + " --out " + quoted(served) + " > /dev/null")
                        .c_str()) != 0) {
        std::fprintf(stderr, "the release tool failed\n");
        return;
    }
    const double makeSeconds = seconds(made);
    const std::uint64_t fullBytes = fs::file_size(served + "patches/1001.zip");
    const std::uint64_t deltaBytes = fs::file_size(served + "patches/1001.delta.zip");

    dltest::HttpTestServer server(served);
    const std::string install = folder + "/install/";
    const auto fresh = [&] {
        fs::remove_all(install);
        std::system(("cp -r " + quoted(oldFolder) + " " + quoted(install)).c_str());
        std::ofstream(install + "version.dat") << "1000";
        std::system("sync");
    };
    fresh();
    const auto [deltaSeconds, deltaPeak] = runPatchChild(self, install, server.url(""));
    const bool deltaRight = sameFile(install + "data/pack.dat", newFolder + "/data/pack.dat");
    fs::remove(served + "patches/1001.delta.zip");
    fresh();
    const auto [fullSeconds, fullPeak] = runPatchChild(self, install, server.url(""));
    const bool fullRight = sameFile(install + "data/pack.dat", newFolder + "/data/pack.dat");

    const double target = 1.3 * static_cast<double>(changedBytes) + mebibyte;
    std::printf(
        "delta patch of a 512 MiB pack with 4 MiB changed and 4 of 40 small files: release tool %.1f s; "
        "full patch %.1f MiB, delta patch %.2f MiB, changed %.2f MiB; downloaded / changed %.3f "
        "(target <= %.3f incl. 1 MiB); delta / full %.4f\n",
        makeSeconds, static_cast<double>(fullBytes) / mebibyte, static_cast<double>(deltaBytes) / mebibyte,
        static_cast<double>(changedBytes) / mebibyte,
        static_cast<double>(deltaBytes) / static_cast<double>(changedBytes),
        target / static_cast<double>(changedBytes),
        static_cast<double>(deltaBytes) / static_cast<double>(fullBytes));
    std::printf(
        "apply on the loopback: delta %.2f s (peak %.1f MiB above idle, result %s), full download and "
        "extract %.2f s (peak %.1f MiB, result %s), time ratio %.3f; tree %.0f MiB\n",
        deltaSeconds, static_cast<double>(deltaPeak) / 1024, deltaRight ? "right" : "WRONG", fullSeconds,
        static_cast<double>(fullPeak) / 1024, fullRight ? "right" : "WRONG", deltaSeconds / fullSeconds,
        static_cast<double>(treeBytes(install)) / mebibyte);
}

} // namespace bench
