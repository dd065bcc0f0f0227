// Applies a delta patch: each changed file rebuilt from its installed copy and a librsync delta.
//
// [X] a delta applies only to a base of the manifest's size and SHA-256; a target that already
//     holds the result (a run that ended after its renames) is left as it is
// [X] every result goes to a temporary beside its target (one of the launcher's own extraction
//     temporaries, which start-up's clean-up removes), is hashed as it is written and renamed over the target
//     only when all results checked out, with the replaced file's read-only, hidden and system marks
// [X] the free space must hold every temporary at once, with a block each and a spare
// [X] memory: fixed buffers; the base is read where the delta points, never held whole
// [X] whole files and version.dat come last through extractArchive, version.dat last of all
// [X] a base that may be run (the Unix execute bit) gives its result the same
// [ ] modification times of delta-built files are not carried over
#include "update/delta_patch.h"

#include <zip.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "core/downloader.h"
#include "core/file_digest.h"
#include "platform/digest.h"
#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/process.h"
#include "update/delta_format.h"
#include "update/download.h"
#include "update/extract_archive.h"
#include "update/game_guard.h"
#include "update/temporary_names.h"
#include "update/zip_handles.h"

namespace {

constexpr const char* downloadsFolderName = "Downloads/";
constexpr const char* patchesPath = "patches/";
constexpr const char* notAppliedText = "Delta patch did not apply for version ";
constexpr const char* badArchiveText = "Delta patch is not readable: ";
constexpr const char* baseMismatchText = "Delta patch does not fit the installed file: ";
constexpr const char* deltaFailedText = "Delta failed for: ";
constexpr const char* noRoomText = "Not enough free space for the delta patch's files: ";
constexpr const char* renameFailedText = "Failed to replace with the delta's result: ";

struct Facts {
    std::uint64_t size = 0;
    std::string sha256;
};

std::optional<Facts> fileFacts(const std::string& path) {
    platform::Sha256Hasher hasher;
    Facts facts;
    const bool read = platform::readRegularFile(path, [&](const unsigned char* data, std::size_t size) {
        facts.size += size;
        return hasher.update(data, size);
    });
    const auto value = hasher.finish();
    if (!read || !value) return std::nullopt;
    facts.sha256 = lowercaseHex(*value);
    return facts;
}

std::optional<std::string> readManifest(zip_t* archive) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(archive, deltaManifestEntry, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE) ||
        stat.size > deltaManifestLimit)
        return std::nullopt;
    EntryHandle entry(zip_fopen(archive, deltaManifestEntry, 0));
    if (!entry) return std::nullopt;
    std::string text(static_cast<std::size_t>(stat.size), '\0');
    if (zip_fread(entry.get(), text.data(), text.size()) != static_cast<zip_int64_t>(text.size()))
        return std::nullopt;
    return text;
}

std::string parentOf(const std::string& path) {
    // Windows' own install folder ends in a backslash, so a file at its top has no '/'.
    const auto separator = path.find_last_of("/\\");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// One result on its way: the delta, its target, and the temporary it is rebuilt into.
struct Pending {
    const DeltaFile* file;
    std::string target;
    std::string temporary;
    std::unique_ptr<platform::EndStep> removeOnEnd;
};

// A new file beside `target`, under a name no other run can be using.
platform::File createTemporaryFor(Pending& pending) {
    static std::atomic<std::uint64_t> counter{0};
    for (int attempt = 0; attempt < 16; ++attempt) {
        pending.temporary = parentOf(pending.target) + extractingPrefix() + "delta-" +
                            std::to_string(counter.fetch_add(1)) + ".tmp";
        if (auto file = platform::openFile(pending.temporary, platform::OpenMode::createNew)) {
            // An ended process leaves no half-built file; by value, as the step may outlive this run.
            pending.removeOnEnd = std::make_unique<platform::EndStep>(
                [name = pending.temporary] { platform::deleteFile(name); });
            return file;
        }
    }
    pending.temporary.clear();
    return {};
}

bool rebuild(zip_t* archive, Pending& pending) {
    const DeltaFile& file = *pending.file;
    platform::File base = platform::openFile(pending.target, platform::OpenMode::read);
    EntryHandle delta(zip_fopen(archive, file.entry.c_str(), 0));
    platform::File result = base && delta ? createTemporaryFor(pending) : platform::File();
    if (!result) return false;
    platform::Sha256Hasher hasher;
    const bool built = applyDelta(
        [&](char* data, std::size_t size) -> std::optional<std::size_t> {
            const zip_int64_t got = zip_fread(delta.get(), data, size);
            if (got < 0) return std::nullopt;
            return static_cast<std::size_t>(got);
        },
        // librsync asks for the base in order of the new file's pieces: a seek, then one read.
        [&](std::uint64_t offset, char* data, std::size_t size) -> std::optional<std::size_t> {
            if (!base.seek(offset)) return std::nullopt;
            std::size_t done = 0;
            while (done < size) {
                const auto got = base.read(data + done, size - done);
                if (!got) return std::nullopt;
                if (*got == 0) break;
                done += *got;
            }
            return done;
        },
        [&](const char* data, std::size_t size) {
            return hasher.update(data, size) && result.write(data, size);
        },
        file.resultSize);
    const bool closed = result.close();
    base.close();
    const auto value = hasher.finish();
    return built && closed && value && lowercaseHex(*value) == file.resultSha256;
}

void removeTemporaries(std::vector<Pending>& pending) {
    for (auto& item : pending) {
        if (item.temporary.empty()) continue;
        // It may carry the target's read-only mark already, and Windows deletes no read-only file.
        platform::setFileAttributes(item.temporary, platform::attributeNormal);
        platform::deleteFile(item.temporary);
    }
}

bool putInPlace(const Pending& pending) {
    // A program stays a program: the base's execute permission goes to its successor.
    if (platform::isExecutableFile(pending.target)) platform::makeExecutable(pending.temporary);
    const auto outcome = replaceKeepingMarks(pending.temporary, pending.target, marksToKeep(pending.target));
    if (outcome.result == platform::DeleteResult::deleted) return true;
    platform::diagnose(renameFailedText + pending.target + " Error: " + std::to_string(outcome.errorCode));
    return false;
}

} // namespace

