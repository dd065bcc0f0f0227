#include "ui/sdl_gl/input_feed.h"

#include <cfloat>

#include <gtest/gtest.h>
#include <imgui.h>

namespace {

SDL_Event mouseButton(Uint32 type, Uint8 button, int x, int y) {
    SDL_Event event{};
    event.type = type;
    event.button.button = button;
    event.button.x = x;
    event.button.y = y;
    return event;
}

SDL_Event windowEvent(Uint8 what, int data1 = 0, int data2 = 0) {
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = what;
    event.window.data1 = data1;
    event.window.data2 = data2;
    return event;
}

class InputFeedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ImGui::CreateContext();
        setupInputFeed(ImGui::GetIO(), feed, 1140, 670);
    }
    void TearDown() override { ImGui::DestroyContext(); }
    void apply(const SDL_Event& event) { applyWindowEvent(ImGui::GetIO(), feed, event); }
    ImGuiIO& io() { return ImGui::GetIO(); }
    InputFeed feed;
};

} // namespace

TEST_F(InputFeedTest, a_click_shorter_than_a_frame_is_seen_by_exactly_one_frame) {
    apply(windowEvent(SDL_WINDOWEVENT_ENTER));
    apply(mouseButton(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 1000, 600));
    apply(mouseButton(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 1000, 600));
    prepareFrameInput(io(), feed, 0.01f);
    EXPECT_TRUE(io().MouseDown[0]);
    EXPECT_EQ(io().MousePos.x, 1000.0f);
    EXPECT_EQ(io().MousePos.y, 600.0f);
    prepareFrameInput(io(), feed, 0.01f);
    EXPECT_FALSE(io().MouseDown[0]);
}

TEST_F(InputFeedTest, a_held_button_stays_down_until_released) {
    apply(mouseButton(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, 5, 5));
    prepareFrameInput(io(), feed, 0.01f);
    prepareFrameInput(io(), feed, 0.01f);
    EXPECT_TRUE(io().MouseDown[1]);
    apply(mouseButton(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT, 5, 5));
    prepareFrameInput(io(), feed, 0.01f);
    EXPECT_FALSE(io().MouseDown[1]);
}

TEST_F(InputFeedTest, the_pointer_leaving_the_window_hides_it_from_the_interface) {
    SDL_Event motion{};
    motion.type = SDL_MOUSEMOTION;
    motion.motion.x = 20;
    motion.motion.y = 30;
    apply(motion);
    prepareFrameInput(io(), feed, 0.01f);
    EXPECT_EQ(io().MousePos.x, 20.0f);
    apply(windowEvent(SDL_WINDOWEVENT_LEAVE));
    prepareFrameInput(io(), feed, 0.01f);
    EXPECT_EQ(io().MousePos.x, -FLT_MAX);
}

TEST_F(InputFeedTest, keys_and_modifiers_come_from_the_key_events) {
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.keysym.scancode = SDL_SCANCODE_TAB;
    key.key.keysym.mod = KMOD_LCTRL;
    apply(key);
    EXPECT_TRUE(io().KeysDown[SDL_SCANCODE_TAB]);
    EXPECT_TRUE(io().KeyCtrl);
    EXPECT_FALSE(io().KeyShift);
    key.type = SDL_KEYUP;
    key.key.keysym.mod = KMOD_NONE;
    apply(key);
    EXPECT_FALSE(io().KeysDown[SDL_SCANCODE_TAB]);
    EXPECT_FALSE(io().KeyCtrl);
}

TEST_F(InputFeedTest, size_and_minimising_follow_the_window_events) {
    prepareFrameInput(io(), feed, 0.01f);
    EXPECT_EQ(io().DisplaySize.x, 1140.0f);
    EXPECT_EQ(io().DisplaySize.y, 670.0f);
    apply(windowEvent(SDL_WINDOWEVENT_MINIMIZED));
    EXPECT_TRUE(feed.minimised);
    apply(windowEvent(SDL_WINDOWEVENT_RESTORED));
    EXPECT_FALSE(feed.minimised);
    apply(windowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, 800, 600));
    prepareFrameInput(io(), feed, 0.01f);
    EXPECT_EQ(io().DisplaySize.x, 800.0f);
}

TEST_F(InputFeedTest, wheel_and_text_reach_the_interface) {
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.y = -3;
    apply(wheel);
    EXPECT_EQ(io().MouseWheel, -1.0f);
    SDL_Event text{};
    text.type = SDL_TEXTINPUT;
    std::snprintf(text.text.text, sizeof text.text.text, "%s", "7\xE2\x82\xAC");
    apply(text);
    ASSERT_EQ(io().InputQueueCharacters.Size, 2);
    EXPECT_EQ(io().InputQueueCharacters[1], 0x20AC);
}
