// File preparation, downloads into the install folder's files, and the progress sink.
#include "update/download.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "../support/http_test_server.h"
#include "platform/files.h"
#include "platform/http.h"

namespace {

using dltest::HttpTestServer;
using dltest::ImmutableFile;
using dltest::readText;
using dltest::TestFolder;
using dltest::writeText;

std::int32_t percentAfter(std::uint64_t progress, std::uint64_t total, std::int32_t before = -7) {
    Downloader sink;
    sink.progressPercent = before;
    sink.onProgress(progress, total);
    return sink.progressPercent;
}

TEST(DownloaderProgress, single_precision_quotient_of_100_drops_53_and_59_by_one) {
    for (std::uint64_t progress = 1; progress <= 100; ++progress) {
        const auto expected =
            static_cast<std::int32_t>(progress == 53 || progress == 59 ? progress - 1 : progress);
        EXPECT_EQ(percentAfter(progress, 100), expected) << progress << " of 100";
    }
}

TEST(DownloaderProgress, thirds_truncate) {
    EXPECT_EQ(percentAfter(1, 3), 33);
    EXPECT_EQ(percentAfter(2, 3), 66);
    EXPECT_EQ(percentAfter(3, 3), 100);
}

TEST(DownloaderProgress, reports_without_a_meaningful_quotient_change_nothing) {
    EXPECT_EQ(percentAfter(0, 100, 41), 41);
    EXPECT_EQ(percentAfter(0, 0, 41), 41);
    EXPECT_EQ(percentAfter(5, 0, 41), 41);
}

TEST(DownloaderProgress, more_than_announced_stays_at_100) {
    EXPECT_EQ(percentAfter(std::uint64_t{1} << 62, 1), 100);
}

TEST(InstallFolder, is_the_folder_of_the_running_executable_with_its_separator) {
    const auto executable = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(installFolder(), executable.parent_path().string() + "/");
}

TEST(CreateParentFolder, creates_one_missing_level_only) {
    TestFolder folder;
    EXPECT_TRUE(createParentFolder(folder.file("file.txt")));
    EXPECT_TRUE(createParentFolder(folder.file("one/file.txt")));
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("one")));
    EXPECT_TRUE(createParentFolder(folder.file("one/file.txt")));
    EXPECT_FALSE(createParentFolder(folder.file("two/three/file.txt")));
    EXPECT_FALSE(std::filesystem::exists(folder.file("two")));
    EXPECT_TRUE(createParentFolder(folder.path() + "/back\\file.txt"));
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("back")));
    EXPECT_FALSE(createParentFolder("file.txt"));
}

class PrepareFile : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(folder.path().empty()); }
    bool prepareCapturing(const std::string& path) {
        ::testing::internal::CaptureStderr();
        const bool result = prepareFileForDownload(path);
        diagnostics = ::testing::internal::GetCapturedStderr();
        return result;
    }
    TestFolder folder;
    std::string target = folder.file("target.dat");
    std::string diagnostics;
};

TEST_F(PrepareFile, nothing_at_the_path_is_ready_without_a_word) {
    EXPECT_TRUE(prepareCapturing(target));
    EXPECT_EQ(diagnostics, "");
}

TEST_F(PrepareFile, plain_file_is_deleted) {
    writeText(target, "old");
    EXPECT_TRUE(prepareCapturing(target));
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(PrepareFile, read_only_file_is_deleted) {
    writeText(target, "old");
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    EXPECT_TRUE(prepareCapturing(target));
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(diagnostics, "");
}

TEST_F(PrepareFile, hidden_file_is_deleted) {
    writeText(target, "old");
    if (!platform::setFileAttributes(target, platform::attributeHidden))
        GTEST_SKIP() << "this file system keeps no extended attributes";
    EXPECT_TRUE(prepareCapturing(target));
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(PrepareFile, undeletable_file_is_tried_three_times_then_reported) {
    writeText(target, "old");
    ImmutableFile locked(target);
    if (!locked.active())
        GTEST_SKIP() << "the immutable flag is not available (needs CAP_LINUX_IMMUTABLE, ext4)";
    EXPECT_FALSE(prepareCapturing(target));
    EXPECT_EQ(diagnostics, "Failed to delete file after retries: " + target + "\n");
    EXPECT_EQ(readText(target), "old");
}

TEST_F(PrepareFile, read_only_attribute_that_cannot_be_cleared_is_reported) {
    writeText(target, "old");
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    ImmutableFile locked(target);
    if (!locked.active())
        GTEST_SKIP() << "the immutable flag is not available (needs CAP_LINUX_IMMUTABLE, ext4)";
    EXPECT_FALSE(prepareCapturing(target));
    EXPECT_EQ(diagnostics, "Failed to remove attributes for: " + target + "\n");
}

TEST_F(PrepareFile, other_delete_error_is_reported_with_its_code) {
    std::filesystem::create_directories(target + "/inside");
    EXPECT_FALSE(prepareCapturing(target));
    EXPECT_EQ(diagnostics, "Failed to delete file: " + target + " Error: " + std::to_string(EISDIR) + "\n");
}

class DownloadFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(folder.path().empty());
        std::filesystem::create_directory(root);
        writeText(root + "/patch.zip", content);
        server = std::make_unique<HttpTestServer>(root);
        ASSERT_TRUE(server->started());
        sink.progressPercent = 0;
    }
    void TearDown() override { platform::setDownloadStallSeconds(0); }

    void download(const std::string& relative) {
        url = server->url(relative);
        ::testing::internal::CaptureStderr();
        downloadFile(url, target, sink);
        diagnostics = ::testing::internal::GetCapturedStderr();
    }
    // Nothing under the target's name and no temporary left beside it.
    void expectNothingLeft() {
        EXPECT_FALSE(std::filesystem::exists(target));
        EXPECT_EQ(platform::listFolder(folder.path()), std::vector<std::string>{"root"});
    }

    TestFolder folder;
    std::string root = folder.file("root");
    std::string target = folder.file("1001.zip");
    std::string content = std::string(2 * 1024 * 1024, 'x') + "end";
    std::unique_ptr<HttpTestServer> server;
    Downloader sink;
    std::string url;
    std::string diagnostics;
};

