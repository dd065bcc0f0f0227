#include "ui/draw.h"

#include <algorithm>

#include <imgui.h>

namespace {

std::uint32_t channelByte(float value) {
    const float clamped = std::clamp(value, 0.0f, 1.0f);
    return static_cast<std::uint32_t>(static_cast<int>(clamped * 255.0f + 0.5f));
}

ImDrawList* targetList(ImDrawList* list) {
    return list != nullptr ? list : ImGui::GetWindowDrawList();
}

} // namespace

std::uint32_t packColour(const Colour& colour) {
    return channelByte(colour.red) | (channelByte(colour.green) << 8) | (channelByte(colour.blue) << 16) |
           (channelByte(colour.alpha) << 24);
}

WindowPosition centredWindowPosition(int screenWidth, int screenHeight) {
    constexpr int halfWidth = static_cast<int>(windowWidth) / 2;
    constexpr int halfHeight = static_cast<int>(windowHeight) / 2;
    return {screenWidth / 2 - halfWidth, screenHeight / 2 - halfHeight};
}

int wholePixelWidth(float width) {
    return static_cast<int>(width + 0.99999f);
}

void drawLine(float x1, float y1, float x2, float y2, const Colour& colour, float thickness,
              ImDrawList* list) {
    targetList(list)->AddLine(ImVec2(x1, y1), ImVec2(x2, y2), packColour(colour), thickness);
}

void strokeRect(float x, float y, float width, float height, const Colour& colour, float thickness,
                float rounding, ImDrawList* list) {
    targetList(list)->AddRect(ImVec2(x, y), ImVec2(x + width, y + height), packColour(colour), rounding,
                              ImDrawFlags_RoundCornersAll, thickness);
}

void fillRect(float x, float y, float width, float height, const Colour& colour, float rounding,
              ImDrawList* list) {
    const std::uint32_t packed = packColour(colour);
    if ((packed & IM_COL32_A_MASK) == 0) return;
    ImDrawList* target = targetList(list);
    if (rounding <= 0.0f)
        target->AddRectFilled(ImVec2(x, y), ImVec2(x + width, y + height), packed);
    else
        target->AddRectFilled(ImVec2(x, y), ImVec2(x + width, y + height), packed, rounding,
                              ImDrawFlags_RoundCornersAll);
}

void drawSidePanel(float fillOpacity) {
    fillRect(sidePanelLeft, 50.0f, 240.0f, 490.0f, Colour{0.0f, 0.0f, 0.0f, fillOpacity}, 5.0f);
    strokeRect(sidePanelLeft, 50.0f, 240.0f, 490.0f, Colour{1.0f, 1.0f, 1.0f, 0.2f}, 3.0f, 0.0f);
    ImGui::SetCursorPos(ImVec2(sidePanelLeft + 5.0f, 70.0f));
}

void drawHeading(const char* text) {
    ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(headingOrange.red, headingOrange.green, headingOrange.blue,
                                                headingOrange.alpha));
    ImGui::BulletText("%s", text);
    ImGui::PopStyleColor();
}