bool applyDeltaArchive(const std::string& archivePath, const std::string& folder) {
    int openError = 0;
    ArchiveHandle archive(zip_open(archivePath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &openError));
    const auto text = archive ? readManifest(archive.get()) : std::nullopt;
    const auto files = text ? parseDeltaManifest(*text) : std::nullopt;
    if (!files) {
        platform::diagnose(badArchiveText + archivePath);
        return false;
    }

    std::vector<Pending> pending;
    std::vector<std::uint64_t> sizes;
    for (const auto& file : *files) {
        // version.dat comes last, from the whole files, once every other file is in place.
        if (!platform::isContainedRelativePath(file.path) || isRootVersionFile(file.path)) {
            platform::diagnose(badArchiveText + file.path);
            return false;
        }
        const std::string target = platform::resolveCaseInsensitive(folder, file.path);
        const auto facts = fileFacts(target);
        if (facts && facts->size == file.resultSize && facts->sha256 == file.resultSha256) continue;
        if (!facts || facts->size != file.baseSize || facts->sha256 != file.baseSha256) {
            platform::diagnose(baseMismatchText + target);
            return false;
        }
        pending.push_back({&file, target, {}, nullptr});
        sizes.push_back(file.resultSize);
    }
    const std::uint64_t needed = spaceNeededFor(sizes);
    const auto available = freeSpaceOf(folder);
    if (available && needed > *available) {
        platform::diagnose(noRoomText + std::to_string(needed) + " bytes needed, " +
                           std::to_string(*available) + " free");
        return false;
    }

    for (auto& item : pending) {
        if (!rebuild(archive.get(), item)) {
            platform::diagnose(deltaFailedText + item.target);
            removeTemporaries(pending);
            return false;
        }
    }
    // The game may have started while the results were built: it is asked to close before any
    // file is replaced under it.
    if (!gameClosedForUpdate()) {
        removeTemporaries(pending);
        return false;
    }
    for (auto& item : pending) {
        if (!putInPlace(item)) {
            removeTemporaries(pending);
            return false;
        }
        item.temporary.clear();
    }
    archive.reset();
    return extractArchive(archivePath, folder, deltaFolder);
}

bool runDeltaPatch(const std::string& baseUrl, const std::string& version, const std::string& folder) {
    if (isGameRunning()) return false;
    const std::string archivePath = folder + downloadsFolderName + version + deltaArchiveSuffix;
    // A server without one answers 404: the full patch follows, as on a server that never had any.
    if (!fetchUpdateFile(baseUrl, patchesPath + version + deltaArchiveSuffix, archivePath, downloader))
        return false;
    const bool applied = applyDeltaArchive(archivePath, folder);
    platform::deleteFile(archivePath);
    if (!applied) platform::diagnose(notAppliedText + version + ", fetching the full patch");
    return applied;
}
