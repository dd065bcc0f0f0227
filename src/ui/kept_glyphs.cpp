#include "ui/kept_glyphs.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include <imgui_internal.h>

namespace {

constexpr ImWchar spaceOnly[] = {0x20, 0x20, 0};

// A glyph as the build that drew it left it.
struct KeptGlyph {
    ImFont* font = nullptr;
    ImWchar codepoint = 0;
    int rect = -1; // the atlas's custom rectangle: the picture and a blank column and row, as
                   // the library pads its own glyphs against their neighbours' filtering
    int width = 0;
    int height = 0;
    std::size_t offset = 0; // of the picture in KeptGlyphs::pixels
    ImFontGlyph glyph;      // the quad, which oversampling makes smaller than the picture
};

struct KeptGlyphs {
    const ImFontAtlas* atlas = nullptr;
    std::vector<KeptGlyph> glyphs;
    std::set<std::pair<const ImFont*, ImWchar>> known;
    std::vector<unsigned char> pixels;
};

KeptGlyphs kept;

// The library made each kept glyph from its rectangle, as large as the rectangle and blank; the
// pictures and quads go back in.
void putKeptGlyphsBack(ImFontAtlas& atlas) {
    for (const KeptGlyph& keptGlyph : kept.glyphs) {
        const ImFontAtlasCustomRect& rect = *atlas.GetCustomRectByIndex(keptGlyph.rect);
        for (int row = 0; row < keptGlyph.height; ++row)
            std::memcpy(
                atlas.TexPixelsAlpha8 + static_cast<std::size_t>(rect.Y + row) * atlas.TexWidth + rect.X,
                kept.pixels.data() + keptGlyph.offset + static_cast<std::size_t>(row) * keptGlyph.width,
                static_cast<std::size_t>(keptGlyph.width));
        // The lookup gives the font's own glyph, which this build has just made.
        auto* glyph = const_cast<ImFontGlyph*>(keptGlyph.font->FindGlyphNoFallback(keptGlyph.codepoint));
        if (glyph == nullptr) continue;
        glyph->X0 = keptGlyph.glyph.X0;
        glyph->Y0 = keptGlyph.glyph.Y0;
        glyph->X1 = keptGlyph.glyph.X1;
        glyph->Y1 = keptGlyph.glyph.Y1;
        glyph->Visible = keptGlyph.glyph.Visible;
        glyph->U1 = static_cast<float>(rect.X + keptGlyph.width) * atlas.TexUvScale.x;
        glyph->V1 = static_cast<float>(rect.Y + keptGlyph.height) * atlas.TexUvScale.y;
    }
}

// Keeps what the build drew that is not kept yet; it comes back from the next build on.
bool keepNewGlyphs(ImFontAtlas& atlas) {
    std::vector<KeptGlyph> added;
    for (ImFont* font : atlas.Fonts) {
        for (const ImFontGlyph& glyph : font->Glyphs) {
            const auto codepoint = static_cast<ImWchar>(glyph.Codepoint);
            // The library makes the tab from the space on each build.
            if (codepoint == spaceOnly[0] || codepoint == '\t' || kept.known.count({font, codepoint}) != 0)
                continue;
            KeptGlyph keptGlyph;
            keptGlyph.font = font;
            keptGlyph.codepoint = codepoint;
            keptGlyph.glyph = glyph;
            const long x = std::lround(glyph.U0 * static_cast<float>(atlas.TexWidth));
            const long y = std::lround(glyph.V0 * static_cast<float>(atlas.TexHeight));
            keptGlyph.width =
                static_cast<int>(std::lround((glyph.U1 - glyph.U0) * static_cast<float>(atlas.TexWidth)));
            keptGlyph.height =
                static_cast<int>(std::lround((glyph.V1 - glyph.V0) * static_cast<float>(atlas.TexHeight)));
            if (x < 0 || y < 0 || keptGlyph.width < 0 || keptGlyph.height < 0 ||
                x + keptGlyph.width > atlas.TexWidth || y + keptGlyph.height > atlas.TexHeight)
                return false;
            keptGlyph.offset = kept.pixels.size();
            for (int row = 0; row < keptGlyph.height; ++row) {
                const unsigned char* start =
                    atlas.TexPixelsAlpha8 + static_cast<std::size_t>(y + row) * atlas.TexWidth + x;
                kept.pixels.insert(kept.pixels.end(), start, start + keptGlyph.width);
            }
            added.push_back(keptGlyph);
        }
    }
    for (KeptGlyph& keptGlyph : added) {
        keptGlyph.rect = atlas.AddCustomRectFontGlyph(
            keptGlyph.font, keptGlyph.codepoint, keptGlyph.width + 1, keptGlyph.height + 1,
            keptGlyph.glyph.AdvanceX, ImVec2(keptGlyph.glyph.X0, keptGlyph.glyph.Y0));
        kept.known.insert({keptGlyph.font, keptGlyph.codepoint});
        kept.glyphs.push_back(keptGlyph);
    }
    return true;
}

bool buildKeepingGlyphs(ImFontAtlas* atlas);
const ImFontBuilderIO keepingGlyphsBuilder{buildKeepingGlyphs};

bool buildKeepingGlyphs(ImFontAtlas* atlas) {
    // The library's own builder (stb_truetype or FreeType, as it was compiled) draws the faces'
    // ranges.
    atlas->FontBuilderIO = nullptr;
    bool built = atlas->Build();
    atlas->FontBuilderIO = &keepingGlyphsBuilder;
    if (built && atlas == kept.atlas && atlas->TexPixelsAlpha8 != nullptr) {
        putKeptGlyphsBack(*atlas);
        built = keepNewGlyphs(*atlas);
    }
    for (ImFontConfig& config : atlas->ConfigData) config.GlyphRanges = spaceOnly;
    return built;
}

// Whether a face was added for icon code points only (U+F000 to U+F950).
bool iconSource(const ImFontConfig& config) {
    if (config.GlyphRanges == nullptr || config.GlyphRanges[0] == 0) return false;
    for (const ImWchar* range = config.GlyphRanges; range[0] != 0; range += 2)
        if (range[0] < 0xF000 || range[1] > 0xF950) return false;
    return true;
}

} // namespace

