#include "ui/main_screen.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

#include <imgui.h>

#include "core/launcher_state.h"
#include "game/game_launch.h"
#include "launcher_config.h"
#include "platform/process.h"
#include "ui/draw.h"
#include "ui/renderer.h"
#include "ui/resources.h"
#include "ui/settings_panel.h"

std::int32_t clientCount = minClientCount;
bool newsPanelOpen = false;
bool settingsPanelOpen = false;

namespace {

constexpr float W = windowWidth;
constexpr float H = windowHeight;

constexpr const char* minimiseGlyph = "\xEF\x8B\x91"; // U+F2D1 window-minimise
constexpr const char* closeGlyph = "\xEF\x80\x8D";    // U+F00D close cross
constexpr std::size_t newsWrapWidth = 35;
constexpr float newsBoxWidth = 220.0f;

ImVec4 toImVec4(const Colour& colour) {
    return ImVec4(colour.red, colour.green, colour.blue, colour.alpha);
}

ImTextureID textureId(const Picture& picture) {
    return reinterpret_cast<ImTextureID>(static_cast<std::uintptr_t>(picture.texture));
}

// Server texts go through TextUnformatted: never a format string, and no length limit.
void colouredText(const Colour& colour, std::string_view text) {
    ImGui::PushStyleColor(ImGuiCol_Text, toImVec4(colour));
    ImGui::TextUnformatted(text.data(), text.data() + text.size());
    ImGui::PopStyleColor();
}

void drawProgressBar(std::int32_t percent) {
    // A stray value from a download never paints outside the track.
    percent = std::clamp(percent, 0, 100);
    const float x0 = W * 0.5f - 300.0f;
    const float y = H - 50.0f;
    drawLine(x0 - 2.0f, y, x0 + 600.0f, y, Colour{1.0f, 1.0f, 1.0f, 0.3f}, 9.0f);
    drawLine(x0, y, x0 + 6.0f * static_cast<float>(percent), y, Colour{0.0f, 1.0f, 0.0f, 1.0f}, 4.5f);
}

// Below the bar, centred like the status line: bytes, speed and time left of the file under way.
void drawDownloadLine(const std::string& line) {
    if (line.empty()) return;
    const float width = ImGui::CalcTextSize(line.data(), line.data() + line.size()).x;
    ImGui::SetCursorPos(ImVec2(std::floor(W * 0.5f - width * 0.5f), H - 35.0f));
    colouredText(Colour{1.0f, 1.0f, 1.0f, 0.8f}, line);
}

void pictureButton(const Picture& picture, float y, void (*onClick)()) {
    if (!picture) return;
    ImGui::SetCursorPos(ImVec2(10.0f, y));
    if (ImGui::ImageButton(textureId(picture), ImVec2(32.0f, 32.0f), ImVec2(0.0f, 0.0f), ImVec2(1.0f, 1.0f),
                           -1, ImVec4(0.0f, 0.0f, 0.0f, 0.0f), ImVec4(1.0f, 1.0f, 1.0f, 1.0f)))
        onClick();
}

// The news box's inner width: the box less the padding on both sides.
float newsTextWidth() {
    return newsBoxWidth - 2.0f * ImGui::GetStyle().WindowPadding.x;
}

float characterWidth(std::string_view character) {
    const char* begin = character.data();
    return ImGui::GetFont()
        ->CalcTextSizeA(ImGui::GetFontSize(), FLT_MAX, 0.0f, begin, begin + character.size())
        .x;
}

void drawNewsPanel(const std::vector<std::string>& newsItems) {
    drawSidePanel(0.2f);
    if (ImGui::BeginChild("##News", ImVec2(240.0f, H - 230.0f), false, ImGuiWindowFlags_NoScrollbar)) {
        drawHeading("Latest News");
        ImGui::SetCursorPosY(30.0f);
        for (std::size_t index = 0; index < newsItems.size(); ++index) {
            const std::string& item = newsItems[index];
            ImGui::SetCursorPosX(10.0f);
            const std::string wrapped = wrapText(item, newsWrapWidth, newsTextWidth(), characterWidth);
            ImGui::PushStyleColor(ImGuiCol_ChildBg, ImVec4(0.0f, 0.0f, 0.0f, 0.3f));
            const float height =
                std::ceil(ImGui::CalcTextSize(wrapped.data(), wrapped.data() + wrapped.size()).y);
            // The box's identity is its text within its position, so equal texts stay two boxes.
            ImGui::PushID(static_cast<int>(index));
            const ImGuiID boxId = ImGui::GetID(item.data(), item.data() + item.size());
            ImGui::PopID();
            if (ImGui::BeginChild(boxId, ImVec2(newsBoxWidth, height + 20.0f), true,
                                  ImGuiWindowFlags_NoScrollbar)) {
                const bool hovered = ImGui::IsWindowHovered();
                colouredText(hovered ? Colour{1.0f, 0.0f, 0.0f, 1.0f} : Colour{1.0f, 1.0f, 1.0f, 0.8f},
                             wrapped);
            }
            ImGui::EndChild();
            ImGui::PopStyleColor();
            ImGui::SetCursorPosY(ImGui::GetCursorPosY() + 5.0f);
        }
        ImGui::SetCursorPosX(25.0f);
        if (ImGui::Button("Read More", ImVec2(190.0f, 30.0f))) platform::openAddress(updateBaseUrl);
    }
    ImGui::EndChild();
}

// Returns false when startGame came back, i.e. the game did not start.
bool drawReadyControls(const LauncherSnapshot& snapshot) {
    ImGui::SetCursorPos(ImVec2(W - 220.0f + 45.0f, H - 100.0f));
    if (ImGui::Button("-", ImVec2(25.0f, 25.0f))) clientCount = steppedClientCount(clientCount, -1);
    fillRect(W - 220.0f + 72.0f, H - 105.0f, 25.0f, 25.0f, Colour{0.0f, 0.0f, 0.0f, 0.3f}, 5.0f);
    ImGui::SetCursorPos(ImVec2(W - 220.0f + 85.0f, H - 95.0f));
    ImGui::Text("%d", clientCount);
    ImGui::SetCursorPos(ImVec2(W - 220.0f + 110.0f, H - 100.0f));
    if (ImGui::Button("+", ImVec2(25.0f, 25.0f))) clientCount = steppedClientCount(clientCount, +1);

    ImGui::SetCursorPos(ImVec2(W - 220.0f, H - 60.0f));
    if (ImGui::Button("START GAME", ImVec2(180.0f, 35.0f))) {
        startGame(clientCount);
        return false;
    }

    const ImVec4 clear(0.0f, 0.0f, 0.0f, 0.0f);
    ImGui::PushStyleColor(ImGuiCol_Button, clear);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, clear);
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, clear);
    pictureButton(newsPicture, 200.0f, [] {
        newsPanelOpen = true;
        settingsPanelOpen = false;
    });
    pictureButton(settingsButtonPicture, 250.0f, [] {
        settingsPanelOpen = true;
        newsPanelOpen = false;
    });
    pictureButton(communityButtonPicture, 300.0f, [] { platform::openAddress(communityPageUrl); });
    pictureButton(supportButtonPicture, 350.0f, [] { platform::openAddress(supportPageUrl); });
    ImGui::PopStyleColor(3);

    if (settingsPanelOpen)
        drawSettingsPanel();
    else if (newsPanelOpen)
        drawNewsPanel(snapshot.newsItems);
    return true;
}

