// The characters the interface's texts need, and the font atlas grown to cover them: the text face
// gives every character it has (Latin Extended, Greek, Cyrillic from Liberation Sans or Arial),
// faces of the system the rest (a CJK face for Chinese, Japanese or Korean news).
#pragma once

#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <imgui.h>

#include "ui/system_font.h"

// System faces worth trying, best first, for characters the atlas lacks (ui/system_font.h).
using FallbackFontFinder = std::function<std::vector<SystemFontFile>(const std::vector<char32_t>& missing)>;

class TextGlyphs {
  public:
    // Notes the characters of `text`, read as Dear ImGui reads it (a broken UTF-8 sequence and a
    // character beyond U+FFFF are U+FFFD). True when one was not needed before.
    bool note(std::string_view text);

    // Rebuilds `atlas`, as addLauncherFonts filled it, for every character noted so far: the text
    // faces get ranges of them, and characters none of its faces has are kept for addFallbacks.
    // Call only between frames; the renderer's font texture must be made again afterwards. False
    // when the build failed.
    bool rebuild(ImFontAtlas& atlas);
    // Whether characters wait for addFallbacks.
    bool fallbacksWanted() const { return !unsearched_.empty(); }
    // For the characters the last rebuild found missing, merges faces that `find` names into the
    // atlas (each face at most once, and only when it adds some) and builds it again; the system is
    // asked about each character only once. A separate step, so that the interface can draw a
    // frame between the two builds. Same conditions as rebuild.
    bool addFallbacks(ImFontAtlas& atlas, const FallbackFontFinder& find);

    // Characters noted beyond the atlas's first range (Basic Latin and Latin-1).
    const std::set<ImWchar>& needed() const { return needed_; }

  private:
    std::vector<ImWchar> missingFrom(const ImFont& font) const;
    void setTextRanges(ImFontAtlas& atlas);

    std::set<ImWchar> needed_;
    std::set<ImWchar> searched_; // missing characters the system was already asked about
    std::vector<ImWchar> unsearched_;
    std::set<std::string> mergedFaces_;
    ImVector<ImWchar> ranges_; // the atlas points at these until they are replaced
};
