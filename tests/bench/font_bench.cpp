// How long the interface waits while the font atlas grows for news in Chinese: the longest step
// of the kept atlas (ui/kept_glyphs.h, ui/text_glyphs.h) against one whole build of the same
// atlas by Dear ImGui, which is what each growth cost before. Needs the system's CJK face
// (fonts-noto-cjk); prints and ends without it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <imgui.h>
#include <imgui_internal.h>

#include "bench_support.h"
#include "ui/fonts_and_style.h"
#include "ui/resources.h"
#include "ui/system_font.h"
#include "ui/text_glyphs.h"

namespace {

double milliseconds(bench::Clock::time_point start) {
    return bench::seconds(start) * 1000.0;
}

std::string hanText(unsigned count) {
    std::string text;
    char utf8[5];
    for (unsigned c = 0x4E00; c < 0x4E00 + count; ++c) text += ImTextCharToUtf8(utf8, c);
    return text;
}

// The longest pause of the interface thread while the kept atlas grows by `count` characters.
double longestStep(unsigned count, int& steps) {
    ImGui::CreateContext();
    ImFontAtlas& atlas = *ImGui::GetIO().Fonts;
    setupFontsAndStyle();
    atlas.ClearTexData();
    TextGlyphs glyphs;
    glyphs.note(hanText(count));
    double longest = 0.0;
    steps = 0;
    for (int idle = 0; idle < 100;) {
        const bench::Clock::time_point start = bench::Clock::now();
        const bool found = glyphs.fallbacksFound();
        if (found) glyphs.addFallbacks(atlas);
        if (glyphs.growthDue()) {
            glyphs.growAtlas(atlas);
            unsigned char* pixels = nullptr;
            int width = 0;
            int height = 0;
            atlas.GetTexDataAsAlpha8(&pixels, &width, &height);
            atlas.ClearTexData();
            ++steps;
        } else if (!found && !glyphs.fallbacksWanted()) {
            ++idle; // a search may still run
        }
        longest = std::max(longest, milliseconds(start));
        glyphs.searchFallbacks(fallbackFonts);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ImGui::DestroyContext();
    return longest;
}

// One whole build of the launcher's atlas with the characters and the CJK face.
double wholeBuild(unsigned count, const SystemFontFile& face) {
    ImFontAtlas atlas;
    addLauncherFonts(atlas, boldTextFont());
    ImFontGlyphRangesBuilder builder;
    builder.AddRanges(atlas.GetGlyphRangesDefault());
    builder.AddText(hanText(count).c_str());
    ImVector<ImWchar> ranges;
    builder.BuildRanges(&ranges);
    atlas.ConfigData[0].GlyphRanges = ranges.Data;
    ImFontConfig config;
    config.MergeMode = true;
    config.OversampleH = 1;
    config.FontNo = face.index;
    atlas.AddFontFromFileTTF(face.path.c_str(), 14.0f, &config, ranges.Data);
    const bench::Clock::time_point start = bench::Clock::now();
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    atlas.GetTexDataAsAlpha8(&pixels, &width, &height);
    return milliseconds(start);
}

} // namespace

int main() {
    const std::vector<SystemFontFile> faces = fallbackFonts({0x4E00});
    if (faces.empty()) {
        std::printf("font_bench: no system face for Chinese (install fonts-noto-cjk)\n");
        return 0;
    }
    std::printf("%10s %6s %14s %14s %8s\n", "characters", "steps", "longest step", "whole build", "ratio");
    for (const unsigned count : {200u, 1000u, 2000u, 4000u}) {
        int steps = 0;
        const double step = longestStep(count, steps);
        const double whole = wholeBuild(count, faces.front());
        std::printf("%10u %6d %11.1f ms %11.1f ms %8.2f\n", count, steps, step, whole, step / whole);
    }
    return 0;
}
