// Faults from outside during a patch update and an integrity check: an update server that cuts,
// shortens, refuses or stalls a transfer, a disk that fills up during a download or an
// extraction, and an installation folder that cannot be written. In every case the handler
// returns, no file outside the installation changes, no file under a game file's name is left
// truncated, and the status and diagnostics are the ones the player and the support see.
//
// Full disks are small tmpfs mounts and the read-only folder a read-only bind mount; both need
// root, and the tests that use them are skipped without it.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "platform/http.h"
#include "update/extract_archive.h"
#include "update/integrity_check.h"
#include "update/patch_update.h"
#include "update/temporary_names.h"
#include "update_test_support.h"

namespace {

using namespace updtest;

constexpr const char* finishedStatus = "Updated, There is no new patches.";
std::string failedStatus(const std::string& version) {
    return "Update to version " + version + " failed. Please restart launcher.";
}
constexpr std::size_t bigFileSize = 300 * 1024;

// One file, fetched from its own name.
std::string oneFileList(const std::string& name, const std::string& digest) {
    return fileList({{name, name, digest}}, "");
}

// Bytes that do not compress, so an archive holding them is as large as they are.
std::string noise(std::size_t size) {
    std::mt19937 random(42);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

// Every file under `folder` whose name marks a temporary of a download or an extraction.
std::vector<std::string> temporariesUnder(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(downloadPartSuffix()) || name.starts_with(extractingPrefix()))
            found.push_back(entry.path().generic_string());
    }
    return found;
}

// Mounts are made on the Linux side, also for a Windows test program under Wine, whose folders
// are Linux folders there.
bool isRoot() {
    std::string user;
    return dltest::runTool({"id", "-u"}, "", &user) == 0 && user == "0\n";
}

// A mount that lives as long as the object; lazily detached so a busy file never blocks teardown.
class Mount {
  public:
    Mount(const std::string& point, const std::vector<std::vector<std::string>>& commands) : point_(point) {
        mounted_ = isRoot();
        for (std::size_t i = 0; mounted_ && i < commands.size(); ++i) {
            mounted_ = dltest::runTool(commands[i]) == 0;
            attached_ = attached_ || mounted_;
        }
    }
    ~Mount() {
        if (attached_) dltest::runTool({"umount", "-l", point_});
    }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    bool mounted() const { return mounted_; }

  private:
    std::string point_;
    bool mounted_ = false;
    bool attached_ = false; // the first command's mount, to undo even when a later one failed
};

std::unique_ptr<Mount> smallDisk(const std::string& folder, const std::string& size) {
    fs::create_directories(folder);
    return std::make_unique<Mount>(folder,
                                   std::vector<std::vector<std::string>>{
                                       {"mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", folder}});
}

std::unique_ptr<Mount> readOnly(const std::string& folder) {
    return std::make_unique<Mount>(
        folder, std::vector<std::vector<std::string>>{{"mount", "--bind", folder, folder},
                                                      {"mount", "-o", "remount,bind,ro", folder, folder}});
}

class FaultInjectionTest : public UpdateTest {
  protected:
    void SetUp() override {
        UpdateTest::SetUp();
        ASSERT_TRUE(server.started());
        writeText(install + "version.dat", "1000");
        fs::create_directories(install + "data");
        writeText(install + "data/a.txt", "old a");
    }
    void TearDown() override {
        platform::setDownloadStallSeconds(0);
        UpdateTest::TearDown();
    }
    // patches/<version>.zip: version.dat, a small file and a large one that does not compress.
    // The server cuts 1001-1005 (see `server`); 1006 arrives whole.
    void servePatch(const std::string& version = "1006") {
        fs::create_directories(served + "patches");
        writeText(served + "patches/big.bin", noise(bigFileSize));
        ASSERT_TRUE(
            makePythonArchive(served + "patches/" + version + ".zip",
                              "z.writestr('version.dat', '" + version +
                                  "')\n"
                                  "z.writestr('data/a.txt', 'new a')\n"
                                  "z.write(os.path.dirname(sys.argv[1]) + '/big.bin', 'data/big.bin')\n",
                              "ZIP_STORED"));
    }
    std::string patch(const std::string& list) {
        ::testing::internal::CaptureStderr();
        runPatchUpdateIn(patchList(list), install, server.url(""));
        return ::testing::internal::GetCapturedStderr();
    }
    std::string check(const std::string& message) {
        ::testing::internal::CaptureStderr();
        runIntegrityCheckIn(message, install, server.url(""));
        return ::testing::internal::GetCapturedStderr();
    }
    std::string everythingOutsideInstall() const {
        std::string listing;
        for (const auto& entry : fs::recursive_directory_iterator(scratch.path())) {
            const std::string path = entry.path().generic_string();
            if (path.starts_with(install) || path.starts_with(served)) continue;
            listing += path + "\n";
        }
        return listing;
    }
    void expectInstallationUntouched() const {
        EXPECT_EQ(readText(install + "version.dat"), "1000");
        EXPECT_EQ(readText(install + "data/a.txt"), "old a");
        EXPECT_FALSE(fs::exists(install + "data/big.bin"));
        EXPECT_EQ(temporariesUnder(install), std::vector<std::string>{});
    }

