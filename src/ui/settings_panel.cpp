#include "ui/settings_panel.h"

#include <imgui.h>

#include "game/game_settings.h"
#include "platform/display.h"
#include "ui/draw.h"

namespace {

constexpr const char* fpsTooltip = "A higher refresh rate means sharper turns and faster drops, while a "
                                   "lower one might feel more leisurely.";
constexpr const char* shiftJumpTooltip = "You can use shift while you jump to change direction.";
constexpr const char* newerQualityEntries[] = {"Normal", "High"};
constexpr const char* olderQualityEntries[] = {"High", "Normal", "Low"};

void cursorDown(float pixels) {
    ImGui::SetCursorPosY(ImGui::GetCursorPosY() + pixels);
}

bool labelledSlider(const char* label, const char* id, int* value, int minimum, int maximum) {
    ImGui::SetCursorPosX(910.0f);
    ImGui::Text("%s", label);
    ImGui::SameLine();
    ImGui::SetNextItemWidth(150.0f);
    return ImGui::SliderInt(id, value, minimum, maximum, "%d");
}

bool checkbox(const char* label, bool* value) {
    ImGui::SetCursorPosX(910.0f);
    ImGui::SetNextItemWidth(60.0f);
    return ImGui::Checkbox(label, value);
}

} // namespace

void showTooltip(const char* text) {
    if (!ImGui::IsItemHovered()) return;
    ImGui::BeginTooltip();
    ImGui::PushTextWrapPos(ImGui::GetFontSize() * 35.0f);
    ImGui::TextUnformatted(text);
    ImGui::PopTextWrapPos();
    ImGui::EndTooltip();
}

void drawSettingsPanel() {
    const bool newerLayout = screenConfig.usesConfigIni;

    drawSidePanel(0.3f);
    drawHeading("Screen Resolution");
    // Taken every frame, as the screen may change while the launcher runs.
    const platform::ScreenSize screen = platform::screenSize();
    cursorDown(10.0f);
    if (labelledSlider("Width ", "##Width", &gameSettings.resolutionWidth, screen.width / 2, screen.width))
        writeResolution();
    if (labelledSlider("Height", "##Height", &gameSettings.resolutionHeight, screen.height / 2,
                       screen.height))
        writeResolution();
    ImGui::NewLine();
    ImGui::NewLine();

    if (newerLayout) {
        ImGui::SetCursorPosX(sidePanelLeft + 5.0f);
        drawHeading("Refresh Rate..");
        cursorDown(10.0f);
        if (labelledSlider("FPS", "##FPS", &gameSettings.refreshRate, 60, 1000)) writeRefreshRate();
        showTooltip(fpsTooltip);
        ImGui::NewLine();
    }

    ImGui::SetCursorPosX(sidePanelLeft + 5.0f);
    drawHeading("EXTRA..");
    cursorDown(10.0f);
    if (checkbox("HideEffects", &gameSettings.hideEffects)) writeHideEffects();
    if (newerLayout) {
        if (checkbox("ShiftJump", &gameSettings.shiftJump))
            writeCharacterOption("ShiftJump", gameSettings.shiftJump);
        showTooltip(shiftJumpTooltip);
        if (checkbox("HpBar", &gameSettings.hpBar)) writeCharacterOption("HpBar", gameSettings.hpBar);
    }
    ImGui::NewLine();
    ImGui::NewLine();

    ImGui::SetCursorPosX(sidePanelLeft + 5.0f);
    drawHeading("GAME QUALITY..");
    cursorDown(10.0f);
    ImGui::SetCursorPosX(sidePanelLeft + 15.0f);
    ImGui::SetNextItemWidth(200.0f);
    const char* const* entries = newerLayout ? newerQualityEntries : olderQualityEntries;
    const int entryCount =
        newerLayout ? IM_ARRAYSIZE(newerQualityEntries) : IM_ARRAYSIZE(olderQualityEntries);
    // Combo reports a pick of the current entry too; the counter is written for that as well.
    if (ImGui::Combo("##combo", &gameSettings.qualityIndex, entries, entryCount)) writeQuality();
}
