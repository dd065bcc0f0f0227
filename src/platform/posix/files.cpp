// Files and folders on POSIX systems.
//
// [X] read-only: the owner's write bit (set: all write bits cleared; cleared: owner write bit set)
// [X] hidden and system: user.DOSATTRIB as Wine writes it ("0x" and hexadecimal digits); on a file
//     system without extended attributes they read as clear and setting them is a no-op
// [ ] archive and the other Windows bits: no counterpart; a file with none reads as NORMAL (0x80)
// [X] delete errors: ENOENT not found; EACCES, EPERM, EBUSY, ETXTBSY busy (Windows' 5 and 32)
// [X] MoveFile: renameat2(RENAME_NOREPLACE), or link + unlink where the file system lacks it
// [X] CreateDirectory: one level; an existing folder is success, an existing file is not
// [X] GetDiskFreeSpaceEx's bytes available to the caller: statvfs's f_bavail (the root's reserve
//     excluded)
// [X] attributes never act through a link: read with lstat and the l*xattr calls, changed with
//     fchmodat(AT_SYMLINK_NOFOLLOW), which refuses a link even when one is swapped in meanwhile
#include "platform/files.h"
#include "platform/path_components.h"

#include "platform/process.h"
#include "platform/replace_steps.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr const char* dosAttributeName = "user.DOSATTRIB";
constexpr std::uint32_t dosBits = attributeHidden | attributeSystem;

std::uint32_t readDosBits(const std::string& path) {
    char text[64] = {};
    const ssize_t size = lgetxattr(path.c_str(), dosAttributeName, text, sizeof text - 1);
    if (size <= 0) return 0;
    return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 16)) & dosBits;
}

bool writeDosBits(const std::string& path, std::uint32_t bits) {
    if (bits == 0) {
        if (lremovexattr(path.c_str(), dosAttributeName) == 0) return true;
        return errno == ENODATA || errno == ENOTSUP;
    }
    char text[16];
    const int size = std::snprintf(text, sizeof text, "0x%x", bits);
    if (lsetxattr(path.c_str(), dosAttributeName, text, static_cast<std::size_t>(size), 0) == 0) return true;
    return errno == ENOTSUP;
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

} // namespace

std::optional<std::uint32_t> fileAttributes(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return std::nullopt;
    if (S_ISLNK(info.st_mode)) return attributeNormal;
    std::uint32_t bits = readDosBits(path);
    if ((info.st_mode & S_IWUSR) == 0) bits |= attributeReadOnly;
    if (S_ISDIR(info.st_mode)) bits |= attributeDirectory;
    return bits == 0 ? attributeNormal : bits;
}

bool setFileAttributes(const std::string& path, std::uint32_t attributes) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return false;
    if (S_ISLNK(info.st_mode)) return (attributes & (attributeReadOnly | dosBits)) == 0;
    mode_t mode = info.st_mode & 07777;
    if (attributes & attributeReadOnly)
        mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    else
        mode |= S_IWUSR;
    if (mode != (info.st_mode & 07777) && fchmodat(AT_FDCWD, path.c_str(), mode, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    return writeDosBits(path, attributes & dosBits);
}

namespace {

DeleteOutcome sortedFailure(int error) {
    switch (error) {
    case ENOENT:
        return {DeleteResult::notFound, error};
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY:
        return {DeleteResult::busy, error};
    default:
        return {DeleteResult::failed, error};
    }
}

template <typename Attempt> DeleteOutcome retryingWhileBusy(Attempt attempt, int attempts, int pauseMs) {
    DeleteOutcome outcome{DeleteResult::busy, 0};
    for (int done = 0; done < attempts && outcome.result == DeleteResult::busy; ++done) {
        outcome = attempt();
        if (outcome.result == DeleteResult::busy) sleepMilliseconds(pauseMs);
    }
    return outcome;
}

} // namespace

DeleteOutcome deleteFile(const std::string& path) {
    if (unlink(path.c_str()) == 0) return {DeleteResult::deleted, 0};
    return sortedFailure(errno);
}

DeleteOutcome deleteFileRetrying(const std::string& path, int attempts, int pauseMs) {
    return retryingWhileBusy([&] { return deleteFile(path); }, attempts, pauseMs);
}

DeleteOutcome replaceFileRetrying(const std::string& from, const std::string& to, int attempts, int pauseMs) {
    return retryingWhileBusy(
        [&]() -> DeleteOutcome {
            // rename would put a file in place of an empty folder, or of a link to a folder the
            // player moved elsewhere; neither is a file to replace.
            if (isFolder(to)) return {DeleteResult::failed, EISDIR};
            const int error = detail::replaceClearingMarks(from, to);
            return error == 0 ? DeleteOutcome{DeleteResult::deleted, 0} : sortedFailure(error);
        },
        attempts, pauseMs);
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool createFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0755) == 0) return true;
    return errno == EEXIST && isFolder(path);
}

bool moveFileNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: link refuses an existing target just the same.
    if (link(from.c_str(), to.c_str()) != 0) return false;
    if (unlink(from.c_str()) != 0) {
        unlink(to.c_str());
        return false;
    }
    return true;
}

int detail::renameOver(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return detail::replaceClearingMarks(from, to) == 0;
}

bool makeExecutable(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return false;
    mode_t mode = info.st_mode & 07777;
    mode |= S_IXUSR;
    if (mode & S_IRGRP) mode |= S_IXGRP;
    if (mode & S_IROTH) mode |= S_IXOTH;
    return chmod(path.c_str(), mode) == 0;
}

std::optional<std::uint64_t> freeSpace(const std::string& folder) {
    struct statvfs info {};
    if (statvfs(folder.empty() ? "." : folder.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
}

bool setModificationTime(const std::string& path, std::time_t time) {
    const timespec times[2] = {{time, 0}, {time, 0}};
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::string executablePath() {
    std::string path(4096, '\0');
    const ssize_t size = readlink("/proc/self/exe", path.data(), path.size());
    if (size <= 0 || static_cast<std::size_t>(size) >= path.size()) return {};
    path.resize(static_cast<std::size_t>(size));
    return path;
}

bool isRunningExecutable(const std::string& path) {
    // Compared by file identity: the launcher may be renamed at any moment (the self-update moves
    // it aside), so a name read earlier proves nothing.
    struct stat running {};
    struct stat candidate {};
    return stat("/proc/self/exe", &running) == 0 && stat(path.c_str(), &candidate) == 0 &&
           running.st_dev == candidate.st_dev && running.st_ino == candidate.st_ino;
}

std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir) return names;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    return names;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::string resolveCaseInsensitive(const std::string& folder, const std::string& relative) {
    std::string path = folder;
    bool parentExists = folder.empty() || isFolder(folder);
    const auto parts = splitComponents(relative);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string part = parts[i];
        if (parentExists && !pathExists(path + part)) {
            for (const auto& name : listFolder(path))
                if (equalsIgnoringAsciiCase(name, part)) {
                    part = name;
                    break;
                }
        }
        path += part;
        if (i + 1 < parts.size()) {
            parentExists = parentExists && isFolder(path);
            path += '/';
        }
    }
    if (!relative.empty() && (relative.back() == '/' || relative.back() == '\\') && !parts.empty())
        path += '/';
    return path;
}

bool isContainedRelativePath(const std::string& relative) {
    if (relative.empty() || relative.front() == '/' || relative.front() == '\\') return false;
    // A drive letter ("C:") is absolute on the system these names come from.
    if (relative.size() >= 2 && relative[1] == ':') return false;
    for (const auto& part : splitComponents(relative))
        if (part == "..") return false;
    return true;
}

} // namespace platform
