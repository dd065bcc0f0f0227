// Lays the entries of a patch archive over the installation folder.
//
// Every entry is tried, whatever happened to the ones before it. A replaced file keeps its
// read-only, hidden and system marks. An entry is written to a temporary file beside its target
// and renamed into place only when complete, so a full disk or a damaged entry never leaves a
// truncated file under a game file's name. Entries whose names are absolute or climb out of the
// target folder are refused: an archive from the network must not write anywhere else.
#include "update/extract_archive.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <zip.h>

#include "platform/files.h"
#include "platform/process.h"

namespace {

constexpr const char* openFailedText = "Failed to open archive: ";
constexpr const char* statFailedText = "Failed to get file stat at index: ";
constexpr const char* attributesFailedText = "Failed to remove attributes for: ";
constexpr const char* deleteFailedText = "Failed to delete file: ";
constexpr const char* extractFailedText = "Failed to extract: ";
constexpr const char* completedWithErrorsText = "Extraction completed with errors";

constexpr std::uint32_t rememberedBits =
    platform::attributeReadOnly | platform::attributeHidden | platform::attributeSystem;
constexpr int deleteAttempts = 3;
constexpr int deleteRetryPauseMs = 100;
// Large enough that writing costs few system calls, small enough to stay far below the memory
// a launcher may use.
constexpr std::size_t copyBufferSize = 1 << 20;
constexpr std::uint32_t unixExecuteBits = 0111;

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryCloser {
    void operator()(zip_file_t* entry) const { zip_fclose(entry); }
};
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using ArchiveHandle = std::unique_ptr<zip_t, ArchiveCloser>;
using EntryHandle = std::unique_ptr<zip_file_t, EntryCloser>;
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

struct EntryFacts {
    bool isFolder = false;
    bool isExecutable = false;
};

// A folder is named with a final separator; some writers only mark it with the DOS folder bit.
EntryFacts entryFacts(zip_t* archive, zip_uint64_t index, const std::string& name) {
    EntryFacts facts;
    facts.isFolder = !name.empty() && (name.back() == '/' || name.back() == '\\');
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) == 0) {
        // The low bits are the DOS attributes, which are the Windows file attributes.
        if (attributes & platform::attributeDirectory) facts.isFolder = true;
        // Archives made on Unix carry the file mode; a native client must stay runnable.
        if (system == ZIP_OPSYS_UNIX && ((attributes >> 16) & unixExecuteBits)) facts.isExecutable = true;
    }
    return facts;
}

std::string withoutFinalSeparators(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path;
}

// Every folder on the way to `folder`, from the top down; existing ones are the normal case.
void createFolderChain(const std::string& folder) {
    for (std::size_t i = 1; i < folder.size(); ++i)
        if (folder[i] == '/') platform::createFolder(folder.substr(0, i));
    platform::createFolder(folder);
}

std::string parentOf(const std::string& path) {
    const auto separator = path.find_last_of('/');
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

// Clears the marks that stop a delete and removes the old file. Returns the remembered marks, or
// nothing when the entry must be skipped (the diagnostic is written).
std::optional<std::uint32_t> clearWayFor(const std::string& path) {
    const auto attributes = platform::fileAttributes(path);
    if (!attributes) return 0u;
    const std::uint32_t remembered = *attributes & rememberedBits;
    if (remembered != 0 && !platform::setFileAttributes(path, platform::attributeNormal)) {
        platform::diagnose(attributesFailedText + path);
        return std::nullopt;
    }
    const platform::DeleteOutcome outcome =
        platform::deleteFileRetrying(path, deleteAttempts, deleteRetryPauseMs);
    if (outcome.result == platform::DeleteResult::deleted ||
        outcome.result == platform::DeleteResult::notFound)
        return remembered;
    platform::diagnose(deleteFailedText + path + " Error: " + std::to_string(outcome.errorCode));
    return std::nullopt;
}

// A new, empty file beside `path` that no other extraction can be writing.
std::optional<std::pair<std::string, FileHandle>> createTemporaryBeside(const std::string& path) {
    static std::atomic<std::uint64_t> counter{0};
    const std::string folder = parentOf(path);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = (folder.empty() ? std::string() : folder + "/") + ".extracting-" +
                                 std::to_string(counter.fetch_add(1)) + ".tmp";
        // "x": never open a file that is already there.
        if (std::FILE* file = std::fopen(name.c_str(), "wbx")) return std::make_pair(name, FileHandle(file));
    }
    return std::nullopt;
}

