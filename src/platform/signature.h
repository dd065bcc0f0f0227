// Ed25519 signature verification, for release signatures (OpenSSL here; libgcrypt on Windows).
//
// [X] the public key in PEM form, as `openssl pkey -pubout` writes it ("PUBLIC KEY")
// [X] the signature as its 64 raw bytes; any other length is refused
// [X] pure Ed25519 over the whole message, as `openssl pkeyutl -sign -rawin` makes it
//
// An Ed25519 public key in PEM is the base64 of a fixed 12-byte prefix (30 2a 30 05 06 03 2b 65
// 70 03 21 00, base64 "MCowBQYDK2VwAyEA") followed by the 32 key bytes, so an implementation
// without a PEM reader can take the key from there.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

inline constexpr std::size_t ed25519SignatureBytes = 64;

// True when `signature` is a valid Ed25519 signature of `message` by the key in `publicKeyPem`.
// A key that cannot be read, or is not an Ed25519 key, verifies nothing.
bool verifyEd25519(std::string_view publicKeyPem, std::string_view message, std::string_view signature);

} // namespace platform
