// Text fields and message framing: readField against any offset and length, the writeField
// round trip, the hello, and where declaredMessageLength says a message ends. The same bytes as
// a news text: its wrapping and the font atlas grown for its characters.
#include <cstdlib>
#include <cstring>
#include <set>

#include "core/protocol.h"
#include "core/text_conversion.h"
#include "fuzz_support.h"
#include "ui/main_screen.h"
#include "ui/text_glyphs.h"

namespace {

void checkReadField(std::string_view message, std::size_t offset, std::size_t length) {
    const auto field = readField(message, offset, length);
    if (offset > message.size()) {
        fuzz::require(!field, "a field beyond the end is an error of the message");
        return;
    }
    fuzz::require(field.has_value(), "a field inside the message reads");
    const std::string_view expected = message.substr(offset, length);
    fuzz::require(field->size() <= expected.size(), "a field never grows past its bytes");
    fuzz::require(expected.starts_with(*field), "a field is a prefix of its bytes");
    fuzz::require(field->find('\0') == std::string::npos, "a field is cut at its first zero byte");
    fuzz::require(field->size() == expected.size() || expected[field->size()] == '\0',
                  "a field stops only at a zero byte or at its end");
}

void checkWriteField(std::string_view text, std::size_t size, std::size_t offset) {
    std::string message(size, '\x5a');
    const std::size_t start = offset;
    writeField(message, offset, text);
    fuzz::require(message.size() == size, "writeField never grows the message");
    fuzz::require(offset == start + 1 + text.size(), "writeField advances past length byte and text");
    if (start >= size) return;
    fuzz::require(static_cast<unsigned char>(message[start]) == (text.size() & 0xFF),
                  "length byte is the low 8 bits");
    const std::size_t room = size - start - 1;
    const auto back = readField(message, start + 1, text.size());
    fuzz::require(back.has_value(), "a written field reads back");
    std::string_view expected = text.substr(0, std::min(room, text.size()));
    expected = expected.substr(0, expected.find('\0'));
    fuzz::require(*back == expected, "what fits reads back unchanged");
}

void checkFraming(std::string_view bytes) {
    const auto length = declaredMessageLength(bytes);
    if (!length) {
        fuzz::require(beginsKnownMessage(bytes), "only a known message can be incomplete");
        return;
    }
    fuzz::require(*length <= bytes.size(), "a message never ends past the bytes");
    if (!bytes.empty()) fuzz::require(*length > 0, "a message is never empty");
    const std::string_view first = bytes.substr(0, *length);
    const auto again = declaredMessageLength(first);
    fuzz::require(again && *again == *length, "a framed message is complete by itself");
    const auto code = messageCode(bytes);
    if (bytes.size() >= 4)
        fuzz::require(code.has_value(), "four bytes give a code");
    else
        fuzz::require(!code, "fewer than four bytes give no code");
}

void checkText(std::string_view text) {
    const std::u16string wide = toWide(text);
    const std::string narrow = toNarrow(wide);
    fuzz::require(toWide(narrow) == wide, "UTF-8 and UTF-16 conversions are stable after one round");
}

// Wrapped news keeps every byte in order and only adds breaks, never inside one of the text's
// characters, and each line stays within the byte count and the box (or is one character).
void checkNewsWrap(std::string_view text, std::size_t width, float boxWidth) {
    const auto byteWidth = [](std::string_view character) {
        return 3.0f * static_cast<float>(character.size());
    };
    const std::string wrapped = wrapText(text, width, boxWidth, byteWidth);
    std::string stripped;
    std::set<std::size_t> boundaries{0};
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8CharacterLength(text.substr(at));
        if (text[at] != '\n') stripped.append(text.substr(at, length));
        boundaries.insert(stripped.size());
        at += length;
    }
    std::string rest;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i <= wrapped.size(); ++i) {
        if (i < wrapped.size() && wrapped[i] != '\n') continue;
        const std::string_view line = std::string_view(wrapped).substr(lineStart, i - lineStart);
        rest.append(line);
        fuzz::require(boundaries.count(rest.size()) == 1, "a break never falls inside a character");
        std::size_t characters = 0;
        float pixels = 0.0f;
        for (std::size_t at = 0; at < line.size(); ++characters) {
            const std::size_t length = utf8CharacterLength(line.substr(at));
            pixels += byteWidth(line.substr(at, length));
            at += length;
        }
        fuzz::require(line.size() <= width || characters == 1, "a line holds at most the count");
        fuzz::require(pixels <= boxWidth || characters <= 1, "a line fits its box");
        lineStart = i + 1;
    }
    fuzz::require(rest == stripped, "the text's bytes are kept in order, only breaks are added");
}

// The atlas grows for any bytes: Dear ImGui's own face has none of the characters beyond Latin-1,
// so each is looked for in the (empty) fallback list and drawn as the fallback glyph.
void checkNewsGlyphs(std::string_view text) {
    TextGlyphs glyphs;
    if (!glyphs.note(text)) return;
    ImFontAtlas atlas;
    atlas.AddFontDefault();
    const auto noFaces = [](const std::vector<char32_t>&) { return std::vector<SystemFontFile>{}; };
    while (glyphs.growthDue()) fuzz::require(glyphs.growAtlas(atlas), "the atlas grows");
    glyphs.searchFallbacks(noFaces);
    fuzz::require(glyphs.addFallbacks(atlas), "the faces found are added");
    fuzz::require(!glyphs.fallbacksWanted(), "no character waits after the fallback step");
    const ImFont* font = atlas.Fonts[0];
    for (const ImWchar c : glyphs.needed())
        fuzz::require(font->FindGlyph(c) != nullptr, "every character has a glyph, the fallback at least");
    fuzz::require(!glyphs.note(text), "a text noted again brings nothing new");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietDiagnostics();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const std::size_t offset = input.byte();
    const std::size_t length = input.byte();
    const std::size_t messageSize = input.byte();
    const std::string_view rest = input.rest();

    checkReadField(rest, offset, length);
    checkReadField(rest, rest.size(), length);
    checkWriteField(rest.substr(0, 300), messageSize, offset);
    checkFraming(rest);
    checkText(rest);
    checkNewsWrap(rest.substr(0, 600), 1 + length % 40, static_cast<float>(messageSize));
    // Building an atlas costs milliseconds: one input in 32 does, so the rest keep their pace.
    if (offset % 32 == 0) checkNewsGlyphs(rest.substr(0, 255));

    const std::string hello = buildHello(rest.substr(0, 145));
    fuzz::require(hello.size() == helloSize, "the hello is 150 bytes");
    fuzz::require(messageCode(hello) == messageHello, "the hello carries 1001");
    std::string_view digest = rest.substr(0, 145);
    digest = digest.substr(0, digest.find('\0'));
    fuzz::require(readField(hello, 5, static_cast<unsigned char>(hello[4])) == std::string(digest),
                  "the hello's digest reads back");
    return 0;
}
