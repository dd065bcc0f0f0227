#include "update/integrity_check.h"

#include <gtest/gtest.h>

#include "update_test_support.h"

namespace {

using namespace updtest;
using Pieces = std::vector<std::string>;

class IntegrityCheckTest : public UpdateTest {
  protected:
    void SetUp() override {
        UpdateTest::SetUp();
        ASSERT_TRUE(server.started());
    }
    std::string run(const std::string& message) {
        ::testing::internal::CaptureStderr();
        runIntegrityCheckIn(message, install, server.url(""));
        return ::testing::internal::GetCapturedStderr();
    }
    void serveRepair(const std::string& relative, const std::string& content) {
        serve("patches/Launcher/" + relative, content);
    }
    void expectReady() {
        EXPECT_EQ(statusText(), "Ready.");
        EXPECT_EQ(updatePhase(), 5);
    }
    void expectReport(const std::string& report) {
        EXPECT_EQ(statusText(), report);
        EXPECT_EQ(updatePhase(), 4);
    }

    const std::string good = md5Of("good content");
    dltest::HttpTestServer server{served};
};

TEST_F(IntegrityCheckTest, files_in_order_need_no_download_and_the_launcher_is_ready) {
    writeText(install + "a.dat", "good content");
    fs::create_directories(install + "sub");
    writeText(install + "sub/b.dat", "good content");
    EXPECT_EQ(run(fileList({{"a.dat", "a.dat", good}, {"sub\\b.dat", "sub/b.dat", good}})), "");
    expectReady();
    EXPECT_TRUE(statusAtDownload.empty());
    EXPECT_TRUE(requestedPaths(server).empty());
}

TEST_F(IntegrityCheckTest, empty_list_is_ready_at_once) {
    EXPECT_EQ(run(fileList({})), "");
    expectReady();
}

TEST_F(IntegrityCheckTest, missing_and_changed_files_are_fetched_again_into_place) {
    writeText(install + "changed.dat", "tampered");
    serveRepair("changed.dat", "good content");
    serveRepair("new/missing.dat", "good content");
    // Listed twice: the second time it is in order, though it was hashed before its repair.
    EXPECT_EQ(run(fileList({{"changed.dat", "changed.dat", good},
                            {"new\\missing.dat", "new/missing.dat", good},
                            {"changed.dat", "changed.dat", good}})),
              "");
    EXPECT_EQ(statusAtDownload,
              (Pieces{"Downloading changed.dat file.", "Downloading changed.dat file.",
                      "Downloading new\\missing.dat file.", "Downloading new\\missing.dat file."}));
    EXPECT_EQ(requestedPaths(server),
              (Pieces{"/patches/Launcher/changed.dat", "/patches/Launcher/new/missing.dat"}));
    EXPECT_EQ(readText(install + "changed.dat"), "good content");
    EXPECT_EQ(readText(install + "new/missing.dat"), "good content");
    expectReady();
}

TEST_F(IntegrityCheckTest, names_follow_existing_files_regardless_of_case) {
    fs::create_directories(install + "Data");
    writeText(install + "Data/Map.dat", "good content");
    run(fileList({{"data\\map.DAT", "x", good}}));
    expectReady();
    EXPECT_TRUE(requestedPaths(server).empty());
}

TEST_F(IntegrityCheckTest, wrong_content_from_the_server_never_replaces_the_file_and_is_reported) {
    serveRepair("f1", "still wrong");
    serveRepair("f2", "still wrong");
    writeText(install + "f1", "damaged");
    EXPECT_EQ(run(fileList({{"f1", "f1", good}, {"f2", "f2", good}})),
              "MD5 mismatch for: f1\nMD5 mismatch for: f2\n");
    expectReport("Missing/corrupted files (2): f1, f2. Please restart launcher.");
    EXPECT_EQ(requestedPaths(server), (Pieces{"/patches/Launcher/f1", "/patches/Launcher/f2"}));
    EXPECT_EQ(readText(install + "f1"), "damaged");
    EXPECT_FALSE(fs::exists(install + "f2"));
    EXPECT_EQ(std::distance(fs::directory_iterator(install), fs::directory_iterator()), 1)
        << "a temporary left";
}

TEST_F(IntegrityCheckTest, game_started_during_a_repair_download_keeps_its_file) {
    serveRepair("f1", "good content");
    writeText(install + "f1", "damaged");
    startGameDuringTheDownload();
    // The player's "no" is no server's fault: a second update server is not asked for the file.
    dltest::HttpTestServer mirror{served};
    ASSERT_TRUE(mirror.started());
    ::testing::internal::CaptureStderr();
    runIntegrityCheckIn(fileList({{"f1", "f1", good}}), install, server.url("") + ";" + mirror.url(""));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Cannot proceed with update. Game is still running.\nMD5 mismatch for: f1\n");
    EXPECT_EQ(boxes, (Pieces{"Warning", "Cancelled"}));
    EXPECT_TRUE(requestedPaths(mirror).empty());
    EXPECT_EQ(readText(install + "f1"), "damaged");
    EXPECT_EQ(std::distance(fs::directory_iterator(install), fs::directory_iterator()), 1)
        << "a temporary left";
    expectReport("Missing/corrupted files (1): f1. Please restart launcher.");
}

TEST_F(IntegrityCheckTest, report_names_at_most_three_files) {
    const std::vector<Listed> all = {
        {"f1", "f1", good}, {"f2", "f2", good}, {"f3", "f3", good}, {"f4", "f4", good}, {"f5", "f5", good}};
    const std::vector<std::pair<std::size_t, std::string>> cases = {
        {2, "Missing/corrupted files (2): f1, f2. Please restart launcher."},
        {3, "Missing/corrupted files (3): f1, f2, f3. Please restart launcher."},
        {4, "Missing/corrupted files (4): f1, f2, f3... and 1 more. Please restart launcher."},
        {5, "Missing/corrupted files (5): f1, f2, f3... and 2 more. Please restart launcher."}};
    for (const auto& [count, report] : cases) {
        // None of them is on the server.
        run(fileList({all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count)}));
        expectReport(report);
    }
}

