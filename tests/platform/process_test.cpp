#include "platform/process.h"

#include "../support/test_processes.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ProcessTest : public ::testing::Test {
  protected:
    std::string script(const std::string& name, const std::string& body) const {
        const fs::path path = root / name;
        std::ofstream(path) << "#!/bin/sh\n" << body;
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }
    // What a started program wrote, once it is complete (the program renames it into place).
    std::string waitForFile(const std::string& name) const {
        for (int i = 0; i < 1000 && !fs::exists(root / name); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return dltest::readText((root / name).string());
    }
    dltest::TestFolder scratch;
    fs::path root{scratch.path()};
};

TEST_F(ProcessTest, a_detached_program_runs_in_a_session_of_its_own) {
    const std::string program = script("launcher", "cd \"$(dirname \"$0\")\"\nread -r stat < /proc/$$/stat\n"
                                                   "echo \"$$ $stat\" > stat.tmp && mv stat.tmp stat\n");
    ASSERT_TRUE(platform::startDetached(program));
    std::istringstream stat(waitForFile("stat"));
    int pid = 0, statPid = 0, parent = 0, group = 0, session = 0;
    std::string name, state;
    stat >> pid >> statPid >> name >> state >> parent >> group >> session;
    ASSERT_NE(pid, 0) << "the program did not run";
    EXPECT_EQ(session, pid) << "not a session leader";
    EXPECT_NE(parent, ::getpid()) << "still our child";
}

TEST_F(ProcessTest, a_program_that_cannot_start_is_reported) {
    EXPECT_FALSE(platform::startDetached((root / "absent").string()));
    const fs::path plain = root / "not_executable";
    std::ofstream(plain) << "#!/bin/sh\n";
    EXPECT_FALSE(platform::startDetached(plain.string()));
}

TEST_F(ProcessTest, an_address_is_handed_to_xdg_open) {
    script(
        "xdg-open",
        "printf '%s' \"$1\" > \"$(dirname \"$0\")/url.tmp\" && mv \"$(dirname \"$0\")/url.tmp\" \"$(dirname "
        "\"$0\")/url\"\n");
    const char* oldPath = std::getenv("PATH");
    const std::string saved = oldPath ? oldPath : "";
    ::setenv("PATH", (root.string() + ":" + saved).c_str(), 1);
    platform::openAddress("https://community.ostrevan.example/page?a=1&b=2");
    ::setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(waitForFile("url"), "https://community.ostrevan.example/page?a=1&b=2");
}

TEST(ProcessDeathTest, ending_the_process_flushes_buffered_output_and_keeps_the_code) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static char buffer[256];
            std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
            std::fputs("last words", stderr);
            platform::endProcess(7);
        },
        ::testing::ExitedWithCode(7), "last words");
}

TEST(ProcessDeathTest, end_steps_still_registered_run_newest_first_before_the_end) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const platform::EndStep first([] { std::fputs("first;", stderr); });
            {
                const platform::EndStep withdrawn([] { std::fputs("withdrawn;", stderr); });
            }
            // Registered on another thread and still alive when this one ends the process.
            std::optional<platform::EndStep> second;
            std::thread([&] { second.emplace([] { std::fputs("second;", stderr); }); }).join();
            platform::endProcess(3);
        },
        ::testing::ExitedWithCode(3), "^second;first;$");
}

} // namespace
