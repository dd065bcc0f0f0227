// Arial Bold from the Windows fonts folder.
//
// [X] "arialbd.ttf" in the Fonts folder of the system's Windows folder (C:\Windows\Fonts on
//     nearly every system; GetWindowsDirectory finds it where Windows lives elsewhere)
// [X] a file the atlas could not read counts as no match, instead of failing inside the atlas
// [X] without the file, the bytes of the face the font mapper gives for bold Arial (Wine has no
//     Arial file, but maps the name to the host's substitute)
// [X] faces for characters the text face lacks: the fonts folder's faces for their script
//     (Microsoft YaHei, Malgun Gothic, Meiryo, MS Gothic, ...), then wide Latin faces
// [ ] asking the system which face has a character: the list is fixed; a listed face that adds
//     nothing is dropped again by the caller
#include "ui/system_font.h"

#include <array>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <windows.h>

#include "core/text_conversion.h"
#include "platform/files.h"

namespace {

// The Windows folder's Fonts folder, UTF-8, with a trailing separator; empty when unknown.
std::string fontsFolder() {
    std::array<wchar_t, MAX_PATH> folder{};
    const UINT length = GetWindowsDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
    if (length == 0 || length >= folder.size()) return {};
    return toNarrow(std::u16string_view(reinterpret_cast<const char16_t*>(folder.data()), length)) +
           "\\Fonts\\";
}

struct DcFree {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
struct FontFree {
    void operator()(HFONT font) const { DeleteObject(font); }
};
// A face of more than this is no text face.
constexpr DWORD maximumMappedFontBytes = 32u << 20;

// The whole font file of the face GDI picks for `family`; empty when it picks none, or a face
// that is not a TrueType or OpenType file of its own (a collection's member).
std::vector<unsigned char> mappedFontData(const wchar_t* family, int weight) {
    std::unique_ptr<std::remove_pointer_t<HDC>, DcFree> dc(CreateCompatibleDC(nullptr));
    std::unique_ptr<std::remove_pointer_t<HFONT>, FontFree> font(
        CreateFontW(-14, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_ONLY_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, family));
    if (!dc || !font) return {};
    const HGDIOBJ previous = SelectObject(dc.get(), font.get());
    std::vector<unsigned char> data;
    const DWORD size = GetFontData(dc.get(), 0, 0, nullptr, 0);
    if (size != GDI_ERROR && size >= 4 && size <= maximumMappedFontBytes) {
        data.resize(size);
        if (GetFontData(dc.get(), 0, 0, data.data(), size) != size ||
            !isFontFileStart({static_cast<char>(data[0]), static_cast<char>(data[1]),
                              static_cast<char>(data[2]), static_cast<char>(data[3])}))
            data.clear();
    }
    SelectObject(dc.get(), previous);
    return data;
}

// Faces shipped with Windows, per script, best first (bold before regular).
constexpr std::array japaneseFaces{"meiryob.ttc", "meiryo.ttc", "YuGothB.ttc", "msgothic.ttc"};
constexpr std::array koreanFaces{"malgunbd.ttf", "malgun.ttf", "gulim.ttc"};
constexpr std::array chineseFaces{"msyhbd.ttc", "msyh.ttc", "simsun.ttc", "msjh.ttc"};
constexpr std::array otherFaces{"arialbd.ttf", "tahomabd.ttf", "segoeuib.ttf", "seguisym.ttf"};

} // namespace

SystemFontFile boldTextFont() {
    const std::string folder = fontsFolder();
    if (folder.empty()) return {};
    const std::string path = folder + "arialbd.ttf";
    if (isReadableFontFile(path)) return {path, 0, {}};
    // No file: the face the font mapper gives for bold Arial, if any (under Wine, the host's
    // metric-compatible substitute), so that Latin Extended, Greek and Cyrillic still have glyphs.
    SystemFontFile mapped{"Arial Bold (font mapper)", 0, mappedFontData(L"Arial", FW_BOLD)};
    if (mapped.data.empty()) return {};
    return mapped;
}

std::vector<SystemFontFile> fallbackFonts(const std::vector<char32_t>& characters) {
    std::vector<SystemFontFile> faces;
    const std::string folder = fontsFolder();
    if (folder.empty() || characters.empty()) return faces;
    // One listing instead of a probe per name: under Wine each failed open is slow.
    const std::vector<std::string> present = platform::listFolder(folder);
    const auto offer = [&](const auto& names) {
        for (const char* name : names)
            for (const std::string& entry : present)
                if (platform::equalsIgnoringAsciiCase(entry, name) && isReadableFontFile(folder + entry))
                    faces.push_back({folder + entry, 0, {}});
    };
    // The script's own faces first: Chinese and Japanese share Han characters but not their forms.
    const std::string language = scriptLanguage(characters);
    if (language == "ja") offer(japaneseFaces);
    if (language == "ko") offer(koreanFaces);
    offer(chineseFaces);
    if (language != "ja") offer(japaneseFaces);
    if (language != "ko") offer(koreanFaces);
    offer(otherFaces);
    return faces;
}
