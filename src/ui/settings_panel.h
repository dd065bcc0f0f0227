// The settings panel: the game client's resolution, refresh rate, effects, character options and
// quality, each written to the game's files in the frame in which its control changes.
#pragma once

// Drawn by the main screen in the ready phase while settingsPanelOpen is set.
void drawSettingsPanel();
// A tooltip for the item drawn just before, wrapped at 35 font sizes, shown while it is hovered.
void showTooltip(const char* text);
