// A profile file's bytes as text and back.
//
// [X] a file of bytes is its text; a UTF-16 file (its byte-order mark first, LE or BE) is read as
//     UTF-8 text and written back in its own form (profile_utf16.cpp)
// [X] a write replaces the file atomically (a new file renamed over it, same permission bits,
//     owner, and hidden and system attributes), so a crash mid-write never leaves half a file
// [X] a text that has no faithful form in the file's encoding is never written
#include "profile_file.h"

#include "platform/files.h"
#include "profile_utf16.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::posix {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

} // namespace

ReadResult readWholeFile(const std::string& path, std::string& text, FileForm& form) {
    text.clear();
    FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
    char buffer[8192];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
    // A folder opens on Linux and fails on the first read.
    if (std::ferror(file.get())) return ReadResult::failed;
    for (const auto mark : {utf16LeMark, utf16BeMark})
        if (text.starts_with(mark)) {
            form.mark = mark;
            form.bigEndian = mark == utf16BeMark;
            text = utf16ToUtf8(std::string_view(text).substr(mark.size()), form.bigEndian, form.exact);
            break;
        }
    return ReadResult::read;
}

namespace {

bool writeAll(int descriptor, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t got = ::write(descriptor, text.data() + written, text.size() - written);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        written += static_cast<std::size_t>(got);
    }
    return true;
}

struct DescriptorCloser {
    void operator()(const int* descriptor) const {
        if (*descriptor >= 0) ::close(*descriptor);
    }
};

// A new file beside the old one, renamed over it: a reader never sees half a file.
bool replaceContents(const std::string& path, const std::string& text) {
    std::string target = path;
    if (std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free); real)
        target = real.get(); // through a symbolic link to the file it names
    struct stat status {};
    if (::stat(target.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    // Read-only is the owner's write bit, which root's access() would overlook.
    if ((status.st_mode & S_IWUSR) == 0 || ::access(target.c_str(), W_OK) != 0) return false;

    // Hidden and system live in an extended attribute of the old file, which the new one lacks.
    const std::uint32_t dosBits = fileAttributes(target).value_or(0) & (attributeHidden | attributeSystem);

    std::string temporary = target + ".XXXXXX";
    int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0) return false;
    std::unique_ptr<int, DescriptorCloser> guard(&descriptor);
    ::fchmod(descriptor, status.st_mode & 07777);
    [[maybe_unused]] const int owned = ::fchown(descriptor, status.st_uid, status.st_gid);
    if (!writeAll(descriptor, text) || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    if (dosBits != 0) setFileAttributes(target, dosBits);
    return true;
}

} // namespace

bool createFile(const std::string& path, const std::string& text) {
    int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) return false;
    std::unique_ptr<int, DescriptorCloser> guard(&descriptor);
    if (writeAll(descriptor, text)) return true;
    ::unlink(path.c_str());
    return false;
}

bool replaceText(const std::string& path, const std::string& text, const FileForm& form) {
    if (form.mark.empty()) return replaceContents(path, text);
    const auto encoded = utf8ToUtf16(text, form.bigEndian);
    return encoded && replaceContents(path, std::string(form.mark) + *encoded);
}

} // namespace platform::posix
