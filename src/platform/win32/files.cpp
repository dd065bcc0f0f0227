// Files and folders through the wide Kernel32 calls.
//
// [X] paths are UTF-8 above this layer and UTF-16 here; '/' and '\' both separate folders
// [X] GetFileAttributesW / SetFileAttributesW: the real read-only, hidden and system bits
// [X] DeleteFileW: error 2 is "not found", 5 and 32 the busy kind that callers retry, the rest failures
// [X] MoveFileW never replaces an existing file; MoveFileExW(MOVEFILE_REPLACE_EXISTING) puts a
//     completed download in place
// [X] CreateDirectoryW: one level; an existing folder is success, an existing file is not
// [X] names from the server or an archive: the file system already matches them without regard to
//     case, so they are only joined ('\' becomes '/', which every wide call accepts); names that
//     Win32 would alter (trailing dots and spaces) or take for a device (NUL, COM1) are refused
// [X] the running executable compared by file identity (volume and file index), not by name
// [X] free space for this caller, quotas included (GetDiskFreeSpaceExW)
// [ ] executable bits: Windows has none; makeExecutable succeeds for any existing file
// [ ] owner-only new files: the folder's inherited access applies (the release tool is built for Linux)
#include "platform/files.h"
#include "platform/file_io.h"
#include "platform/path_components.h"

#include "platform/process.h"
#include "platform/replace_steps.h"
#include "wide_text.h"

#include <windows.h>

