// MD5 and SHA-256 through OpenSSL's EVP interface (CryptoAPI's CALG_MD5 and CALG_SHA_256 on
// Windows).
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class Md5Hasher {
  public:
    Md5Hasher();
    ~Md5Hasher();
    Md5Hasher(const Md5Hasher&) = delete;
    Md5Hasher& operator=(const Md5Hasher&) = delete;

    bool valid() const;
    bool update(const void* data, std::size_t size);
    std::optional<std::array<unsigned char, 16>> finish();

  private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// The same shape for SHA-256: release files are hashed while they stream in.
class Sha256Hasher {
  public:
    Sha256Hasher();
    ~Sha256Hasher();
    Sha256Hasher(const Sha256Hasher&) = delete;
    Sha256Hasher& operator=(const Sha256Hasher&) = delete;

    bool valid() const;
    bool update(const void* data, std::size_t size);
    std::optional<std::array<unsigned char, 32>> finish();

  private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// Hands the content of the regular file at `path` (links followed) to `consume`, block by block,
// in order. False at once, without reading, when `path` names no regular file (a folder, a FIFO, a
// device): those would block or never end. False too when it cannot be opened, a read fails, or `consume`
// returns false.
using ConsumeBlock = std::function<bool(const unsigned char* data, std::size_t size)>;
bool readRegularFile(const std::string& path, const ConsumeBlock& consume);

} // namespace platform
