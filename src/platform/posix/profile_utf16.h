// Settings files stored as UTF-16LE with a byte-order mark, as Windows editors can save them: the
// profile layer works on their text as UTF-8 and writes them back as UTF-16LE. Private to posix/.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::posix {

inline constexpr std::string_view utf16LeMark = "\xFF\xFE";

// The UTF-16LE bytes after the mark as UTF-8. An unpaired surrogate or an odd last byte becomes
// U+FFFD, and `exact` turns false: such a file could not be written back as it was.
std::string utf16LeToUtf8(std::string_view bytes, bool& exact);
// Valid UTF-8 as UTF-16LE bytes (without the mark); nothing for anything else.
std::optional<std::string> utf8ToUtf16Le(std::string_view text);

} // namespace platform::posix
