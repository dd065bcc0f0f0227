// File preparation, downloads into the install folder's files, and the progress sink.
#include "update/download.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <functional>
#include <sstream>
#include <thread>

#include "../support/http_test_server.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/process.h"
#include "update/resume.h"
#include "update/temporary_names.h"

namespace {

using dltest::HttpTestServer;
using dltest::readText;
using dltest::TestFolder;
using dltest::UndeletableFile;
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

#ifndef _WIN32
TEST(InstallFolder, is_the_folder_of_the_running_executable_with_its_separator) {
    const auto executable = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(installFolder(), executable.parent_path().string() + "/");
}
#endif

// chmod 0444 here, the read-only attribute on Windows.
void makeReadOnly(const std::string& path) {
    namespace fs = std::filesystem;
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ASSERT_EQ(fs::status(path).permissions() & fs::perms::owner_write, fs::perms::none);
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
    makeReadOnly(target);
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
    UndeletableFile locked(target);
    if (!locked.active())
        GTEST_SKIP() << "the immutable flag is not available (needs CAP_LINUX_IMMUTABLE, ext4)";
    EXPECT_FALSE(prepareCapturing(target));
    EXPECT_EQ(diagnostics, "Failed to delete file after retries: " + target + "\n");
    EXPECT_EQ(readText(target), "old");
}

// Windows clears the attribute of a file that another program holds open.
#ifndef _WIN32
TEST_F(PrepareFile, read_only_attribute_that_cannot_be_cleared_is_reported) {
    writeText(target, "old");
    makeReadOnly(target);
    UndeletableFile locked(target);
    if (!locked.active())
        GTEST_SKIP() << "the immutable flag is not available (needs CAP_LINUX_IMMUTABLE, ext4)";
    EXPECT_FALSE(prepareCapturing(target));
    EXPECT_EQ(diagnostics, "Failed to remove attributes for: " + target + "\n");
}
#endif

TEST_F(PrepareFile, other_delete_error_is_reported_with_its_code) {
    std::filesystem::create_directories(target + "/inside");
    EXPECT_FALSE(prepareCapturing(target));
    EXPECT_EQ(diagnostics, "Failed to delete file: " + target +
                               " Error: " + std::to_string(dltest::folderNotFileCode()) + "\n");
}

class DownloadFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(folder.path().empty());
        std::filesystem::create_directory(root);
        writeText(root + "/patch.zip", content);
        server = std::make_unique<HttpTestServer>(root, std::vector<std::string>{},
                                                  std::vector<std::string>{}, validators);
        ASSERT_TRUE(server->started());
        sink.progressPercent = 0;
        setDownloadRetryPause([this](int milliseconds) {
            pauses.push_back(milliseconds);
            if (betweenTries) betweenTries();
        });
    }
    void TearDown() override {
        platform::setDownloadStallSeconds(0);
        setDownloadRetryPause({});
        setDownloadHashingForTests(false);
    }

    bool download(const std::string& relative) {
        url = server->url(relative);
        ::testing::internal::CaptureStderr();
        const bool fetched = downloadFile(url, target, sink);
        diagnostics = ::testing::internal::GetCapturedStderr();
        return fetched;
    }
    // Fetches through the update server's routine, recording what is offered for acceptance. A
    // fault rides in `base`'s query, where percent-encoding of `relative` cannot reach it.
    bool fetch(const std::string& base, const std::string& relative) {
        ::testing::internal::CaptureStderr();
        const bool fetched = fetchUpdateFile(base, relative, target, sink, [this](const FetchedFile& file) {
            offered = file;
            return true;
        });
        diagnostics = ::testing::internal::GetCapturedStderr();
        return fetched;
    }
    std::size_t retryLines() const {
        std::size_t count = 0;
        for (auto at = diagnostics.find("Retrying download of: "); at != std::string::npos;
             at = diagnostics.find("Retrying download of: ", at + 1))
            ++count;
        return count;
    }
#ifndef _WIN32
    // Runs downloadFile of `relative` (a stalling answer) in a child process that ends once a
    // quarter MiB has arrived: killed, or through endProcess. The child's wait status.
    int endMidDownload(const std::string& relative, bool killed) {
        const pid_t child = fork();
        if (child == 0) {
            std::thread watcher([this, killed] {
                std::error_code error;
                while (std::filesystem::file_size(downloadPartPath(target), error) < 256 * 1024 || error ||
                       (validators && !std::filesystem::exists(resumeFilePath(downloadPartPath(target)))))
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (killed) kill(getpid(), SIGKILL);
                platform::endProcess(0);
            });
            watcher.detach();
            downloadFile(server->url(relative), target, sink);
            _exit(3); // the stalled transfer never ends by itself
        }
        int status = -1;
        for (int waited = 0; child > 0 && waited < 3000 && waitpid(child, &status, WNOHANG) == 0; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (child > 0 && status == -1) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            ADD_FAILURE() << "the child never reached a quarter of the download";
        }
        return status;
    }
