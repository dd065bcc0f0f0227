// Signed releases: with a release key built in, every file from the update server must come with
// a valid signature before it is installed or started.
//
// A signature lies beside its file, at the file's address plus ".sig": the 64 bytes of an Ed25519
// signature over the statement below. The statement names the path as requested, so a signed file
// cannot be served as another (an old archive as a newer version), and its size and SHA-256, so
// the launcher checks it from what it hashed while the file streamed in. Its first line is a fixed
// format name, the same under every brand: operators sign with one tool or with plain OpenSSL.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct FetchedFile;

inline constexpr const char* releaseStatementFormat = "ostrevan-signed-file-v1";
inline constexpr const char* releaseSignatureSuffix = ".sig";

// The text a release signature covers: four lines, each ending in '\n'.
std::string releaseStatement(std::string_view relativePath, std::uint64_t size, std::string_view sha256Hex);

// The public keys (PEM blocks, one after the other) the build embedded from LAUNCHER_UPDATE_PUBLIC_KEY;
// empty without one. A signature by any of them is accepted.
// Defined in a source the build generates, on its own so that another key can be linked in.
const char* builtInReleasePublicKey();
// Tests and benchmarks check signatures against `pem` (one or more keys) instead (empty: none needed);
// nothing restores the built-in key.
void useReleasePublicKeyForTesting(std::optional<std::string> pem);

// True when this build carries a release key, so that every fetched file needs its signature.
bool signaturesRequired();
// Checks `file` against its signature, fetched from the update server beside it (its address plus
// ".sig"). True when no key is built in. On failure one diagnostic names the reason.
bool verifyReleaseSignature(const std::string& baseUrl, const FetchedFile& file);
