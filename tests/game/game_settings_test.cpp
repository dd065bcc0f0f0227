// The game's settings files: layout detection, loading, and every write rule, on real files in a
// folder that stands in for the installation.
#include "game/game_folder.h"
#include "game/game_settings.h"
#include "platform/display.h"
#include "platform/files.h"
#include "platform/profile.h"

#include "../support/test_folder.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class GameSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // As at program start, but in this folder.
        screenConfig =
            game::makeScreenConfigIn(folder, "ScreenMode", "ScrWidth", "ScrHeight", "ini\\GameSetup.ini");
        gameSettings = GameSettings{};
        platform::setScreenSizeHook([] { return platform::ScreenSize{1920, 1080}; });
    }
    void TearDown() override { platform::setScreenSizeHook(nullptr); }

    void put(const std::string& relative, const std::string& bytes) {
        fs::create_directories(fs::path(folder + relative).parent_path());
        std::ofstream(folder + relative, std::ios::binary) << bytes;
    }
    std::string contents(const std::string& relative) const { return dltest::readText(folder + relative); }
    std::string value(const std::string& relative, const std::string& section, const std::string& key) const {
        return platform::readProfileString(section, key, "<absent>", 256, folder + relative);
    }
    // Entries of the installation folder named `name` in any case: one means no second spelling
    // was made beside the existing one (on a file system that tells case apart, or one that does not).
    std::size_t spellings(const std::string& name) const {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(folder))
            count += platform::equalsIgnoringAsciiCase(entry.path().filename().string(), name) ? 1 : 0;
        return count;
    }
    void loadNewer() {
        put("config.ini", "[Screen]\r\nWidth=1600\r\nHeight=900\r\n");
        game::loadGameSettingsIn(folder);
        ASSERT_TRUE(screenConfig.usesConfigIni);
    }
    void loadOlder() {
        put("ini/GameSetup.ini", "[ScreenMode]\r\nScrWidth=1024\r\nScrHeight=768\r\n");
        game::loadGameSettingsIn(folder);
        ASSERT_FALSE(screenConfig.usesConfigIni);
    }

    dltest::TestFolder scratch;
    std::string folder = scratch.path() + "/";
};

// Layout detection

TEST_F(GameSettingsTest, an_installation_without_game_setup_uses_the_newer_layout) {
    EXPECT_TRUE(game::detectSettingsLayoutIn(folder));
    EXPECT_TRUE(screenConfig.usesConfigIni);
}

TEST_F(GameSettingsTest, scr_width_anywhere_in_a_line_selects_the_older_layout) {
    for (const std::string text : {"[ScreenMode]\nScrWidth=1024\n", "; ScrWidth is set by the game\n",
                                   "[A]\nMaxScrWidthLimit=5\n", "[A]\nx=1\r\n  ScrWidth"}) {
        put("ini/GameSetup.ini", text);
        screenConfig.usesConfigIni = true;
        EXPECT_FALSE(game::detectSettingsLayoutIn(folder)) << text;
        EXPECT_FALSE(screenConfig.usesConfigIni);
    }
}

TEST_F(GameSettingsTest, detection_is_case_sensitive_in_the_text_but_not_in_the_path) {
    put("ini/GameSetup.ini", "[ScreenMode]\nscrwidth=1024\nSCRWIDTH=1\n");
    EXPECT_TRUE(game::detectSettingsLayoutIn(folder));
    fs::remove_all(folder + "ini");
    put("INI/gamesetup.INI", "[ScreenMode]\nScrWidth=1024\n");
    EXPECT_FALSE(game::detectSettingsLayoutIn(folder));
}

// Loading