#endif
    // Nothing under the target's name and no temporary left beside it.
    void expectNothingLeft() {
        EXPECT_FALSE(std::filesystem::exists(target));
        EXPECT_EQ(platform::listFolder(folder.path()), std::vector<std::string>{"root"});
    }
    // The old file as it was, and no temporary beside it.
    void expectOldFileKept() {
        EXPECT_EQ(readText(target), "old");
        EXPECT_EQ(platform::listFolder(folder.path()).size(), 2u);
    }

    bool validators = false;
    TestFolder folder;
    std::string root = folder.file("root");
    std::string target = folder.file("1001.zip");
    std::string content = std::string(2 * 1024 * 1024, 'x') + "end";
    std::unique_ptr<HttpTestServer> server;
    Downloader sink;
    std::string url;
    std::string diagnostics;
    std::vector<int> pauses;
    std::function<void()> betweenTries;
    FetchedFile offered;
};

std::string sha256Of(const std::string& text) {
    platform::Sha256Hasher hasher;
    hasher.update(text.data(), text.size());
    const auto value = hasher.finish();
    std::string hex;
    for (const unsigned char byte : *value) {
        static constexpr char digits[] = "0123456789abcdef";
        hex += digits[byte >> 4];
        hex += digits[byte & 0x0F];
    }
    return hex;
}

