// MD5 and SHA-256 through OpenSSL's EVP interface (CryptoAPI's CALG_MD5 and CALG_SHA_256 on
// Windows).
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>

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

} // namespace platform
