// Ed25519 verification through OpenSSL's EVP interface.
//
// [X] the key is read from PEM with a memory BIO; only an Ed25519 key is used
// [X] one-shot EVP_DigestVerify: Ed25519 hashes the message itself (no separate digest)
// [X] every handle released by its owner; OpenSSL's error queue is cleared so failures stay local
#include "platform/signature.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <climits>
#include <memory>

namespace platform {
namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

} // namespace

bool verifyEd25519(std::string_view publicKeyPem, std::string_view message, std::string_view signature) {
    if (signature.size() != ed25519SignatureBytes || publicKeyPem.size() > INT_MAX) return false;
    std::unique_ptr<BIO, BioFree> bio(
        BIO_new_mem_buf(publicKeyPem.data(), static_cast<int>(publicKeyPem.size())));
    if (!bio) return false;
    std::unique_ptr<EVP_PKEY, KeyFree> key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    const bool verified =
        key && context && EVP_PKEY_id(key.get()) == EVP_PKEY_ED25519 &&
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                         signature.size(), reinterpret_cast<const unsigned char*>(message.data()),
                         message.size()) == 1;
    ERR_clear_error();
    return verified;
}

} // namespace platform
