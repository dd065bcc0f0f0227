// Patch archives from the network: extractArchive on any bytes, over a small installation with a
// read-only file, a file in a subfolder and a game executable.
//
// Checked after each input: nothing outside the target folder changed (the archive and a canary
// sit beside it), no temporary file of the extraction is left behind, and the files that no
// entry names are untouched.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fuzz_support.h"
#include "platform/files.h"
#include "update/extract_archive.h"

namespace {

namespace fs = std::filesystem;

std::string sandboxFolder;
std::string targetFolder; // ends with '/'
std::string archivePath;

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

void writeFile(const std::string& path, std::string_view content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
}

// The installation the archive lands on; `flags` varies its marks.
void layInstallation(std::uint8_t flags) {
    fuzz::emptyFolder(targetFolder);
    fs::create_directories(targetFolder + "Data/Maps");
    writeFile(targetFolder + "version.dat", "1000");
    writeFile(targetFolder + "Data/Maps/a.map", "old map");
    writeFile(targetFolder + "Halcyra.exe", "old client");
    if (flags & 1) platform::setFileAttributes(targetFolder + "version.dat", platform::attributeReadOnly);
    if (flags & 2) platform::setFileAttributes(targetFolder + "Data/Maps/a.map", platform::attributeReadOnly);
}

std::map<std::string, std::string> outsideTarget() {
    return fuzz::treeOutside(sandboxFolder, targetFolder);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietDiagnostics();
    const std::string install = fuzz::requireScratchInstall();
    sandboxFolder = fuzz::sandboxOf(install);
    targetFolder = install + "game/";
    archivePath = install + "patch.zip";
    writeFile(sandboxFolder + "canary.txt", "keep me\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const std::uint8_t flags = input.byte();
    const std::string_view archive = input.rest();

    layInstallation(flags);
    writeFile(archivePath, archive);
    const auto before = outsideTarget();

    // Half the inputs name the folder without its final separator.
    const std::string target = (flags & 4) ? targetFolder.substr(0, targetFolder.size() - 1) : targetFolder;
    const bool extracted = extractArchive(archivePath, target);

    fuzz::requireSameTree(before, outsideTarget(), "outside the target folder");
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(targetFolder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        require(!name.starts_with(".extracting-"), "no temporary file of the extraction is left behind");
    }
    if (extracted)
        require(fs::exists(targetFolder + "Halcyra.exe", error), "a successful extraction deletes nothing");
    return 0;
}