    dltest::HttpTestServer server{
        served,
        {"/patches/1001.zip=drop", "/patches/1002.zip=short", "/patches/1003.zip=404",
         "/patches/1004.zip=500", "/patches/1005.zip=stall", "/patches/Launcher/data/drop.bin=drop",
         "/patches/Launcher/data/short.bin=short", "/patches/Launcher/data/error.bin=500",
         "/patches/Launcher/data/stall.bin=stall", "/patches/Launcher/data/silent.bin=stall-headers",
         "/loop/patches/1007.zip=redirect"}};
};

// --- the update server -------------------------------------------------------------------------

TEST_F(FaultInjectionTest, patch_that_never_arrives_whole_changes_no_game_file_and_the_update_ends) {
    for (const char* version : {"1001", "1002", "1003", "1004", "1005"}) servePatch(version);
    platform::setDownloadStallSeconds(1);
    const std::string before = everythingOutsideInstall();
    const std::string base = server.url("patches/");
    const std::vector<std::pair<std::string, std::string>> faults = {
        {"1001", "-10"}, {"1002", "-10"}, {"1003", "-404\n"}, {"1004", "-500\n"}, {"1005", "-10"}};

    for (const auto& [version, result] : faults) {
        SCOPED_TRACE(version);
        // Each run stops at the patch that did not arrive; the next start asks for it again.
        const std::string diagnostics = patch(version + "\n1006");

        expectInstallationUntouched();
        EXPECT_EQ(fs::is_empty(install + "Downloads"), true) << "no archive is kept when none arrived";
        EXPECT_EQ(everythingOutsideInstall(), before);
        EXPECT_EQ(statusText(), failedStatus(version));
        EXPECT_EQ(gameVersion(), "1000");
        EXPECT_EQ(updatePhase(), 3);
        EXPECT_NE(diagnostics.find("Download failed for: " + base + version + ".zip HRESULT: " + result),
                  std::string::npos)
            << diagnostics;
        EXPECT_EQ(diagnostics.find("Failed to open archive: "), std::string::npos) << "nothing to extract";
        EXPECT_EQ(diagnostics.find("1006.zip"), std::string::npos) << "no later patch is tried";
    }
}

TEST_F(FaultInjectionTest, repair_that_never_arrives_whole_or_right_keeps_the_old_file_and_is_reported) {
    // "wrong" arrives whole, with other content than the list accepts.
    const char* const names[] = {"drop", "short", "error", "stall", "silent", "wrong"};
    for (const char* name : names)
        serve(std::string("patches/Launcher/data/") + name + ".bin", noise(bigFileSize));
    writeText(served + "patches/Launcher/data/wrong.bin", noise(bigFileSize / 2));
    const std::string digest = md5Of(noise(bigFileSize));
    platform::setDownloadStallSeconds(1);

    for (const std::string name : names) {
        SCOPED_TRACE(name);
        const std::string relative = "data/" + name + ".bin";
        writeText(install + relative, "damaged");
        const std::string diagnostics = check(oneFileList(relative, digest));

        EXPECT_EQ(readText(install + relative), "damaged")
            << "only a whole, accepted file replaces the old one";
        EXPECT_EQ(temporariesUnder(install), std::vector<std::string>{});
        EXPECT_EQ(statusText(), "Missing/corrupted files (1): " + relative + ". Please restart launcher.");
        EXPECT_EQ(updatePhase(), 4);
        const bool failedDownload =
            diagnostics.find("Download failed for: " + server.url("patches/Launcher/" + relative)) !=
            std::string::npos;
        EXPECT_EQ(failedDownload, name != "wrong") << diagnostics;
        EXPECT_NE(diagnostics.find("MD5 mismatch for: " + relative + "\n"), std::string::npos);
    }
}

