// The screen size that full-screen detection and the resolution sliders use, from a real (Xvfb)
// display. SDL's video subsystem starts once per process, so each case runs in a child process,
// which ends the way the launcher does (_exit: no exit handlers, so no leak report on SDL's and
// D-Bus's lifetime allocations).
#include "platform/display.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>

#include "../support/virtual_display.h"

namespace {

constexpr const char* sharedDisplayVariable = "SCREEN_TEST_DISPLAY";

// Children of death tests run the test again from its start; they use the parent's server.
class ScreenSizeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        if (const char* shared = std::getenv(sharedDisplayVariable)) {
            display = shared;
            return;
        }
        if (!dltest::VirtualDisplay::available()) GTEST_SKIP() << "Xvfb is needed";
        server.emplace("1366x768x24", 250 + ::getpid() % 40);
        ASSERT_TRUE(server->running()) << "Xvfb did not start";
        display = server->name();
        ::setenv(sharedDisplayVariable, display.c_str(), 1);
    }
    void TearDown() override { ::unsetenv(sharedDisplayVariable); }

    std::optional<dltest::VirtualDisplay> server;
    std::string display;
};

int exitCodeFor(platform::ScreenSize size, int width, int height) {
    return size.width == width && size.height == height ? 0 : 1;
}

TEST_F(ScreenSizeTest, the_screen_size_is_the_desktop_mode_of_the_display) {
    EXPECT_EXIT(
        {
            ::setenv("DISPLAY", display.c_str(), 1);
            ::unsetenv("SDL_VIDEODRIVER");
            std::_Exit(exitCodeFor(platform::screenSize(), 1366, 768));
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ScreenSizeTest, without_a_display_the_screen_size_is_zero) {
    EXPECT_EXIT(
        {
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            ::unsetenv("SDL_VIDEODRIVER");
            std::_Exit(exitCodeFor(platform::screenSize(), 0, 0));
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