TEST_F(GameSettingsTest, newer_layout_loads_every_value_from_config_ini) {
    put("Config.INI", "; game settings\r\n[screen]\r\nwidth = 1600\r\nHEIGHT=900\r\n[Config]\r\nFPS=144\r\n"
                      "[Character]\r\nShiftJump=1\r\nHpBar=0\r\n");
    put("ini/GameSetup.ini", "[GameMode]\r\nGameModeRecord=1\r\n");
    fs::create_directories(folder + "M4/Backup");
    game::loadGameSettingsIn(folder);

    EXPECT_TRUE(screenConfig.usesConfigIni);
    EXPECT_EQ(screenConfig.settingsPath, folder + "config.ini");
    EXPECT_EQ(screenConfig.gameSetupPath, folder + "ini/GameSetup.ini");
    EXPECT_EQ(screenConfig.screenSection, "Screen");
    EXPECT_EQ(screenConfig.widthKey, "Width");
    EXPECT_EQ(screenConfig.heightKey, "Height");
    EXPECT_EQ(gameSettings.resolutionWidth, 1600);
    EXPECT_EQ(gameSettings.resolutionHeight, 900);
    EXPECT_EQ(gameSettings.refreshRate, 144);
    EXPECT_TRUE(gameSettings.shiftJump);
    EXPECT_FALSE(gameSettings.hpBar);
    EXPECT_TRUE(gameSettings.hideEffects);
    EXPECT_EQ(gameSettings.qualityIndex, 1);
}

TEST_F(GameSettingsTest, older_layout_loads_from_game_setup_and_ignores_character_options) {
    put("ini/GameSetup.ini",
        "[ScreenMode]\r\nScrWidth=1024\r\nScrHeight=768\r\n[GameMode]\r\nGameModeRecord=2\r\n");
    put("config.ini", "[Character]\r\nShiftJump=1\r\nHpBar=1\r\n[Config]\r\nFPS=200\r\n");
    put("m4/backup", "a file counts as well");
    game::loadGameSettingsIn(folder);

    EXPECT_FALSE(screenConfig.usesConfigIni);
    EXPECT_EQ(screenConfig.settingsPath, folder + "ini/GameSetup.ini");
    EXPECT_EQ(screenConfig.screenSection, "ScreenMode");
    EXPECT_EQ(gameSettings.resolutionWidth, 1024);
    EXPECT_EQ(gameSettings.resolutionHeight, 768);
    EXPECT_EQ(gameSettings.refreshRate, 0); // [Config] FPS is looked for in GameSetup.ini
    EXPECT_FALSE(gameSettings.shiftJump);
    EXPECT_FALSE(gameSettings.hpBar);
    EXPECT_TRUE(gameSettings.hideEffects);
    EXPECT_EQ(gameSettings.qualityIndex, 2);
}

TEST_F(GameSettingsTest, missing_files_and_keys_load_as_zero) {
    game::loadGameSettingsIn(folder);
    EXPECT_TRUE(screenConfig.usesConfigIni);
    EXPECT_EQ(gameSettings.resolutionWidth, 0);
    EXPECT_EQ(gameSettings.refreshRate, 0);
    EXPECT_FALSE(gameSettings.hideEffects);
    EXPECT_EQ(gameSettings.qualityIndex, 0);
}

TEST_F(GameSettingsTest, values_that_are_not_32_bit_numbers_load_as_zero) {
    put("config.ini", "[Screen]\r\nWidth=abc\r\nHeight=99999999999\r\n[Config]\r\nFPS= 75fps\r\n"
                      "[Character]\r\nShiftJump=yes\r\nHpBar=-1\r\n");
    put("ini/GameSetup.ini", "[GameMode]\r\nGameModeRecord=-2147483648\r\n");
    game::loadGameSettingsIn(folder);
    EXPECT_EQ(gameSettings.resolutionWidth, 0);
    EXPECT_EQ(gameSettings.resolutionHeight, 0);
    EXPECT_EQ(gameSettings.refreshRate, 75);
    EXPECT_FALSE(gameSettings.shiftJump);
    EXPECT_TRUE(gameSettings.hpBar);
    EXPECT_EQ(gameSettings.qualityIndex, INT_MIN);

    put("ini/GameSetup.ini", "[GameMode]\r\nGameModeRecord=2147483648\r\n");
    EXPECT_EQ(readIniInt("GameMode", "GameModeRecord", folder + "ini/GameSetup.ini"), 0);
    put("ini/GameSetup.ini", "[GameMode]\r\nGameModeRecord=+\r\n");
    EXPECT_EQ(readIniInt("GameMode", "GameModeRecord", folder + "ini/GameSetup.ini"), 0);
}

