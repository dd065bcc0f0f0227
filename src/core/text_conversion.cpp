// UTF-8 <-> UTF-16 by hand, so that every platform converts alike: each ill-formed sequence
// becomes one U+FFFD (the "maximal subpart" rule of Unicode, as Windows' converter does), and a
// lone surrogate on the way back does too. Nothing is ever refused.
#include "core/text_conversion.h"

#include <cstdint>
#include <limits>

#include "platform/utf8.h"

namespace {

using platform::appendUtf8;
using platform::isHighSurrogate;
using platform::isLowSurrogate;

constexpr char32_t replacementCharacter = 0xFFFD;

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The code point at `position`, moving `position` past it (or past the ill-formed part).
char32_t decodeUtf8(std::string_view text, std::size_t& position) {
    const auto lead = static_cast<unsigned char>(text[position++]);
    if (lead < 0x80) return lead;
    std::size_t extra;
    char32_t value;
    unsigned char lowest = 0x80;
    unsigned char highest = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        value = lead & 0x0F;
        if (lead == 0xE0) lowest = 0xA0;  // no overlong forms
        if (lead == 0xED) highest = 0x9F; // no encoded surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        value = lead & 0x07;
        if (lead == 0xF0) lowest = 0x90;  // no overlong forms
        if (lead == 0xF4) highest = 0x8F; // nothing above U+10FFFF
    } else {
        return replacementCharacter;
    }
    for (std::size_t i = 0; i < extra; ++i) {
        if (position >= text.size()) return replacementCharacter;
        const auto byte = static_cast<unsigned char>(text[position]);
        const bool allowed = i == 0 ? byte >= lowest && byte <= highest : isContinuation(byte);
        // The offending byte is not consumed: it may begin the next character.
        if (!allowed) return replacementCharacter;
        value = (value << 6) | (byte & 0x3F);
        ++position;
    }
    return value;
}

} // namespace

std::u16string toWide(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t position = 0;
    while (position < text.size()) {
        const char32_t value = decodeUtf8(text, position);
        if (value < 0x10000) {
            out += static_cast<char16_t>(value);
        } else {
            const char32_t offset = value - 0x10000;
            out += static_cast<char16_t>(0xD800 + (offset >> 10));
            out += static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
        }
    }
    return out;
}

std::string toNarrow(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            const char32_t value =
                0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00);
            appendUtf8(out, value);
            ++i;
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            appendUtf8(out, replacementCharacter);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

std::optional<std::int32_t> toInt32(std::string_view text) {
    std::size_t i = 0;
    auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::int64_t limit = negative ? std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1
                                        : std::int64_t{std::numeric_limits<std::int32_t>::max()};
    std::int64_t value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) return std::nullopt;
    }
    if (digits == 0) return std::nullopt;
    return static_cast<std::int32_t>(negative ? -value : value);
}
