// Messages as the game server sends them, built independently of the launcher's own protocol
// code: a four-byte little-endian code, then fields of one length byte and their text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dltest {

inline std::string codeBytes(std::int32_t code) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((static_cast<std::uint32_t>(code) >> (8 * i)) & 0xFF);
    return bytes;
}

// The length byte holds the low 8 bits of the size, as the server writes it.
inline std::string field(std::string_view text) {
    return static_cast<char>(text.size()) + std::string(text);
}

inline std::string message(std::int32_t code, std::string_view payload) {
    return codeBytes(code) + std::string(payload);
}

// 1002: the versions to apply, one text.
inline std::string patchList(std::string_view text) {
    return message(1002, field(text));
}

struct Listed {
    std::string name;
    std::string downloadPath;
    std::string acceptedDigests;
};

// 1003: the count, one text the launcher skips, then three fields per file.
inline std::string fileList(const std::vector<Listed>& entries, std::string_view skipped = "ignored") {
    std::string bytes = codeBytes(1003) + static_cast<char>(entries.size()) + field(skipped);
    for (const auto& entry : entries)
        bytes += field(entry.name) + field(entry.downloadPath) + field(entry.acceptedDigests);
    return bytes;
}

} // namespace dltest
