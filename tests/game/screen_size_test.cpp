// The screen size that full-screen detection and the resolution sliders use, from a real (Xvfb)
// display. SDL's video subsystem starts once per process, so each case runs in a child process,
// which ends the way the launcher does (_exit: no exit handlers, so no leak report on SDL's and
// D-Bus's lifetime allocations).
#include "platform/display.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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
        if (!std::filesystem::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "Xvfb is needed";
        for (int number = 250 + ::getpid() % 40; number < 350 && display.empty(); ++number)
            if (!std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number)) &&
                !std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock"))
                display = ":" + std::to_string(number);
        ASSERT_FALSE(display.empty());
        const char* arguments[] = {"Xvfb", display.c_str(), "-nolisten", "tcp", "-noreset", "-screen",
                                   "0",    "1366x768x24",   nullptr};
        ASSERT_EQ(
            ::posix_spawn(&server, "/usr/bin/Xvfb", nullptr, nullptr, const_cast<char**>(arguments), environ),
            0);
        const std::string socket = "/tmp/.X11-unix/X" + display.substr(1);
        for (int i = 0; i < 500 && !std::filesystem::exists(socket); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(std::filesystem::exists(socket)) << "Xvfb did not start";
        ::setenv(sharedDisplayVariable, display.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv(sharedDisplayVariable);
        if (server > 0) {
            ::kill(server, SIGTERM);
            ::waitpid(server, nullptr, 0);
        }
    }

    std::string display;
    pid_t server = 0;
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