TEST_F(GameSettingsTest, read_ini_int_sees_only_31_characters) {
    put("a.ini", "[S]\r\nPadded=0000000000000000000000000000012345\r\nQuoted=\"7\"\r\n");
    EXPECT_EQ(readIniInt("S", "Padded", folder + "a.ini"), 12);
    EXPECT_EQ(readIniInt("S", "Quoted", folder + "a.ini"), 7);
}

// Resolution

TEST_F(GameSettingsTest, newer_layout_resolution_writes_full_screen_against_the_screen_size) {
    loadNewer();
    gameSettings.resolutionWidth = 1920;
    gameSettings.resolutionHeight = 1080;
    game::writeResolutionIn(folder);
    EXPECT_EQ(contents("config.ini"), "[Screen]\r\nWidth=1920\r\nHeight=1080\r\nFullScreen=1\r\n");

    gameSettings.resolutionHeight = 1079;
    game::writeResolutionIn(folder);
    EXPECT_EQ(value("config.ini", "Screen", "FullScreen"), "0");

    platform::setScreenSizeHook([] { return platform::ScreenSize{2560, 1440}; });
    gameSettings.resolutionWidth = 2560;
    gameSettings.resolutionHeight = 1440;
    game::writeResolutionIn(folder);
    EXPECT_EQ(value("config.ini", "Screen", "Width"), "2560");
    EXPECT_EQ(value("config.ini", "Screen", "FullScreen"), "1");
    EXPECT_FALSE(fs::exists(folder + "ini"));
}

TEST_F(GameSettingsTest, older_layout_resolution_always_writes_the_full_screen_type_and_record) {
    loadOlder();
    gameSettings.resolutionWidth = 800;
    gameSettings.resolutionHeight = 600;
    game::writeResolutionIn(folder);
    EXPECT_EQ(contents("ini/GameSetup.ini"),
              "[ScreenMode]\r\nScrWidth=800\r\nScrHeight=600\r\nFullScrType=1\r\nScreenModeRecord=4\r\n");
    EXPECT_FALSE(fs::exists(folder + "config.ini"));
}

// Refresh rate

TEST_F(GameSettingsTest, refresh_rate_is_written_with_a_floor_of_60) {
    loadNewer();
    put("config.ini", "[Config]\r\nFPS=100\r\n");
    for (const auto& [rate, text] : std::vector<std::pair<int, std::string>>{
             {144, "144"}, {61, "61"}, {60, "60"}, {59, "60"}, {0, "60"}, {-5, "60"}, {1000000, "1000000"}}) {
        gameSettings.refreshRate = rate;
        game::writeRefreshRateIn(folder);
        EXPECT_EQ(contents("config.ini"), "[Config]\r\nFPS=" + text + "\r\n") << rate;
        EXPECT_EQ(gameSettings.refreshRate, rate);
    }
}

TEST_F(GameSettingsTest, refresh_rate_creates_a_lower_case_config_section_when_there_is_none) {
    loadNewer();
    gameSettings.refreshRate = 90;
    game::writeRefreshRateIn(folder);
    EXPECT_EQ(contents("config.ini"), "[Screen]\r\nWidth=1600\r\nHeight=900\r\n[config]\r\nFPS=90\r\n");
}

// Effects and character options

