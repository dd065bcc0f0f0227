// The settings and launch routines with the installation folder as a parameter. The routines of
// game_settings.h and game_launch.h call these with installFolder(); tests call them with a folder
// of their own, since the test program's folder is not a game installation.
#pragma once

#include "game/game_settings.h"

#include <string>

namespace game {

// `folder` ends with '/'. Relative names may use '\' as the game writes them.
ScreenConfig makeScreenConfigIn(const std::string& folder, const std::string& section,
                                const std::string& widthKey, const std::string& heightKey,
                                const std::string& fileName);
bool detectSettingsLayoutIn(const std::string& folder);
void loadGameSettingsIn(const std::string& folder);
void writeResolutionIn(const std::string& folder);
void writeRefreshRateIn(const std::string& folder);
void writeHideEffectsIn(const std::string& folder);
void writeCharacterOptionIn(const std::string& folder, const std::string& key, bool on);
void writeQualityIn(const std::string& folder);

// Returns only when a start failed (after the "ERROR" box); otherwise ends the process with 0.
void startGameIn(const std::string& folder, int clientCount);

} // namespace game
