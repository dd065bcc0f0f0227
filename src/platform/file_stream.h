// Files read at any offset and written front to back, for work on files too large to hold in
// memory (a delta's base is read where its copy commands point, its result written in order).
//
// [X] paths are UTF-8 bytes, as in files.h
// [X] reading: regular files only (a folder, FIFO or device would block or never end); reads at
//     an offset never move a shared position, so one open file serves any order of reads
// [X] writing: a new file only, never one that exists nor through a link someone put there;
//     closing reports the last write-back error (a full disk)
// [ ] no mapping: reads go through a caller's buffer, so memory stays the caller's choice
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

struct OpenFile;
struct OpenFileCloser {
    void operator()(OpenFile* file) const;
};
using FileStream = std::unique_ptr<OpenFile, OpenFileCloser>;

// Null when `path` names no regular file (links followed) or it cannot be opened.
FileStream openFileForReading(const std::string& path);
// Null when anything exists at `path` already or it cannot be created.
FileStream createNewFile(const std::string& path);

// The size of an open file; nothing when it cannot be had.
std::optional<std::uint64_t> openFileSize(OpenFile& file);
// Up to `size` bytes from `offset`; fewer only at the end of the file. Nothing on a failed read.
std::optional<std::size_t> readFileAt(OpenFile& file, std::uint64_t offset, void* data, std::size_t size);
// Appends all `size` bytes, or fails.
bool writeToFile(OpenFile& file, const void* data, std::size_t size);
// Closes a file opened for writing; false when some of what was written did not reach the disk.
bool closeWrittenFile(FileStream file);

} // namespace platform
