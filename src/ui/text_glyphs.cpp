#include "ui/text_glyphs.h"

#include <imgui_internal.h>

#include "platform/process.h"

namespace {

constexpr float fallbackFontSize = 14.0f;
// The icon fonts own these code points; a text face that has some of them (Liberation Sans has
// U+F001) must not take them over.
constexpr ImWchar iconFirst = 0xF000;
constexpr ImWchar iconLast = 0xF950;
// More faces than this would only cost memory and build time: a few cover every living script.
constexpr std::size_t maximumFallbackFaces = 4;

bool isDefaultRange(ImWchar c) {
    return c < 0x100;
}

bool drawsAGlyph(ImWchar c) {
    return c >= 0x20 && !(c >= 0x7F && c < 0xA0) && !(c >= iconFirst && c <= iconLast);
}

} // namespace

bool TextGlyphs::note(std::string_view text) {
    bool added = false;
    const char* position = text.data();
    const char* end = text.data() + text.size();
    while (position < end) {
        unsigned int c = 0;
        const int length = ImTextCharFromUtf8(&c, position, end);
        position += length > 0 ? length : 1;
        if (c > 0xFFFF) c = IM_UNICODE_CODEPOINT_INVALID;
        const auto glyph = static_cast<ImWchar>(c);
        if (isDefaultRange(glyph) || !drawsAGlyph(glyph)) continue;
        added = needed_.insert(glyph).second || added;
    }
    return added;
}

std::vector<ImWchar> TextGlyphs::missingFrom(const ImFont& font) const {
    std::vector<ImWchar> missing;
    for (const ImWchar c : needed_)
        if (font.FindGlyphNoFallback(c) == nullptr) missing.push_back(c);
    return missing;
}

void TextGlyphs::setTextRanges(ImFontAtlas& atlas) {
    ImFontGlyphRangesBuilder builder;
    builder.AddRanges(atlas.GetGlyphRangesDefault());
    for (const ImWchar c : needed_) builder.AddChar(c);
    ImVector<ImWchar> ranges;
    builder.BuildRanges(&ranges);
    // Text faces are the ones on the default range or on the previous ranges; icon fonts keep
    // theirs.
    for (ImFontConfig& config : atlas.ConfigData) {
        const bool text = config.GlyphRanges == nullptr ||
                          config.GlyphRanges == atlas.GetGlyphRangesDefault() ||
                          (!ranges_.empty() && config.GlyphRanges == ranges_.Data);
        if (text) config.GlyphRanges = ranges.Data;
    }
    ranges_.swap(ranges);
}

bool TextGlyphs::rebuild(ImFontAtlas& atlas) {
    if (atlas.Fonts.empty() || atlas.Locked) return false;
    setTextRanges(atlas);
    if (!atlas.Build()) return false;
    unsearched_.clear();
    for (const ImWchar c : missingFrom(*atlas.Fonts[0]))
        if (searched_.count(c) == 0) unsearched_.push_back(c);
    return true;
}

bool TextGlyphs::addFallbacks(ImFontAtlas& atlas, const FallbackFontFinder& find) {
    if (unsearched_.empty()) return true;
    if (atlas.Fonts.empty() || atlas.Locked) return false;
    std::vector<char32_t> unsearched(unsearched_.begin(), unsearched_.end());
    searched_.insert(unsearched_.begin(), unsearched_.end());
    unsearched_.clear();
    std::vector<ImWchar> missing = missingFrom(*atlas.Fonts[0]);
    if (missing.empty() || !find) return true;

    // One face at a time, each kept only when it brought something: a system's list of faces is
    // a guess at which has the characters.
    for (const SystemFontFile& face : find(unsearched)) {
        if (missing.empty() || mergedFaces_.size() >= maximumFallbackFaces) break;
        const std::string key = face.path + "#" + std::to_string(face.index);
        if (!mergedFaces_.insert(key).second || !isReadableFontFile(face.path)) continue;
        ImFontConfig config;
        config.MergeMode = true;
        config.PixelSnapH = true;
        config.OversampleH = 1;
        config.OversampleV = 1;
        config.FontNo = face.index;
        if (atlas.AddFontFromFileTTF(face.path.c_str(), fallbackFontSize, &config, ranges_.Data) == nullptr)
            continue;
        if (!atlas.Build()) return false;
        const std::size_t before = missing.size();
        missing = missingFrom(*atlas.Fonts[0]);
        if (missing.size() == before) {
            // It had none of them: drop it again, data and all.
            ImFontConfig& useless = atlas.ConfigData.back();
            if (useless.FontDataOwnedByAtlas) IM_FREE(useless.FontData);
            atlas.ConfigData.pop_back();
            if (!atlas.Build()) return false;
            continue;
        }
        platform::diagnose("fonts: characters the text face lacks come from " + face.path);
    }
    return true;
}
