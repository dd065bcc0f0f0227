// Lays the entries of a patch archive over the installation folder.
//
// [X] every entry is tried, whatever happened to the ones before it
// [X] an entry is written to a temporary file (extractingPrefix()) beside its target, checked, given
//     the replaced file's read-only, hidden and system marks, and only then renamed over the old
//     file, which is never deleted first: a damaged entry, a full disk or an ended process leaves
//     it as it was (the temporary is removed when the process ends, or else at the next start)
// [X] version.dat at the archive's root is written last, and only when every other entry was;
//     otherwise the installed version stays and the next start fetches the archive again
// [X] a link in the installation is replaced by the new file, never written or marked through;
//     links on the way to a file (a data folder moved to another disk) are followed
// [X] an archive whose declared sizes do not fit the free space is refused before anything is
//     written; it is opened with libzip's consistency checks; entries whose bytes overlap another
//     entry's, that would write more than their declared size, or whose names are absolute or
//     climb out of the target are refused; names never create links
// [X] each folder is listed once per extraction: the time grows with the number of entries
// [ ] entries that libzip cannot decode (Deflate64, encryption) fail; nothing decodes them
#include "update/extract_archive.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>
#include <zip.h>

#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/process.h"
#include "update/folder_names.h"
#include "update/temporary_names.h"
#include "update/zip_handles.h"
#include "update/zip_layout.h"

namespace {

constexpr const char* openFailedText = "Failed to open archive: ";
constexpr const char* statFailedText = "Failed to get file stat at index: ";
constexpr const char* deleteFailedText = "Failed to delete file: ";
constexpr const char* extractFailedText = "Failed to extract: ";
constexpr const char* completedWithErrorsText = "Extraction completed with errors";
constexpr const char* noRoomText = "Not enough free space to extract ";
constexpr const char* overlapText = "Refusing entry whose data overlaps another entry: ";
constexpr const char* versionKeptText = "Not writing version.dat: the archive did not apply completely";
constexpr const char* versionFileName = "version.dat";

constexpr std::uint32_t rememberedBits =
    platform::attributeReadOnly | platform::attributeHidden | platform::attributeSystem;
constexpr int replaceAttempts = 3;
constexpr int replaceRetryPauseMs = 100;
// Large enough that writing costs few system calls, small enough to stay far below the memory
// a launcher may use.
constexpr std::size_t copyBufferSize = 1 << 20;
constexpr std::uint32_t unixExecuteBits = 0111;
// Room kept beyond the declared sizes: each file may take a block more than its size, and the
// system and the game still need some space afterwards.
constexpr std::uint64_t blockPerFile = 4096;
constexpr std::uint64_t spareBytes = 16u << 20;

std::mutex probeLock;
FreeSpaceProbe freeSpaceProbe;

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

} // namespace

bool isRootVersionFile(const std::string& name) {
    std::vector<std::string> parts(1);
    for (char c : name) {
        if (c != '/' && c != '\\') {
            parts.back() += c;
        } else if (!parts.back().empty()) {
            parts.emplace_back();
        }
    }
    std::erase_if(parts, [](const std::string& part) { return part.empty() || part == "."; });
    return parts.size() == 1 && name.back() != '/' && name.back() != '\\' &&
           platform::equalsIgnoringAsciiCase(parts.front(), versionFileName);
}

