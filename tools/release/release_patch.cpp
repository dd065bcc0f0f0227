// The patch command: one release from two folders.
//
// - patches/<version>.zip: every file of the new folder that is missing from the old one or
//   differs from it, Deflate-compressed, plus version.dat holding the version (written last
//   into the archive, though the launcher puts it in place last whatever its position);
// - patches/Launcher/<path>: every file of the new folder, the good copies the integrity check
//   repairs from;
// - patches/<version>.delta.zip unless left out: the changed bytes of files the old folder has
//   too, for launchers that can use them (release_delta.cpp);
// - signatures of all of those when a key is given;
// - on standard output, the file list as a step of the development server's script.
// Everything is made in a staging folder beside the update root (on the same file system) and
// moved in, file by file, only once all of it is written and signed: a mistyped key, a full disk
// or an unreadable file leaves the update root as it was. A version already published is never
// written again.
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/file_digest.h"
#include "platform/files.h"
#include "release_files.h"
#include "update/delta_format.h"
#include "update/release_signature.h"

namespace release {
namespace {

namespace fs = std::filesystem;

constexpr const char* versionFileName = "version.dat";
constexpr const char* patchesFolder = "patches";
constexpr const char* launcherFolder = "patches/Launcher";
// What one message of the game server may hold, and the limits of its fields.
constexpr std::size_t messageLimit = 1024;
constexpr std::size_t fieldLimit = 255;
constexpr std::size_t entryLimit = 255;
constexpr std::size_t messageHeaderBytes = 4 + 1 + 1; // code, entry count, empty skipped field
constexpr int progressSteps = 10;

struct ArchiveDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};

struct Entry {
    std::string path; // relative, '/' between folders
    std::string digest;
};

// Regular files below `folder`, relative and sorted; anything else is named and left out. Nothing
// when a folder cannot be read: a release must never go out with files silently missing.
std::optional<std::vector<std::string>> filesBelow(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string relative = it->path().lexically_relative(folder).generic_string();
        if (it->is_symlink(error)) {
            say("left out (a symbolic link): " + relative);
            if (it->is_directory(error)) it.disable_recursion_pending();
        } else if (it->is_regular_file(error)) {
            found.push_back(relative);
        } else if (!it->is_directory(error)) {
            say("left out (not a regular file): " + relative);
        }
        if (error) break;
    }
    if (error) {
        say("cannot read all of " + folder + ": " + error.message());
        return std::nullopt;
    }
    std::sort(found.begin(), found.end());
    return found;
}

bool sameContent(const std::string& a, const std::string& b) {
    std::error_code error;
    if (!fs::is_regular_file(b, error) || fs::file_size(a, error) != fs::file_size(b, error)) return false;
    const std::string digest = fileDigest(b);
    return digest != noDigest && digest == fileDigest(a);
}

std::string mebibytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

void reportArchiveProgress(zip_t*, double done, void* context) {
    auto* last = static_cast<int*>(context);
    const int step = static_cast<int>(done * progressSteps);
    if (step <= *last) return;
    *last = step;
    say("writing the archive: " + std::to_string(step * 100 / progressSteps) + " %");
}

bool writeArchive(const std::string& path, const std::string& newFolder,
                  const std::vector<std::string>& changed, const std::string& version) {
    const std::string temporary = path + ".part";
    std::remove(temporary.c_str());
    int code = 0;
    std::unique_ptr<zip_t, ArchiveDiscard> archive(
        zip_open(temporary.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code));
    if (!archive) {
        say("cannot create " + temporary);
        return false;
    }
    auto add = [&](const std::string& name, zip_source_t* source) {
        if (!source) return false;
        const zip_int64_t index = zip_file_add(archive.get(), name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            return false;
        }
        return zip_set_file_compression(archive.get(), static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 9) ==
               0;
    };
    for (const auto& name : changed) {
        if (!add(name, zip_source_file(archive.get(), (newFolder + "/" + name).c_str(), 0, 0))) {
            say("cannot add " + name + ": " + zip_strerror(archive.get()));
            return false;
        }
    }
    if (!add(versionFileName, zip_source_buffer(archive.get(), version.data(), version.size(), 0))) {
        say(std::string("cannot add version.dat: ") + zip_strerror(archive.get()));
        return false;
    }
    int lastStep = 0;
    zip_register_progress_callback_with_state(archive.get(), 1.0 / progressSteps, reportArchiveProgress,
                                              nullptr, &lastStep);
    if (zip_close(archive.get()) != 0) {
        say("cannot write " + temporary + ": " + zip_strerror(archive.get()));
        std::remove(temporary.c_str());
        return false;
    }
    archive.release();
    if (!platform::moveFileNoReplace(temporary, path)) {
        std::remove(temporary.c_str());
        say("cannot rename " + temporary + " to " + path);
        return false;
    }
    return true;
}

