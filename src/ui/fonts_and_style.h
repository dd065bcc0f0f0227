// The launcher's font atlas; setupFontsAndStyle (ui/resources.h) fills it and sets the style.
#pragma once

#include <string>

#include "ui/system_font.h"

struct ImFontAtlas;

// Adds the text font (textFont, or Dear ImGui's own font when its path is empty) and merges both
// icon fonts into it. False when a font could not be added.
bool addLauncherFonts(ImFontAtlas& atlas, const SystemFontFile& textFont);