TEST_F(GameSettingsTest, newer_layout_hide_effects_goes_to_the_character_section) {
    loadNewer();
    gameSettings.hideEffects = true;
    game::writeHideEffectsIn(folder);
    EXPECT_EQ(value("config.ini", "Character", "HideEffect"), "1");
    gameSettings.hideEffects = false;
    game::writeHideEffectsIn(folder);
    EXPECT_EQ(value("config.ini", "Character", "HideEffect"), "0");
    EXPECT_FALSE(fs::exists(folder + "Settings.ini"));
    EXPECT_FALSE(fs::exists(folder + "m4"));
}

TEST_F(GameSettingsTest, older_layout_hide_effects_goes_to_all_three_settings_files) {
    put("env_dx8/SETTINGS.ini", "; renderer\r\n[Screen]\r\nHideEffect=0\r\nGamma=3\r\n");
    fs::create_directories(folder + "Env_DX9");
    fs::create_directories(folder + "m4/backup");
    loadOlder();
    gameSettings.hideEffects = true;
    game::writeHideEffectsIn(folder);
    EXPECT_EQ(contents("Settings.ini"), "[Screen]\r\nHideEffect=1\r\n");
    EXPECT_EQ(contents("env_dx8/SETTINGS.ini"), "; renderer\r\n[Screen]\r\nHideEffect=1\r\nGamma=3\r\n");
    EXPECT_EQ(contents("Env_DX9/Settings.ini"), "[Screen]\r\nHideEffect=1\r\n");
    EXPECT_EQ(spellings("Env_DX8"), 1u);
    EXPECT_TRUE(fs::is_directory(folder + "m4/backup"));

    gameSettings.hideEffects = false;
    game::writeHideEffectsIn(folder);
    EXPECT_EQ(value("Env_DX9/Settings.ini", "Screen", "HideEffect"), "0");
    EXPECT_TRUE(fs::is_directory(folder + "m4/backup"));
}

TEST_F(GameSettingsTest, a_missing_effects_folder_is_not_created) {
    loadOlder();
    gameSettings.hideEffects = true;
    game::writeHideEffectsIn(folder);
    EXPECT_TRUE(fs::exists(folder + "Settings.ini"));
    EXPECT_FALSE(fs::exists(folder + "Env_DX8"));
    EXPECT_FALSE(fs::exists(folder + "Env_DX9"));
}

TEST_F(GameSettingsTest, character_options_are_written_as_one_or_zero) {
    loadNewer();
    game::writeCharacterOptionIn(folder, "ShiftJump", true);
    game::writeCharacterOptionIn(folder, "HpBar", false);
    EXPECT_EQ(value("config.ini", "Character", "ShiftJump"), "1");
    EXPECT_EQ(value("config.ini", "Character", "HpBar"), "0");
    game::writeCharacterOptionIn(folder, "ShiftJump", false);
    EXPECT_EQ(value("config.ini", "Character", "ShiftJump"), "0");
}

// Quality

struct QualityCase {
    bool newer;
    int index;
    const char* counterKey;
    const char* record;
};

TEST_F(GameSettingsTest, every_quality_rule_counts_up_its_key_and_writes_its_record) {
    const QualityCase cases[] = {{true, 0, "LowTimes", "0"},
                                 {true, 1, "HighTimes", "1"},
                                 {false, 0, "HighTimes", "0"},
                                 {false, 1, "NormalTimes", "1"},
                                 {false, 2, "LowTimes", "2"}};
    for (const auto& rule : cases) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        gameSettings = GameSettings{};
        screenConfig =
            game::makeScreenConfigIn(folder, "ScreenMode", "ScrWidth", "ScrHeight", "ini\\GameSetup.ini");
        if (rule.newer)
            loadNewer();
        else
            loadOlder();
        const std::string name =
            std::string(rule.counterKey) + " of layout " + (rule.newer ? "newer" : "older");

        gameSettings.qualityIndex = rule.index;
        game::writeQualityIn(folder);
        EXPECT_EQ(value("ini/GameSetup.ini", "GameMode", rule.counterKey), "1") << name;
        EXPECT_EQ(value("ini/GameSetup.ini", "GameMode", "GameModeRecord"), rule.record) << name;
        game::writeQualityIn(folder);
        EXPECT_EQ(value("ini/GameSetup.ini", "GameMode", rule.counterKey), "2") << name;

        for (const char* other : {"HighTimes", "NormalTimes", "LowTimes"}) {
            if (std::string(other) == rule.counterKey) continue;
            EXPECT_EQ(value("ini/GameSetup.ini", "GameMode", other), "<absent>") << name << " " << other;
        }
    }
}