// Several update servers: each patch the first cannot give (cut, 500, stalled) comes from the second.
TEST_F(FaultInjectionTest, patch_the_first_server_cannot_give_is_applied_from_the_second) {
    dltest::HttpTestServer mirror{served};
    ASSERT_TRUE(mirror.started());
    platform::setDownloadStallSeconds(1);
    const std::vector<std::pair<std::string, std::string>> faults = {
        {"1001", "-1018"}, {"1004", "-500"}, {"1005", "-1028"}};
    for (const auto& [version, result] : faults) {
        SCOPED_TRACE(version);
        servePatch(version);
        forgetWorkingUpdateServer();
        ::testing::internal::CaptureStderr();
        runPatchUpdateIn(patchList(version), install, server.url("") + ";" + mirror.url(""));
        const std::string diagnostics = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(readText(install + "version.dat"), version) << diagnostics;
        EXPECT_EQ(readText(install + "data/a.txt"), "new a");
        EXPECT_EQ(temporariesUnder(install), std::vector<std::string>{});
        EXPECT_NE(diagnostics.find("Download failed for: " + server.url("patches/" + version + ".zip") +
                                   " HRESULT: " + result + "\n"),
                  std::string::npos)
            << diagnostics;
        EXPECT_EQ(statusText(), finishedStatus);
    }
}

TEST_F(FaultInjectionTest, patch_behind_a_redirect_is_applied_and_a_redirect_loop_is_given_up) {
    servePatch();
    // The list's token ends up in the query, so the server sends the client on to patches/1006.zip.
    const std::string redirecting = server.url("moved?fault=redirect&to=/patches/1006.zip&token=");
    std::string diagnostics = [&] {
        ::testing::internal::CaptureStderr();
        runPatchUpdateIn(patchList("1006"), install, redirecting);
        return ::testing::internal::GetCapturedStderr();
    }();
    EXPECT_EQ(readText(install + "version.dat"), "1006") << diagnostics;
    EXPECT_EQ(readText(install + "data/a.txt"), "new a");
    EXPECT_EQ(temporariesUnder(install), std::vector<std::string>{});

    // A server that sends the client back to the same address for ever.
    const std::string looping = server.url("loop/");
    ::testing::internal::CaptureStderr();
    runPatchUpdateIn(patchList("1007"), install, looping);
    diagnostics = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(readText(install + "version.dat"), "1006");
    EXPECT_FALSE(fs::exists(install + "Downloads/1007.zip"));
    EXPECT_EQ(temporariesUnder(install), std::vector<std::string>{});
    EXPECT_NE(diagnostics.find("Download failed for: " + looping + "patches/1007.zip HRESULT: -1047\n"),
              std::string::npos)
        << diagnostics;
    EXPECT_EQ(statusText(), failedStatus("1007"));
}

// --- a full disk -------------------------------------------------------------------------------

