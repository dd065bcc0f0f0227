// Starting the game client: real processes from a stand-in client script. startGame ends the
// process, so those runs happen in death-test children and are judged by exit code and by what
// the stand-in clients wrote down.
#include "game/game_folder.h"
#include "platform/dialogs.h"
#include "platform/process.h"

#include "../support/test_processes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int failedMarker = 3; // exit code of a child in which startGame returned
constexpr const char* sharedRootVariable = "LAUNCH_TEST_ROOT";

class GameLaunchTest : public ::testing::Test {
  protected:
    // Death-test children run the test again from its start; they find the parent's folder
    // through the environment instead of making one of their own.
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        if (const char* shared = std::getenv(sharedRootVariable)) {
            root = shared;
        } else {
            std::string pattern = (fs::temp_directory_path() / "launch-test-XXXXXX").string();
            ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
            root = pattern + "/";
            ::setenv(sharedRootVariable, root.c_str(), 1);
        }
        folder = root + "game/";
        fs::create_directories(folder);
        record = root + "record.txt";
        const char* path = std::getenv("PATH");
        savedPath = path ? path : "";
        savedFolder = fs::current_path();
    }
    void TearDown() override {
        ::unsetenv(sharedRootVariable);
        ::setenv("PATH", savedPath.c_str(), 1);
        fs::current_path(savedFolder);
        fs::remove_all(root);
    }

    // A client that writes one line per start: argument count|arguments|working folder|time.
    void writeScript(const std::string& path, const std::string& firstLines = "", bool executable = true) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << "#!/bin/sh\n"
                            << firstLines
                            << "printf '%s|%s|%s|%s\\n' \"$#\" \"$*\" \"$(pwd)\" \"$(date +%s.%N)\" >> '"
                            << record << "'\n";
        fs::permissions(path, executable ? fs::perms(0755) : fs::perms(0644));
    }
    // A stand-in wine that writes its arguments and prefix.
    void installWine() {
        fs::create_directories(root + "bin");
        std::ofstream(root + "bin/wine")
            << "#!/bin/sh\nprintf 'wine|%s|%s\\n' \"$*\" \"$WINEPREFIX\" >> '" << record << "'\n";
        fs::permissions(root + "bin/wine", fs::perms(0755));
        ::setenv("PATH", (root + "bin:/usr/bin:/bin").c_str(), 1);
    }
    void withoutWine() {
        fs::create_directories(root + "empty");
        ::setenv("PATH", (root + "empty").c_str(), 1);
    }

    // The clients run on after their start returned; waits until `count` lines are there.
    std::vector<std::string> records(std::size_t count) const {
        std::vector<std::string> lines;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;) {
            lines.clear();
            std::ifstream file(record);
            for (std::string line; std::getline(file, line);) lines.push_back(line);
            if (lines.size() >= count || std::chrono::steady_clock::now() > deadline) return lines;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::string line(const std::string& arguments) const {
        return "1|" + arguments + "|" + fs::current_path().string() + "|";
    }

    std::string root, folder, record, savedPath;
    fs::path savedFolder;
};

// One start of the client

TEST_F(GameLaunchTest, an_executable_client_gets_exactly_the_start_argument_in_the_working_folder) {
    writeScript(folder + "Halcyra.exe");
    ASSERT_TRUE(platform::startGameClient(folder, "Halcyra.exe", "quietmoor"));
    const auto lines = records(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(line("quietmoor"), 0), 0u) << lines[0];
}

TEST_F(GameLaunchTest, the_client_name_is_matched_without_regard_to_case) {
    writeScript(folder + "HALCYRA.exe");
    EXPECT_TRUE(platform::startGameClient(folder, "Halcyra.exe", "quietmoor"));
    EXPECT_EQ(records(1).size(), 1u);
}

TEST_F(GameLaunchTest, the_client_is_looked_for_in_the_working_folder_after_the_launchers) {
    writeScript(root + "work/Halcyra.exe");
    fs::current_path(root + "work");
    ASSERT_TRUE(platform::startGameClient(folder, "Halcyra.exe", "quietmoor"));
    const auto lines = records(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("1|quietmoor|" + fs::current_path().string() + "|", 0), 0u) << lines[0];
}

