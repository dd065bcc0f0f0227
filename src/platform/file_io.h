// Reading and writing files, for every layer above this one: nothing above platform/ opens,
// lists or measures a file by itself (fopen, std::fstream and std::filesystem read a narrow path
// in the ANSI code page on Windows, so a folder named outside it would be out of reach).
//
// [X] paths are UTF-8; Windows gets their wide form (CreateFileW, FindFirstFileW, ...), so any
//     folder name works whatever the ANSI code page; '/' and '\' both separate there
// [X] failures are results (an empty optional, false, a closed File); nothing throws
// [X] a File owns its handle (RAII): read, write, seek, size, flush to disk, close with its result
// [X] whole files: read with a size limit; written in place, or through a temporary beside the
//     target that is renamed over it, so that readers see the old content or the new
// [X] folder listings with each entry's kind; links are reported as links, never followed
// [X] the folder that holds a path, with either separator and drive roots ("C:\x" is held by "C:\")
// [X] the ANSI code page form of a path, for the one place that names it (Windows only)
// [ ] no text mode: bytes are read and written as they are ("\r\n" stays "\r\n")
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class OpenMode {
    read,      // an existing file, from its first byte
    createNew, // a new file for writing; fails when anything already has the name, even a link
    truncate,  // for writing, emptied; created when missing
    readWrite, // an existing file for reading and writing, its content kept
};

// An open file. Moves, never copies; the destructor closes it.
class File {
  public:
    File() = default;
    ~File();
    File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = invalidHandle; }
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool isOpen() const { return handle_ != invalidHandle; }
    explicit operator bool() const { return isOpen(); }
    // Up to `size` bytes at the current position; 0 at the end of the file; nothing on a failure.
    std::optional<std::size_t> read(void* buffer, std::size_t size);
    // Exactly `size` bytes unless the end of the file comes first; nothing on a failure.
    std::optional<std::string> readUpTo(std::size_t size);
    // True when every byte was written.
    bool write(const void* data, std::size_t size);
    bool write(std::string_view bytes) { return write(bytes.data(), bytes.size()); }
    bool seek(std::uint64_t offset);
    std::optional<std::uint64_t> size() const;
    // What the system still holds goes to the disk (fsync, FlushFileBuffers).
    bool flushToDisk();
    // Closes now. False when the close itself reports a failure (a write-back that found the disk
    // full); a closed File closes again as success.
    bool close();

  private:
    friend File openFile(const std::string& path, OpenMode mode);
    // A file descriptor on POSIX, a HANDLE on Windows; -1 is "none" on both.
    static constexpr std::intptr_t invalidHandle = -1;
    explicit File(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_ = invalidHandle;
};

// A closed File when the file cannot be opened as asked.
File openFile(const std::string& path, OpenMode mode);

inline constexpr std::uint64_t wholeFileLimit = 256u << 20;
// The whole content of the file; nothing when it cannot be read or is larger than `limit`.
std::optional<std::string> readWholeFile(const std::string& path, std::uint64_t limit = wholeFileLimit);
// `bytes` as the whole content of `path`, written in place (created or emptied first).
bool writeWholeFile(const std::string& path, std::string_view bytes);
// `bytes` as the whole content of `path`, written to `path` + ".part" and renamed over `path`
// only when all of it is on the disk: `path` holds the old content or the new, never a mix.
// (start-up's clean-up removes a ".part" without a resume record, should the process end first).
bool writeWholeFileAtomically(const std::string& path, std::string_view bytes);

// A file's size in bytes (links followed); nothing for a folder or when nothing is there.
std::optional<std::uint64_t> fileSize(const std::string& path);

enum class EntryKind { file, folder, link, other };
// The kind of `path`'s last component itself (a link is a link); nothing when nothing is there.
std::optional<EntryKind> entryKind(const std::string& path);
struct FolderEntry {
    std::string name;
    EntryKind kind;
};
// The entries of `folder` (no "." or ".."), in the order the system gives them; empty when it
// cannot be listed.
std::vector<FolderEntry> listFolderEntries(const std::string& folder);
// A regular file (links followed) that the system would run: on POSIX one with an execute bit;
// on Windows any regular file (the caller matches the ".exe" name).
bool isExecutableFile(const std::string& path);

// The folder that holds `path`, for measuring its free space or creating a file beside it:
// "a/b/c" and "a\b\c" give "a/b" and "a\b", "c" gives ".", "/c" gives "/", "C:\c" gives "C:\".
std::string folderHolding(const std::string& path);

// `path` in the system's ANSI code page, as the A functions take it; characters the code page
// lacks become '?'. POSIX systems have no such code page: the path as it is.
std::string ansiCodePageForm(const std::string& path);

} // namespace platform
