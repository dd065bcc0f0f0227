// Files through the wide Kernel32 calls.
//
// [X] CreateFileW / FindFirstFileW with the UTF-16 form of the path: any folder name works,
//     whatever the ANSI code page (which is all that fopen and std::fstream would take)
// [X] handles are not inherited, so a started game or launcher holds no file of ours
// [X] others may read, and rename or delete, a file while it is open (FILE_SHARE_DELETE), as the
//     POSIX build allows; writers share reading only
// [X] createNew: CREATE_NEW, which never opens an existing name, a link included
// [X] truncate empties the file after opening it (OPEN_ALWAYS + SetEndOfFile): CREATE_ALWAYS would
//     refuse a hidden or system file, which the game's settings may be
// [X] reparse points (symbolic links, junctions) are the links of listings and entryKind
// [ ] execute bits: none; isExecutableFile is true for any regular file
#include "platform/file_io.h"

#include "wide_text.h"

#include <windows.h>

#include <algorithm>

namespace platform {
namespace {

using win32::ownHandle;
using win32::UniqueHandle;
using win32::widen;

constexpr DWORD largestTransfer = 1u << 30;

struct FindCloser {
    void operator()(HANDLE handle) const { FindClose(handle); }
};

HANDLE handleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

EntryKind kindOf(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::other;
    return EntryKind::file;
}

// Opened for its facts only, links followed; folders need FILE_FLAG_BACKUP_SEMANTICS.
std::optional<BY_HANDLE_FILE_INFORMATION> informationOf(const std::string& path) {
    const UniqueHandle file =
        ownHandle(CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !GetFileInformationByHandle(file.get(), &information)) return std::nullopt;
    return information;
}

} // namespace

File openFile(const std::string& path, OpenMode mode) {
    DWORD access = GENERIC_WRITE;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
    case OpenMode::read:
        access = GENERIC_READ;
        share |= FILE_SHARE_WRITE;
        break;
    case OpenMode::createNew:
        disposition = CREATE_NEW;
        break;
    case OpenMode::truncate:
        disposition = OPEN_ALWAYS;
        break;
    case OpenMode::readWrite:
        access = GENERIC_READ | GENERIC_WRITE;
        break;
    }
    HANDLE handle =
        CreateFileW(widen(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return File();
    if (mode == OpenMode::truncate && !SetEndOfFile(handle)) {
        CloseHandle(handle);
        return File();
    }
    return File(reinterpret_cast<std::intptr_t>(handle));
}

std::optional<std::size_t> File::read(void* buffer, std::size_t size) {
    if (!isOpen()) return std::nullopt;
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min<std::size_t>(size, largestTransfer));
    if (!ReadFile(handleOf(handle_), buffer, want, &got, nullptr)) return std::nullopt;
    return static_cast<std::size_t>(got);
}

bool File::write(const void* data, std::size_t size) {
    if (!isOpen()) return false;
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        DWORD done = 0;
        const auto want = static_cast<DWORD>(std::min<std::size_t>(size, largestTransfer));
        if (!WriteFile(handleOf(handle_), bytes, want, &done, nullptr) || done == 0) return false;
        bytes += done;
        size -= done;
    }
    return true;
}

bool File::seek(std::uint64_t offset) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return isOpen() && SetFilePointerEx(handleOf(handle_), position, nullptr, FILE_BEGIN) != 0;
}

std::optional<std::uint64_t> File::size() const {
    LARGE_INTEGER size{};
    if (!isOpen() || !GetFileSizeEx(handleOf(handle_), &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

bool File::flushToDisk() {
    return isOpen() && FlushFileBuffers(handleOf(handle_)) != 0;
}

bool File::close() {
    if (!isOpen()) return true;
    const HANDLE handle = handleOf(handle_);
    handle_ = invalidHandle;
    return CloseHandle(handle) != 0;
}

std::optional<std::uint64_t> fileSize(const std::string& path) {
    const auto information = informationOf(path);
    if (!information || (information->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
    return (static_cast<std::uint64_t>(information->nFileSizeHigh) << 32) | information->nFileSizeLow;
}

std::optional<EntryKind> entryKind(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return kindOf(attributes);
}

std::vector<FolderEntry> listFolderEntries(const std::string& folder) {
    std::vector<FolderEntry> entries;
    std::string pattern = folder.empty() ? "." : folder;
    if (pattern.back() != '/' && pattern.back() != '\\') pattern += '/';
    WIN32_FIND_DATAW entry{};
    std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser> find(
        FindFirstFileW(widen(pattern + "*").c_str(), &entry));
    if (find.get() == INVALID_HANDLE_VALUE) {
        find.release();
        return entries;
    }
    do {
        std::string name = win32::narrow(entry.cFileName);
        if (name != "." && name != "..") entries.push_back({std::move(name), kindOf(entry.dwFileAttributes)});
    } while (FindNextFileW(find.get(), &entry));
    return entries;
}

bool isExecutableFile(const std::string& path) {
    const auto information = informationOf(path);
    return information && (information->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string ansiCodePageForm(const std::string& path) {
    const std::wstring wide = widen(path);
    if (wide.empty()) return {};
    const auto length = static_cast<int>(wide.size());
    const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), length, ansi.data(), size, nullptr, nullptr);
    return ansi;
}

} // namespace platform