TEST_F(GameSettingsTest, quality_counter_continues_from_the_file_and_keeps_other_lines) {
    put("ini/GameSetup.ini", "[ScreenMode]\r\nScrWidth=1024\r\n; counters\r\n[GameMode]\r\nHighTimes=41\r\n"
                             "GameModeRecord=1\r\nUnknown=x\r\n");
    game::loadGameSettingsIn(folder);
    gameSettings.qualityIndex = 0;
    game::writeQualityIn(folder);
    EXPECT_EQ(contents("ini/GameSetup.ini"), "[ScreenMode]\r\nScrWidth=1024\r\n; counters\r\n[GameMode]\r\n"
                                             "HighTimes=42\r\nGameModeRecord=0\r\nUnknown=x\r\n");
}

TEST_F(GameSettingsTest, quality_counter_wraps_like_a_32_bit_number) {
    put("ini/GameSetup.ini", "[GameMode]\r\nLowTimes=2147483647\r\n");
    loadNewer();
    gameSettings.qualityIndex = 0;
    game::writeQualityIn(folder);
    EXPECT_EQ(value("ini/GameSetup.ini", "GameMode", "LowTimes"), "-2147483648");
}

TEST_F(GameSettingsTest, an_index_outside_the_layouts_list_writes_nothing) {
    loadNewer();
    for (int index : {2, -1, 7}) {
        gameSettings.qualityIndex = index;
        game::writeQualityIn(folder);
    }
    EXPECT_FALSE(fs::exists(folder + "ini"));

    fs::remove_all(folder + "config.ini");
    screenConfig =
        game::makeScreenConfigIn(folder, "ScreenMode", "ScrWidth", "ScrHeight", "ini\\GameSetup.ini");
    loadOlder();
    const std::string before = contents("ini/GameSetup.ini");
    gameSettings.qualityIndex = 3;
    game::writeQualityIn(folder);
    EXPECT_EQ(contents("ini/GameSetup.ini"), before);
}

TEST_F(GameSettingsTest, newer_layout_without_an_ini_folder_still_keeps_its_quality) {
    loadNewer();
    gameSettings.qualityIndex = 1;
    game::writeQualityIn(folder);
    EXPECT_EQ(contents("ini/GameSetup.ini"), "[GameMode]\r\nHighTimes=1\r\nGameModeRecord=1\r\n");
}

TEST_F(GameSettingsTest, writes_find_existing_files_and_folders_in_any_case) {
    put("INI/gamesetup.ini", "[ScreenMode]\r\nScrWidth=1024\r\nScrHeight=768\r\n");
    game::loadGameSettingsIn(folder);
    ASSERT_FALSE(screenConfig.usesConfigIni);
    EXPECT_EQ(gameSettings.resolutionWidth, 1024);
    gameSettings.resolutionWidth = 1280;
    gameSettings.qualityIndex = 1;
    game::writeResolutionIn(folder);
    game::writeQualityIn(folder);
    EXPECT_EQ(value("INI/gamesetup.ini", "ScreenMode", "ScrWidth"), "1280");
    EXPECT_EQ(value("INI/gamesetup.ini", "GameMode", "NormalTimes"), "1");
    EXPECT_EQ(spellings("ini"), 1u);
}

} // namespace