TEST_F(DownloadFile, replaces_an_old_read_only_file_and_reaches_100_percent) {
    writeText(target, "old");
    makeReadOnly(target);
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

TEST_F(DownloadFile, error_status_keeps_the_old_file_and_reports_the_code) {
    writeText(target, "old");
    download("patch.zip?fault=404");
    EXPECT_EQ(diagnostics, "Download failed for: " + url + " HRESULT: -404\n");
    expectOldFileKept();
}

// Passing failures are tried 3 more times after 1, 2 and 4 s, or after a short Retry-After.
TEST_F(DownloadFile, passing_failures_are_tried_again_after_growing_pauses) {
    struct Case {
        const char* fault;
        std::vector<int> pauses;
        bool installed;
    };
    const Case cases[] = {
        {"503*1", {1000}, true},
        {"503:2*1", {2000}, true},
        {"503:120*1", {1000}, true}, // too long to wait for: the usual pause
        {"429*2", {1000, 2000}, true},
        {"408*1", {1000}, true},
        {"reset*1", {1000}, true},
        {"drop*3", {1000, 2000, 4000}, true},
        {"500", {1000, 2000, 4000}, false},
        {"403", {}, false},
    };
    for (const auto& c : cases) {
        // Wine's WinHTTP ends a body without a length quietly at a reset, where Windows fails.
        if (dltest::underWine() && std::string(c.fault) == "reset*1") continue;
        writeText(target, "old");
        pauses.clear();
        const bool fetched = download(std::string("patch.zip?fault=") + c.fault);
        EXPECT_EQ(fetched, c.installed) << c.fault << diagnostics;
        EXPECT_EQ(pauses, c.pauses) << c.fault;
        EXPECT_EQ(retryLines(), c.pauses.size()) << c.fault << diagnostics;
        if (c.installed) {
            EXPECT_EQ(readText(target), content) << c.fault;
            EXPECT_EQ(diagnostics.find("Download failed for: "), std::string::npos) << c.fault;
        } else {
            expectOldFileKept();
            EXPECT_NE(diagnostics.find("Download failed for: " + url + " HRESULT: -"), std::string::npos);
        }
    }
}

TEST_F(DownloadFile, cut_transfer_keeps_the_old_file_after_the_last_try) {
    for (const char* fault : {"drop", "short"}) {
        writeText(target, "old");
        download(std::string("patch.zip?fault=") + fault);
        EXPECT_EQ(retryLines(), 3u);
        const std::string last = "Download failed for: " + url + " HRESULT: -1018\n";
        ASSERT_GE(diagnostics.size(), last.size());
        EXPECT_EQ(diagnostics.substr(diagnostics.size() - last.size()), last) << fault;
        // Without a validator from the server, no part is worth keeping.
        expectOldFileKept();
    }
}

TEST_F(DownloadFile, stalled_transfer_is_given_up_and_tried_again) {
    platform::setDownloadStallSeconds(1);
    EXPECT_TRUE(download("patch.zip?fault=stall*1"));
    EXPECT_NE(diagnostics.find("Retrying download of: " + url + " HRESULT: -1028 in 1000 ms\n"),
              std::string::npos)
        << diagnostics;
    EXPECT_EQ(readText(target), content);
}

TEST_F(DownloadFile, missing_folder_fails_as_unwritable) {
    target = folder.file("two/levels/file.dat");
    download("patch.zip");
    EXPECT_EQ(diagnostics, "Download failed for: " + url + " HRESULT: -1\n");
}

// Clearing attributes and deleting happen only once the new file is complete, right before it
// takes the old one's place.
TEST_F(DownloadFile, failed_preparation_keeps_the_old_file) {
    writeText(target, "old");
    UndeletableFile locked(target);
    if (!locked.active())
        GTEST_SKIP() << "the immutable flag is not available (needs CAP_LINUX_IMMUTABLE, ext4)";
    download("patch.zip");
    EXPECT_EQ(diagnostics, "Failed to delete file after retries: " + target +
                               "\nFailed to prepare file for download: " + target + "\n");
    EXPECT_EQ(readText(target), "old");
    EXPECT_NE(server->requestLog(), "");
    EXPECT_EQ(platform::listFolder(folder.path()).size(), 2u);
}

TEST_F(DownloadFile, leftover_temporary_without_validator_file_is_replaced) {
    writeText(downloadPartPath(target), "half");
    // Named like another program's temporary, it is the player's.
    writeText(target + ".part", "the player's");
    download("patch.zip");
    EXPECT_EQ(readText(target), content);
    EXPECT_EQ(readText(target + ".part"), "the player's");
    EXPECT_FALSE(std::filesystem::exists(downloadPartPath(target)));
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

TEST(UpdateFileUrl, encodes_only_what_cannot_stand_in_a_path_and_keeps_escapes) {
    const std::pair<const char*, const char*> cases[] = {
        {"patches/1001.zip", "patches/1001.zip"},
        {"patches/1001 .zip", "patches/1001%20.zip"},
        {"patches/Launcher/data/A-Z_a.z~09", "patches/Launcher/data/A-Z_a.z~09"},
        {"a%20b.dat", "a%20b.dat"},
        {"%2e%2E/%41", "%2e%2E/%41"},
        {"a?b#c%d+e&f=g", "a%3Fb%23c%25d+e&f=g"},
        {"100%", "100%25"},
        {"%4g", "%254g"},
        {"!$'()*,;:@[]", "!$'()*,;:@[]"},
        {"\"<>^`{|}", "%22%3C%3E%5E%60%7B%7C%7D"},
        {"data\\x.bin", "data%5Cx.bin"},
        {"d\xc3\xbc/\x7f\t\x01", "d%C3%BC/%7F%09%01"},
    };
    for (const auto& [relative, encoded] : cases)
        EXPECT_EQ(updateFileUrl("http://h:1/up/", relative), std::string("http://h:1/up/") + encoded)
            << relative;
}

TEST_F(DownloadFile, a_name_with_a_space_is_fetched_under_its_full_text) {
    writeText(root + "/1001 .zip", "spaced");
    EXPECT_TRUE(fetch(server->url(""), "1001 .zip"));
    EXPECT_EQ(readText(target), "spaced");
    EXPECT_EQ(offered.relativePath, "1001 .zip");
    EXPECT_NE(server->requestLog().find("\"path\": \"/1001%20.zip\""), std::string::npos);
}

// Against a server that names its copy (ETag, Last-Modified) and answers Range requests.
class ResumedDownload : public DownloadFile {
  protected:
    void SetUp() override {
        validators = true;
        DownloadFile::SetUp();
        setDownloadHashingForTests(true);
    }
    std::vector<std::string> requests() const {
        std::vector<std::string> lines;
        std::istringstream log(server->requestLog());
        for (std::string line; std::getline(log, line);) lines.push_back(line);
        return lines;
    }
};

TEST_F(ResumedDownload, transfer_cut_at_half_is_resumed_with_a_range_request) {
    writeText(target, "old");
    ASSERT_TRUE(fetch(server->url("patch.zip?fault=drop*1&to="), ""));
    EXPECT_EQ(readText(target), content);
    EXPECT_EQ(offered.size, content.size());
    EXPECT_EQ(offered.sha256, sha256Of(content)) << "the kept half is hashed before the rest";
    const auto lines = requests();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].find("\"range\""), std::string::npos);
    EXPECT_NE(lines[1].find("\"range\": \"bytes="), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("\"if-range\": \"\\\""), std::string::npos) << lines[1];
    EXPECT_LT(static_cast<double>(server->bytesServed()), 1.6 * static_cast<double>(content.size()));
    EXPECT_EQ(sink.progressPercent, 100);
    EXPECT_EQ(platform::listFolder(folder.path()).size(), 2u) << "neither part nor validator file is left";
}

