// UTF-16LE settings files for the profile layer.
//
// [X] UTF-16LE and UTF-16BE with their marks, read as Windows' profile functions read them;
//     surrogate pairs kept
// [X] a text that would not come back byte for byte (an unpaired surrogate, an odd last byte,
//     invalid UTF-8 to write) is reported, so the layer never writes such a file
#include "profile_utf16.h"

#include <cstdint>

#include "platform/utf8.h"

namespace platform::posix {
namespace {

constexpr char32_t replacement = 0xFFFD;

void appendUnit(std::string& out, std::uint32_t unit, bool bigEndian) {
    const auto low = static_cast<char>(unit & 0xFF);
    const auto high = static_cast<char>(unit >> 8);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
}

} // namespace

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian, bool& exact) {
    exact = bytes.size() % 2 == 0;
    std::string text;
    text.reserve(bytes.size());
    const auto unitAt = [&bytes, bigEndian](std::size_t i) {
        const auto first = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]));
        const auto second = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1]));
        return bigEndian ? first << 8 | second : second << 8 | first;
    };
    const std::size_t units = bytes.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t unit = unitAt(2 * i);
        if (isHighSurrogate(unit) && i + 1 < units && isLowSurrogate(unitAt(2 * i + 2))) {
            appendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (unitAt(2 * i + 2) - 0xDC00));
            ++i;
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            appendUtf8(text, replacement);
            exact = false;
        } else {
            appendUtf8(text, unit);
        }
    }
    if (bytes.size() % 2 != 0) appendUtf8(text, replacement);
    return text;
}

std::optional<std::string> utf8ToUtf16(std::string_view text, bool bigEndian) {
    std::string out;
    out.reserve(2 * text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xE  ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        if (length == 0 || i + length > text.size()) return std::nullopt;
        char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            c = (c << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF would not come back as written.
        static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
        if (c >= 0x10000) {
            appendUnit(out, 0xD800 + ((c - 0x10000) >> 10), bigEndian);
            appendUnit(out, 0xDC00 + ((c - 0x10000) & 0x3FF), bigEndian);
        } else {
            appendUnit(out, c, bigEndian);
        }
        i += length;
    }
    return out;
}

} // namespace platform::posix