namespace {

std::string withoutFinalSeparators(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path;
}

std::string parentOf(const std::string& path) {
    const auto separator = path.find_last_of('/');
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

// It may carry the marks meant for the file it was to replace; Windows deletes no read-only file.
void removeTemporary(const std::string& path) {
    platform::setFileAttributes(path, platform::attributeNormal);
    platform::deleteFile(path);
}

// A new, empty file beside `path` that no other extraction can be writing.
std::optional<std::pair<std::string, platform::File>> createTemporaryBeside(const std::string& path) {
    static std::atomic<std::uint64_t> counter{0};
    const std::string folder = parentOf(path);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = (folder.empty() ? std::string() : folder + "/") + extractingPrefix() +
                                 std::to_string(counter.fetch_add(1)) + ".tmp";
        // Never open a file that is already there, nor follow a link someone put there.
        if (auto file = platform::openFile(name, platform::OpenMode::createNew))
            return std::make_pair(name, std::move(file));
    }
    return std::nullopt;
}

// Copies exactly the entry's declared size: a stream that runs longer (a bomb with a small
// declared size) is cut off as soon as it does, one that ends early fails.
bool copyEntry(zip_t* archive, zip_uint64_t index, std::uint64_t declaredSize, platform::File& file,
               std::vector<char>& buffer) {
    EntryHandle entry(zip_fopen_index(archive, index, 0));
    if (!entry) return false;
    std::uint64_t written = 0;
    for (;;) {
        // libzip checks the entry's checksum when the last bytes are read, and fails the read.
        const zip_int64_t got = zip_fread(entry.get(), buffer.data(), buffer.size());
        if (got < 0) return false;
        if (got == 0) return written == declaredSize;
        const auto count = static_cast<std::uint64_t>(got);
        if (count > declaredSize - written) return false;
        if (!file.write(buffer.data(), static_cast<std::size_t>(count))) return false;
        written += count;
    }
}

struct Extraction {
    zip_t* archive;
    std::string targetFolder;
    FolderNames names;
    std::vector<char> buffer = std::vector<char>(copyBufferSize);
};

// Writes the entry to a temporary file and renames it over `path` only when all of it is there.
bool writeEntry(Extraction& run, zip_uint64_t index, const zip_stat_t& stat, const EntryFacts& facts,
                const FolderNames::Resolved& target, const std::string& path) {
    // Marks of the replaced file itself; a link has none, so nothing is read or changed through it.
    const std::uint32_t remembered = target.existed ? marksToKeep(path) : 0;

    auto temporary = createTemporaryBeside(path);
    if (!temporary) {
        platform::diagnose(extractFailedText + path);
        return false;
    }
    auto& [temporaryPath, file] = *temporary;
    // A process that ends meanwhile (the server connection lost) leaves no half-written copy; by
    // value, as the step may run after this routine has renamed the file and returned.
    const platform::EndStep removeOnEnd([name = temporaryPath] { removeTemporary(name); });
    bool written = copyEntry(run.archive, index, stat.size, file, run.buffer);
    // Closing reports the last write-back error (a full disk on a network share).
    if (!file.close()) written = false;
    if (!written) {
        platform::deleteFile(temporaryPath);
        platform::diagnose(extractFailedText + path);
        return false;
    }
    if (facts.isExecutable) platform::makeExecutable(temporaryPath);
    if (stat.valid & ZIP_STAT_MTIME) platform::setModificationTime(temporaryPath, stat.mtime);
    const auto outcome = replaceKeepingMarks(temporaryPath, path, remembered);
    if (outcome.result == platform::DeleteResult::deleted) {
        run.names.noteCreated(path);
        return true;
    }
    removeTemporary(temporaryPath);
    if (target.existed)
        platform::diagnose(deleteFailedText + path + " Error: " + std::to_string(outcome.errorCode));
    else
        platform::diagnose(extractFailedText + path);
    return false;
}

bool extractEntry(Extraction& run, zip_uint64_t index, const zip_stat_t& stat, bool overlaps) {
    const std::string name = stat.name;
    if (!platform::isContainedRelativePath(name)) {
        platform::diagnose(extractFailedText + name);
        return false;
    }
    if (overlaps) {
        platform::diagnose(overlapText + name);
        return false;
    }
    const EntryFacts facts = entryFacts(run.archive, index, name);
    const FolderNames::Resolved target = run.names.resolve(run.targetFolder, name);
    const std::string fullPath = withoutFinalSeparators(target.path);
    if (facts.isFolder) {
        // All levels, so an archive that lists only "a/b/" still gives the empty folder.
        run.names.createFolders(fullPath);
        return true;
    }
    const std::string parent = parentOf(fullPath);
    if (!parent.empty()) run.names.createFolders(parent);
    return writeEntry(run, index, stat, facts, target, fullPath);
}

// The declared sizes, with a block per file and some spare, against the free space; an unknown
// free space lets the extraction go on (a full disk then fails entry by entry, safely).
bool fitsOnDisk(const std::string& archivePath, const std::string& folder,
                const std::vector<std::optional<zip_stat_t>>& stats) {
    std::vector<std::uint64_t> sizes;
    for (const auto& stat : stats)
        if (stat) sizes.push_back((stat->valid & ZIP_STAT_SIZE) ? stat->size : 0);
    const std::uint64_t needed = spaceNeededFor(sizes);
    const auto available = freeSpaceOf(folder.empty() ? "." : folder);
    if (!available || needed <= *available) return true;
    platform::diagnose(noRoomText + archivePath + ": " + std::to_string(needed) + " bytes needed, " +
                       std::to_string(*available) + " free");
    return false;
}

} // namespace

