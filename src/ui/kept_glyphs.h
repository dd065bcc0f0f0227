// A font atlas that grows without drawing its glyphs again: Dear ImGui 1.86 rasterises every glyph
// of every face on each build (the icon fonts alone, some 1,400 oversampled glyphs, take 13 ms;
// a CJK face 18 us a character), so a build that only adds characters would pause the interface
// for the whole atlas.
//
// [X] after a build, each glyph it drew is kept as a picture (its pixels, quad and advance) and
//     goes back into every later build as a custom rectangle, the renderer's after a lost device
//     included; the faces' ranges are emptied, so a build draws only what its caller put in them
// [X] the icon fonts' sources leave the atlas once their glyphs are kept
// [X] the space stays with the faces: a build in which the first face draws nothing would leave
//     the library's font holding the last build's glyphs
// [ ] one atlas per process, the interface's: keeping a second atlas would leave the first one's
//     kept glyphs blank in its next build
#pragma once

#include <imgui.h>

// Keeps the glyphs `atlas` holds after its first build and keeps those of every later build.
// Nothing happens to an atlas without pixels or one already kept.
void keepAtlasGlyphs(ImFontAtlas& atlas);

// Whether `atlas` keeps its glyphs.
bool keepsGlyphs(const ImFontAtlas& atlas);

// The ranges every face of a kept atlas has between builds: the space alone. A caller puts the
// characters of one build in the faces' ranges; the build points them back here.
const ImWchar* keptAtlasRanges();