TEST_F(FaultInjectionTest, disk_full_during_the_patch_download_keeps_no_partial_archive) {
    servePatch();
    const auto disk = smallDisk(install + "Downloads", "64k");
    if (!disk->mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";

    const std::string diagnostics = patch("1006");

    expectInstallationUntouched();
    EXPECT_TRUE(fs::is_empty(install + "Downloads"));
    EXPECT_EQ(statusText(), failedStatus("1006"));
    EXPECT_NE(diagnostics.find("Download failed for: " + server.url("patches/1006.zip") + " HRESULT: -"),
              std::string::npos)
        << diagnostics;
    EXPECT_EQ(diagnostics.find("Failed to open archive: "), std::string::npos);
}

TEST_F(FaultInjectionTest, disk_full_during_extraction_leaves_no_partial_file_and_keeps_the_archive) {
    servePatch();
    writeText(install + "data/big.bin", "old big");
    // Room for the small files, not for the large one.
    const auto disk = smallDisk(install + "data", "64k");
    if (!disk->mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    writeText(install + "data/a.txt", "old a");
    writeText(install + "data/big.bin", "old big");

    const std::string diagnostics = patch("1006");

    EXPECT_EQ(readText(install + "data/big.bin"), "old big")
        << "the old file stays until a whole new one is there";
    EXPECT_EQ(readText(install + "data/a.txt"), "new a") << "the entries that fit are written";
    EXPECT_EQ(readText(install + "version.dat"), "1000") << "the next start fetches the patch again";
    EXPECT_EQ(temporariesUnder(install), std::vector<std::string>{});
    EXPECT_TRUE(fs::exists(install + "Downloads/1006.zip")) << "an archive that failed to extract is kept";
    EXPECT_EQ(statusText(), failedStatus("1006"));
    EXPECT_EQ(gameVersion(), "1000");
    EXPECT_NE(diagnostics.find("Failed to extract: " + install + "data/big.bin\n"), std::string::npos)
        << diagnostics;
    EXPECT_NE(diagnostics.find("Extraction completed with errors\n"), std::string::npos);
}

TEST_F(FaultInjectionTest, disk_full_during_a_repair_download_leaves_no_truncated_file) {
    serve("patches/Launcher/data/big.bin", noise(bigFileSize));
    const auto disk = smallDisk(install + "data", "64k");
    if (!disk->mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";

    const std::string diagnostics = check(oneFileList("data/big.bin", md5Of(noise(bigFileSize))));

    EXPECT_FALSE(fs::exists(install + "data/big.bin"));
    EXPECT_EQ(temporariesUnder(install), std::vector<std::string>{});
    EXPECT_EQ(statusText(), "Missing/corrupted files (1): data/big.bin. Please restart launcher.");
    EXPECT_NE(diagnostics.find("Download failed for: "), std::string::npos) << diagnostics;
    EXPECT_NE(diagnostics.find("MD5 mismatch for: data/big.bin\n"), std::string::npos);
}

// --- an installation folder that cannot be written ---------------------------------------------

TEST_F(FaultInjectionTest, read_only_installation_is_left_as_it_was_by_the_patch_update) {
    servePatch();
    const auto mount = readOnly(install);
    if (!mount->mounted()) GTEST_SKIP() << "needs root for a read-only bind mount";

    const std::string diagnostics = patch("1006");

    expectInstallationUntouched();
    EXPECT_FALSE(fs::exists(install + "Downloads"));
    EXPECT_EQ(statusText(), failedStatus("1006"));
    EXPECT_EQ(gameVersion(), "1000");
    EXPECT_NE(diagnostics.find("Download failed for: " + server.url("patches/1006.zip") + " HRESULT: -1\n"),
              std::string::npos)
        << diagnostics;
    EXPECT_EQ(diagnostics.find("Failed to open archive: "), std::string::npos);
}

TEST_F(FaultInjectionTest, read_only_installation_keeps_a_damaged_file_and_reports_it) {
    serve("patches/Launcher/data/a.txt", "new a");
    const auto mount = readOnly(install);
    if (!mount->mounted()) GTEST_SKIP() << "needs root for a read-only bind mount";

    const std::string diagnostics = check(oneFileList("data/a.txt", md5Of("new a")));

    EXPECT_EQ(readText(install + "data/a.txt"), "old a");
    EXPECT_EQ(statusText(), "Missing/corrupted files (1): data/a.txt. Please restart launcher.");
    EXPECT_EQ(updatePhase(), 4);
    // Not even the temporary beside the file can be written.
    EXPECT_NE(diagnostics.find("Download failed for: " + server.url("patches/Launcher/data/a.txt") +
                               " HRESULT: -1\n"),
              std::string::npos)
        << diagnostics;
    EXPECT_NE(diagnostics.find("MD5 mismatch for: data/a.txt\n"), std::string::npos);
}

TEST_F(FaultInjectionTest, read_only_installation_still_reads_its_version) {
    writeText(install + "version.dat", "1007\n");
    const auto mount = readOnly(install);
    if (!mount->mounted()) GTEST_SKIP() << "needs root for a read-only bind mount";
    EXPECT_EQ(readInstalledVersionIn(install), "1007");
}

TEST(FaultInjection, missing_version_file_in_a_read_only_folder_gives_the_default_without_writing) {
    dltest::TestFolder scratch;
    const std::string folder = scratch.path() + "/install/";
    fs::create_directories(folder);
    const auto mount = readOnly(folder);
    if (!mount->mounted()) GTEST_SKIP() << "needs root for a read-only bind mount";
    EXPECT_EQ(readInstalledVersionIn(folder), "1000");
    EXPECT_FALSE(fs::exists(folder + "version.dat"));
}

} // namespace