namespace platform {
namespace {

using win32::narrow;
using win32::ownHandle;
using win32::UniqueHandle;
using win32::widen;

// Opened for nothing but its identity; folders need FILE_FLAG_BACKUP_SEMANTICS.
UniqueHandle openForIdentity(const std::wstring& path) {
    return ownHandle(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Win32 drops trailing dots and spaces from every name (".. " and "..." climb like ".."), and the
// DOS device names (NUL, CON, COM1, "aux.txt") name a device in every folder.
bool isPlainName(const std::string& part) {
    if (part == ".") return true;
    if (part.back() == '.' || part.back() == ' ') return false;
    std::string base = part.substr(0, part.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (base == device) return false;
    const bool numbered = base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT"));
    return !(numbered && base[3] >= '0' && base[3] <= '9');
}

} // namespace

std::optional<std::uint32_t> fileAttributes(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return static_cast<std::uint32_t>(attributes);
}

bool setFileAttributes(const std::string& path, std::uint32_t attributes) {
    return SetFileAttributesW(widen(path).c_str(), attributes) != 0;
}

namespace {

// Windows' 2 is "not found"; 5 (access denied) and 32 (sharing violation) are the busy kind.
DeleteOutcome sortedFailure(DWORD code) {
    const auto error = static_cast<int>(code);
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return {DeleteResult::notFound, error};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return {DeleteResult::busy, error};
    default:
        return {DeleteResult::failed, error};
    }
}

} // namespace

DeleteOutcome deleteFile(const std::string& path) {
    if (DeleteFileW(widen(path).c_str())) return {DeleteResult::deleted, 0};
    const DWORD error = GetLastError();
    // A folder answers with the retried error 5, though no wait makes it a file.
    if (error == ERROR_ACCESS_DENIED && isFolder(path)) return {DeleteResult::failed, ERROR_DIRECTORY};
    return sortedFailure(error);
}

DeleteOutcome deleteFileRetrying(const std::string& path, int attempts, int pauseMs) {
    DeleteOutcome outcome{DeleteResult::busy, 0};
    for (int attempt = 0; attempt < attempts && outcome.result == DeleteResult::busy; ++attempt) {
        outcome = deleteFile(path);
        if (outcome.result == DeleteResult::busy) sleepMilliseconds(pauseMs);
    }
    return outcome;
}

bool pathExists(const std::string& path) {
    return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool createFolder(const std::string& path) {
    if (CreateDirectoryW(widen(path).c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && isFolder(path);
}

bool moveFileNoReplace(const std::string& from, const std::string& to) {
    return MoveFileW(widen(from).c_str(), widen(to).c_str()) != 0;
}

int detail::renameOver(const std::string& from, const std::string& to) {
    if (MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
    return static_cast<int>(GetLastError());
}

bool replaceFile(const std::string& from, const std::string& to) {
    return detail::replaceClearingMarks(from, to) == 0;
}

// The target of a replacement may be held open by another program as a file may be at a delete;
// the same errors are retried.
DeleteOutcome replaceFileRetrying(const std::string& from, const std::string& to, int attempts, int pauseMs) {
    DeleteOutcome outcome{DeleteResult::busy, 0};
    for (int attempt = 0; attempt < attempts && outcome.result == DeleteResult::busy; ++attempt) {
        // MoveFileEx would not replace a folder either, but says so with the retried error 5.
        if (isFolder(to)) return {DeleteResult::failed, ERROR_DIRECTORY};
        const int error = detail::replaceClearingMarks(from, to);
        outcome =
            error == 0 ? DeleteOutcome{DeleteResult::deleted, 0} : sortedFailure(static_cast<DWORD>(error));
        if (outcome.result == DeleteResult::busy) sleepMilliseconds(pauseMs);
    }
    return outcome;
}

bool makeExecutable(const std::string& path) {
    return pathExists(path);
}

std::optional<std::uint64_t> freeSpace(const std::string& folder) {
    ULARGE_INTEGER available{};
    // The bytes free to this caller, quotas included.
    if (!GetDiskFreeSpaceExW(widen(folder.empty() ? "." : folder).c_str(), &available, nullptr, nullptr))
        return std::nullopt;
    return static_cast<std::uint64_t>(available.QuadPart);
}

bool setModificationTime(const std::string& path, std::time_t time) {
    UniqueHandle file = ownHandle(CreateFileW(widen(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return false;
    // FILETIME counts 100-nanosecond steps from 1601-01-01, 11644473600 seconds before 1970.
    const auto ticks = (static_cast<std::uint64_t>(time) + 11644473600ULL) * 10000000ULL;
    FILETIME stamp{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    return SetFileTime(file.get(), nullptr, &stamp, &stamp) != 0;
}

std::string executablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (size == 0) return {};
        if (size < path.size()) {
            path.resize(size);
            return narrow(path);
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

bool isRunningExecutable(const std::string& path) {
    // Compared by file identity: the launcher may be renamed at any moment (the self-update moves
    // it aside), so a name read earlier proves nothing. The module's own path follows the rename.
    std::wstring running(32768, L'\0');
    const DWORD size = GetModuleFileNameW(nullptr, running.data(), static_cast<DWORD>(running.size()));
    if (size == 0 || size >= running.size()) return false;
    running.resize(size);
    const UniqueHandle own = openForIdentity(running);
    const UniqueHandle other = openForIdentity(widen(path));
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return own && other && GetFileInformationByHandle(own.get(), &a) &&
           GetFileInformationByHandle(other.get(), &b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

std::vector<std::string> listFolder(const std::string& folder) {
    // One search of the folder either way; the kinds come with it at no cost.
    std::vector<std::string> names;
    for (auto& entry : listFolderEntries(folder)) names.push_back(std::move(entry.name));
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
    const auto parts = splitComponents(relative);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        path += parts[i];
        if (i + 1 < parts.size()) path += '/';
    }
    if (!relative.empty() && (relative.back() == '/' || relative.back() == '\\') && !parts.empty())
        path += '/';
    return path;
}

bool isContainedRelativePath(const std::string& relative) {
    if (relative.empty() || relative.front() == '/' || relative.front() == '\\') return false;
    // A drive letter ("C:") is absolute, and "name:stream" would name an alternate data stream.
    if (relative.find(':') != std::string::npos) return false;
    for (const auto& part : splitComponents(relative))
        if (part == ".." || !isPlainName(part)) return false;
    return true;
}

std::FILE* createNewFile(const std::string& path, bool) {
    // The folder's inherited access applies; "x" fails when anything exists at the path.
    return _wfopen(win32::widen(path).c_str(), L"wbx");
}

} // namespace platform