// Copies the files the update root lacks, or has with other content, into the staging folder.
bool copyForRepair(const std::string& newFolder, const std::string& root, const std::string& staging,
                   const std::vector<std::string>& files) {
    for (const auto& name : files) {
        const std::string from = newFolder + "/" + name;
        const std::string to = staging + "/" + launcherFolder + "/" + name;
        if (sameContent(from, root + "/" + launcherFolder + "/" + name)) continue;
        std::error_code error;
        fs::create_directories(fs::path(to).parent_path(), error);
        const std::string temporary = to + ".part";
        fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, error);
        if (error || !platform::replaceFile(temporary, to)) {
            std::remove(temporary.c_str());
            say("cannot copy " + from + " to " + to + (error ? ": " + error.message() : ""));
            return false;
        }
    }
    return true;
}

std::string jsonText(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The file list as the development server's script step, and a note when one message cannot
// carry it.
void printFileList(const std::vector<Entry>& entries) {
    std::size_t bytes = messageHeaderBytes;
    bool fieldTooLong = false;
    std::printf("{\"send\": \"integrity\", \"entries\": [");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& entry = entries[i];
        std::printf("%s\n  {\"name\": %s, \"downloadPath\": %s, \"acceptedDigests\": \"%s\"}", i ? "," : "",
                    jsonText(entry.path).c_str(), jsonText(entry.path).c_str(), entry.digest.c_str());
        bytes += 3 + 2 * entry.path.size() + entry.digest.size();
        fieldTooLong = fieldTooLong || entry.path.size() > fieldLimit;
    }
    std::printf("]}\n");
    std::fflush(stdout);
    if (bytes > messageLimit || entries.size() > entryLimit || fieldTooLong)
        say("the file list does not fit in one message: " + std::to_string(entries.size()) +
            " entries take " + std::to_string(bytes) + " bytes, one message holds " +
            std::to_string(messageLimit) + " bytes, " + std::to_string(entryLimit) + " entries and " +
            std::to_string(fieldLimit) +
            " bytes per path; list fewer files (the ones that matter most) or send them over several "
            "messages");
}

// Moves every file below `staging` to the same place below `root`, creating folders. Signatures
// go first: one whose file has not arrived yet is never asked for. A file it replaces is kept in
// `backup` until all are in place; when one move fails, every file moved so far is put back, so
// the root is as it was.
bool moveIntoPlace(const std::string& staging, const std::string& backup, const std::string& root) {
    auto listed = filesBelow(staging);
    if (!listed) return false;
    std::vector<std::string> files = std::move(*listed);
    std::stable_partition(files.begin(), files.end(), [](const std::string& name) {
        return name.size() > 4 && name.compare(name.size() - 4, 4, ".sig") == 0;
    });
    struct Moved {
        std::string name;
        bool replaced;
    };
    std::vector<Moved> moved;
    std::error_code ignored;
    const auto rollBack = [&] {
        bool whole = true;
        for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
            const std::string target = root + "/" + it->name;
            const auto removed = [&] {
                const auto result = platform::deleteFile(target).result;
                return result == platform::DeleteResult::deleted ||
                       result == platform::DeleteResult::notFound;
            };
            const bool restored =
                it->replaced ? platform::replaceFile(backup + "/" + it->name, target) : removed();
            if (!restored) say("could not restore " + target + "; its earlier copy is in " + backup);
            whole = whole && restored;
        }
        if (whole) fs::remove_all(backup, ignored);
    };
    for (const auto& name : files) {
        const std::string target = root + "/" + name;
        std::error_code error;
        fs::create_directories(fs::path(target).parent_path(), error);
        bool replaced = false;
        if (!error && platform::isFolder(target)) error = std::make_error_code(std::errc::is_a_directory);
        if (!error && platform::pathExists(target)) {
            fs::create_directories(fs::path(backup + "/" + name).parent_path(), error);
            replaced = !error && platform::moveFileNoReplace(target, backup + "/" + name);
            if (!replaced) error = std::make_error_code(std::errc::io_error);
        }
        if (error || !platform::replaceFile(staging + "/" + name, target)) {
            if (replaced) platform::moveFileNoReplace(backup + "/" + name, target);
            say("cannot move " + staging + "/" + name + " to " + target);
            rollBack();
            return false;
        }
        moved.push_back({name, replaced});
    }
    fs::remove_all(backup, ignored);
    return true;
}

} // namespace

