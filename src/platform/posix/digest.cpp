// MD5 and SHA-256 through OpenSSL's EVP interface (CryptoAPI's CALG_MD5 and CALG_SHA_256 with
// PROV_RSA_AES on Windows).
//
// [X] one hash object per digest, acquired and released by its owner (CryptCreateHash/DestroyHash)
// [X] a failure of the library at any step is reported, so the caller can give "None"
// [ ] no provider context to acquire: EVP's default provider stands in for CryptAcquireContext
// [X] files are read only when regular: a FIFO or a device (a listed name may be a link to
//     /dev/zero) would block or never end, where _wfopen on Windows refuses them
#include "platform/digest.h"

#include <cerrno>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

struct EvpRelease {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using EvpHandle = std::unique_ptr<EVP_MD_CTX, EvpRelease>;

EvpHandle startDigest(const EVP_MD* algorithm) {
    EvpHandle handle(EVP_MD_CTX_new());
    if (handle && EVP_DigestInit_ex(handle.get(), algorithm, nullptr) != 1) handle.reset();
    return handle;
}

template <std::size_t Size> std::optional<std::array<unsigned char, Size>> finishDigest(EVP_MD_CTX* handle) {
    std::array<unsigned char, Size> value{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(handle, value.data(), &size) != 1 || size != value.size()) return std::nullopt;
    return value;
}

} // namespace

struct Md5Hasher::Context {
    EvpHandle handle;
    bool finished = false;
};

Md5Hasher::Md5Hasher() : context_(std::make_unique<Context>()) {
    context_->handle = startDigest(EVP_md5());
}

Md5Hasher::~Md5Hasher() = default;

bool Md5Hasher::valid() const {
    return context_->handle != nullptr && !context_->finished;
}

bool Md5Hasher::update(const void* data, std::size_t size) {
    if (!valid()) return false;
    return EVP_DigestUpdate(context_->handle.get(), data, size) == 1;
}

std::optional<std::array<unsigned char, 16>> Md5Hasher::finish() {
    if (!valid()) return std::nullopt;
    context_->finished = true;
    return finishDigest<16>(context_->handle.get());
}

struct Sha256Hasher::Context {
    EvpHandle handle;
    bool finished = false;
};

Sha256Hasher::Sha256Hasher() : context_(std::make_unique<Context>()) {
    context_->handle = startDigest(EVP_sha256());
}

Sha256Hasher::~Sha256Hasher() = default;

bool Sha256Hasher::valid() const {
    return context_->handle != nullptr && !context_->finished;
}

bool Sha256Hasher::update(const void* data, std::size_t size) {
    if (!valid()) return false;
    return EVP_DigestUpdate(context_->handle.get(), data, size) == 1;
}

std::optional<std::array<unsigned char, 32>> Sha256Hasher::finish() {
    if (!valid()) return std::nullopt;
    context_->finished = true;
    return finishDigest<32>(context_->handle.get());
}

namespace {

// Large blocks keep big game files fast; only the digest's text form is fixed.
constexpr std::size_t readBlockSize = 64 * 1024;

struct DescriptorCloser {
    void operator()(const int* descriptor) const { ::close(*descriptor); }
};

} // namespace

bool readRegularFile(const std::string& path, const ConsumeBlock& consume) {
    struct stat info {};
    // Looked at before opening, so that no device is ever opened (some act on open).
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    // Non-blocking, and looked at again once open: the name may have been replaced meanwhile.
    int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) return false;
    const std::unique_ptr<int, DescriptorCloser> closer(&descriptor);
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    std::vector<unsigned char> block(readBlockSize);
    for (;;) {
        const ssize_t got = ::read(descriptor, block.data(), block.size());
        if (got < 0 && errno == EINTR) continue;
        // A read that failed part way would give the digest of other content.
        if (got < 0) return false;
        if (got == 0) return true;
        if (!consume(block.data(), static_cast<std::size_t>(got))) return false;
    }
}

} // namespace platform
