// The delta patch: patches/<version>.delta.zip beside the full patch (format in
// src/update/delta_format.h).
//
// For each changed file that the old folder has too, a librsync delta from the old copy to the
// new one (signature with librsync's recommended block length, BLAKE2 strong sums); it goes in
// only where it is clearly smaller than the file's compressed entry in the full patch, at most
// three quarters of it. Every other changed file, and version.dat, is copied from the full patch
// as it lies there, compressed, so both patches bring the same bytes.
#include <librsync.h>
#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "release_files.h"
#include "update/delta_format.h"

namespace release {
namespace {

namespace fs = std::filesystem;

constexpr const char* versionFileName = "version.dat";

struct ArchiveDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ArchiveHandle = std::unique_ptr<zip_t, ArchiveDiscard>;
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;
struct SignatureFree {
    void operator()(rs_signature_t* signature) const { rs_free_sumset(signature); }
};

// Writes the delta from `oldPath` to `newPath` into `deltaPath`.
bool writeDelta(const std::string& oldPath, const std::string& newPath, const std::string& deltaPath) {
    FileHandle oldFile(std::fopen(oldPath.c_str(), "rb"));
    FileHandle newFile(std::fopen(newPath.c_str(), "rb"));
    FileHandle signatureFile(std::tmpfile());
    FileHandle deltaFile(std::fopen(deltaPath.c_str(), "wb"));
    if (!oldFile || !newFile || !signatureFile || !deltaFile) return false;
    std::error_code error;
    rs_magic_number magic = RS_RK_BLAKE2_SIG_MAGIC;
    std::size_t blockLength = 0;
    std::size_t strongLength = 0;
    if (rs_sig_args(static_cast<rs_long_t>(fs::file_size(oldPath, error)), &magic, &blockLength,
                    &strongLength) != RS_DONE ||
        rs_sig_file(oldFile.get(), signatureFile.get(), blockLength, strongLength, magic, nullptr) != RS_DONE)
        return false;
    std::rewind(signatureFile.get());
    rs_signature_t* loaded = nullptr;
    if (rs_loadsig_file(signatureFile.get(), &loaded, nullptr) != RS_DONE) return false;
    const std::unique_ptr<rs_signature_t, SignatureFree> signature(loaded);
    if (rs_build_hash_table(signature.get()) != RS_DONE ||
        rs_delta_file(signature.get(), newFile.get(), deltaFile.get(), nullptr) != RS_DONE)
        return false;
    return std::fclose(deltaFile.release()) == 0;
}

std::uint64_t compressedSizeIn(zip_t* archive, const std::string& name) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(archive, name.c_str(), ZIP_FL_ENC_UTF_8, &stat) != 0 || !(stat.valid & ZIP_STAT_COMP_SIZE))
        return 0;
    return stat.comp_size;
}

} // namespace

std::optional<std::uint64_t> writeDeltaPatch(const PatchRequest& request,
                                             const std::vector<std::string>& changed,
                                             const std::string& fullArchive,
                                             const std::string& deltaArchive) {
    int code = 0;
    ArchiveHandle full(zip_open(fullArchive.c_str(), ZIP_RDONLY, &code));
    const std::string temporary = deltaArchive + ".part";
    std::remove(temporary.c_str());
    ArchiveHandle archive(full ? zip_open(temporary.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code) : nullptr);
    if (!archive) {
        say("cannot create " + temporary);
        return std::nullopt;
    }
    std::vector<DeltaFile> deltas;
    std::vector<std::string> deltaFiles; // written beside the archive until it is closed
    const auto cleanUp = [&] {
        for (const auto& path : deltaFiles) std::remove(path.c_str());
    };
    bool ok = true;
    std::vector<std::string> whole;
    for (const auto& name : changed) {
        const std::string oldPath = request.fromFolder + "/" + name;
        const std::string newPath = request.toFolder + "/" + name;
        std::error_code error;
        if (!fs::is_regular_file(oldPath, error) || fs::file_size(oldPath, error) == 0) {
            whole.push_back(name);
            continue;
        }
        const std::string deltaPath = deltaArchive + "." + std::to_string(deltas.size()) + ".part";
        deltaFiles.push_back(deltaPath);
        FileFacts base;
        FileFacts result;
        if (!writeDelta(oldPath, newPath, deltaPath) || !readFacts(oldPath, base) ||
            !readFacts(newPath, result)) {
            say("cannot make a delta of " + name);
            ok = false;
            break;
        }
        const std::uint64_t deltaSize = fs::file_size(deltaPath, error);
        const std::uint64_t wholeSize = compressedSizeIn(full.get(), name);
        if (error || deltaSize * 4 > wholeSize * 3) {
            say("whole in the delta patch (its delta is not clearly smaller): " + name);
            whole.push_back(name);
            continue;
        }
        const std::string entry = std::string(deltaFolder) + std::to_string(deltas.size());
        deltas.push_back({entry, base.size, base.sha256, result.size, result.sha256, name});
        zip_source_t* source = zip_source_file(archive.get(), deltaPath.c_str(), 0, 0);
        const zip_int64_t index = source ? zip_file_add(archive.get(), entry.c_str(), source, 0) : -1;
        if (index < 0) {
            if (source) zip_source_free(source);
            ok = false;
            break;
        }
        zip_set_file_compression(archive.get(), static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 6);
    }
    if (ok && deltas.empty()) {
        // It would only repeat the full patch.
        say("no delta patch: no changed file is clearly smaller as a delta");
        cleanUp();
        return 0;
    }
    const std::string manifest = deltaManifestText(deltas);
    whole.push_back(versionFileName);
    if (ok) {
        zip_source_t* source = zip_source_buffer(archive.get(), manifest.data(), manifest.size(), 0);
        ok = source && zip_file_add(archive.get(), deltaManifestEntry, source, 0) >= 0;
        if (!ok && source) zip_source_free(source);
    }
    for (const auto& name : whole) {
        if (!ok) break;
        // The full patch's compressed bytes, copied as they are.
        const zip_int64_t from = zip_name_locate(full.get(), name.c_str(), ZIP_FL_ENC_UTF_8);
        zip_source_t* source =
            from < 0 ? nullptr
                     : zip_source_zip(archive.get(), full.get(), static_cast<zip_uint64_t>(from),
                                      ZIP_FL_COMPRESSED, 0, -1);
        ok = source && zip_file_add(archive.get(), name.c_str(), source, ZIP_FL_ENC_UTF_8) >= 0;
        if (!ok && source) zip_source_free(source);
    }
    if (!ok || zip_close(archive.get()) != 0) {
        say("cannot write " + temporary + ": " + zip_strerror(archive.get()));
        cleanUp();
        std::remove(temporary.c_str());
        return std::nullopt;
    }
    archive.release();
    cleanUp();
    std::error_code error;
    fs::rename(temporary, deltaArchive, error);
    if (error) {
        say("cannot rename " + temporary + " to " + deltaArchive);
        std::remove(temporary.c_str());
        return std::nullopt;
    }
    say("delta patch: " + std::to_string(deltas.size()) + " deltas, " + std::to_string(whole.size()) +
        " whole files");
    return fs::file_size(deltaArchive, error);
}

} // namespace release