void setFreeSpaceProbe(FreeSpaceProbe probe) {
    std::lock_guard lock(probeLock);
    freeSpaceProbe = std::move(probe);
}

std::optional<std::uint64_t> freeSpaceOf(const std::string& folder) {
    {
        std::lock_guard lock(probeLock);
        if (freeSpaceProbe) return freeSpaceProbe(folder);
    }
    return platform::freeSpace(folder);
}

std::uint64_t spaceNeededFor(const std::vector<std::uint64_t>& sizes) {
    std::uint64_t needed = spareBytes;
    for (const std::uint64_t size : sizes) {
        const std::uint64_t add = size > UINT64_MAX - blockPerFile ? UINT64_MAX : size + blockPerFile;
        needed = add > UINT64_MAX - needed ? UINT64_MAX : needed + add;
    }
    return needed;
}

std::uint32_t marksToKeep(const std::string& path) {
    return platform::fileAttributes(path).value_or(0) & rememberedBits;
}

platform::DeleteOutcome replaceKeepingMarks(const std::string& temporary, const std::string& path,
                                            std::uint32_t marks) {
    // The marks go on the new file before it takes the old one's place.
    if (marks != 0) platform::setFileAttributes(temporary, platform::attributeNormal | marks);
    return platform::replaceFileRetrying(temporary, path, replaceAttempts, replaceRetryPauseMs);
}

bool extractArchive(const std::string& archivePath, std::string targetFolder,
                    const std::string& skippedFolder) {
    if (!targetFolder.empty() && targetFolder.back() != '/' && targetFolder.back() != '\\')
        targetFolder += '/';
    if (!targetFolder.empty() && targetFolder.back() == '\\') targetFolder.back() = '/';

    int openError = 0;
    ArchiveHandle archive(zip_open(archivePath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &openError));
    const auto spans = archive ? readEntrySpans(archivePath) : std::nullopt;
    const zip_int64_t entryCount = archive ? zip_get_num_entries(archive.get(), 0) : 0;
    // The directory as read here must be the one libzip read, entry for entry.
    bool consistent = spans && spans->size() == static_cast<std::uint64_t>(entryCount);
    bool hadErrors = false;
    std::vector<std::optional<zip_stat_t>> stats(consistent ? spans->size() : 0);
    for (std::size_t i = 0; i < stats.size(); ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive.get(), i, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME) ||
            !(stat.valid & ZIP_STAT_SIZE)) {
            platform::diagnose(statFailedText + std::to_string(i));
            hadErrors = true;
            continue;
        }
        if ((stat.valid & ZIP_STAT_COMP_SIZE) && stat.comp_size != (*spans)[i].compressedSize)
            consistent = false;
        stats[i] = stat;
    }
    if (!consistent) {
        platform::diagnose(openFailedText + archivePath);
        return false;
    }
    if (!fitsOnDisk(archivePath, targetFolder, stats)) return false;

    const std::vector<bool> overlapping = overlappingSpans(*spans);
    Extraction run{archive.get(), targetFolder, {}};
    // Of several spellings of it, the last would be the one left on disk: only that one is written.
    std::optional<std::size_t> versionFile;
    for (std::size_t i = 0; i < stats.size(); ++i) {
        if (!stats[i]) continue;
        if (!skippedFolder.empty() && std::string_view(stats[i]->name).starts_with(skippedFolder)) continue;
        if (isRootVersionFile(stats[i]->name)) {
            versionFile = i;
            continue;
        }
        if (!extractEntry(run, i, *stats[i], overlapping[i])) hadErrors = true;
    }
    if (versionFile) {
        if (hadErrors)
            platform::diagnose(versionKeptText);
        else if (!extractEntry(run, *versionFile, *stats[*versionFile], overlapping[*versionFile]))
            hadErrors = true;
    }
    if (hadErrors) {
        platform::diagnose(completedWithErrorsText);
        return false;
    }
    return true;
}