bool makePatch(const PatchRequest& request) {
    for (const auto& folder : {request.fromFolder, request.toFolder}) {
        if (!platform::isFolder(folder)) {
            say("not a folder: " + folder);
            return false;
        }
    }
    const std::string archiveName = std::string(patchesFolder) + "/" + request.version + ".zip";
    const std::string archive = request.updateRoot + "/" + archiveName;
    if (platform::pathExists(archive)) {
        say(archive + " already exists; a published version is never written again");
        return false;
    }
    std::optional<SigningKey> key;
    if (!request.privateKeyPath.empty()) {
        key.emplace(request.privateKeyPath);
        if (!key->valid()) return false;
    }

    // The archive brings its own version.dat.
    auto listed = filesBelow(request.toFolder);
    const auto before = filesBelow(request.fromFolder);
    if (!listed || !before) return false;
    std::vector<std::string> files = std::move(*listed);
    files.erase(std::remove(files.begin(), files.end(), versionFileName), files.end());
    std::vector<std::string> changed;
    std::vector<Entry> entries;
    std::uint64_t changedBytes = 0;
    std::error_code error;
    for (const auto& name : files) {
        const std::string path = request.toFolder + "/" + name;
        const std::string digest = fileDigest(path);
        if (digest == noDigest) {
            say("cannot read " + path);
            return false;
        }
        entries.push_back({name, digest});
        if (!sameContent(path, request.fromFolder + "/" + name)) {
            changed.push_back(name);
            changedBytes += fs::file_size(path, error);
        }
        // A published repair copy that stays keeps a signature this key must be able to make.
        const std::string published = request.updateRoot + "/" + launcherFolder + "/" + name;
        if (key && !request.replaceSignatures && sameContent(path, published) &&
            !key->mayReplace(std::string(launcherFolder) + "/" + name, published,
                             published + releaseSignatureSuffix))
            return false;
    }
    for (const auto& name : *before)
        if (name != versionFileName && !platform::pathExists(request.toFolder + "/" + name))
            say("not in the new folder, yet a patch removes nothing, so it stays installed: " + name);

    const fs::path root = fs::absolute(request.updateRoot).lexically_normal();
    const std::string staging =
        (root.parent_path() / ("." + root.filename().string() + ".patch-" + request.version)).string();
    fs::remove_all(staging, error); // a staging folder an interrupted run of this version left
    fs::create_directories(staging + "/" + launcherFolder, error);
    if (error) {
        say("cannot create " + staging + ": " + error.message());
        return false;
    }
    struct RemoveStaging {
        const std::string& path;
        ~RemoveStaging() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } removeStaging{staging};

    say("packing " + std::to_string(changed.size()) + " new or changed files (" + mebibytes(changedBytes) +
        ") and version.dat into " + archive);
    if (!writeArchive(staging + "/" + archiveName, request.toFolder, changed, request.version)) return false;
    std::vector<std::string> signedArchives = {archiveName};
    std::optional<std::uint64_t> deltaSize;
    if (request.delta) {
        const std::string deltaName = std::string(patchesFolder) + "/" + request.version + deltaArchiveSuffix;
        deltaSize = writeDeltaPatch(request, changed, staging + "/" + archiveName, staging + "/" + deltaName);
        if (!deltaSize) return false;
        if (*deltaSize == 0)
            deltaSize.reset();
        else
            signedArchives.push_back(deltaName);
    }
    const auto sized = [](std::uint64_t bytes) {
        return mebibytes(bytes) + " (" + std::to_string(bytes) + " bytes)";
    };
    say("full patch: " + sized(fs::file_size(staging + "/" + archiveName, error)) +
        (deltaSize ? ", delta patch: " + sized(*deltaSize) : std::string(", no delta patch")));
    say("copying " + std::to_string(files.size()) + " files to " + request.updateRoot + "/" + launcherFolder +
        " for repairs");
    if (!copyForRepair(request.toFolder, request.updateRoot, staging, files)) return false;
    if (key) {
        say("signing " + std::to_string(files.size() + signedArchives.size()) + " files");
        for (const auto& name : signedArchives)
            if (!key->sign(name, staging + "/" + name, staging + "/" + name + releaseSignatureSuffix))
                return false;
        for (const auto& name : files) {
            const std::string path = std::string(launcherFolder) + "/" + name;
            if (!key->sign(path, request.toFolder + "/" + name,
                           staging + "/" + path + releaseSignatureSuffix))
                return false;
        }
    }
    if (!moveIntoPlace(staging, staging + ".replaced", request.updateRoot)) return false;
    printFileList(entries);
    return true;
}

} // namespace release
