// The characters the interface's texts need, and the font atlas grown to cover them: the text face
// gives every character it has (Latin Extended, Greek, Cyrillic from Liberation Sans or Arial),
// faces of the system the rest (a CJK face for Chinese, Japanese or Korean news). The atlas keeps
// what it drew (ui/kept_glyphs.h) and grows by a few hundred characters a step, so that no step
// holds the interface for long; the system's faces are looked for and read on a thread of their
// own.
#pragma once

#include <cstddef>
#include <functional>
#include <future>
#include <memory>
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

    // Whether noted characters, or characters of faces that a search found, wait for growAtlas.
    bool growthDue() const { return !pending_.empty(); }
    // One step: `atlas`, as addLauncherFonts filled it, draws up to charactersPerStep of the
    // waiting characters from its faces and keeps them; those none of its faces has wait for a
    // search. Call only between frames; the renderer's font texture must be made again
    // afterwards. False when the build failed.
    bool growAtlas(ImFontAtlas& atlas);

    // Whether characters the atlas lacks wait for a search of the system's faces.
    bool fallbacksWanted() const { return !unsearched_.empty(); }
    // Starts that search on a thread of its own, since reading a CJK face takes tens of
    // milliseconds: `find` names faces, which are read whole and kept when they have some of the
    // characters still missing, at most a few and each at most once. The system is asked about
    // each character once. Nothing while a search runs.
    void searchFallbacks(FallbackFontFinder find);
    // Whether a search has ended and its faces wait for addFallbacks.
    bool fallbacksFound() const;
    // Adds the faces of the search, waiting for it to end, to `atlas`; every character without a
    // glyph waits for growAtlas again. Same conditions as growAtlas.
    bool addFallbacks(ImFontAtlas& atlas);

    // Characters noted beyond the atlas's first range (Basic Latin and Latin-1).
    const std::set<ImWchar>& needed() const { return needed_; }

    // Characters in one step: some 5 ms of a CJK face's rasteriser.
    static constexpr std::size_t charactersPerStep = 256;
    // Beyond this many characters (the atlas would pass 1024 x 4096), news and texts show the
    // fallback glyph: a server's text cannot make the atlas unbounded.
    static constexpr std::size_t maximumCharacters = 4096;

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
    std::set<ImWchar> needed_;
    std::set<ImWchar> pending_;  // noted, or back from a search, and not tried with the faces
    std::set<ImWchar> searched_; // missing characters the system was already asked about
    std::vector<ImWchar> unsearched_;
    std::set<std::string> mergedFaces_;
    std::future<std::vector<FoundFace>> search_;
    bool overflowReported_ = false;
};
