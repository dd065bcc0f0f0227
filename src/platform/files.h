// Files and folders, as the update engine and the settings code need them. Reading and writing
// files, folder entries with their kinds and file sizes: file_io.h.
//
// [X] paths are UTF-8 bytes; there is one form of each routine where Windows had A and W forms
// [X] read-only = the owner's write bit; hidden and system = the user.DOSATTRIB extended
//     attribute as Wine stores it, where the file system has extended attributes
// [X] delete errors sorted as Windows' 2 / 5,32 / other: ENOENT; EACCES, EPERM, EBUSY, ETXTBSY; rest
// [X] a move that never replaces an existing file (MoveFile); a replacing one that first clears
//     the read-only mark Windows would refuse to replace
// [X] one-level folder creation where an existing folder is success (CreateDirectory)
// [X] names from the server or an archive: '\' becomes '/', and each component is matched to an
//     existing entry without regard to case, as Windows and Wine would
// [X] free space of a folder's file system for an unprivileged writer (GetDiskFreeSpaceEx)
// [X] links: folders on the way to a path are followed (a data folder moved to another disk), but
//     attributes are those of the last component itself and replacing it replaces the link
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The Windows attribute bits; the rules above this layer are written in their terms.
inline constexpr std::uint32_t attributeReadOnly = 0x1;
inline constexpr std::uint32_t attributeHidden = 0x2;
inline constexpr std::uint32_t attributeSystem = 0x4;
inline constexpr std::uint32_t attributeDirectory = 0x10;
inline constexpr std::uint32_t attributeNormal = 0x80;

// Nothing when nothing exists at `path`. A link's attributes are its own (it has none), never
// those of the file it points to.
std::optional<std::uint32_t> fileAttributes(const std::string& path);
// attributeNormal clears read-only, hidden and system. Never acts through a link: on a link only
// attributeNormal succeeds, and changes nothing.
bool setFileAttributes(const std::string& path, std::uint32_t attributes);

enum class DeleteResult { deleted, notFound, busy, failed };
struct DeleteOutcome {
    DeleteResult result;
    int errorCode; // errno; 0 when deleted
};
DeleteOutcome deleteFile(const std::string& path);
// deleteFile, tried again while the file is busy: at most `attempts` tries, with a pause of
// `pauseMs` after each busy one. The outcome of the last try.
DeleteOutcome deleteFileRetrying(const std::string& path, int attempts, int pauseMs);

bool pathExists(const std::string& path);
bool isFolder(const std::string& path);
// One level; an existing folder is success.
bool createFolder(const std::string& path);
// Never replaces an existing file at `to`.
bool moveFileNoReplace(const std::string& from, const std::string& to);
// Atomically replaces `to` (used to put a completed download in place). A read-only, hidden or
// system `to` has those marks cleared right before the rename and put back if it fails; the new
// file keeps its own marks.
bool replaceFile(const std::string& from, const std::string& to);
// replaceFile, tried again while `to` is busy (as deleteFileRetrying); `to` stays as it was until
// the rename, and a link at `to` is itself replaced. `deleted` means replaced.
DeleteOutcome replaceFileRetrying(const std::string& from, const std::string& to, int attempts, int pauseMs);
// Runs right before each rename of replaceFile and replaceFileRetrying, after `to`'s marks were
// cleared, so that tests see the order of the steps. An empty hook removes it.
using ReplaceHook = std::function<void(const std::string& from, const std::string& to)>;
void setReplaceHookForTesting(ReplaceHook hook);
bool makeExecutable(const std::string& path);
// Bytes this process may still write on the file system that holds `folder`; nothing when it
// cannot be had.
std::optional<std::uint64_t> freeSpace(const std::string& folder);
bool setModificationTime(const std::string& path, std::time_t time);

// The running executable's full path; empty when it cannot be had.
std::string executablePath();
// True when `path` names the running executable's file, under whatever name it has now.
bool isRunningExecutable(const std::string& path);
// A new file at `path`, open for writing; nothing when anything already exists there. With
// `ownerOnly` the call that creates the file gives it owner-only access, so nobody else can open
// it at any moment (a private key).
std::FILE* createNewFile(const std::string& path, bool ownerOnly);
// Names of the entries of `folder` (no "." or ".."), in the order the system gives them.
std::vector<std::string> listFolder(const std::string& folder);

// Names on Windows match without regard to ASCII case; so do the game's file and process names.
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

// `folder` (ending with '/') joined with `relative`, where '\' becomes '/' and each component
// that matches an existing entry without regard to ASCII case takes that entry's spelling.
std::string resolveCaseInsensitive(const std::string& folder, const std::string& relative);
// True when `relative` (with '\' read as '/') is not absolute and has no ".." component,
// so that joining it to a folder cannot leave that folder. On Windows, names that Win32 would
// alter (trailing dots or spaces) or take for a device (NUL, COM1, "aux.txt") are refused too.
bool isContainedRelativePath(const std::string& relative);

} // namespace platform