TEST_F(GameLaunchTest, the_launchers_folder_comes_before_the_working_folder) {
    writeScript(folder + "Halcyra.exe", "echo launcher >> '" + record + "'\n");
    writeScript(root + "work/Halcyra.exe", "echo working >> '" + record + "'\n");
    fs::current_path(root + "work");
    ASSERT_TRUE(platform::startGameClient(folder, "Halcyra.exe", "quietmoor"));
    EXPECT_EQ(records(2).at(0), "launcher");
}

TEST_F(GameLaunchTest, a_missing_client_is_a_failed_start) {
    EXPECT_FALSE(platform::startGameClient(folder, "Halcyra.exe", "quietmoor"));
    fs::create_directories(folder + "Halcyra.exe");
    EXPECT_FALSE(platform::startGameClient(folder, "Halcyra.exe", "quietmoor"));
}

TEST_F(GameLaunchTest, a_client_whose_exec_fails_is_a_failed_start) {
    std::ofstream(folder + "Halcyra.exe") << "#!/nonexistent/interpreter\n";
    fs::permissions(folder + "Halcyra.exe", fs::perms(0755));
    withoutWine();
    EXPECT_FALSE(platform::startGameClient(folder, "Halcyra.exe", "quietmoor"));
}

TEST_F(GameLaunchTest, a_client_that_is_not_executable_runs_through_wine_from_path) {
    writeScript(folder + "Halcyra.exe", "", false);
    installWine();
    ASSERT_TRUE(platform::startGameClient(folder, "Halcyra.exe", "quietmoor"));
    EXPECT_EQ(records(1), std::vector<std::string>{"wine|" + folder + "Halcyra.exe quietmoor|"});
}

TEST_F(GameLaunchTest, a_windows_program_with_an_execute_bit_falls_back_to_wine) {
    std::ofstream(folder + "Halcyra.exe") << "MZ\x90"; // no interpreter line: the system cannot run it
    fs::permissions(folder + "Halcyra.exe", fs::perms(0755));
    installWine();
    ASSERT_TRUE(platform::startGameClient(folder, "Halcyra.exe", "quietmoor"));
    EXPECT_EQ(records(1), std::vector<std::string>{"wine|" + folder + "Halcyra.exe quietmoor|"});
}

TEST_F(GameLaunchTest, a_client_that_is_not_executable_without_wine_is_a_failed_start) {
    writeScript(folder + "Halcyra.exe", "", false);
    withoutWine();
    EXPECT_FALSE(platform::startGameClient(folder, "Halcyra.exe", "quietmoor"));
}

