#include "ui/draw.h"

#include <gtest/gtest.h>
#include <imgui.h>

TEST(ColourPacking, matches_imgui_byte_layout) {
    EXPECT_EQ(packColour({1.0f, 0.843137f, 0.0f, 1.0f}), IM_COL32(255, 215, 0, 255));
    EXPECT_EQ(packColour({1.0f, 0.6f, 0.0f, 0.490196f}), IM_COL32(255, 153, 0, 125));
    EXPECT_EQ(packColour({0.0f, 0.0f, 0.0f, 0.3f}), IM_COL32(0, 0, 0, 77));
    EXPECT_EQ(packColour({0.0f, 0.0f, 1.0f, 0.0f}), 0x00FF0000u);
}

TEST(ColourPacking, rounds_half_up_and_clamps_out_of_range_channels) {
    // 0.5 * 255 = 127.5 rounds to 128; 0.2 * 255 = 51.
    EXPECT_EQ(packColour({0.5f, 0.2f, -3.0f, 7.0f}), IM_COL32(128, 51, 0, 255));
}

TEST(WindowCentring, halves_the_screen_as_an_integer_first) {
    auto at = [](int w, int h) {
        const WindowPosition p = centredWindowPosition(w, h);
        return std::make_pair(p.x, p.y);
    };
    EXPECT_EQ(at(1920, 1080), std::make_pair(390, 205));
    EXPECT_EQ(at(1366, 768), std::make_pair(113, 49));
    EXPECT_EQ(at(1365, 768), std::make_pair(112, 49));
    // A screen smaller than the window puts it partly off screen; nothing corrects that.
    EXPECT_EQ(at(1024, 600), std::make_pair(-58, -35));
}

TEST(StatusWidth, rounds_any_fraction_up_to_a_whole_pixel) {
    EXPECT_EQ(wholePixelWidth(100.0f), 100);
    EXPECT_EQ(wholePixelWidth(100.01f), 101);
    EXPECT_EQ(wholePixelWidth(99.5f), 100);
    EXPECT_EQ(wholePixelWidth(0.0f), 0);
}

class DrawListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ImGui::CreateContext();
        list = new ImDrawList(ImGui::GetDrawListSharedData());
        list->_ResetForNewFrame();
        list->PushClipRectFullScreen();
    }
    void TearDown() override {
        delete list;
        ImGui::DestroyContext();
    }
    ImDrawList* list = nullptr;
};

TEST_F(DrawListTest, fill_with_transparent_colour_draws_nothing) {
    fillRect(10, 10, 50, 50, Colour{1, 1, 1, 0.001f}, 5, list);
    EXPECT_EQ(list->VtxBuffer.Size, 0);
    fillRect(10, 10, 50, 50, Colour{1, 1, 1, 0.2f}, 0, list);
    EXPECT_EQ(list->VtxBuffer.Size, 4);
    EXPECT_EQ(list->VtxBuffer[0].col, IM_COL32(255, 255, 255, 51));
}

TEST_F(DrawListTest, line_spans_the_given_absolute_points) {
    drawLine(268, 620, 870, 620, Colour{0, 1, 0, 1}, 4.5f, list);
    ASSERT_GT(list->VtxBuffer.Size, 0);
    float minX = 1e9f, maxX = -1e9f;
    for (const ImDrawVert& v : list->VtxBuffer) {
        minX = std::min(minX, v.pos.x);
        maxX = std::max(maxX, v.pos.x);
        EXPECT_EQ(v.col, IM_COL32(0, 255, 0, 255));
    }
    EXPECT_NEAR(minX, 268.5f, 1.0f);
    EXPECT_NEAR(maxX, 870.5f, 1.0f);
}
