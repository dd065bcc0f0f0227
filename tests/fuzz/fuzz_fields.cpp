// Text fields and message framing: readField against any offset and length, the writeField
// round trip, the hello, and where declaredMessageLength says a message ends.
#include <cstdlib>
#include <cstring>

#include "core/protocol.h"
#include "core/text_conversion.h"
#include "fuzz_support.h"

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

    const std::string hello = buildHello(rest.substr(0, 145));
    fuzz::require(hello.size() == helloSize, "the hello is 150 bytes");
    fuzz::require(messageCode(hello) == messageHello, "the hello carries 1001");
    std::string_view digest = rest.substr(0, 145);
    digest = digest.substr(0, digest.find('\0'));
    fuzz::require(readField(hello, 5, static_cast<unsigned char>(hello[4])) == std::string(digest),
                  "the hello's digest reads back");
    return 0;
}
