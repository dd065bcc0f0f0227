// MD5 of a file's content as text: the launcher's identity in the hello and the test of every
// game file in the integrity check.
#include "core/file_digest.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/digest.h"

namespace {

// Only the text form is fixed; a large block keeps big game files fast.
constexpr std::size_t readBlockSize = 64 * 1024;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

std::string fileDigest(const std::string& path) {
    std::error_code error;
    // A folder opens for reading on some systems and then fails to read: it has no digest.
    if (!std::filesystem::exists(path, error) || std::filesystem::is_directory(path, error)) return noDigest;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return noDigest;
    platform::Md5Hasher hasher;
    if (!hasher.valid()) return noDigest;
    std::vector<unsigned char> block(readBlockSize);
    for (;;) {
        const std::size_t got = std::fread(block.data(), 1, block.size(), file.get());
        if (got > 0 && !hasher.update(block.data(), got)) return noDigest;
        if (got < block.size()) break;
    }
    // A read that failed part way would give the digest of a different content.
    if (std::ferror(file.get())) return noDigest;
    const auto value = hasher.finish();
    if (!value) return noDigest;
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (const unsigned char byte : *value) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}