void keepAtlasGlyphs(ImFontAtlas& atlas) {
    if (atlas.Locked || atlas.TexPixelsAlpha8 == nullptr || keepsGlyphs(atlas)) return;
    kept = KeptGlyphs{};
    kept.atlas = &atlas;
    if (!keepNewGlyphs(atlas)) {
        kept = KeptGlyphs{};
        return;
    }
    for (int i = atlas.ConfigData.Size - 1; i >= 0; --i) {
        ImFontConfig& config = atlas.ConfigData[i];
        if (!config.MergeMode || !iconSource(config)) continue;
        if (config.FontDataOwnedByAtlas) IM_FREE(config.FontData);
        atlas.ConfigData.erase(&config);
    }
    for (ImFont* font : atlas.Fonts) {
        font->ConfigDataCount = 0;
        for (const ImFontConfig& config : atlas.ConfigData)
            if (config.DstFont == font) ++font->ConfigDataCount;
    }
    for (ImFontConfig& config : atlas.ConfigData) config.GlyphRanges = spaceOnly;
    atlas.FontBuilderIO = &keepingGlyphsBuilder;
    // The library sizes the texture by the glyphs its faces draw; the kept ones would make a
    // narrow texture very tall.
    atlas.TexDesiredWidth = atlas.TexWidth;
}

bool keepsGlyphs(const ImFontAtlas& atlas) {
    return atlas.FontBuilderIO == &keepingGlyphsBuilder && kept.atlas == &atlas;
}

const ImWchar* keptAtlasRanges() {
    return spaceOnly;
}
