// MD5 through CryptoAPI: CALG_MD5 from the PROV_RSA_FULL provider.
//
// [X] CryptAcquireContext (verify-only context: no key container is touched), CryptCreateHash,
//     CryptHashData, CryptGetHashParam(HP_HASHVAL); handles released by their owner
// [X] a failure at any step is reported, so the caller can give "None"
// [X] data longer than a DWORD counts is hashed in pieces
#include "platform/digest.h"

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>

namespace platform {

struct Md5Hasher::Context {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    bool finished = false;

    ~Context() {
        if (hash != 0) CryptDestroyHash(hash);
        if (provider != 0) CryptReleaseContext(provider, 0);
    }
};

Md5Hasher::Md5Hasher() : context_(std::make_unique<Context>()) {
    if (!CryptAcquireContextW(&context_->provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        context_->provider = 0;
        return;
    }
    if (!CryptCreateHash(context_->provider, CALG_MD5, 0, 0, &context_->hash)) context_->hash = 0;
}

Md5Hasher::~Md5Hasher() = default;

bool Md5Hasher::valid() const {
    return context_->hash != 0 && !context_->finished;
}

bool Md5Hasher::update(const void* data, std::size_t size) {
    if (!valid()) return false;
    const auto* bytes = static_cast<const BYTE*>(data);
    while (size > 0) {
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!CryptHashData(context_->hash, bytes, piece, 0)) return false;
        bytes += piece;
        size -= piece;
    }
    return true;
}

std::optional<std::array<unsigned char, 16>> Md5Hasher::finish() {
    if (!valid()) return std::nullopt;
    context_->finished = true;
    std::array<unsigned char, 16> value{};
    DWORD size = static_cast<DWORD>(value.size());
    if (!CryptGetHashParam(context_->hash, HP_HASHVAL, value.data(), &size, 0) || size != value.size())
        return std::nullopt;
    return value;
}

} // namespace platform
