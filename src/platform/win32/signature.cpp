// Ed25519 verification through libgcrypt (its EdDSA support); CryptoAPI has no Ed25519.
//
// [X] the PEM key decoded by CryptStringToBinaryA; only the fixed Ed25519 prefix followed by 32
//     key bytes is taken, anything else verifies nothing
// [X] pure Ed25519 over the whole message (EdDSA with SHA-512, as RFC 8032 defines it), the same
//     signatures the Linux build accepts
// [X] libgcrypt initialised once, from whichever thread verifies first
// [X] every S-expression released by its owner
#include "platform/signature.h"

#include <windows.h>

#include <wincrypt.h>

#include <gcrypt.h>

#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {
namespace {

// DER of the SubjectPublicKeyInfo before the 32 key bytes: SEQUENCE, SEQUENCE { OID 1.3.101.112 },
// BIT STRING of 33 bytes with no unused bits.
constexpr std::array<unsigned char, 12> ed25519KeyPrefix = {0x30, 0x2a, 0x30, 0x05, 0x06, 0x03,
                                                            0x2b, 0x65, 0x70, 0x03, 0x21, 0x00};
constexpr std::size_t ed25519KeyBytes = 32;

struct SexpRelease {
    void operator()(gcry_sexp_t expression) const { gcry_sexp_release(expression); }
};
using Sexp = std::unique_ptr<std::remove_pointer_t<gcry_sexp_t>, SexpRelease>;

bool initialiseGcrypt() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        ready = gcry_check_version(GCRYPT_VERSION) != nullptr;
        if (ready) gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
    return ready;
}

bool readKey(std::string_view pem, std::array<unsigned char, ed25519KeyBytes>& key) {
    if (pem.empty() || pem.size() > 4096) return false;
    DWORD size = 0;
    const auto length = static_cast<DWORD>(pem.size());
    if (!CryptStringToBinaryA(pem.data(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                              nullptr) ||
        size != ed25519KeyPrefix.size() + ed25519KeyBytes)
        return false;
    std::vector<unsigned char> der(size);
    if (!CryptStringToBinaryA(pem.data(), length, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                              nullptr) ||
        size != der.size() || std::memcmp(der.data(), ed25519KeyPrefix.data(), ed25519KeyPrefix.size()) != 0)
        return false;
    std::memcpy(key.data(), der.data() + ed25519KeyPrefix.size(), key.size());
    return true;
}

} // namespace

bool verifyEd25519(std::string_view publicKeyPem, std::string_view message, std::string_view signature) {
    if (signature.size() != ed25519SignatureBytes || message.size() > static_cast<std::size_t>(INT_MAX))
        return false;
    std::array<unsigned char, ed25519KeyBytes> keyBytes{};
    if (!readKey(publicKeyPem, keyBytes) || !initialiseGcrypt()) return false;

    gcry_sexp_t built = nullptr;
    if (gcry_sexp_build(&built, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                        static_cast<int>(keyBytes.size()), keyBytes.data()) != 0)
        return false;
    const Sexp key(built);
    built = nullptr;
    if (gcry_sexp_build(&built, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(), 32,
                        signature.data() + 32) != 0)
        return false;
    const Sexp signed_(built);
    built = nullptr;
    if (gcry_sexp_build(&built, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                        static_cast<int>(message.size()), message.data()) != 0)
        return false;
    const Sexp data(built);
    return gcry_pk_verify(signed_.get(), data.get(), key.get()) == 0;
}

} // namespace platform
