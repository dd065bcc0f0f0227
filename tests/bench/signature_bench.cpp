// What release signatures cost: one patch of 500 MiB (deflated into a smaller archive) downloaded
// from a loopback server and installed by the patch update, with no key and with a key (the
// signature fetched and checked), alternating in one run. Prints the median times, the ratio
// signed / unsigned and each side's peak memory above idle. Every run is a fresh child process of
// this program, so that every peak is measured from a fresh process.
//
// Usage: signature_bench [MiB of content] [runs of each]   (default 500 5)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "../support/http_test_server.h"
#include "../support/release_test_key.h"
#include "../support/server_messages.h"
#include "bench_support.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "update/patch_update.h"
#include "update/release_signature.h"

namespace {

namespace fs = std::filesystem;
using bench::Clock;
using bench::median;
using bench::processorSeconds;
using bench::quoted;
using bench::seconds;
using bench::statusKib;
using bench::writeData;
constexpr int sourceFiles = 50;

struct Timing {
    double wall = 0;
    double cpu = 0;
    long peakKib = 0;
};

std::string sha256OfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    platform::Sha256Hasher hasher;
    std::vector<char> block(1 << 20);
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0)
        hasher.update(block.data(), static_cast<std::size_t>(in.gcount()));
    const auto value = hasher.finish();
    std::string text;
    for (const unsigned char byte : *value) {
        static constexpr char digits[] = "0123456789abcdef";
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

// The child: one patch update into `folder`, with the key in `keyPath` ("-": none).
int childInstall(const std::string& folder, const std::string& baseUrl, const std::string& keyPath) {
    if (keyPath != "-") {
        std::ifstream in(keyPath);
        useReleasePublicKeyForTesting(std::string(std::istreambuf_iterator<char>(in), {}));
    }
    const long idle = statusKib("VmRSS");
    const auto start = Clock::now();
    runPatchUpdateIn(dltest::patchList("1001"), folder, baseUrl);
    const double time = seconds(start);
    if (readInstalledVersionIn(folder) != "1001") std::fprintf(stderr, "the patch was not installed\n");
    std::printf("%f %ld\n", time, statusKib("VmHWM") - idle);
    return 0;
}

Timing runChild(const std::string& self, const std::string& arguments) {
    const double cpuBefore = processorSeconds(RUSAGE_CHILDREN);
    Timing timing;
    std::FILE* pipe = popen((quoted(self) + " " + arguments).c_str(), "r");
    if (!pipe) return timing;
    if (std::fscanf(pipe, "%lf %ld", &timing.wall, &timing.peakKib) != 2) timing.wall = 0;
    pclose(pipe);
    timing.cpu = processorSeconds(RUSAGE_CHILDREN) - cpuBefore;
    return timing;
}

void freshInstallation(const std::string& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder + "/version.dat") << "1000";
    std::system("sync");
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "install") return childInstall(argv[2], argv[3], argv[4]);
    const long mebibytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 500;
    const long runs = argc > 2 ? std::max(1L, std::strtol(argv[2], nullptr, 10)) : 5;
    const std::string self = platform::executablePath();
    dltest::TestFolder folder;

    const std::string source = folder.file("source");
    fs::create_directories(source + "/data");
    const std::size_t size = (static_cast<std::size_t>(mebibytes) << 20) / sourceFiles;
    for (int i = 0; i < sourceFiles; ++i)
        writeData(source + "/data/d" + std::to_string(i) + ".dat", size, unsigned(i));
    std::ofstream(source + "/version.dat") << "1001";
    const std::string root = folder.file("root");
    fs::create_directories(root + "/patches");
    const std::string archive = root + "/patches/1001.zip";
    if (std::system(("cd " + quoted(source) + " && zip -q -r " + quoted(archive) + " .").c_str()) != 0)
        return 1;
    fs::remove_all(source);

    dltest::ReleaseTestKey key;
    const auto archiveBytes = fs::file_size(archive);
    std::ofstream(archive + ".sig", std::ios::binary)
        << key.sign(releaseStatement("patches/1001.zip", archiveBytes, sha256OfFile(archive)));
    const std::string keyPath = folder.file("key.pem");
    std::ofstream(keyPath) << key.publicPem();

    dltest::HttpTestServer server(root);
    if (!server.started()) return 1;
    const std::string install = folder.file("install") + "/";
    std::vector<Timing> plain, checked;
    for (int run = 0; run < runs; ++run) {
        freshInstallation(install);
        plain.push_back(runChild(self, "install " + quoted(install) + " " + quoted(server.url("")) + " -"));
        freshInstallation(install);
        checked.push_back(runChild(self, "install " + quoted(install) + " " + quoted(server.url("")) + " " +
                                             quoted(keyPath)));
    }
    auto field = [](const std::vector<Timing>& timings, auto member) {
        std::vector<double> values;
        for (const auto& t : timings) values.push_back(static_cast<double>(t.*member));
        return values;
    };
    const double plainWall = median(field(plain, &Timing::wall)),
                 checkedWall = median(field(checked, &Timing::wall));
    const double plainCpu = median(field(plain, &Timing::cpu)),
                 checkedCpu = median(field(checked, &Timing::cpu));
    const auto peak = [&](const std::vector<Timing>& timings) {
        const auto values = field(timings, &Timing::peakKib);
        return *std::max_element(values.begin(), values.end()) / 1024.0;
    };
    std::printf(
        "download and install of %ld MiB deflated into a %ld MiB archive: unsigned %.3f s (cpu %.3f s), "
        "signed %.3f s (cpu %.3f s)\n",
        mebibytes, static_cast<long>(archiveBytes >> 20), plainWall, plainCpu, checkedWall, checkedCpu);
    std::printf(
        "ratio signed / unsigned %.3f, cpu ratio %.3f (target <= 1.10); peak above idle: unsigned %.1f "
        "MiB, signed %.1f MiB\n",
        checkedWall / plainWall, checkedCpu / plainCpu, peak(plain), peak(checked));
    return 0;
}
