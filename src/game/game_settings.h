// The game client's own settings files: which layout the installation has, loading the values
// the settings panel edits, and the rules for writing each change.
#pragma once

#include <cstdint>
#include <string>

struct ScreenConfig {
    std::string settingsPath;
    std::string gameSetupPath;
    std::string screenSection;
    std::string widthKey;
    std::string heightKey;
    bool usesConfigIni = true;
};

ScreenConfig makeScreenConfig(const std::string& section, const std::string& widthKey,
                              const std::string& heightKey, const std::string& fileName);

struct GameSettings {
    std::int32_t resolutionWidth = 0;
    std::int32_t resolutionHeight = 0;
    std::int32_t refreshRate = 0;
    bool hideEffects = false;
    bool shiftJump = false;
    bool hpBar = false;
    std::int32_t qualityIndex = 0;
};

// Used only by the interface thread once it runs.
extern ScreenConfig screenConfig;
extern GameSettings gameSettings;

std::int32_t readIniInt(const std::string& section, const std::string& key, const std::string& file);
bool detectSettingsLayout();
void loadGameSettings();
void writeResolution();
void writeRefreshRate();
void writeHideEffects();
void writeCharacterOption(const std::string& key, bool on);
void writeQuality();
