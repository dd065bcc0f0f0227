// UTF-8 out of code points and UTF-16 surrogates told apart, shared by the text conversion above
// this layer and the settings files' UTF-16 below it, so that both write characters alike.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Appends `c` (at most U+10FFFF, no surrogate) in UTF-8.
void appendUtf8(std::string& out, char32_t c);

inline bool isHighSurrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool isLowSurrogate(std::uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

} // namespace platform
