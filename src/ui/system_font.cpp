#include "ui/system_font.h"

#include <cstring>

#include <stb/stb_truetype.h>

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

std::string scriptLanguage(const std::vector<char32_t>& characters) {
    bool han = false;
    bool hangul = false;
    for (const char32_t c : characters) {
        // Kana decide for Japanese even among Han characters, which Japanese text is full of.
        if (c >= 0x3040 && c <= 0x30FF) return "ja";
        hangul = hangul || (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0x1100 && c <= 0x11FF) ||
                 (c >= 0x3130 && c <= 0x318F);
        han = han || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF);
    }
    if (hangul) return "ko";
    return han ? "zh-cn" : "";
}

std::vector<char32_t> faceCharacters(const unsigned char* bytes, std::size_t size, int index,
                                     const std::vector<char32_t>& characters) {
    std::vector<char32_t> has;
    if (bytes == nullptr || size < 12 || index < 0) return has;
    const int offset = stbtt_GetFontOffsetForIndex(bytes, index);
    stbtt_fontinfo face;
    if (offset < 0 || static_cast<std::size_t>(offset) >= size || stbtt_InitFont(&face, bytes, offset) == 0)
        return has;
    for (const char32_t c : characters)
        if (stbtt_FindGlyphIndex(&face, static_cast<int>(c)) != 0) has.push_back(c);
    return has;
}
