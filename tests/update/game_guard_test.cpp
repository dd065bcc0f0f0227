// The game process guard with stand-in game processes, answered message boxes and a real download.
#include "update/game_guard.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <set>

#include "../support/http_test_server.h"
#ifndef _WIN32
#include "../support/test_processes.h"
#endif
#include "platform/dialogs.h"
#include "platform/process.h"
#include "update/download.h"

namespace {

using dltest::HttpTestServer;
using dltest::readText;
using dltest::TestFolder;
using dltest::writeText;
using platform::DialogAnswer;
using platform::DialogButtons;
using platform::DialogIcon;
using platform::DialogRequest;
using platform::ProcessEntry;

// Caption, text, buttons and icon of a box, in one comparable line.
std::string describe(const DialogRequest& request) {
    return request.caption + " | " + request.text + " | " +
           std::to_string(static_cast<int>(request.buttons)) + " | " +
           std::to_string(static_cast<int>(request.icon));
}

const std::string warningBox = describe(
    {"Warning", "The game is currently running.\nDo you want to close it to proceed with the update?",
     DialogButtons::yesNo, DialogIcon::warning});
const std::string errorBox = describe(
    {"Error", "Failed to close the game.\nPlease close it manually.", DialogButtons::ok, DialogIcon::error});
const std::string cancelledBox =
    describe({"Cancelled", "Update cancelled.\nPlease close the game and try again.", DialogButtons::ok,
              DialogIcon::information});
const std::string refusedDiagnostic = "Cannot proceed with update. Game is still running.\n";

class GameGuard : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(folder.path().empty());
        std::filesystem::create_directory(root);
        writeText(root + "/file.dat", "new content");
        server = std::make_unique<HttpTestServer>(root);
        ASSERT_TRUE(server->started());
        platform::setDialogHook([this](const DialogRequest& request) {
            std::lock_guard lock(dialogLock);
            boxes.push_back(describe(request));
            if (request.buttons == DialogButtons::ok) return DialogAnswer::ok;
            if (answers.empty()) return DialogAnswer::failed;
            const DialogAnswer answer = answers.front();
            answers.pop_front();
            return answer;
        });
        watchOwnChildren();
    }
    void TearDown() override {
        platform::setDialogHook({});
        platform::setProcessTable({});
    }

    // The live /proc scan, narrowed to this test's children: stand-in games of other programs
    // running beside the tests are neither seen nor ended.
    void watchOwnChildren() {
        platform::setProcessTable({[this] {
                                       std::vector<ProcessEntry> own;
                                       for (auto& entry : platform::liveProcessTable().list())
                                           if (watched.count(entry.pid) != 0) own.push_back(entry);
                                       return own;
                                   },
                                   platform::liveProcessTable().terminate});
    }
    // A stand-in game process under `name`, watched.
    dltest::StandInGame& startGame(const std::string& name = "Halcyra.exe") {
        games.push_back(std::make_unique<dltest::StandInGame>(folder.path(), name));
        watched.insert(games.back()->pid());
        return *games.back();
    }
#ifndef _WIN32
    // A child of any program under an argv[0] of the test's choosing, as Wine names its processes.
    dltest::ChildProcess& startChild(const std::string& program, const std::vector<std::string>& argv) {
        children.push_back(std::make_unique<dltest::ChildProcess>(program, argv));
        watched.insert(children.back()->pid());
        return *children.back();
    }
#endif
    bool alive(int pid) {
        for (const auto& entry : platform::liveProcessTable().list())
            if (entry.pid == pid) return true;
        return false;
    }
    void guardedCapturing() {
        ::testing::internal::CaptureStderr();
        guardedDownload(server->url(""), "file.dat", target, sink);
        diagnostics = ::testing::internal::GetCapturedStderr();
    }

    TestFolder folder;
    std::string root = folder.file("root");
    std::string target = folder.file("file.dat");
    std::unique_ptr<HttpTestServer> server;
    Downloader sink;
    std::string diagnostics;
    std::mutex dialogLock;
    std::vector<std::string> boxes;
    std::deque<DialogAnswer> answers;
    std::set<int> watched;
    std::vector<std::unique_ptr<dltest::StandInGame>> games;
#ifndef _WIN32
    std::vector<std::unique_ptr<dltest::ChildProcess>> children;
#endif
};

TEST_F(GameGuard, compares_whole_names_only) {
    platform::setProcessTable({[] {
                                   return std::vector<ProcessEntry>{{10, "Halcyra.exe2", "Halcyra.exe2"},
                                                                    {11, "xHalcyra.exe", "/opt/xHalcyra.exe"},
                                                                    {12, "run", "/games/Halcyra.exe/run"},
                                                                    {13, "Halcyra.ex", ""}};
                               },
                               [](int) { return true; }});
    EXPECT_FALSE(isGameRunning());
    EXPECT_FALSE(closeGame());
}

