// The wire format of the game server connection. Everything here is pure: bytes in, bytes out.
#include "core/protocol.h"

#include <algorithm>

namespace {

unsigned byteAt(std::string_view bytes, std::size_t offset) {
    return static_cast<unsigned char>(bytes[offset]);
}

void writeCode(std::string& message, std::int32_t code) {
    const auto value = static_cast<std::uint32_t>(code);
    for (std::size_t i = 0; i < 4; ++i) message[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Moves `position` past `count` length-prefixed fields; false when they run past the end.
bool skipFields(std::string_view bytes, std::size_t& position, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (position >= bytes.size()) return false;
        position += 1 + byteAt(bytes, position);
        if (position > bytes.size()) return false;
    }
    return true;
}

} // namespace

std::optional<std::int32_t> messageCode(std::string_view message) {
    if (message.size() < 4) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(byteAt(message, i)) << (8 * i);
    return static_cast<std::int32_t>(value);
}

bool isKnownCode(std::int32_t code) {
    return code >= messageNews && code <= messageIntegrity;
}

std::optional<std::string> readField(std::string_view message, std::size_t offset, std::size_t length) {
    if (offset > message.size()) return std::nullopt;
    std::string_view text = message.substr(offset, length);
    text = text.substr(0, text.find('\0'));
    return std::string(text);
}

std::optional<std::string> readTextAt(std::string_view message, std::size_t& position) {
    if (position >= message.size()) return std::nullopt;
    const auto length = static_cast<unsigned char>(message[position]);
    auto text = readField(message, position + 1, length);
    if (!text) return std::nullopt;
    position += 1 + text->size();
    return text;
}

void writeField(std::string& message, std::size_t& offset, std::string_view text) {
    // A text that does not fit is cut rather than written past the end of the message.
    if (offset < message.size()) {
        message[offset] = static_cast<char>(text.size() & 0xFF);
        const std::size_t room = message.size() - offset - 1;
        std::copy_n(text.begin(), std::min(room, text.size()),
                    message.begin() + static_cast<long>(offset) + 1);
    }
    offset += 1 + text.size();
}

std::string buildHello(std::string_view digest) {
    std::string message(helloSize, '\0');
    writeCode(message, messageHello);
    std::size_t offset = 4;
    writeField(message, offset, digest);
    return message;
}

std::string buildIntegrityRequest() {
    std::string message(integrityRequestSize, '\0');
    writeCode(message, messageIntegrity);
    return message;
}

std::optional<std::size_t> declaredMessageLength(std::string_view bytes) {
    const auto code = messageCode(bytes);
    if (!code) {
        if (beginsKnownMessage(bytes)) return std::nullopt;
        return bytes.size();
    }
    std::size_t position = 0;
    switch (*code) {
    case messageNews:
        // count, then count fields
        if (bytes.size() < 5) return std::nullopt;
        position = 5;
        if (!skipFields(bytes, position, byteAt(bytes, 4))) return std::nullopt;
        return position;
    case messageHello:
    case messagePatchUpdate:
        // one field
        position = 4;
        if (!skipFields(bytes, position, 1)) return std::nullopt;
        return position;
    case messageIntegrity:
        // entry count, one skipped field, then three fields per entry
        if (bytes.size() < 6) return std::nullopt;
        position = 5;
        if (!skipFields(bytes, position, 1 + 3 * std::size_t{byteAt(bytes, 4)})) return std::nullopt;
        return position;
    default:
        return bytes.size();
    }
}

bool beginsKnownMessage(std::string_view bytes) {
    if (bytes.empty()) return false;
    if (const auto code = messageCode(bytes)) return isKnownCode(*code);
    for (std::int32_t code = messageNews; code <= messageIntegrity; ++code) {
        std::string encoded(4, '\0');
        writeCode(encoded, code);
        if (encoded.starts_with(bytes)) return true;
    }
    return false;
}
