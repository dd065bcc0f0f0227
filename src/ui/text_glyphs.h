// The characters the interface's texts need, and the font atlas grown to cover them: the text face
// gives every character it has (Latin Extended, Greek, Cyrillic from Liberation Sans or Arial),
// faces of the system the rest (a CJK face for Chinese, Japanese or Korean news).
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <imgui.h>

#include "ui/system_font.h"

// After the atlas's first build: the icon fonts' glyphs (some 1,400, oversampled: nine tenths of a
// build's work) become fixed pictures in it, so that every later build of `atlas`, the renderer's
// after a lost device included, rasterises text only and puts the icons back as they were. The
// icon fonts' sources leave the atlas. Nothing happens to an atlas without pixels.
void keepIconGlyphs(ImFontAtlas& atlas);

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
    // Whether characters the last rebuild found missing wait for a search of the system's faces.
    bool fallbacksWanted() const { return !unsearched_.empty(); }
    // Starts that search on a thread of its own, since reading a CJK face takes tens of
    // milliseconds: `find` names faces, which are read whole and kept when they have some of the
    // characters still missing, at most a few and each at most once. The system is asked about
    // each character once. Nothing while a search runs.
    void searchFallbacks(FallbackFontFinder find);
    // Whether a search has ended and its faces wait for addFallbacks.
    bool fallbacksFound() const;
    // Merges the faces of the search, waiting for it to end, into `atlas` and builds it again.
    // Same conditions as rebuild.
    bool addFallbacks(ImFontAtlas& atlas);

    // Characters noted beyond the atlas's first range (Basic Latin and Latin-1).
    const std::set<ImWchar>& needed() const { return needed_; }

    // A face read for the atlas, in the interface library's heap so that the atlas takes it as
    // it is.
    struct FoundFace {
        struct HeapFree {
            void operator()(void* data) const;
        };
        std::string path;
        int index = 0;
        std::unique_ptr<void, HeapFree> data;
        std::size_t size = 0;
    };

  private:
    std::vector<ImWchar> missingFrom(const ImFont& font) const;
    void setTextRanges(ImFontAtlas& atlas);

    std::set<ImWchar> needed_;
    std::set<ImWchar> searched_; // missing characters the system was already asked about
    std::vector<ImWchar> unsearched_;
    std::set<std::string> mergedFaces_;
    std::future<std::vector<FoundFace>> search_;
    ImVector<ImWchar> ranges_; // the atlas points at these until they are replaced
};