TEST_F(GameGuard, game_still_listed_after_the_pause_gets_the_error_box) {
    std::vector<int> terminated;
    platform::setProcessTable({[] {
                                   return std::vector<ProcessEntry>{{77, "Halcyra.exe", "Halcyra.exe"}};
                               },
                               [&terminated](int pid) {
                                   terminated.push_back(pid);
                                   return true;
                               }});
    answers = {DialogAnswer::yes};
    guardedCapturing();
    EXPECT_EQ(terminated, std::vector<int>{77});
    EXPECT_EQ(boxes, (std::vector<std::string>{warningBox, errorBox}));
    EXPECT_EQ(diagnostics, refusedDiagnostic);
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(GameGuard, without_a_game_downloads_at_once_without_a_box) {
    const int other = startGame("other.exe").pid();
    guardedCapturing();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(diagnostics, "");
    EXPECT_EQ(readText(target), "new content");
    EXPECT_TRUE(alive(other));
}

TEST_F(GameGuard, recognises_the_game_by_name_in_any_letter_case_from_any_folder) {
    auto& game = startGame("HALCYRA.EXE");
    EXPECT_TRUE(isGameRunning());
    game.end();
    EXPECT_FALSE(isGameRunning());
}

TEST_F(GameGuard, yes_ends_the_game_then_downloads) {
    auto& game = startGame();
    answers = {DialogAnswer::yes};
    guardedCapturing();
    EXPECT_EQ(boxes, std::vector<std::string>{warningBox});
    EXPECT_TRUE(game.endedFromOutside());
    EXPECT_EQ(diagnostics, "");
    EXPECT_EQ(readText(target), "new content");
}

TEST_F(GameGuard, no_leaves_the_game_running_and_downloads_nothing) {
    const int pid = startGame().pid();
    writeText(target, "old content");
    answers = {DialogAnswer::no};
    guardedCapturing();
    EXPECT_EQ(boxes, (std::vector<std::string>{warningBox, cancelledBox}));
    EXPECT_EQ(diagnostics, refusedDiagnostic);
    EXPECT_TRUE(alive(pid));
    EXPECT_EQ(readText(target), "old content");
    EXPECT_EQ(server->requestLog(), "");
}

TEST_F(GameGuard, a_box_that_cannot_be_shown_counts_as_no) {
    startGame();
    answers = {DialogAnswer::failed};
    guardedCapturing();
    EXPECT_EQ(boxes, (std::vector<std::string>{warningBox, cancelledBox}));
    EXPECT_EQ(diagnostics, refusedDiagnostic);
}

TEST_F(GameGuard, each_refused_file_asks_again) {
    startGame();
    answers = {DialogAnswer::no, DialogAnswer::no, DialogAnswer::no};
    ::testing::internal::CaptureStderr();
    for (const char* name : {"a.dat", "b.dat", "c.dat"})
        guardedDownload(server->url(""), name, folder.file(name), sink);
    diagnostics = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(boxes, (std::vector<std::string>{warningBox, cancelledBox, warningBox, cancelledBox, warningBox,
                                               cancelledBox}));
    EXPECT_EQ(diagnostics, refusedDiagnostic + refusedDiagnostic + refusedDiagnostic);
    EXPECT_EQ(server->requestLog(), "");
}

TEST_F(GameGuard, game_that_cannot_be_ended_gets_the_error_box) {
    const int pid = startGame().pid();
    auto live = platform::liveProcessTable();
    platform::setProcessTable({[this, live] {
                                   std::vector<ProcessEntry> own;
                                   for (auto& entry : live.list())
                                       if (watched.count(entry.pid) != 0) own.push_back(entry);
                                   return own;
                               },
                               [](int) { return false; }});
    answers = {DialogAnswer::yes};
    guardedCapturing();
    EXPECT_EQ(boxes, (std::vector<std::string>{warningBox, errorBox}));
    EXPECT_EQ(diagnostics, refusedDiagnostic);
    EXPECT_TRUE(alive(pid));
    EXPECT_EQ(server->requestLog(), "");
}

// A Linux program that Wine runs carries the Windows name in its argv[0] only.
#ifndef _WIN32
TEST_F(GameGuard, recognises_a_game_under_wine_by_its_windows_argv0) {
    startChild("/bin/sleep", {"C:\\Games\\Halcyra.exe", "600"});
    EXPECT_TRUE(isGameRunning());
}

TEST_F(GameGuard, one_yes_ends_every_game_process) {
    auto& game = startGame();
    auto& underWine = startChild("/bin/sleep", {"C:\\Games\\Halcyra.exe", "600"});
    answers = {DialogAnswer::yes};
    guardedCapturing();
    EXPECT_EQ(boxes, std::vector<std::string>{warningBox});
    EXPECT_TRUE(game.endedFromOutside());
    EXPECT_EQ(underWine.reap(), SIGKILL);
    EXPECT_EQ(readText(target), "new content");
}
#endif

} // namespace