TEST_F(IntegrityCheckTest, failures_among_files_in_order_keep_message_order) {
    writeText(install + "ok.dat", "good content");
    run(fileList({{"gone1", "gone1", good}, {"ok.dat", "ok.dat", good}, {"gone2", "gone2", good}}));
    expectReport("Missing/corrupted files (2): gone1, gone2. Please restart launcher.");
}

TEST_F(IntegrityCheckTest, any_of_several_accepted_digests_will_do) {
    writeText(install + "a.dat", "good content");
    writeText(install + "b.dat", "other content");
    const std::string both = md5Of("other content") + good;
    run(fileList({{"a.dat", "a.dat", both}, {"b.dat", "b.dat", both}}));
    expectReady();
    EXPECT_TRUE(requestedPaths(server).empty());
}

TEST_F(IntegrityCheckTest, uppercase_or_empty_digests_never_match) {
    std::string upper = good;
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    writeText(install + "a.dat", "good content");
    serveRepair("a.dat", "good content");
    serveRepair("b.dat", "good content");
    writeText(install + "b.dat", "good content");
    run(fileList({{"a.dat", "a.dat", upper}, {"b.dat", "b.dat", ""}}));
    EXPECT_EQ(requestedPaths(server), (Pieces{"/patches/Launcher/a.dat", "/patches/Launcher/b.dat"}));
    expectReport("Missing/corrupted files (2): a.dat, b.dat. Please restart launcher.");
}

TEST_F(IntegrityCheckTest, names_and_download_paths_that_leave_their_folders_are_never_fetched) {
    serve("secret.txt", "good content");
    const std::string outside = scratch.path() + "/outside.dat";
    const std::string errors = run(fileList({{"../outside.dat", "x", good},
                                             {outside, "x", good},
                                             {"sub\\..\\..\\outside.dat", "x", good},
                                             {"inside.dat", "../../secret.txt", good},
                                             {"inside.dat", "%2e%2e/%2E%2E/secret.txt", good},
                                             {"inside.dat", "a%5C..%5C..%5C../secret.txt", good},
                                             {"inside.dat", "/secret.txt", good}}));
    EXPECT_TRUE(requestedPaths(server).empty());
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_FALSE(fs::exists(install + "inside.dat"));
    EXPECT_EQ(errors, "Refusing a listed file outside the installation: ../outside.dat\n"
                      "Refusing a listed file outside the installation: " +
                          outside +
                          "\n"
                          "Refusing a listed file outside the installation: sub\\..\\..\\outside.dat\n"
                          "Refusing a listed file outside the installation: inside.dat\n"
                          "Refusing a listed file outside the installation: inside.dat\n"
                          "Refusing a listed file outside the installation: inside.dat\n"
                          "Refusing a listed file outside the installation: inside.dat\n");
    expectReport("Missing/corrupted files (7): ../outside.dat, " + outside +
                 ", sub\\..\\..\\outside.dat... and 4 more. Please restart launcher.");
}

TEST_F(IntegrityCheckTest, message_that_ends_before_its_last_entry_is_not_ready) {
    writeText(install + "a.dat", "good content");
    std::string message = fileList({{"a.dat", "a.dat", good}, {"b.dat", "b.dat", good}});
    // Without the second entry's digest field: its length byte would lie at the end.
    message.resize(message.size() - 1 - good.size());
    const std::string errors = run(message);
    EXPECT_EQ(errors, "File list ends before its last entry; entries read: 1 of 2\n");
    EXPECT_TRUE(requestedPaths(server).empty());
    expectReport("The file list arrived incomplete. Please restart launcher.");

    // One entry more claimed than there is, after one that cannot be repaired: that one is named.
    message = fileList({{"gone.dat", "gone.dat", good}});
    message[4] = 2;
    run(message);
    expectReport("Missing/corrupted files (1): gone.dat. Please restart launcher.");
}

TEST_F(IntegrityCheckTest, skipped_text_is_read_past) {
    writeText(install + "a.dat", "good content");
    run(fileList({{"a.dat", "a.dat", good}}, std::string(200, 'z')));
    expectReady();
}

TEST_F(IntegrityCheckTest, file_two_levels_below_the_nearest_folder_cannot_be_repaired) {
    serveRepair("x/y/deep.dat", "good content");
    run(fileList({{"x/y/deep.dat", "x/y/deep.dat", good}}));
    EXPECT_FALSE(fs::exists(install + "x"));
    expectReport("Missing/corrupted files (1): x/y/deep.dat. Please restart launcher.");
}

} // namespace