void drawStatusLine(const std::string& statusText) {
    if (statusText.empty()) return;
    const std::string joined = "STATUS:" + statusText;
    const int width = wholePixelWidth(ImGui::CalcTextSize(joined.data(), joined.data() + joined.size()).x);
    ImGui::SetCursorPos(ImVec2(W * 0.5f - static_cast<float>(width) * 0.5f, H - 100.0f));
    colouredText(goldColour, "STATUS:");
    ImGui::SameLine();
    colouredText(whiteColour, statusText);
}

void drawVersionLine(const std::string& gameVersion) {
    ImGui::SetCursorPos(ImVec2(30.0f, H - 30.0f));
    colouredText(goldColour, "GAME VERSION:");
    ImGui::SameLine();
    colouredText(whiteColour, gameVersion);
}

} // namespace

std::size_t utf8CharacterLength(std::string_view text) {
    if (text.empty()) return 0;
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length > text.size()) return 1;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
    return length;
}

std::string wrapText(std::string_view text, std::size_t width, float boxWidth,
                     const CharacterWidth& measure) {
    if (width == 0) return std::string(text);
    std::string wrapped;
    wrapped.reserve(text.size() + text.size() / width + 8);
    std::size_t count = 0;
    float lineWidth = 0.0f;
    const auto breakLine = [&] {
        wrapped.push_back('\n');
        count = 0;
        lineWidth = 0.0f;
    };
    for (std::size_t at = 0; at < text.size();) {
        const std::string_view character = text.substr(at, utf8CharacterLength(text.substr(at)));
        at += character.size();
        if (count > 0 && count + character.size() > width) breakLine();
        const bool lineEnd = character == "\n";
        // Without a measure every width is 0 and only the count breaks lines.
        const float advance = measure && !lineEnd ? measure(character) : 0.0f;
        if (!lineEnd && lineWidth > 0.0f && lineWidth + advance > boxWidth) breakLine();
        wrapped.append(character);
        count += character.size();
        lineWidth = lineEnd ? 0.0f : lineWidth + advance;
        if (count >= width) breakLine();
    }
    return wrapped;
}

std::int32_t steppedClientCount(std::int32_t count, std::int32_t step) {
    const std::int64_t next = static_cast<std::int64_t>(count) + step;
    if (next < minClientCount || next > maxClientCount) return count;
    return static_cast<std::int32_t>(next);
}

bool drawMainScreen(const LauncherSnapshot& snapshot) {
    if (backgroundPicture) {
        ImGui::SetCursorPos(ImVec2(0.0f, 0.0f));
        ImGui::Image(textureId(backgroundPicture), ImVec2(W + 10.0f, H + 10.0f), ImVec2(0.0f, 0.0f),
                     ImVec2(1.0f, 1.0f), ImVec4(1.0f, 1.0f, 1.0f, 1.0f), ImVec4(0.0f, 0.0f, 0.0f, 0.0f));
    }
    ImGui::SetCursorPos(ImVec2(W - 100.0f, 20.0f));
    if (ImGui::Button(minimiseGlyph, ImVec2(40.0f, 20.0f))) requestWindowMinimise();
    ImGui::SetCursorPos(ImVec2(W - 50.0f, 20.0f));
    // The process ends at once; the other threads may be mid-download, so no destructors run.
    if (ImGui::Button(closeGlyph, ImVec2(40.0f, 20.0f))) platform::endProcess(1);

    switch (snapshot.updatePhase) {
    case launcherDownloadPhase:
    case patchingPhase:
    case verifyingPhase:
        drawProgressBar(snapshot.progressPercent);
        drawDownloadLine(snapshot.downloadLine);
        break;
    case readyPhase:
        if (!drawReadyControls(snapshot)) return false;
        break;
    default:
        break;
    }
    drawStatusLine(snapshot.statusText);
    drawVersionLine(snapshot.gameVersion);
    return true;
}