// A silent server and one that trickles (the body, or the headers) under the low-speed limit are
// given up and tried again; what arrived of the body is kept and resumed.
TEST_F(ResumedDownload, stalled_or_trickling_transfer_is_tried_again_and_resumed_from_its_kept_part) {
    platform::setDownloadStallSeconds(1);
    platform::setDownloadLowSpeed(1024, 2);
#ifdef _WIN32
    // Wine's WinHTTP bounds each wait for header bytes, not the whole wait that Windows bounds.
    const char* const faults[] = {"stall", "trickle"};
#else
    const char* const faults[] = {"stall", "trickle", "trickle-headers"};
#endif
    for (const std::string fault : faults) {
        SCOPED_TRACE(fault);
        std::filesystem::remove(target);
        const auto before = requests().size();
        // Given up, not waited out: one retry line and a second request prove it (no clock, which a
        // loaded machine would make flaky).
        ASSERT_TRUE(fetch(server->url("patch.zip?fault=" + fault + "*1&to="), ""));
        EXPECT_EQ(readText(target), content);
        EXPECT_EQ(offered.sha256, sha256Of(content));
        EXPECT_EQ(retryLines(), 1u) << diagnostics;
        const auto lines = requests();
        ASSERT_EQ(lines.size(), before + 2);
        EXPECT_EQ(lines.back().find("\"range\"") != std::string::npos, fault != "trickle-headers")
            << "only a part that arrived is resumed: " << lines.back();
    }
    platform::setDownloadLowSpeed(0, 0);
}

TEST_F(ResumedDownload, copy_changed_between_tries_is_fetched_whole) {
    const std::string changed = std::string(3 * 1024 * 1024, 'y') + "new";
    betweenTries = [&] { writeText(root + "/patch.zip", changed); };
    ASSERT_TRUE(fetch(server->url("patch.zip?fault=drop*1&to="), ""));
    EXPECT_EQ(readText(target), changed);
    EXPECT_EQ(offered.sha256, sha256Of(changed));
    EXPECT_EQ(offered.size, changed.size());
    const auto lines = requests();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("\"if-range\""), std::string::npos);
    EXPECT_EQ(server->bytesServed(), content.size() / 2 + changed.size());
}

// All tries fail: the part and its validator file stay, and the next download goes on from them.
TEST_F(ResumedDownload, part_kept_after_the_last_try_is_resumed_by_the_next_download) {
    writeText(target, "old");
    EXPECT_FALSE(download("patch.zip?fault=drop*4"));
    EXPECT_EQ(readText(target), "old");
    EXPECT_TRUE(std::filesystem::exists(downloadPartPath(target)));
    EXPECT_TRUE(std::filesystem::exists(resumeFilePath(downloadPartPath(target))));
    EXPECT_TRUE(download("patch.zip?fault=drop*4"));
    EXPECT_EQ(readText(target), content);
    EXPECT_EQ(requests().size(), 5u);
    EXPECT_NE(requests().back().find("\"range\": \"bytes="), std::string::npos);
    EXPECT_LT(static_cast<double>(server->bytesServed()), 1.6 * static_cast<double>(content.size()));
}

// A launcher process that ends (or is killed) mid-download; the next start resumes its part.
// (fork and SIGKILL: POSIX only; the resume itself is the test above.)
#ifndef _WIN32
TEST_F(ResumedDownload, launcher_ended_mid_download_resumes_at_its_next_start) {
    for (const bool killed : {true, false}) {
        std::filesystem::remove(target);
        const std::string relative =
            std::string("patch.zip?fault=stall*1&run=") + (killed ? "killed" : "ended");
        const int status = endMidDownload(relative, killed);
        EXPECT_TRUE(killed ? WIFSIGNALED(status) : WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        ASSERT_TRUE(std::filesystem::exists(resumeFilePath(downloadPartPath(target)))) << killed;
        const auto kept = std::filesystem::file_size(downloadPartPath(target));

        ASSERT_TRUE(download(relative)) << diagnostics;
        EXPECT_EQ(readText(target), content);
        EXPECT_NE(requests().back().find("\"range\": \"bytes=" + std::to_string(kept) + "-\""),
                  std::string::npos);
        EXPECT_EQ(platform::listFolder(folder.path()).size(), 2u);
    }
}

// Without a validator there is nothing to resume: a process ending mid-download leaves no part.
TEST_F(DownloadFile, launcher_ended_mid_download_leaves_no_part_the_server_cannot_name) {
    const int status = endMidDownload("patch.zip?fault=stall", false);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    expectNothingLeft();
}
#endif

} // namespace
