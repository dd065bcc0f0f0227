// The wire format of the game server connection: message codes, the two messages the launcher
// sends, the text fields every payload is made of, and where one message ends in a byte stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr std::int32_t messageNews = 1000;
inline constexpr std::int32_t messageHello = 1001; // launcher's hello; the server's acceptance
inline constexpr std::int32_t messagePatchUpdate = 1002;
inline constexpr std::int32_t messageIntegrity = 1003; // launcher's request; the server's file list

inline constexpr std::size_t helloSize = 150;
inline constexpr std::size_t integrityRequestSize = 15;
inline constexpr std::size_t maxReadSize = 1024;

// The code in the first four bytes (little-endian); nothing when fewer than four bytes arrived.
std::optional<std::int32_t> messageCode(std::string_view message);
bool isKnownCode(std::int32_t code);

// The text of `length` bytes at `offset`, shorter where the message ends first, cut at its first
// zero byte. A field that starts exactly at the end is empty; one that starts beyond it is an
// error of the message, given as nothing.
std::optional<std::string> readField(std::string_view message, std::size_t offset, std::size_t length);
// The field announced by the length byte at `position`; `position` moves past the text as read.
// Nothing when the length byte lies at or past the message's end.
std::optional<std::string> readTextAt(std::string_view message, std::size_t& position);
// Writes the text's length (low 8 bits) and its bytes at `offset`, and moves `offset` past them.
// The message must already be long enough.
void writeField(std::string& message, std::size_t& offset, std::string_view text);

std::string buildHello(std::string_view digest);
std::string buildIntegrityRequest();

// How many bytes the message at the start of `bytes` declares through its code and length
// bytes; nothing when they declare more than `bytes` holds (the message is incomplete). Bytes
// that do not begin with a known code form one message of all of `bytes`.
std::optional<std::size_t> declaredMessageLength(std::string_view bytes);
// True when `bytes` begins with a known code, or with a prefix of one that may still complete.
bool beginsKnownMessage(std::string_view bytes);
