#include "platform/dialogs.h"

#include "../support/virtual_display.h"

#include <SDL2/SDL.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <thread>
#include <unistd.h>

namespace {

using platform::DialogAnswer;
using platform::DialogButtons;
using platform::DialogIcon;

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string commandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
        ::pclose(pipe);
    }
    return output;
}

TEST(Dialogs, the_hook_answers_in_place_of_the_screen) {
    std::optional<platform::DialogRequest> seen;
    platform::setDialogHook([&](const platform::DialogRequest& request) {
        seen = request;
        return DialogAnswer::no;
    });
    EXPECT_EQ(platform::showMessageBox("Confirmation", "Cannot connect to the server.", DialogButtons::yesNo,
                                       DialogIcon::question),
              DialogAnswer::no);
    platform::setDialogHook({});
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->caption, "Confirmation");
    EXPECT_EQ(seen->text, "Cannot connect to the server.");
    EXPECT_EQ(seen->buttons, DialogButtons::yesNo);
    EXPECT_EQ(seen->icon, DialogIcon::question);
}

TEST(Dialogs, a_box_without_any_display_fails_instead_of_crashing) {
    ScopedEnvironment display("DISPLAY", nullptr);
    ScopedEnvironment wayland("WAYLAND_DISPLAY", nullptr);
    EXPECT_EQ(
        platform::showMessageBox("Confirmation", "nowhere to show", DialogButtons::ok, DialogIcon::error),
        DialogAnswer::failed);
}

// A private X server for the real boxes.
class XvfbDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!dltest::VirtualDisplay::available() || !std::filesystem::exists("/usr/bin/xdotool"))
            GTEST_SKIP() << "Xvfb and xdotool are needed";
        ASSERT_TRUE(server.running()) << "Xvfb did not start";
        display = server.name();
    }
    // Shows a box on the private display and presses `key` on it until it answers.
    DialogAnswer answerWithKey(DialogButtons buttons, const std::string& key) {
        ScopedEnvironment scoped("DISPLAY", display.c_str());
        const std::string caption = "Ostrevan dialog test";
        // From a thread other than the main one, as the update worker raises its boxes.
        auto answer = std::async(std::launch::async, [&] {
            const DialogAnswer given =
                platform::showMessageBox(caption, "Close the game?", buttons, DialogIcon::warning);
            // SDL keeps per-thread data for every thread that calls it; this thread ends here.
            SDL_TLSCleanup();
            return given;
        });
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (answer.wait_for(std::chrono::milliseconds(200)) == std::future_status::ready) break;
            const std::string window =
                commandOutput("LC_ALL=C xwininfo -display " + display + " -root -tree | grep '\"" + caption +
                              "\"' | awk '{print $1}' | head -n1");
            if (window.empty()) continue;
            commandOutput("xdotool windowfocus " + window + " 2>/dev/null; xdotool keydown " + key +
                          "; sleep 0.05; xdotool keyup " + key);
        }
        if (answer.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            // Taking the display away ends the box, so a broken answer fails instead of hanging.
            server.stop();
        }
        return answer.get();
    }
    dltest::VirtualDisplay server{"1024x768x24", 150 + ::getpid() % 40};
    std::string display;
};

TEST_F(XvfbDialogTest, return_answers_yes_and_escape_answers_no) {
    EXPECT_EQ(answerWithKey(DialogButtons::yesNo, "Return"), DialogAnswer::yes);
    EXPECT_EQ(answerWithKey(DialogButtons::yesNo, "Escape"), DialogAnswer::no);
}

TEST_F(XvfbDialogTest, a_single_ok_answers_either_key) {
    EXPECT_EQ(answerWithKey(DialogButtons::ok, "Return"), DialogAnswer::ok);
    EXPECT_EQ(answerWithKey(DialogButtons::ok, "Escape"), DialogAnswer::ok);
}

} // namespace
