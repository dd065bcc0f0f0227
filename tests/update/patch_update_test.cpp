#include "update/patch_update.h"

#include <gtest/gtest.h>

#include <sstream>

#include "update_test_support.h"

namespace {

using namespace updtest;
using Pieces = std::vector<std::string>;

TEST(SplitText, keeps_empty_pieces_and_always_the_piece_after_the_last_delimiter) {
    EXPECT_EQ(splitText(std::string_view("a\nb"), "\n"), (Pieces{"a", "b"}));
    EXPECT_EQ(splitText(std::string_view("a\nb\n"), "\n"), (Pieces{"a", "b", ""}));
    EXPECT_EQ(splitText(std::string_view(""), "\n"), (Pieces{""}));
    EXPECT_EQ(splitText(std::string_view("\n\n"), "\n"), (Pieces{"", "", ""}));
    EXPECT_EQ(splitText(std::string_view("D:\\Games\\L.exe"), "\\"), (Pieces{"D:", "Games", "L.exe"}));
    EXPECT_EQ(splitText(std::string_view("x<>y<><>z"), "<>"), (Pieces{"x", "y", "", "z"}));
    EXPECT_EQ(splitText(std::u16string_view(u"1001\n1002\n"), u"\n"),
              (std::vector<std::u16string>{u"1001", u"1002", u""}));
}

class PatchUpdateTest : public UpdateTest {
  protected:
    void SetUp() override {
        UpdateTest::SetUp();
        ASSERT_TRUE(server.started());
    }
    // A patch archive on the server whose version.dat says `version`, plus one file of its own.
    void servePatch(const std::string& version) {
        fs::create_directories(served + "patches");
        ASSERT_TRUE(makePythonArchive(served + "patches/" + version + ".zip",
                                      "z.writestr('version.dat', '" + version +
                                          "')\n"
                                          "z.writestr('data/patch" +
                                          version + ".txt', 'from " + version + "')\n"));
    }
    // Every version is first asked for as a delta patch, which this server never has: these tests
    // follow the list and the full patches, so the 404s of those probes are left out of what
    // they compare (withDeltaProbes keeps them), as is the second look at the game they cost.
    std::string run(const std::string& list) {
        ::testing::internal::CaptureStderr();
        runPatchUpdateIn(patchList(list), install, server.url(""));
        std::istringstream lines(::testing::internal::GetCapturedStderr());
        std::string kept;
        for (std::string line; std::getline(lines, line);)
            if (line.find(".delta.zip") == std::string::npos) kept += line + "\n";
        return kept;
    }
    Pieces patchRequests() const {
        Pieces paths = requestedPaths(server);
        std::erase_if(paths, [](const std::string& path) { return path.ends_with(".delta.zip"); });
        return paths;
    }
    void onProcessScan() override {
        if (statusAtDownload.empty() || statusAtDownload.back() != statusText()) UpdateTest::onProcessScan();
    }
    std::vector<std::string> downloadsLeft() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(install + "Downloads"))
            names.push_back(entry.path().filename().string());
        return names;
    }

    dltest::HttpTestServer server{served};
};

TEST_F(PatchUpdateTest, newer_versions_are_fetched_and_applied_in_list_order) {
    writeText(install + "version.dat", "1000");
    servePatch("1001");
    servePatch("1002");
    EXPECT_EQ(run("1001\n1002"), "");
    EXPECT_EQ(patchRequests(), (Pieces{"/patches/1001.zip", "/patches/1002.zip"}));
    EXPECT_EQ(requestedPaths(server), (Pieces{"/patches/1001.delta.zip", "/patches/1001.zip",
                                              "/patches/1002.delta.zip", "/patches/1002.zip"}));
    EXPECT_EQ(statusAtDownload, (Pieces{"Downloading version: 1001/1002", "Downloading version: 1002/1002"}));
    EXPECT_EQ(readText(install + "data/patch1001.txt"), "from 1001");
    EXPECT_EQ(readText(install + "data/patch1002.txt"), "from 1002");
    EXPECT_EQ(readText(install + "version.dat"), "1002");
    EXPECT_TRUE(downloadsLeft().empty());
    EXPECT_EQ(gameVersion(), "1002");
    EXPECT_EQ(statusText(), "Updated, There is no new patches.");
    EXPECT_EQ(updatePhase(), 3);
}

