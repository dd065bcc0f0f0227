// MD5 and SHA-256 through OpenSSL's EVP interface (CryptoAPI's CALG_MD5 with PROV_RSA_FULL on Windows).
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

struct HashContext {
    struct Release {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Release> handle;
    bool finished = false;

    explicit HashContext(const EVP_MD* kind) : handle(EVP_MD_CTX_new()) {
        if (handle && EVP_DigestInit_ex(handle.get(), kind, nullptr) != 1) handle.reset();
    }
    bool valid() const { return handle != nullptr && !finished; }
    bool update(const void* data, std::size_t size) {
        return valid() && EVP_DigestUpdate(handle.get(), data, size) == 1;
    }
    template <std::size_t N> std::optional<std::array<unsigned char, N>> finish() {
        if (!valid()) return std::nullopt;
        finished = true;
        std::array<unsigned char, N> value{};
        unsigned int size = 0;
        if (EVP_DigestFinal_ex(handle.get(), value.data(), &size) != 1 || size != value.size())
            return std::nullopt;
        return value;
    }
};

} // namespace

struct Md5Hasher::Context : HashContext {
    Context() : HashContext(EVP_md5()) {}
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
    Context() : HashContext(EVP_sha256()) {}
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
