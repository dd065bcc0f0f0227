#include "ui/system_font.h"

#include <cstring>

#include "platform/file_io.h"

bool isReadableFontFile(const std::string& path) {
    platform::File file = platform::openFile(path, platform::OpenMode::read);
    const auto start = file ? file.readUpTo(4) : std::nullopt;
    std::array<char, 4> magic{};
    if (!start || start->size() != magic.size()) return false;
    std::memcpy(magic.data(), start->data(), magic.size());
    return isFontFileStart(magic);
}

bool isFontFileStart(const std::array<char, 4>& magic) {
    static constexpr std::array<std::array<char, 4>, 4> known{
        {{'\0', '\1', '\0', '\0'}, {'t', 'r', 'u', 'e'}, {'O', 'T', 'T', 'O'}, {'t', 't', 'c', 'f'}}};
    for (const auto& k : known)
        if (magic == k) return true;
    return false;
}
