// MD5 and SHA-256 through CryptoAPI: CALG_MD5 and CALG_SHA_256 from the PROV_RSA_AES provider
// (which has both; PROV_RSA_FULL has no SHA-256 before Windows XP SP3 and gives the same MD5).
//
// [X] CryptAcquireContext (verify-only context: no key container is touched), CryptCreateHash,
//     CryptHashData, CryptGetHashParam(HP_HASHVAL); handles released by their owner
// [X] a failure at any step is reported, so the caller can give "None"
// [X] data longer than a DWORD counts is hashed in pieces
// [X] files are read only when they are regular files: a folder, pipe or device gives nothing
#include "platform/digest.h"

#include "wide_text.h"

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>
#include <vector>

namespace platform {

namespace {

constexpr DWORD readBlockSize = 256 * 1024;

struct HashContext {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    bool finished = false;

    explicit HashContext(ALG_ID algorithm) {
        if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
            provider = 0;
            return;
        }
        if (!CryptCreateHash(provider, algorithm, 0, 0, &hash)) hash = 0;
    }
    ~HashContext() {
        if (hash != 0) CryptDestroyHash(hash);
        if (provider != 0) CryptReleaseContext(provider, 0);
    }
    HashContext(const HashContext&) = delete;
    HashContext& operator=(const HashContext&) = delete;

    bool valid() const { return hash != 0 && !finished; }
    bool update(const void* data, std::size_t size) {
        if (!valid()) return false;
        const auto* bytes = static_cast<const BYTE*>(data);
        while (size > 0) {
            const auto piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            if (!CryptHashData(hash, bytes, piece, 0)) return false;
            bytes += piece;
            size -= piece;
        }
        return true;
    }
    template <std::size_t N> std::optional<std::array<unsigned char, N>> finish() {
        if (!valid()) return std::nullopt;
        finished = true;
        std::array<unsigned char, N> value{};
        DWORD size = static_cast<DWORD>(value.size());
        if (!CryptGetHashParam(hash, HP_HASHVAL, value.data(), &size, 0) || size != value.size())
            return std::nullopt;
        return value;
    }
};

} // namespace

struct Md5Hasher::Context : HashContext {
    Context() : HashContext(CALG_MD5) {}
};

Md5Hasher::Md5Hasher() : context_(std::make_unique<Context>()) {}
Md5Hasher::~Md5Hasher() = default;
bool Md5Hasher::valid() const {
    return context_->valid();
}
bool Md5Hasher::update(const void* data, std::size_t size) {
    return context_->update(data, size);
}
std::optional<std::array<unsigned char, 16>> Md5Hasher::finish() {
    return context_->finish<16>();
}

struct Sha256Hasher::Context : HashContext {
    Context() : HashContext(CALG_SHA_256) {}
};

Sha256Hasher::Sha256Hasher() : context_(std::make_unique<Context>()) {}
Sha256Hasher::~Sha256Hasher() = default;
bool Sha256Hasher::valid() const {
    return context_->valid();
}
bool Sha256Hasher::update(const void* data, std::size_t size) {
    return context_->update(data, size);
}
std::optional<std::array<unsigned char, 32>> Sha256Hasher::finish() {
    return context_->finish<32>();
}

bool readRegularFile(const std::string& path, const ConsumeBlock& consume) {
    const DWORD attributes = GetFileAttributesW(win32::widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    const win32::UniqueHandle file = win32::ownHandle(CreateFileW(
        win32::widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    // Looked at again once open: the name may have been replaced meanwhile, and only a file on
    // a disk ends (a pipe or a console may block for ever).
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file.get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    std::vector<unsigned char> block(readBlockSize);
    for (;;) {
        DWORD got = 0;
        // A read that failed part way would give the digest of other content.
        if (!ReadFile(file.get(), block.data(), readBlockSize, &got, nullptr)) return false;
        if (got == 0) return true;
        if (!consume(block.data(), got)) return false;
    }
}

} // namespace platform
