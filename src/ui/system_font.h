// The system font the launcher writes its text in.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

struct SystemFontFile {
    std::string path; // empty when the system has no fitting font
    int index = 0;    // face number inside a font collection file
    // The face's bytes, where the system gives a face but no file of it (Windows' font mapper
    // under Wine); `path` then only names it.
    std::vector<unsigned char> data;
};

// fontconfig's match for "Arial:bold" (on Debian, Liberation Sans Bold), accepted only when it is
// a readable TrueType or OpenType file of bold weight; otherwise an empty path.
SystemFontFile boldTextFont();

// Faces of the system that may have `characters` the text face lacks, best first: on Linux
// fontconfig's matches for them (fonts-noto-cjk for Chinese, Japanese and Korean), on Windows the
// fonts folder's faces for their script (Microsoft YaHei, Malgun Gothic, Meiryo, MS Gothic, ...).
std::vector<SystemFontFile> fallbackFonts(const std::vector<char32_t>& characters);
// The language whose faces suit `characters` best ("ja", "ko", "zh-cn"), or empty.
std::string scriptLanguage(const std::vector<char32_t>& characters);

// Whether the file can be read and starts like a TrueType, OpenType or collection file.
bool isReadableFontFile(const std::string& path);
// TrueType, OpenType (CFF) or a TrueType collection, by a file's first four bytes.
bool isFontFileStart(const std::array<char, 4>& magic);
// Those of `characters` that face `index` of the font file `bytes` has glyphs for; none when the
// bytes hold no such face. The bytes are trusted as far as the font rasteriser trusts them: they
// come from the system's own fonts.
std::vector<char32_t> faceCharacters(const unsigned char* bytes, std::size_t size, int index,
                                     const std::vector<char32_t>& characters);