// An empty or relative PATH entry means the working folder: a `wine` left there is never run.
TEST_F(GameLaunchTest, wine_is_looked_for_only_in_absolute_path_entries) {
    writeScript(folder + "Halcyra.exe", "", false);
    installWine();
    const std::string planted = "#!/bin/sh\necho planted >> '" + record + "'\n";
    for (const std::string relative : {"", "rel/"}) {
        fs::create_directories(root + "work/" + relative);
        std::ofstream(root + "work/" + relative + "wine") << planted;
        fs::permissions(root + "work/" + relative + "wine", fs::perms(0755));
    }
    fs::current_path(root + "work");
    const std::vector<std::pair<std::string, bool>> paths = {{":", false},
                                                             {".", false},
                                                             {"rel", false},
                                                             {"/nonexistent::rel", false},
                                                             {"::rel:" + root + "bin", true}};
    for (const auto& [path, found] : paths) {
        ::setenv("PATH", path.c_str(), 1);
        EXPECT_EQ(platform::startGameClient(folder, "Halcyra.exe", "quietmoor"), found) << path;
    }
    EXPECT_EQ(records(1), std::vector<std::string>{"wine|" + folder + "Halcyra.exe quietmoor|"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // a wrongly started one would write now
    EXPECT_EQ(records(1).size(), 1u);
}

TEST_F(GameLaunchTest, a_client_inside_a_wine_prefix_runs_in_that_prefix) {
    const std::string prefix = root + "prefix";
    const std::string gameFolder = prefix + "/drive_c/Games/Halcyra/";
    writeScript(gameFolder + "Halcyra.exe", "", false);
    installWine();
    ::setenv("WINEPREFIX", "/somewhere/else", 1);
    const bool started = platform::startGameClient(gameFolder, "Halcyra.exe", "quietmoor");
    ::unsetenv("WINEPREFIX");
    ASSERT_TRUE(started);
    EXPECT_EQ(records(1), std::vector<std::string>{"wine|" + gameFolder + "Halcyra.exe quietmoor|" + prefix});

    writeScript(gameFolder + "Halcyra.exe", "echo \"direct|$WINEPREFIX\" >> '" + record + "'\n");
    ASSERT_TRUE(platform::startGameClient(gameFolder, "Halcyra.exe", "quietmoor"));
    EXPECT_EQ(records(3).at(1), "direct|" + prefix);
}

TEST_F(GameLaunchTest, start_process_reports_a_failed_exec_and_runs_in_the_given_folder) {
    EXPECT_FALSE(platform::startProcess(root + "missing", {}, "."));
    writeScript(root + "tool");
    fs::create_directories(root + "there");
    ASSERT_TRUE(platform::startProcess(root + "tool", {"a", "b c"}, root + "there"));
    const auto lines = records(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("2|a b c|" + root + "there|", 0), 0u) << lines[0];
}

// startGame: every start, then the end of the process

TEST_F(GameLaunchTest, one_client_starts_and_the_launcher_exits_with_zero) {
    writeScript(folder + "Halcyra.exe");
    EXPECT_EXIT(game::startGameIn(folder, 1), ::testing::ExitedWithCode(0), "");
    const auto lines = records(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(line("quietmoor"), 0), 0u) << lines[0];
}

TEST_F(GameLaunchTest, three_clients_all_start_with_the_argument) {
    writeScript(folder + "Halcyra.exe");
    EXPECT_EXIT(game::startGameIn(folder, 3), ::testing::ExitedWithCode(0), "");
    const auto lines = records(3);
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& started : lines) EXPECT_EQ(started.rfind(line("quietmoor"), 0), 0u) << started;
}

TEST_F(GameLaunchTest, fifty_clients_all_start_with_the_argument) {
    writeScript(folder + "Halcyra.exe");
    EXPECT_EXIT(game::startGameIn(folder, 50), ::testing::ExitedWithCode(0), "");
    const auto lines = records(50);
    ASSERT_EQ(lines.size(), 50u);
    for (const auto& started : lines) EXPECT_EQ(started.rfind(line("quietmoor"), 0), 0u) << started;
}

TEST_F(GameLaunchTest, a_start_that_fails_midway_shows_the_error_once_and_tries_no_further) {
    // The client removes itself, so the second start finds nothing.
    writeScript(folder + "Halcyra.exe", "rm -f \"$0\"\n");
    const std::string dialogs = root + "dialogs.txt";
    EXPECT_EXIT(
        {
            platform::setDialogHook([&dialogs](const platform::DialogRequest& request) {
                std::ofstream(dialogs, std::ios::app)
                    << request.caption << "|" << request.text << "|"
                    << (request.buttons == platform::DialogButtons::ok ? "ok" : "other") << "\n";
                return platform::DialogAnswer::ok;
            });
            game::startGameIn(folder, 3);
            std::exit(failedMarker);
        },
        ::testing::ExitedWithCode(failedMarker), "");
    EXPECT_EQ(records(1).size(), 1u);
    EXPECT_EQ(dltest::readText(dialogs), "ERROR|Failed To Start Halcyra.exe|ok\n");
}

TEST_F(GameLaunchTest, a_missing_client_fails_the_first_start) {
    const std::string dialogs = root + "dialogs.txt";
    EXPECT_EXIT(
        {
            platform::setDialogHook([&dialogs](const platform::DialogRequest& request) {
                std::ofstream(dialogs, std::ios::app) << request.caption << "|" << request.text << "\n";
                return platform::DialogAnswer::ok;
            });
            game::startGameIn(folder, 2);
            std::exit(failedMarker);
        },
        ::testing::ExitedWithCode(failedMarker), "");
    EXPECT_EQ(dltest::readText(dialogs), "ERROR|Failed To Start Halcyra.exe\n");
    EXPECT_FALSE(fs::exists(record));
}

} // namespace