TEST_F(PatchUpdateTest, missing_version_file_is_created_with_the_default_and_every_newer_token_fetched) {
    servePatch("1005");
    run("1005");
    EXPECT_EQ(statusAtDownload, Pieces{"Downloading version: 1005/1005"});
    EXPECT_EQ(patchRequests(), Pieces{"/patches/1005.zip"});
    EXPECT_EQ(gameVersion(), "1005");
    // The archive carried its own version.dat over the created one.
    EXPECT_EQ(readText(install + "version.dat"), "1005");

    fs::remove(install + "version.dat");
    EXPECT_EQ(readInstalledVersionIn(install), "1000");
    EXPECT_EQ(readText(install + "version.dat"), "1000");
}

TEST_F(PatchUpdateTest, installed_version_is_the_first_line_of_the_version_file_without_blanks) {
    for (const std::string written : {"1003\nanything else\n", "1003\r\n", "1003  ", "\t1003 \r\nx"}) {
        SCOPED_TRACE(written);
        writeText(install + "version.dat", written);
        EXPECT_EQ(readInstalledVersionIn(install), "1003");
        EXPECT_EQ(readText(install + "version.dat"), written);
        // Shown and compared as 1003: nothing is fetched for it.
        run("1003");
        EXPECT_EQ(gameVersion(), "1003");
        EXPECT_TRUE(patchRequests().empty());
    }
}

TEST_F(PatchUpdateTest, nothing_newer_downloads_nothing_but_still_creates_downloads_and_ends_updated) {
    writeText(install + "version.dat", "1002");
    run("1001\n1002");
    EXPECT_TRUE(patchRequests().empty());
    EXPECT_TRUE(fs::is_directory(install + "Downloads"));
    EXPECT_EQ(gameVersion(), "1002");
    EXPECT_EQ(statusText(), "Updated, There is no new patches.");
    EXPECT_EQ(updatePhase(), 1);
}

TEST_F(PatchUpdateTest, tokens_behind_the_version_reached_are_skipped) {
    writeText(install + "version.dat", "1000");
    servePatch("1003");
    servePatch("1002");
    run("1003\n1002");
    EXPECT_EQ(patchRequests(), Pieces{"/patches/1003.zip"});
    EXPECT_EQ(gameVersion(), "1003");
}

TEST_F(PatchUpdateTest, empty_list_or_missing_length_changes_nothing) {
    for (const std::string& message : {patchList(""), std::string("\xEA\x03\x00\x00", 4)}) {
        runPatchUpdateIn(message, install, server.url(""));
        EXPECT_EQ(statusText(), initialStatusText);
        EXPECT_EQ(gameVersion(), "");
        EXPECT_FALSE(fs::exists(install + "Downloads"));
        EXPECT_FALSE(fs::exists(install + "version.dat"));
    }
}

TEST_F(PatchUpdateTest, length_beyond_the_message_reads_only_the_bytes_there) {
    writeText(install + "version.dat", "1000");
    servePatch("1001");
    std::string message = patchList("1001");
    message[4] = static_cast<char>(200);
    runPatchUpdateIn(message, install, server.url(""));
    EXPECT_EQ(patchRequests(), Pieces{"/patches/1001.zip"});
    EXPECT_EQ(gameVersion(), "1001");
}

TEST_F(PatchUpdateTest, tokens_that_are_not_numbers_are_skipped_with_one_line_each) {
    writeText(install + "version.dat", "1000");
    servePatch("1001");
    const std::string errors = run("abc\n\n99999999999\n1001\n");
    EXPECT_EQ(errors, "Skipping patch version that is not a number: abc\n"
                      "Skipping patch version that is not a number: \n"
                      "Skipping patch version that is not a number: 99999999999\n"
                      "Skipping patch version that is not a number: \n");
    EXPECT_EQ(patchRequests(), Pieces{"/patches/1001.zip"});
    // The status names the list's last piece as it stands, even an empty one.
    EXPECT_EQ(statusAtDownload, Pieces{"Downloading version: 1001/"});
    EXPECT_EQ(gameVersion(), "1001");
    EXPECT_EQ(statusText(), "Updated, There is no new patches.");
}

TEST_F(PatchUpdateTest, installed_version_that_is_not_a_number_counts_as_the_default) {
    for (const std::string& installed :
         {std::string(""), std::string("garbage"), std::string("4294967296")}) {
        SCOPED_TRACE(installed);
        writeText(install + "version.dat", installed);
        const std::string errors = run("999\n1000");
        EXPECT_EQ(errors, "Installed version is not a number, using 1000: " + installed + "\n");
        EXPECT_EQ(gameVersion(), "1000");
        EXPECT_TRUE(patchRequests().empty());
    }
}

