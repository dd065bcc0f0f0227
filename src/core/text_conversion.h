// UTF-8 <-> UTF-16, the narrow and wide text of the launcher. Bad input is replaced by U+FFFD,
// never refused.
#pragma once

#include <string>
#include <string_view>

std::u16string toWide(std::string_view text);
std::string toNarrow(std::u16string_view text);
