// Stands in for "C:\Windows\Fonts\arialbd.ttf" on systems whose fonts fontconfig knows.
//
// [X] Arial Bold, or the metric-compatible face fontconfig substitutes for it
// [X] a non-bold substitute (fontconfig always answers with something) counts as no match
// [X] a file the atlas could not read counts as no match, instead of failing inside the atlas
// [ ] the exact Arial Bold glyphs: only where Arial itself is installed
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
    return {path, index};
}
