// Release signatures: fetching the signature beside a downloaded file and checking it.
//
// The signature is fetched into a temporary beside the download (never more than a kilobyte of
// it, whatever the server sends) and read back; it must be exactly 64 bytes. A passing failure
// (a reset, a 503) is tried again, as downloads are. The file's SHA-256 comes from the download when it was
// hashed on the way in, and is read from the temporary otherwise. Every refusal names its reason in one
// diagnostic; the caller then treats the file as a failed download.
#include "update/release_signature.h"

#include <array>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/digest.h"
#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/process.h"
#include "platform/signature.h"
#include "update/download.h"

namespace {

constexpr const char* signatureMissingText = "Release signature missing for: ";
constexpr const char* signatureCodeText = " HRESULT: ";
constexpr const char* signatureSizeText = "Release signature is not 64 bytes for: ";
constexpr const char* signatureWrongText = "Release signature does not match for: ";
constexpr const char* unreadableText = "Release file cannot be read for its signature check: ";
// Ends like every download temporary, so that the clean-up at start-up knows it.
constexpr const char* signatureTemporarySuffix = ".sig.part";
constexpr std::size_t readBlockSize = 64 * 1024;
constexpr std::uint64_t signatureReadLimit = 1024;
constexpr int signatureAttempts = 3;
constexpr int signatureRetryPauseMs = 1000;

std::mutex keyLock;
std::optional<std::string> testKey;

std::string releasePublicKey() {
    std::lock_guard lock(keyLock);
    return testKey ? *testKey : std::string(builtInReleasePublicKey());
}

std::string hex(const unsigned char* bytes, std::size_t size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

// Only for downloads that were not hashed on the way in.
std::string sha256OfFile(const std::string& path) {
    platform::File file = platform::openFile(path, platform::OpenMode::read);
    platform::Sha256Hasher hasher;
    if (!file || !hasher.valid()) return {};
    std::vector<unsigned char> block(readBlockSize);
    std::optional<std::size_t> got;
    while ((got = file.read(block.data(), block.size())) && *got > 0)
        if (!hasher.update(block.data(), *got)) return {};
    if (!got) return {};
    const auto value = hasher.finish();
    return value ? hex(value->data(), value->size()) : std::string();
}

// The signature's bytes, or nothing (with the diagnostic) when it is missing or not 64 bytes.
std::optional<std::string> fetchSignature(const std::string& baseUrl, const FetchedFile& file) {
    const std::string url = updateFileUrl(baseUrl, file.relativePath + releaseSignatureSuffix);
    const std::string temporary = file.temporaryPath + signatureTemporarySuffix;
    const platform::EndStep removeTemporary([temporary] { platform::deleteFile(temporary); });
    struct Remove {
        const std::string& path;
        ~Remove() { platform::deleteFile(path); }
    } removeAfterUse{temporary};

    platform::DownloadRequest request;
    request.url = url;
    request.path = temporary;
    request.maximumBytes = request.maximumUnannouncedBytes = signatureReadLimit;
    platform::DownloadResult result = platform::downloadToFile(request);
    for (int attempt = 1; result.transient && attempt < signatureAttempts; ++attempt) {
        platform::sleepMilliseconds(signatureRetryPauseMs);
        result = platform::downloadToFile(request);
    }
    if (result.code == platform::downloadTooLarge) {
        platform::diagnose(signatureSizeText + file.relativePath);
        return std::nullopt;
    }
    if (result.code != 0) {
        platform::diagnose(signatureMissingText + url + signatureCodeText + std::to_string(result.code));
        return std::nullopt;
    }
    const auto signature = platform::readWholeFile(temporary, signatureReadLimit);
    if (!signature || signature->size() != platform::ed25519SignatureBytes) {
        platform::diagnose(signatureSizeText + file.relativePath);
        return std::nullopt;
    }
    return signature;
}

} // namespace

std::string releaseStatement(std::string_view relativePath, std::uint64_t size, std::string_view sha256Hex) {
    std::string statement = releaseStatementFormat;
    statement += '\n';
    statement += relativePath;
    statement += '\n';
    statement += std::to_string(size);
    statement += '\n';
    statement += sha256Hex;
    statement += '\n';
    return statement;
}

void useReleasePublicKeyForTesting(std::optional<std::string> pem) {
    std::lock_guard lock(keyLock);
    testKey = std::move(pem);
}

bool signaturesRequired() {
    return !releasePublicKey().empty();
}

bool verifyReleaseSignature(const std::string& baseUrl, const FetchedFile& file) {
    const std::string key = releasePublicKey();
    if (key.empty()) return true;
    const auto signature = fetchSignature(baseUrl, file);
    if (!signature) return false;
    const std::string sha256 = file.sha256.empty() ? sha256OfFile(file.temporaryPath) : file.sha256;
    if (sha256.empty()) {
        platform::diagnose(unreadableText + file.temporaryPath);
        return false;
    }
    if (!platform::verifyEd25519(key, releaseStatement(file.relativePath, file.size, sha256), *signature)) {
        platform::diagnose(signatureWrongText + file.relativePath);
        return false;
    }
    return true;
}
