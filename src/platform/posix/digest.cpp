// MD5 through OpenSSL's EVP interface (CryptoAPI's CALG_MD5 with PROV_RSA_FULL on Windows).
//
// [X] one hash object per digest, acquired and released by its owner (CryptCreateHash/DestroyHash)
// [X] a failure of the library at any step is reported, so the caller can give "None"
// [ ] no provider context to acquire: EVP's default provider stands in for CryptAcquireContext
#include "platform/digest.h"

#include <openssl/evp.h>

namespace platform {

struct Md5Hasher::Context {
    struct Release {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Release> handle;
    bool finished = false;
};

Md5Hasher::Md5Hasher() : context_(std::make_unique<Context>()) {
    context_->handle.reset(EVP_MD_CTX_new());
    if (context_->handle && EVP_DigestInit_ex(context_->handle.get(), EVP_md5(), nullptr) != 1)
        context_->handle.reset();
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
    std::array<unsigned char, 16> value{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context_->handle.get(), value.data(), &size) != 1 || size != value.size())
        return std::nullopt;
    return value;
}

} // namespace platform
