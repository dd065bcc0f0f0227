// A profile file's bytes as text and back, for the profile layer. Private to posix/.
#pragma once

#include <string>
#include <string_view>

namespace platform::posix {

enum class ReadResult { read, missing, failed };

// How the file's bytes hold its text.
struct FileForm {
    std::string_view mark; // a UTF-16 byte-order mark, or empty for a file of bytes
    bool bigEndian = false;
    bool exact = true; // the text, written back in the same form, gives the same bytes
};

// The file's text as UTF-8, whatever form its bytes have.
ReadResult readWholeFile(const std::string& path, std::string& text, FileForm& form);
// A new file holding `text` as bytes; false (and no file) when it cannot be written whole.
bool createFile(const std::string& path, const std::string& text);
// Replaces the existing file's contents with `text` in `form`, atomically; false when the file
// is not written (it may not be written, or `text` has no faithful form).
bool replaceText(const std::string& path, const std::string& text, const FileForm& form);

} // namespace platform::posix
