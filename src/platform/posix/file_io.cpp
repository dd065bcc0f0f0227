// Files through POSIX descriptors.
//
// [X] open(2) with O_CLOEXEC, so a started game or launcher inherits no file of ours
// [X] createNew: O_CREAT | O_EXCL, which never opens an existing name and never follows a link
// [X] new files get 0666 less the umask, as fopen gives them
// [X] reads and writes go on after EINTR and after short writes
// [X] folder entries' kinds from d_type, or lstat where the file system gives none
#include "platform/file_io.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

int flagsFor(OpenMode mode) {
    switch (mode) {
    case OpenMode::read:
        return O_RDONLY;
    case OpenMode::createNew:
        return O_WRONLY | O_CREAT | O_EXCL;
    case OpenMode::truncate:
        return O_WRONLY | O_CREAT | O_TRUNC;
    case OpenMode::readWrite:
        return O_RDWR;
    }
    return O_RDONLY;
}

EntryKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::file;
    if (S_ISDIR(mode)) return EntryKind::folder;
    if (S_ISLNK(mode)) return EntryKind::link;
    return EntryKind::other;
}

} // namespace

File openFile(const std::string& path, OpenMode mode) {
    int fd = -1;
    do {
        fd = open(path.c_str(), flagsFor(mode) | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return File(fd);
}

std::optional<std::size_t> File::read(void* buffer, std::size_t size) {
    if (!isOpen()) return std::nullopt;
    for (;;) {
        const ssize_t got = ::read(static_cast<int>(handle_), buffer, size);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) return std::nullopt;
    }
}

bool File::write(const void* data, std::size_t size) {
    if (!isOpen()) return false;
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t done = ::write(static_cast<int>(handle_), bytes, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

bool File::seek(std::uint64_t offset) {
    return isOpen() && lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::optional<std::uint64_t> File::size() const {
    struct stat info {};
    if (!isOpen() || fstat(static_cast<int>(handle_), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

bool File::flushToDisk() {
    return isOpen() && fsync(static_cast<int>(handle_)) == 0;
}

bool File::close() {
    if (!isOpen()) return true;
    const int fd = static_cast<int>(handle_);
    handle_ = invalidHandle;
    // After EINTR the descriptor is gone on Linux; closing it again could close another's.
    return ::close(fd) == 0 || errno == EINTR;
}

std::optional<std::uint64_t> fileSize(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

std::optional<EntryKind> entryKind(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return std::nullopt;
    return kindOf(info.st_mode);
}

std::vector<FolderEntry> listFolderEntries(const std::string& folder) {
    std::vector<FolderEntry> entries;
    const std::string base = folder.empty() ? "." : folder;
    std::unique_ptr<DIR, DirCloser> dir(opendir(base.c_str()));
    if (!dir) return entries;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        EntryKind kind = EntryKind::other;
        switch (entry->d_type) {
        case DT_REG:
            kind = EntryKind::file;
            break;
        case DT_DIR:
            kind = EntryKind::folder;
            break;
        case DT_LNK:
            kind = EntryKind::link;
            break;
        case DT_UNKNOWN:
            kind = entryKind(base + (base.back() == '/' ? "" : "/") + name).value_or(EntryKind::other);
            break;
        default:
            break;
        }
        entries.push_back({name, kind});
    }
    return entries;
}

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0111) != 0;
}

std::string ansiCodePageForm(const std::string& path) {
    return path;
}

} // namespace platform
