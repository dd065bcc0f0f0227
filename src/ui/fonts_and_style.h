// The launcher's font atlas and interface style; setupFontsAndStyle (ui/resources.h) uses these.
#pragma once

#include <string>

#include "ui/system_font.h"

struct ImFontAtlas;
struct ImGuiStyle;

// Adds the text font (textFont, or Dear ImGui's own font when its path is empty) and merges both
// icon fonts into it. False when a font could not be added.
bool addLauncherFonts(ImFontAtlas& atlas, const SystemFontFile& textFont);
// The launcher's sizes and colours over the dark preset.
void applyLauncherStyle(ImGuiStyle& style);