TEST_F(PatchUpdateTest, numbers_follow_the_standard_conversion) {
    // White space and a sign before the digits, anything after them.
    writeText(install + "version.dat", "  +1001 (beta)");
    servePatch("1002");
    run("-5\n1001x\n1002");
    EXPECT_EQ(patchRequests(), Pieces{"/patches/1002.zip"});
    EXPECT_EQ(gameVersion(), "1002");
}

TEST_F(PatchUpdateTest, token_that_names_another_folder_is_never_fetched) {
    writeText(install + "version.dat", "1000");
    servePatch("1002");
    const std::string errors = run("1001/../../evil\n1002");
    EXPECT_EQ(errors, "Refusing patch version that names a path outside Downloads: 1001/../../evil\n");
    EXPECT_TRUE(patchRequests().empty()) << "nor a later patch, which would build on it";
    EXPECT_EQ(gameVersion(), "1000");
    EXPECT_EQ(statusText(), "Update to version 1001 failed. Please restart launcher.");
    EXPECT_EQ(run("1001\\x"), "Refusing patch version that names a path outside Downloads: 1001\\x\n");
}

TEST_F(PatchUpdateTest, game_started_during_the_download_is_asked_about_again_and_never_written_under) {
    writeText(install + "version.dat", "1000");
    servePatch("1001");
    // Quiet for the look before the delta patch and the one before the full patch's download.
    startGameDuringTheDownload(2);
    EXPECT_EQ(run("1001"), "Cannot proceed with update. Game is still running.\n");
    EXPECT_EQ(patchRequests(), Pieces{"/patches/1001.zip"});
    EXPECT_EQ(boxes, (Pieces{"Warning", "Cancelled"}));
    EXPECT_FALSE(fs::exists(install + "data/patch1001.txt"));
    EXPECT_EQ(readText(install + "version.dat"), "1000");
    EXPECT_EQ(statusText(), "Update to version 1001 failed. Please restart launcher.");
}

TEST_F(PatchUpdateTest, patch_that_does_not_apply_ends_the_run_and_keeps_the_installed_version) {
    writeText(install + "version.dat", "1000");
    servePatch("1002");
    // An archive left in Downloads from an earlier run is never taken for a download that failed.
    fs::create_directories(install + "Downloads");
    ASSERT_TRUE(makePythonArchive(install + "Downloads/1001.zip", "z.writestr('version.dat', '1001')\n"
                                                                  "z.writestr('stale.txt', 'stale')\n"));
    std::string errors = run("1001\n1002");
    EXPECT_NE(errors.find("Download failed for: " + server.url("patches/1001.zip")), std::string::npos)
        << errors;
    EXPECT_EQ(errors.find("Failed to open archive"), std::string::npos) << errors;
    EXPECT_FALSE(fs::exists(install + "stale.txt"));
    EXPECT_EQ(patchRequests(), Pieces{"/patches/1001.zip"}) << "1002 builds on 1001";
    EXPECT_EQ(readText(install + "version.dat"), "1000");
    EXPECT_EQ(gameVersion(), "1000");
    EXPECT_EQ(statusText(), "Update to version 1001 failed. Please restart launcher.");

    // Arrives, but is no archive: kept in Downloads, the version stays.
    writeText(served + "patches/1001.zip", "not an archive");
    errors = run("1001\n1002");
    EXPECT_NE(errors.find("Failed to open archive: " + install + "Downloads/1001.zip\n"), std::string::npos);
    EXPECT_EQ(downloadsLeft(), Pieces{"1001.zip"});
    EXPECT_EQ(gameVersion(), "1000");
    EXPECT_EQ(statusText(), "Update to version 1001 failed. Please restart launcher.");
    EXPECT_FALSE(fs::exists(install + "data/patch1002.txt"));

    servePatch("1001");
    EXPECT_EQ(run("1001\n1002"), "");
    EXPECT_TRUE(downloadsLeft().empty());
    EXPECT_EQ(gameVersion(), "1002");
    EXPECT_EQ(readText(install + "version.dat"), "1002");
    EXPECT_EQ(statusText(), "Updated, There is no new patches.");
}

} // namespace
