// Patch archives from the network: extractArchive on any bytes, over a small installation with a
// read-only file, a file in a subfolder, a game executable, and links a player may have made: a
// data folder moved elsewhere ("Moved"), a file linked from elsewhere that is read-only there
// ("readme.txt") and a link to the canary beside the installation.
//
// Checked after each input: nothing outside the target folder changed (the archive and a canary
// sit beside it; only the moved data folder may receive files), the linked files elsewhere keep
// their bytes and marks, no temporary file of the extraction is left behind, no file of the
// installation has gone, and a failed extraction leaves the installed version as it was.
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <zip.h>

#include "fuzz_support.h"
#include "platform/files.h"
#include "update/extract_archive.h"

namespace {

namespace fs = std::filesystem;

fuzz::Scratch scratch;
std::string archivePath;
std::string elsewhere; // beside the installation, as another disk would be

constexpr const char* linkedText = "the player's own readme";

void writeFile(const std::string& path, std::string_view content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
}

// The installation the archive lands on; `flags` varies its marks.
void layInstallation(std::uint8_t flags) {
    fuzz::emptyFolder(scratch.game);
    fs::create_directories(scratch.game + "Data/Maps");
    writeFile(scratch.game + "version.dat", "1000");
    writeFile(scratch.game + "Data/Maps/a.map", "old map");
    writeFile(scratch.game + "Halcyra.exe", "old client");
    if (flags & 1) platform::setFileAttributes(scratch.game + "version.dat", platform::attributeReadOnly);
    if (flags & 2) platform::setFileAttributes(scratch.game + "Data/Maps/a.map", platform::attributeReadOnly);

    fuzz::emptyFolder(elsewhere);
    fs::create_directories(elsewhere + "moved");
    writeFile(elsewhere + "readme.txt", linkedText);
    fs::permissions(elsewhere + "readme.txt", fs::perms::owner_read);
    std::error_code error;
    fs::create_directory_symlink(elsewhere + "moved", scratch.game + "Moved", error);
    fs::create_symlink(elsewhere + "readme.txt", scratch.game + "readme.txt", error);
    fs::create_symlink(scratch.sandbox + "canary.txt", scratch.game + "Data/canary.txt", error);
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Lower case, '/' only, and "./" or "//" folded away, as the extraction reads a name.
std::string comparable(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    path = fs::path(path).lexically_normal().generic_string();
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

// Every path the archive itself names, folders on the way included, lower case: an entry may
// well be called ".extracting-1.tmp", and that file is the archive's, not a left-over.
std::set<std::string> namedByArchive(std::string_view archive) {
    std::set<std::string> named;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
    zip_t* zip = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    if (!zip) {
        if (source) zip_source_free(source);
        zip_error_fini(&error);
        return named;
    }
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(zip, static_cast<zip_uint64_t>(i), 0);
        if (!name) continue;
        const std::string path = comparable(name);
        for (std::size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1))
            named.insert(path.substr(0, slash));
        named.insert(path);
    }
    zip_discard(zip);
    zip_error_fini(&error);
    return named;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratch = fuzz::prepareScratch();
    archivePath = scratch.install + "patch.zip";
    elsewhere = scratch.sandbox + "elsewhere/";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const std::uint8_t flags = input.byte();
    const std::string_view archive = input.rest();

    layInstallation(flags);
    writeFile(archivePath, archive);
    const std::string canary = readFile(scratch.sandbox + "canary.txt");
    // The moved data folder lies outside, and the archive may well write into it.
    const auto outside = [] {
        auto tree = scratch.outsideGame();
        std::erase_if(tree, [](const auto& entry) { return entry.first.starts_with(elsewhere + "moved/"); });
        return tree;
    };
    const auto before = outside();

    // Half the inputs name the folder without its final separator.
    const std::string target = (flags & 4) ? scratch.game.substr(0, scratch.game.size() - 1) : scratch.game;
    const bool extracted = extractArchive(archivePath, target);

    fuzz::requireSameTree(before, outside(), "outside the target folder");
    fuzz::require(readFile(elsewhere + "readme.txt") == linkedText &&
                      fs::status(elsewhere + "readme.txt").permissions() == fs::perms::owner_read,
                  "a linked file elsewhere keeps its bytes and marks");
    fuzz::require(readFile(scratch.sandbox + "canary.txt") == canary,
                  "the canary is never written through a link");
    const auto named = namedByArchive(archive);
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(scratch.game, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(".extracting-")) continue;
        const std::string relative = comparable(it->path().lexically_relative(scratch.game).string());
        fuzz::require(named.contains(relative), "no temporary file of the extraction is left behind");
    }
    for (const char* name : {"version.dat", "Data/Maps/a.map", "Halcyra.exe"})
        fuzz::require(fs::is_regular_file(scratch.game + name, error), "an extraction deletes no file");
    if (!extracted)
        fuzz::require(readFile(scratch.game + "version.dat") == "1000",
                      "a failed extraction leaves the installed version");
    return 0;
}
