// UTF-8 <-> UTF-16, the narrow and wide text of the launcher. Bad input is replaced by U+FFFD,
// never refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

std::u16string toWide(std::string_view text);
std::string toNarrow(std::u16string_view text);

// The standard decimal conversion: leading white space and one sign, then at least one digit;
// whatever follows the digits is ignored. Nothing when there is no digit or the value leaves
// the signed 32-bit range.
std::optional<std::int32_t> toInt32(std::string_view text);
