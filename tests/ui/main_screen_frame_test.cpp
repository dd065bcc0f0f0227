// The main screen drawn headless: a Dear ImGui context with the default font and no renderer,
// one "Main" window as the frame loop makes it, and the resulting vertices and state inspected.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include "core/launcher_state.h"
#include "platform/dialogs.h"
#include "platform/display.h"
#include "ui/draw.h"
#include "ui/main_screen.h"
#include "ui/resources.h"

namespace {

constexpr ImU32 green = IM_COL32(0, 255, 0, 255);
constexpr ImU32 gold = IM_COL32(255, 215, 0, 255);
constexpr ImU32 white = IM_COL32(255, 255, 255, 255);
constexpr ImU32 dimWhite = IM_COL32(255, 255, 255, 204);

struct Span {
    float minX = 1e9f, maxX = -1e9f;
    int vertices = 0;
};

class MainScreenFrame : public ::testing::Test {
  protected:
    void SetUp() override {
        ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DisplaySize = ImVec2(windowWidth, windowHeight);
        io.DeltaTime = 0.01f;
        unsigned char* pixels = nullptr;
        int width = 0, height = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
        io.Fonts->SetTexID(reinterpret_cast<ImTextureID>(1));
        clientCount = 1;
        newsPanelOpen = settingsPanelOpen = false;
        newsPicture.texture = 11;
        settingsButtonPicture.texture = 12;
        platform::setScreenSizeHook([] { return platform::ScreenSize{1920, 1080}; });
        platform::setDialogHook([this](const platform::DialogRequest& request) {
            dialogs.push_back(request.text);
            return platform::DialogAnswer::ok;
        });
    }
    void TearDown() override {
        platform::setDialogHook({});
        platform::setScreenSizeHook({});
        newsPicture.texture = 0;
        settingsButtonPicture.texture = 0;
        ImGui::DestroyContext();
    }

    // One frame as the frame loop builds it; false when the screen asked the thread to stop.
    bool frame(float mouseX = -1.0f, float mouseY = -1.0f, bool mouseDown = false) {
        ImGuiIO& io = ImGui::GetIO();
        io.MousePos = mouseX < 0 ? ImVec2(-FLT_MAX, -FLT_MAX) : ImVec2(mouseX, mouseY);
        io.MouseDown[0] = mouseDown;
        ImGui::NewFrame();
        ImGui::SetNextWindowPos(ImVec2(-5, -5), ImGuiCond_Always);
        ImGui::SetNextWindowSize(ImVec2(windowWidth + 10, windowHeight + 30), ImGuiCond_Always);
        bool keepRunning = true;
        if (ImGui::Begin("Main", nullptr,
                         ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                             ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoBackground))
            keepRunning = drawMainScreen(snapshot);
        ImGui::End();
        ImGui::Render();
        return keepRunning;
    }

    // A click as a player makes it: hover, press, release, over three frames.
    bool click(float x, float y) { return frame(x, y) && frame(x, y, true) && frame(x, y) && frame(x, y); }

    Span verticesOf(ImU32 colour, float minY, float maxY) {
        Span span;
        const ImDrawList* list = ImGui::FindWindowByName("Main")->DrawList;
        for (const ImDrawVert& v : list->VtxBuffer) {
            if (v.col != colour || v.pos.y < minY || v.pos.y > maxY) continue;
            span.minX = std::min(span.minX, v.pos.x);
            span.maxX = std::max(span.maxX, v.pos.x);
            ++span.vertices;
        }
        return span;
    }

    LauncherSnapshot snapshot;
    std::vector<std::string> dialogs;
};

} // namespace

TEST_F(MainScreenFrame, progress_fill_grows_six_pixels_per_percent_from_x_270) {
    snapshot.updatePhase = 3;
    snapshot.progressPercent = 50;
    frame();
    Span fill = verticesOf(green, 610, 630);
    EXPECT_NEAR(fill.minX, 270.0f, 1.0f);
    EXPECT_NEAR(fill.maxX, 570.0f, 1.0f);

    snapshot.progressPercent = 100;
    frame();
    fill = verticesOf(green, 610, 630);
    EXPECT_NEAR(fill.maxX, 870.0f, 1.0f);

    snapshot.progressPercent = 0;
    frame();
    fill = verticesOf(green, 610, 630);
    EXPECT_LT(fill.maxX - fill.minX, 1.0f) << "a fill shows at 0 percent";
}

