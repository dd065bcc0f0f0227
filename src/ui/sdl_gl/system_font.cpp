// Stands in for "C:\Windows\Fonts\arialbd.ttf" on systems whose fonts fontconfig knows.
//
// [X] Arial Bold, or the metric-compatible face fontconfig substitutes for it
// [X] a non-bold substitute (fontconfig always answers with something) counts as no match
// [X] a file the atlas could not read counts as no match, instead of failing inside the atlas
// [ ] the exact Arial Bold glyphs: only where Arial itself is installed
// [X] faces for characters the text face lacks: fontconfig's sorted matches for exactly those
//     characters, bold sans first, with the script's language (Noto Sans CJK's Japanese, Korean or
//     Simplified Chinese face from one collection)
#include "ui/system_font.h"

#include <array>
#include <cstring>
#include <memory>

#include <fontconfig/fontconfig.h>

namespace {

struct PatternFree {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using Pattern = std::unique_ptr<FcPattern, PatternFree>;
struct ConfigFree {
    void operator()(FcConfig* config) const { FcConfigDestroy(config); }
};
using Config = std::unique_ptr<FcConfig, ConfigFree>;
struct CharSetFree {
    void operator()(FcCharSet* set) const { FcCharSetDestroy(set); }
};
using CharSet = std::unique_ptr<FcCharSet, CharSetFree>;
struct FontSetFree {
    void operator()(FcFontSet* set) const { FcFontSetDestroy(set); }
};
using FontSet = std::unique_ptr<FcFontSet, FontSetFree>;

// Fallback faces offered at most; each one tried costs a rebuild of the atlas.
constexpr int maximumFallbackOffers = 4;

} // namespace

SystemFontFile boldTextFont() {
    // A configuration of our own, destroyed after the match: the library's shared one (FcInit)
    // is never given back before the process ends.
    Config config(FcInitLoadConfigAndFonts());
    if (!config) return {};
    Pattern pattern(FcNameParse(reinterpret_cast<const FcChar8*>("Arial:bold")));
    if (!pattern) return {};
    FcConfigSubstitute(config.get(), pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    Pattern match(FcFontMatch(config.get(), pattern.get(), &result));
    if (!match || result != FcResultMatch) return {};

    FcChar8* file = nullptr;
    int weight = 0;
    int index = 0;
    if (FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch || file == nullptr) return {};
    if (FcPatternGetInteger(match.get(), FC_WEIGHT, 0, &weight) != FcResultMatch || weight < FC_WEIGHT_BOLD)
        return {};
    if (FcPatternGetInteger(match.get(), FC_INDEX, 0, &index) != FcResultMatch) index = 0;
    std::string path(reinterpret_cast<const char*>(file));
    if (!isReadableFontFile(path)) return {};
    return {path, index, {}};
}

std::vector<SystemFontFile> fallbackFonts(const std::vector<char32_t>& characters) {
    std::vector<SystemFontFile> faces;
    if (characters.empty()) return faces;
    Config config(FcInitLoadConfigAndFonts());
    CharSet wanted(FcCharSetCreate());
    Pattern pattern(FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif:bold")));
    if (!config || !wanted || !pattern) return faces;
    for (const char32_t c : characters) FcCharSetAddChar(wanted.get(), c);
    FcPatternAddCharSet(pattern.get(), FC_CHARSET, wanted.get());
    const std::string language = scriptLanguage(characters);
    if (!language.empty())
        FcPatternAddString(pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*>(language.c_str()));
    FcConfigSubstitute(config.get(), pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    // Trimmed: a face that adds no character to the ones before it is left out.
    FontSet sorted(FcFontSort(config.get(), pattern.get(), FcTrue, nullptr, &result));
    if (!sorted) return faces;
    for (int i = 0; i < sorted->nfont && static_cast<int>(faces.size()) < maximumFallbackOffers; ++i) {
        FcPattern* font = sorted->fonts[i];
        FcChar8* file = nullptr;
        FcCharSet* has = nullptr;
        int index = 0;
        if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || file == nullptr) continue;
        if (FcPatternGetCharSet(font, FC_CHARSET, 0, &has) != FcResultMatch || has == nullptr) continue;
        if (FcCharSetIntersectCount(has, wanted.get()) == 0) continue;
        if (FcPatternGetInteger(font, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
        faces.push_back({reinterpret_cast<const char*>(file), index, {}});
    }
    return faces;
}