bool copyEntry(zip_t* archive, zip_uint64_t index, std::FILE* file, std::vector<char>& buffer) {
    EntryHandle entry(zip_fopen_index(archive, index, 0));
    if (!entry) return false;
    std::setvbuf(file, nullptr, _IONBF, 0);
    for (;;) {
        // libzip checks the entry's checksum when the last bytes are read, and fails the read.
        const zip_int64_t got = zip_fread(entry.get(), buffer.data(), buffer.size());
        if (got < 0) return false;
        if (got == 0) return true;
        if (std::fwrite(buffer.data(), 1, static_cast<std::size_t>(got), file) !=
            static_cast<std::size_t>(got))
            return false;
    }
}

// Writes the entry to a temporary file and renames it to `path` only when all of it is there.
bool writeEntry(zip_t* archive, zip_uint64_t index, const zip_stat_t& stat, const EntryFacts& facts,
                const std::string& path, std::vector<char>& buffer) {
    auto temporary = createTemporaryBeside(path);
    if (!temporary) return false;
    auto& [temporaryPath, file] = *temporary;
    bool written = copyEntry(archive, index, file.get(), buffer);
    // Closing reports the last write-back error (a full disk) when buffering hid it.
    if (std::fclose(file.release()) != 0) written = false;
    if (written && facts.isExecutable) platform::makeExecutable(temporaryPath);
    if (written && (stat.valid & ZIP_STAT_MTIME)) platform::setModificationTime(temporaryPath, stat.mtime);
    if (written && platform::replaceFile(temporaryPath, path)) return true;
    platform::deleteFile(temporaryPath);
    return false;
}

} // namespace

bool extractArchive(const std::string& archivePath, std::string targetFolder) {
    if (!targetFolder.empty() && targetFolder.back() != '/' && targetFolder.back() != '\\')
        targetFolder += '/';
    if (!targetFolder.empty() && targetFolder.back() == '\\') targetFolder.back() = '/';

    int openError = 0;
    ArchiveHandle archive(zip_open(archivePath.c_str(), ZIP_RDONLY, &openError));
    if (!archive) {
        platform::diagnose(openFailedText + archivePath);
        return false;
    }

    bool hadErrors = false;
    std::vector<char> buffer(copyBufferSize);
    const zip_int64_t entryCount = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < entryCount; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive.get(), index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME)) {
            platform::diagnose(statFailedText + std::to_string(i));
            hadErrors = true;
            continue;
        }
        const std::string name = stat.name;
        if (!platform::isContainedRelativePath(name)) {
            platform::diagnose(extractFailedText + name);
            hadErrors = true;
            continue;
        }
        const EntryFacts facts = entryFacts(archive.get(), index, name);
        const std::string fullPath =
            withoutFinalSeparators(platform::resolveCaseInsensitive(targetFolder, name));
        if (facts.isFolder) {
            // All levels, so an archive that lists only "a/b/" still gives the empty folder.
            createFolderChain(fullPath);
            continue;
        }
        const std::string parent = parentOf(fullPath);
        if (!parent.empty()) createFolderChain(parent);

        const auto remembered = clearWayFor(fullPath);
        if (!remembered) {
            hadErrors = true;
            continue;
        }
        if (!writeEntry(archive.get(), index, stat, facts, fullPath, buffer)) {
            platform::diagnose(extractFailedText + fullPath);
            hadErrors = true;
            continue;
        }
        if (*remembered != 0) platform::setFileAttributes(fullPath, platform::attributeNormal | *remembered);
    }

    if (hadErrors) {
        platform::diagnose(completedWithErrorsText);
        return false;
    }
    return true;
}