TEST_F(MainScreenFrame, no_progress_bar_or_download_line_outside_the_busy_phases) {
    snapshot.progressPercent = 100;
    snapshot.downloadLine = "1.0 MB of 4.0 MB  -  stalled";
    for (int phase : {0, 1, 5}) {
        snapshot.updatePhase = phase;
        frame();
        EXPECT_EQ(verticesOf(green, 610, 630).vertices, 0) << "phase " << phase;
        EXPECT_EQ(verticesOf(dimWhite, 625, 650).vertices, 0) << "phase " << phase;
    }
    // Under the bar, centred on the window like the status line.
    snapshot.updatePhase = 3;
    frame();
    const Span line = verticesOf(dimWhite, 625, 650);
    const float width = ImGui::CalcTextSize(snapshot.downloadLine.c_str()).x;
    ASSERT_GT(line.vertices, 0);
    EXPECT_NEAR(line.minX, 570.0f - width / 2.0f - 5.0f, 1.5f);
    snapshot.downloadLine.clear();
    frame();
    EXPECT_EQ(verticesOf(dimWhite, 625, 650).vertices, 0) << "an empty line draws nothing";
}

TEST_F(MainScreenFrame, status_line_is_centred_on_its_rounded_width_and_hidden_when_empty) {
    snapshot.statusText = "Ready.";
    frame();
    const int width = wholePixelWidth(ImGui::CalcTextSize("STATUS:Ready.").x);
    const Span label = verticesOf(gold, 560, 590);
    ASSERT_GT(label.vertices, 0);
    // Widget positions are 5 pixels left of client pixels; glyphs may start a pixel inside.
    EXPECT_NEAR(label.minX, 570.0f - static_cast<float>(width) / 2.0f - 5.0f, 1.5f);

    snapshot.statusText.clear();
    frame();
    EXPECT_EQ(verticesOf(gold, 560, 590).vertices, 0) << "the STATUS: label shows without a status";
    EXPECT_GT(verticesOf(gold, 630, 650).vertices, 0) << "the version line is always drawn";
}

TEST_F(MainScreenFrame, server_texts_are_drawn_verbatim_not_as_formats) {
    snapshot.statusText = "%s%d%n";
    snapshot.gameVersion = "%%";
    frame();
    // One quad per visible glyph: six for the status, two for the version.
    EXPECT_EQ(verticesOf(white, 560, 590).vertices, 6 * 4);
    EXPECT_EQ(verticesOf(white, 630, 650).vertices, 2 * 4);
}

TEST_F(MainScreenFrame, start_button_exists_only_when_ready_and_a_failed_start_stops_the_thread) {
    constexpr float startX = 1005, startY = 622;
    snapshot.updatePhase = 4;
    EXPECT_TRUE(click(startX, startY));
    EXPECT_TRUE(dialogs.empty());

    snapshot.updatePhase = 5;
    // No game client next to the test program: the start fails, its box is answered, and the
    // screen tells the frame loop to stop.
    EXPECT_FALSE(click(startX, startY));
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0], "Failed To Start Halcyra.exe");
}

TEST_F(MainScreenFrame, client_count_buttons_stay_within_one_to_fifty) {
    snapshot.updatePhase = 5;
    click(967, 577); // "-"
    EXPECT_EQ(clientCount, 1);
    click(1037, 577); // "+"
    EXPECT_EQ(clientCount, 2);
    clientCount = 50;
    click(1037, 577);
    EXPECT_EQ(clientCount, 50);
}

TEST_F(MainScreenFrame, icons_switch_between_the_two_panels_only_when_ready) {
    snapshot.updatePhase = 3;
    click(25, 214);
    EXPECT_FALSE(newsPanelOpen);

    snapshot.updatePhase = 5;
    frame();
    EXPECT_FALSE(newsPanelOpen || settingsPanelOpen);
    click(25, 214);
    EXPECT_TRUE(newsPanelOpen);
    EXPECT_FALSE(settingsPanelOpen);
    click(25, 264);
    EXPECT_TRUE(settingsPanelOpen);
    EXPECT_FALSE(newsPanelOpen);
}

TEST_F(MainScreenFrame, equal_news_texts_are_two_boxes) {
    snapshot.updatePhase = 5;
    snapshot.newsItems = {"Same", "Same", std::string(70, 'n')};
    newsPanelOpen = true;
    frame();
    int newsChildren = 0;
    for (const ImGuiWindow* window : ImGui::GetCurrentContext()->Windows)
        if (window->ParentWindow != nullptr &&
            std::string_view(window->ParentWindow->Name).find("##News") != std::string_view::npos)
            ++newsChildren;
    EXPECT_EQ(newsChildren, 3);
}
