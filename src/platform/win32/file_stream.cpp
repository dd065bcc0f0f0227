// Files read at any offset and written front to back: CreateFileW, ReadFile and WriteFile.
//
// [X] reads at an offset through OVERLAPPED on a synchronous handle; others may read and write
//     the file meanwhile (FILE_SHARE_READ | FILE_SHARE_WRITE), as the game's own tools do
// [X] CREATE_NEW never opens an existing file; a link at the path exists, so it is refused too
// [ ] no FlushFileBuffers: as extraction, a write that fails reports a full disk
#include "platform/file_stream.h"

#include "wide_text.h"

#include <algorithm>
#include <windows.h>

namespace platform {

struct OpenFile {
    win32::UniqueHandle handle;
};

void OpenFileCloser::operator()(OpenFile* file) const {
    delete file;
}

FileStream openFileForReading(const std::string& path) {
    auto handle = win32::ownHandle(CreateFileW(win32::widen(path).c_str(), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle || GetFileType(handle.get()) != FILE_TYPE_DISK) return nullptr;
    BY_HANDLE_FILE_INFORMATION facts{};
    if (!GetFileInformationByHandle(handle.get(), &facts) ||
        (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return nullptr;
    return FileStream(new OpenFile{std::move(handle)});
}

FileStream createNewFile(const std::string& path) {
    auto handle = win32::ownHandle(CreateFileW(win32::widen(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return nullptr;
    return FileStream(new OpenFile{std::move(handle)});
}

std::optional<std::uint64_t> openFileSize(OpenFile& file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.handle.get(), &size) || size.QuadPart < 0) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<std::size_t> readFileAt(OpenFile& file, std::uint64_t offset, void* data, std::size_t size) {
    auto* bytes = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const std::uint64_t at = offset + done;
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(file.handle.get(), bytes + done, want, &got, &position)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return std::nullopt;
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

bool writeToFile(OpenFile& file, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(file.handle.get(), bytes, want, &put, nullptr) || put == 0) return false;
        bytes += put;
        size -= put;
    }
    return true;
}

bool closeWrittenFile(FileStream file) {
    return CloseHandle(file->handle.release()) != 0;
}

} // namespace platform
