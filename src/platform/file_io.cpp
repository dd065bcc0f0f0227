// The parts of file_io.h that both systems share: whole files on top of File, and path folders.
#include "platform/file_io.h"

#include "platform/files.h"

namespace platform {
namespace {

constexpr const char* atomicTemporarySuffix = ".part";
constexpr std::size_t readBlockSize = 64 * 1024;

} // namespace

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        other.handle_ = invalidHandle;
    }
    return *this;
}

File::~File() {
    close();
}

std::optional<std::string> File::readUpTo(std::size_t size) {
    std::string bytes(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        const auto count = read(bytes.data() + got, size - got);
        if (!count) return std::nullopt;
        if (*count == 0) break;
        got += *count;
    }
    bytes.resize(got);
    return bytes;
}

std::optional<std::string> readWholeFile(const std::string& path, std::uint64_t limit) {
    File file = openFile(path, OpenMode::read);
    if (!file) return std::nullopt;
    // Read to the end rather than to the announced size: files under /proc announce none.
    std::string content;
    std::string block(readBlockSize, '\0');
    for (;;) {
        const auto count = file.read(block.data(), block.size());
        if (!count) return std::nullopt;
        if (*count == 0) return content;
        if (*count > limit - content.size()) return std::nullopt;
        content.append(block.data(), *count);
    }
}

bool writeWholeFile(const std::string& path, std::string_view bytes) {
    File file = openFile(path, OpenMode::truncate);
    const bool written = file && file.write(bytes);
    return file.close() && written;
}

bool writeWholeFileAtomically(const std::string& path, std::string_view bytes) {
    const std::string temporary = path + atomicTemporarySuffix;
    deleteFile(temporary);
    File file = openFile(temporary, OpenMode::createNew);
    if (!file) return false;
    const bool written = file.write(bytes) && file.flushToDisk();
    if (file.close() && written && replaceFile(temporary, path)) return true;
    deleteFile(temporary);
    return false;
}

std::string folderHolding(const std::string& path) {
    const auto separator = path.find_last_of("/\\");
    // "C:name" lies in the working folder of drive C, "C:\name" in its root.
    const bool drive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if (separator == std::string::npos) return drive ? path.substr(0, 2) : ".";
    if (separator == 0 || (drive && separator == 2)) return path.substr(0, separator + 1);
    return path.substr(0, separator);
}

} // namespace platform
