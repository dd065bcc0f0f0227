// MD5 of a file's content as text: the launcher's identity in the hello and the test of every
// game file in the integrity check.
#include "core/file_digest.h"

#include "platform/digest.h"

std::string fileDigest(const std::string& path) {
    platform::Md5Hasher hasher;
    if (!hasher.valid()) return noDigest;
    // Only a regular file has a digest: a folder, a FIFO or a device gives "None" at once.
    const bool read = platform::readRegularFile(
        path, [&hasher](const unsigned char* data, std::size_t size) { return hasher.update(data, size); });
    if (!read) return noDigest;
    const auto value = hasher.finish();
    if (!value) return noDigest;
    return lowercaseHex(*value);
}

std::string lowercaseHex(std::span<const unsigned char> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * bytes.size());
    for (const unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}