TEST_F(DownloadFile, replaces_an_old_read_only_file_and_reaches_100_percent) {
    writeText(target, "old");
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    download("patch.zip");
    EXPECT_EQ(diagnostics, "");
    EXPECT_EQ(readText(target), content);
    EXPECT_EQ(sink.progressPercent, 100);
    EXPECT_EQ(platform::listFolder(folder.path()).size(), 2u);
    EXPECT_NE(server->requestLog().find("\"cache-control\": \"no-cache\""), std::string::npos);
}

TEST_F(DownloadFile, follows_a_redirect) {
    download("patch.zip?fault=redirect");
    EXPECT_EQ(readText(target), content);
}

TEST_F(DownloadFile, error_status_leaves_no_file_and_reports_the_code) {
    writeText(target, "old");
    download("patch.zip?fault=404");
    EXPECT_EQ(diagnostics, "Download failed for: " + url + " HRESULT: -404\n");
    expectNothingLeft();
    download("patch.zip?fault=500");
    EXPECT_EQ(diagnostics, "Download failed for: " + url + " HRESULT: -500\n");
    expectNothingLeft();
}

TEST_F(DownloadFile, cut_transfer_leaves_no_truncated_file) {
    for (const char* fault : {"drop", "short"}) {
        download(std::string("patch.zip?fault=") + fault);
        EXPECT_EQ(diagnostics, "Download failed for: " + url + " HRESULT: -1018\n") << fault;
        expectNothingLeft();
    }
}

TEST_F(DownloadFile, stalled_transfer_gives_up_and_leaves_nothing) {
    platform::setDownloadStallSeconds(1);
    download("patch.zip?fault=stall");
    EXPECT_EQ(diagnostics, "Download failed for: " + url + " HRESULT: -1028\n");
    expectNothingLeft();
}

TEST_F(DownloadFile, missing_folder_fails_as_unwritable) {
    target = folder.file("two/levels/file.dat");
    download("patch.zip");
    EXPECT_EQ(diagnostics, "Download failed for: " + url + " HRESULT: -1\n");
}

TEST_F(DownloadFile, failed_preparation_downloads_nothing) {
    writeText(target, "old");
    ImmutableFile locked(target);
    if (!locked.active())
        GTEST_SKIP() << "the immutable flag is not available (needs CAP_LINUX_IMMUTABLE, ext4)";
    download("patch.zip");
    EXPECT_EQ(diagnostics, "Failed to delete file after retries: " + target +
                               "\nFailed to prepare file for download: " + target + "\n");
    EXPECT_EQ(readText(target), "old");
    EXPECT_EQ(server->requestLog(), "");
}

TEST_F(DownloadFile, leftover_temporary_of_an_ended_launcher_is_replaced) {
    writeText(target + ".part", "half");
    download("patch.zip");
    EXPECT_EQ(readText(target), content);
    EXPECT_FALSE(std::filesystem::exists(target + ".part"));
}

// Two patch lists in flight may fetch the same archive at once; each must end complete.
TEST_F(DownloadFile, simultaneous_downloads_of_one_target_leave_a_complete_file) {
    url = server->url("patch.zip");
    Downloader other;
    std::thread first([&] { downloadFile(url, target, sink); });
    std::thread second([&] { downloadFile(url, target, other); });
    first.join();
    second.join();
    EXPECT_EQ(readText(target), content);
    EXPECT_EQ(platform::listFolder(folder.path()).size(), 2u);
}

} // namespace
