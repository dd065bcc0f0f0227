// Files read at any offset and written front to back: open, pread and write.
//
// [X] O_NOFOLLOW | O_EXCL for new files: an existing file or a planted link is never written
// [X] reads and writes are retried after EINTR and continued after short counts
// [ ] no fsync: as extraction, the rename is trusted to follow the data (ext4's replace-by-rename rule)
#include "platform/file_stream.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

struct OpenFile {
    int descriptor = -1;
};

void OpenFileCloser::operator()(OpenFile* file) const {
    if (file->descriptor >= 0) ::close(file->descriptor);
    delete file;
}

FileStream openFileForReading(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) return nullptr;
    FileStream file(new OpenFile{descriptor});
    struct stat facts {};
    if (::fstat(descriptor, &facts) != 0 || !S_ISREG(facts.st_mode)) return nullptr;
    return file;
}

FileStream createNewFile(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor < 0) return nullptr;
    return FileStream(new OpenFile{descriptor});
}

std::optional<std::uint64_t> openFileSize(OpenFile& file) {
    struct stat facts {};
    if (::fstat(file.descriptor, &facts) != 0 || facts.st_size < 0) return std::nullopt;
    return static_cast<std::uint64_t>(facts.st_size);
}

std::optional<std::size_t> readFileAt(OpenFile& file, std::uint64_t offset, void* data, std::size_t size) {
    auto* bytes = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(file.descriptor, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool writeToFile(OpenFile& file, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(file.descriptor, bytes, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool closeWrittenFile(FileStream file) {
    const bool closed = ::close(file->descriptor) == 0;
    file->descriptor = -1;
    return closed;
}

} // namespace platform
