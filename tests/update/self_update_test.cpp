#include "update/self_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "platform/files.h"
#include "update_test_support.h"

namespace {

using namespace updtest;
using Pieces = std::vector<std::string>;

const std::string newLauncher = "#!/bin/sh\necho new > \"$(dirname \"$0\")/new-started\"\n";
const std::string oldLauncher = "#!/bin/sh\necho old > \"$(dirname \"$0\")/old-started\"\n";

bool isExecutable(const std::string& path) {
    return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

void writeProgram(const std::string& path, const std::string& content) {
    writeText(path, content);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

// The started launcher runs on its own; give it a generous while to leave its mark.
bool appears(const std::string& path) {
    for (int i = 0; i < 500 && !fs::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return fs::exists(path);
}

std::string serverAnswer(const std::string& text) {
    return dltest::message(1001, dltest::field(text));
}

TEST(LauncherNames, carry_the_brand_and_no_suffix_on_this_system) {
    EXPECT_EQ(launcherFileName(), "OstrevanLauncher");
    EXPECT_EQ(oldLauncherFileName(), "OstrevanLauncher_OLDVersion");
}

class SelfUpdateTest : public UpdateTest {
  protected:
    void SetUp() override {
        UpdateTest::SetUp();
        ASSERT_TRUE(server.started());
    }
    std::string launcher() const { return install + "OstrevanLauncher"; }
    std::string oldCopy() const { return install + "OstrevanLauncher_OLDVersion"; }
    void replace() {
        ::testing::internal::CaptureStderr();
        replaceLauncherIn(install, server.url("patches/Launcher/OstrevanLauncher"));
        errors = ::testing::internal::GetCapturedStderr();
    }
    dltest::HttpTestServer server{served};
    std::string errors;
};

TEST_F(SelfUpdateTest, running_launcher_moves_aside_and_the_published_one_is_started_in_its_place) {
    writeProgram(launcher(), oldLauncher);
    serve("patches/Launcher/OstrevanLauncher", newLauncher);
    replace();
    EXPECT_EQ(errors, "");
    EXPECT_EQ(requestedPaths(server), Pieces{"/patches/Launcher/OstrevanLauncher"});
    EXPECT_EQ(readText(oldCopy()), oldLauncher);
    EXPECT_EQ(readText(launcher()), newLauncher);
    EXPECT_TRUE(isExecutable(launcher()));
    EXPECT_TRUE(appears(install + "new-started"));
}

TEST_F(SelfUpdateTest, failed_download_puts_the_running_launcher_back_under_its_name) {
    writeProgram(launcher(), oldLauncher);
    replace();
    EXPECT_NE(errors.find("Download failed for: "), std::string::npos);
    EXPECT_EQ(readText(launcher()), oldLauncher);
    EXPECT_TRUE(isExecutable(launcher()));
    EXPECT_FALSE(fs::exists(oldCopy()));
}

TEST_F(SelfUpdateTest, stale_old_copy_gives_way_so_the_running_launcher_is_kept_aside) {
    writeProgram(launcher(), oldLauncher);
    writeProgram(oldCopy(), "stale");
    replace();
    // The server has nothing: had the move been refused, no launcher would be left.
    EXPECT_EQ(readText(launcher()), oldLauncher);

    serve("patches/Launcher/OstrevanLauncher", newLauncher);
    writeProgram(oldCopy(), "stale");
    replace();
    EXPECT_EQ(readText(oldCopy()), oldLauncher);
    EXPECT_EQ(readText(launcher()), newLauncher);
}

TEST_F(SelfUpdateTest, launcher_under_another_name_still_gets_the_published_one) {
    writeProgram(install + "RenamedLauncher", oldLauncher);
    serve("patches/Launcher/OstrevanLauncher", newLauncher);
    replace();
    EXPECT_EQ(readText(install + "RenamedLauncher"), oldLauncher);
    EXPECT_FALSE(fs::exists(oldCopy()));
    EXPECT_EQ(readText(launcher()), newLauncher);
    EXPECT_TRUE(appears(install + "new-started"));
}

TEST_F(SelfUpdateTest, only_executable_files_directly_in_the_folder_are_listed) {
    writeProgram(install + "Halcyra.exe", "game");
    writeProgram(install + "OstrevanLauncher", "launcher");
    writeText(install + "readme.txt", "text");
    fs::create_directories(install + "tools.exe");
    fs::permissions(install + "tools.exe", fs::perms::all);
    writeProgram(install + "tools.exe/inner", "inner");
    auto listed = listExecutables(install);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (Pieces{install + "Halcyra.exe", install + "OstrevanLauncher"}));
    EXPECT_TRUE(listExecutables(install + "absent/").empty());
}

TEST_F(SelfUpdateTest, old_copies_are_removed_and_named_on_standard_output) {
    writeProgram(oldCopy(), "stale");
    writeProgram(install + "Other_OLDVersion", "stale too");
    writeProgram(launcher(), "current");
    writeProgram(install + "Halcyra.exe", "game");
    writeText(install + "notes_OLDVersion.txt", "not a program");
    writeProgram(install + "Launcher_oldversion", "marker is case-sensitive");
    fs::create_directories(install + "Folder_OLDVersion");
    fs::create_directories(install + "sub");
    writeProgram(install + "sub/Deep_OLDVersion", "not searched");

    ::testing::internal::CaptureStdout();
    removeOldLaunchersIn(install);
    std::string printed = ::testing::internal::GetCapturedStdout();
    Pieces lines;
    std::istringstream stream(printed);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (Pieces{install + "OstrevanLauncher_OLDVersion", install + "Other_OLDVersion"}));
    EXPECT_FALSE(fs::exists(oldCopy()));
    EXPECT_FALSE(fs::exists(install + "Other_OLDVersion"));
    for (const auto* kept : {"OstrevanLauncher", "Halcyra.exe", "notes_OLDVersion.txt", "Launcher_oldversion",
                             "Folder_OLDVersion", "sub/Deep_OLDVersion"})
        EXPECT_TRUE(fs::exists(install + kept)) << kept;
}

// Run only inside a copy of this program (see the next test): cleans up the copy's own folder.
TEST(SelfUpdateChild, DISABLED_removes_old_launchers_beside_itself) {
    removeOldLaunchers();
}

TEST_F(SelfUpdateTest, clean_up_never_removes_the_running_launcher_even_under_the_old_name) {
    // A launcher that has just moved itself aside runs under the old-copy name while start-up
    // cleans the folder.
    const std::string running = install + "Moved_OLDVersion";
    fs::copy_file(platform::executablePath(), running);
    writeProgram(install + "Stale_OLDVersion", "stale");
    const std::string printed = install + "printed.txt";
    ASSERT_EQ(runShell(quoted(running) +
                       " --gtest_also_run_disabled_tests"
                       " --gtest_filter=SelfUpdateChild.DISABLED_removes_old_launchers_beside_itself > " +
                       quoted(printed)),
              0);
    EXPECT_TRUE(fs::exists(running));
    EXPECT_FALSE(fs::exists(install + "Stale_OLDVersion"));
    EXPECT_NE(readText(printed).find(install + "Stale_OLDVersion\n"), std::string::npos);
    EXPECT_EQ(readText(printed).find(running + "\n"), std::string::npos);
}

TEST_F(SelfUpdateTest, answers_other_than_false_leave_the_launcher_alone) {
    const std::string tooShort[] = {std::string("\xE9\x03\x00", 3), std::string("\xE9\x03\x00\x00", 4)};
    for (const std::string& message :
         {serverAnswer("False"), serverAnswer("false "), serverAnswer(" false"), serverAnswer("true"),
          serverAnswer(""), serverAnswer("fals"), tooShort[0], tooShort[1]}) {
        // Returning at all shows that the process was not ended.
        runLauncherSelfUpdate(message);
        EXPECT_EQ(statusText(), initialStatusText);
        EXPECT_EQ(updatePhase(), 1);
    }
}

} // namespace
