// MD5 and SHA-256 through OpenSSL's EVP interface (CryptoAPI's CALG_MD5 and CALG_SHA_256 with
// PROV_RSA_AES on Windows).
//
// [X] one hash object per digest, acquired and released by its owner (CryptCreateHash/DestroyHash)
// [X] a failure of the library at any step is reported, so the caller can give "None"
// [ ] no provider context to acquire: EVP's default provider stands in for CryptAcquireContext
#include "platform/digest.h"

#include <openssl/evp.h>

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

} // namespace platform
