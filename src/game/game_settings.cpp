// The game client's settings files: the two layouts, loading, and the write rules of each control.
#include "game/game_settings.h"

#include "core/text_conversion.h"

#include "core/install_folder.h"
#include "game/game_folder.h"
#include "platform/display.h"
#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/profile.h"

#include <array>

namespace {

constexpr const char* gameSetupName = "ini\\GameSetup.ini";
constexpr const char* gameSetupFolderName = "ini";
constexpr const char* hideEffectsMarkerName = "m4\\backup";
constexpr std::array<const char*, 3> olderEffectsFiles = {"Settings.ini", "Env_DX8\\Settings.ini",
                                                          "Env_DX9\\Settings.ini"};
// GetPrivateProfileStringW's buffer in readIniInt: 32 wide characters, so 31 are seen.
constexpr std::size_t iniIntBufferSize = 32;
constexpr int refreshRateFloor = 60;

std::string toSlashes(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

// Names are kept as the game spells them and matched against the folder at each use: a patch
// may have created a file or folder since, spelled in another case.
std::string onDisk(const std::string& folder, const std::string& path) {
    if (path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0)
        return platform::resolveCaseInsensitive(folder, path.substr(folder.size()));
    return path;
}

void writeKey(const std::string& section, const std::string& key, const std::string& value,
              const std::string& file) {
    if (platform::writeProfileString(section, key, value, file)) return;
    platform::diagnose("Cannot write [" + section + "] " + key + " to " + file);
}

// Windows would not create the missing "ini" folder and the quality would be lost; an installation
// without ini\GameSetup.ini still keeps its quality there, so the one folder is made here.
void writeGameSetupKey(const std::string& folder, const std::string& section, const std::string& key,
                       const std::string& value) {
    const std::string iniFolder = platform::resolveCaseInsensitive(folder, gameSetupFolderName);
    if (!platform::pathExists(iniFolder)) platform::createFolder(iniFolder);
    writeKey(section, key, value, onDisk(folder, screenConfig.gameSetupPath));
}

struct QualityRule {
    bool newerLayout;
    std::int32_t index;
    const char* counterKey;
    const char* record;
};

constexpr std::array<QualityRule, 5> qualityRules = {{
    {true, 0, "LowTimes", "0"},     // "Normal"
    {true, 1, "HighTimes", "1"},    // "High"
    {false, 0, "HighTimes", "0"},   // "High"
    {false, 1, "NormalTimes", "1"}, // "Normal"
    {false, 2, "LowTimes", "2"},    // "Low"
}};

} // namespace

ScreenConfig screenConfig = makeScreenConfig("ScreenMode", "ScrWidth", "ScrHeight", gameSetupName);
GameSettings gameSettings;

namespace game {

ScreenConfig makeScreenConfigIn(const std::string& folder, const std::string& section,
                                const std::string& widthKey, const std::string& heightKey,
                                const std::string& fileName) {
    ScreenConfig config;
    config.settingsPath = folder + toSlashes(fileName);
    config.gameSetupPath = folder + toSlashes(gameSetupName);
    config.screenSection = section;
    config.widthKey = widthKey;
    config.heightKey = heightKey;
    config.usesConfigIni = true;
    return config;
}

bool detectSettingsLayoutIn(const std::string& folder) {
    // The key as a substring of any line: a missing or unreadable file is the newer layout.
    const auto content = platform::readWholeFile(onDisk(folder, screenConfig.settingsPath));
    const bool newer = !content || content->find("ScrWidth") == std::string::npos;
    screenConfig.usesConfigIni = newer;
    return newer;
}

void loadGameSettingsIn(const std::string& folder) {
    gameSettings.hideEffects =
        platform::pathExists(platform::resolveCaseInsensitive(folder, hideEffectsMarkerName));
    if (detectSettingsLayoutIn(folder)) {
        screenConfig = makeScreenConfigIn(folder, "Screen", "Width", "Height", "config.ini");
        const std::string settings = onDisk(folder, screenConfig.settingsPath);
        gameSettings.hpBar = readIniInt("Character", "HpBar", settings) != 0;
        gameSettings.shiftJump = readIniInt("Character", "ShiftJump", settings) != 0;
    }
    const std::string settings = onDisk(folder, screenConfig.settingsPath);
    gameSettings.refreshRate = readIniInt("Config", "FPS", settings);
    gameSettings.resolutionWidth = readIniInt(screenConfig.screenSection, screenConfig.widthKey, settings);
    gameSettings.resolutionHeight = readIniInt(screenConfig.screenSection, screenConfig.heightKey, settings);
    gameSettings.qualityIndex =
        readIniInt("GameMode", "GameModeRecord", platform::resolveCaseInsensitive(folder, gameSetupName));
}

void writeResolutionIn(const std::string& folder) {
    const std::string settings = onDisk(folder, screenConfig.settingsPath);
    const std::string widthText = std::to_string(gameSettings.resolutionWidth);
    const std::string heightText = std::to_string(gameSettings.resolutionHeight);
    writeKey(screenConfig.screenSection, screenConfig.widthKey, widthText, settings);
    writeKey(screenConfig.screenSection, screenConfig.heightKey, heightText, settings);
    if (screenConfig.usesConfigIni) {
        const platform::ScreenSize screen = platform::screenSize();
        const bool fullScreen =
            gameSettings.resolutionWidth == screen.width && gameSettings.resolutionHeight == screen.height;
        writeKey(screenConfig.screenSection, "FullScreen", fullScreen ? "1" : "0", settings);
    } else {
        writeGameSetupKey(folder, screenConfig.screenSection, "FullScrType", "1");
        writeGameSetupKey(folder, screenConfig.screenSection, "ScreenModeRecord", "4");
    }
}

void writeRefreshRateIn(const std::string& folder) {
    const std::string text =
        gameSettings.refreshRate > refreshRateFloor ? std::to_string(gameSettings.refreshRate) : "60";
    writeKey("config", "FPS", text, onDisk(folder, screenConfig.settingsPath));
}

void writeHideEffectsIn(const std::string& folder) {
    const char* text = gameSettings.hideEffects ? "1" : "0";
    if (screenConfig.usesConfigIni) {
        writeKey("Character", "HideEffect", text, onDisk(folder, screenConfig.settingsPath));
        return;
    }
    for (const char* name : olderEffectsFiles)
        writeKey("Screen", "HideEffect", text, platform::resolveCaseInsensitive(folder, name));
}

void writeCharacterOptionIn(const std::string& folder, const std::string& key, bool on) {
    writeKey("Character", key, on ? "1" : "0", onDisk(folder, screenConfig.settingsPath));
}

void writeQualityIn(const std::string& folder) {
    for (const QualityRule& rule : qualityRules) {
        if (rule.newerLayout != screenConfig.usesConfigIni || rule.index != gameSettings.qualityIndex)
            continue;
        const std::int32_t count = platform::readProfileInt("GameMode", rule.counterKey, 0,
                                                            onDisk(folder, screenConfig.gameSetupPath));
        // Wraps like the 32-bit addition it stands for, without overflowing a signed number.
        const auto next = static_cast<std::int32_t>(static_cast<std::uint32_t>(count) + 1u);
        writeGameSetupKey(folder, "GameMode", rule.counterKey, std::to_string(next));
        writeGameSetupKey(folder, "GameMode", "GameModeRecord", rule.record);
        return;
    }
}

} // namespace game

ScreenConfig makeScreenConfig(const std::string& section, const std::string& widthKey,
                              const std::string& heightKey, const std::string& fileName) {
    return game::makeScreenConfigIn(installFolder(), section, widthKey, heightKey, fileName);
}

std::int32_t readIniInt(const std::string& section, const std::string& key, const std::string& file) {
    const std::string text = platform::readProfileString(section, key, "", iniIntBufferSize, file);
    // A value that is not a number, or lies outside 32 bits, reads as 0.
    return toInt32(text).value_or(0);
}

bool detectSettingsLayout() {
    return game::detectSettingsLayoutIn(installFolder());
}
void loadGameSettings() {
    game::loadGameSettingsIn(installFolder());
}
void writeResolution() {
    game::writeResolutionIn(installFolder());
}
void writeRefreshRate() {
    game::writeRefreshRateIn(installFolder());
}
void writeHideEffects() {
    game::writeHideEffectsIn(installFolder());
}
void writeCharacterOption(const std::string& key, bool on) {
    game::writeCharacterOptionIn(installFolder(), key, on);
}
void writeQuality() {
    game::writeQualityIn(installFolder());
}
