// Settings files stored as UTF-16 with a byte-order mark, as Windows editors can save them: the
// profile layer works on their text as UTF-8 and writes them back in the file's own form. Private
// to posix/.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::posix {

inline constexpr std::string_view utf16LeMark = "\xFF\xFE";
inline constexpr std::string_view utf16BeMark = "\xFE\xFF";

// The UTF-16 bytes after the mark as UTF-8. An unpaired surrogate or an odd last byte becomes
// U+FFFD, and `exact` turns false: such a file could not be written back as it was.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian, bool& exact);
// Valid UTF-8 as UTF-16 bytes (without the mark); nothing for anything else.
std::optional<std::string> utf8ToUtf16(std::string_view text, bool bigEndian);

} // namespace platform::posix
