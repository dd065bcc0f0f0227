#include "update/extract_archive.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "update_test_support.h"

namespace {

using namespace updtest;

class ExtractArchiveTest : public UpdateTest {
  protected:
    std::string archive = scratch.path() + "/patch.zip";

    // Runs the extraction and returns its result with what it wrote on the error stream.
    std::pair<bool, std::string> extract(const std::string& target) {
        ::testing::internal::CaptureStderr();
        const bool result = extractArchive(archive, target);
        return {result, ::testing::internal::GetCapturedStderr()};
    }
    bool hasTemporaryLeft(const std::string& folder) const {
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.path().filename().string().find(".extracting-") != std::string::npos) return true;
        return false;
    }
};

TEST_F(ExtractArchiveTest,
       python_archive_with_stored_deflated_nested_and_folder_entries_is_laid_over_target) {
    ASSERT_TRUE(makePythonArchive(archive, R"(
z.writestr('version.dat', '1001')
z.writestr(zipfile.ZipInfo('maps/'), '')
z.writestr('maps/town/house.dat', 'house', compress_type=zipfile.ZIP_STORED)
z.writestr('big.bin', bytes(range(256)) * 12000)
z.writestr('empty.txt', '')
z.writestr('win\\style.txt', 'backslash')
z.writestr(zipfile.ZipInfo('only/nested/folder/'), '')
)"));
    writeText(install + "version.dat", "1000\nold line");
    // Without its final separator: one is added.
    const auto [result, errors] = extract(install.substr(0, install.size() - 1));
    EXPECT_TRUE(result);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(readText(install + "version.dat"), "1001");
    EXPECT_EQ(readText(install + "maps/town/house.dat"), "house");
    std::string big;
    for (int i = 0; i < 12000; ++i)
        for (int b = 0; b < 256; ++b) big += static_cast<char>(b);
    EXPECT_EQ(readText(install + "big.bin"), big);
    EXPECT_TRUE(fs::is_regular_file(install + "empty.txt"));
    EXPECT_EQ(fs::file_size(install + "empty.txt"), 0u);
    EXPECT_EQ(readText(install + "win/style.txt"), "backslash");
    EXPECT_TRUE(fs::is_directory(install + "only/nested/folder"));
    EXPECT_FALSE(hasTemporaryLeft(install));
}

TEST_F(ExtractArchiveTest, info_zip_archives_stored_and_deflated_keep_content_times_and_execute_bits) {
    const std::string source = scratch.path() + "/source";
    fs::create_directories(source + "/data/sub");
    writeText(source + "/data/sub/a.txt", std::string(100000, 'a'));
    writeText(source + "/Halcyra.exe", "client");
    fs::permissions(source + "/Halcyra.exe", fs::perms::owner_all);
    // An even second: ZIP stores times in two-second steps.
    ASSERT_EQ(runShell("touch -d '2021-03-04 05:06:08' " + quoted(source + "/data/sub/a.txt")), 0);
    for (const std::string options : {"", "-0"}) {
        SCOPED_TRACE("zip " + options);
        fs::remove(archive);
        fs::remove_all(install);
        fs::create_directories(install);
        ASSERT_TRUE(makeInfoZipArchive(archive, source, options));
        const auto [result, errors] = extract(install);
        EXPECT_TRUE(result) << errors;
        EXPECT_EQ(readText(install + "data/sub/a.txt"), std::string(100000, 'a'));
        EXPECT_EQ(fs::last_write_time(install + "data/sub/a.txt"),
                  fs::last_write_time(source + "/data/sub/a.txt"));
        EXPECT_NE(fs::status(install + "Halcyra.exe").permissions() & fs::perms::owner_exec, fs::perms::none);
        EXPECT_EQ(fs::status(install + "data/sub/a.txt").permissions() & fs::perms::owner_exec,
                  fs::perms::none);
    }
}

TEST_F(ExtractArchiveTest, empty_and_folder_only_archives_succeed) {
    ASSERT_TRUE(makePythonArchive(archive, ""));
    EXPECT_EQ(extract(install), std::make_pair(true, std::string()));
    EXPECT_TRUE(fs::is_empty(install));

    ASSERT_TRUE(makePythonArchive(archive, "z.writestr(zipfile.ZipInfo('a/'), '')\n"
                                           "z.writestr(zipfile.ZipInfo('a/b/'), '')\n"));
    EXPECT_EQ(extract(install), std::make_pair(true, std::string()));
    EXPECT_TRUE(fs::is_directory(install + "a/b"));
}

TEST_F(ExtractArchiveTest, missing_or_corrupt_archive_fails_to_open_and_writes_nothing) {
    auto [result, errors] = extract(install);
    EXPECT_FALSE(result);
    EXPECT_EQ(errors, "Failed to open archive: " + archive + "\n");

    writeText(archive, "this is not a zip archive, only some text that looks nothing like one");
    std::tie(result, errors) = extract(install);
    EXPECT_FALSE(result);
    EXPECT_EQ(errors, "Failed to open archive: " + archive + "\n");
    EXPECT_TRUE(fs::is_empty(install));
}

TEST_F(ExtractArchiveTest, damaged_entry_leaves_no_truncated_file_and_the_other_entries_are_written) {
    const std::string payload(300000, 'q');
    ASSERT_TRUE(makePythonArchive(
        archive, "z.writestr('first.txt', 'first')\n"
                 "z.writestr('broken.dat', b'q' * 300000, compress_type=zipfile.ZIP_STORED)\n"
                 "z.writestr('last.txt', 'last')\n"));
    // Damage the stored bytes in the middle of broken.dat, so its checksum no longer matches.
    std::string bytes = readText(archive);
    const auto middle = bytes.find(std::string(1000, 'q')) + 150000;
    ASSERT_LT(middle, bytes.size());
    bytes.replace(middle, 10, "XXXXXXXXXX");
    writeText(archive, bytes);
    writeText(install + "broken.dat", "old content");

    const auto [result, errors] = extract(install);
    EXPECT_FALSE(result);
    EXPECT_EQ(errors, "Failed to extract: " + install + "broken.dat\nExtraction completed with errors\n");
    EXPECT_FALSE(fs::exists(install + "broken.dat"));
    EXPECT_EQ(readText(install + "first.txt"), "first");
    EXPECT_EQ(readText(install + "last.txt"), "last");
    EXPECT_FALSE(hasTemporaryLeft(install));
}

TEST_F(ExtractArchiveTest, absolute_and_climbing_entry_names_are_refused_and_the_rest_extracted) {
    const std::string outside = scratch.path() + "/outside";
    fs::create_directories(outside);
    ASSERT_TRUE(makePythonArchive(archive, "z.writestr('../escape.txt', 'x')\n"
                                           "z.writestr('inner/../../escape2.txt', 'x')\n"
                                           "z.writestr('" +
                                               outside +
                                               "/absolute.txt', 'x')\n"
                                               "z.writestr(zipfile.ZipInfo('../up/'), '')\n"
                                               "z.writestr('..\\\\windows.txt', 'x')\n"
                                               "z.writestr('C:/drive.txt', 'x')\n"
                                               "z.writestr('good.txt', 'good')\n"));
    const auto [result, errors] = extract(install);
    EXPECT_FALSE(result);
    EXPECT_EQ(errors, "Failed to extract: ../escape.txt\n"
                      "Failed to extract: inner/../../escape2.txt\n"
                      "Failed to extract: " +
                          outside +
                          "/absolute.txt\n"
                          "Failed to extract: ../up/\n"
                          "Failed to extract: ..\\windows.txt\n"
                          "Failed to extract: C:/drive.txt\n"
                          "Extraction completed with errors\n");
    EXPECT_EQ(readText(install + "good.txt"), "good");
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_FALSE(fs::exists(scratch.path() + "/escape.txt"));
    EXPECT_FALSE(fs::exists(scratch.path() + "/escape2.txt"));
    EXPECT_FALSE(fs::exists(scratch.path() + "/up"));
    EXPECT_FALSE(fs::exists(scratch.path() + "/windows.txt"));
    EXPECT_FALSE(fs::exists(install + "inner"));
}

TEST_F(ExtractArchiveTest, replaced_read_only_file_is_read_only_again) {
    writeText(install + "locked.ini", "old");
    ASSERT_TRUE(platform::setFileAttributes(install + "locked.ini", platform::attributeReadOnly));
    writeText(install + "plain.ini", "old");
    ASSERT_TRUE(
        makePythonArchive(archive, "z.writestr('locked.ini', 'new')\nz.writestr('plain.ini', 'new')\n"));
    EXPECT_EQ(extract(install), std::make_pair(true, std::string()));
    EXPECT_EQ(readText(install + "locked.ini"), "new");
    EXPECT_EQ(fs::status(install + "locked.ini").permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_EQ(readText(install + "plain.ini"), "new");
    EXPECT_NE(fs::status(install + "plain.ini").permissions() & fs::perms::owner_write, fs::perms::none);
}

TEST_F(ExtractArchiveTest, replaced_hidden_system_file_stays_hidden_and_system) {
    const std::string path = install + "secret.dat";
    writeText(path, "old");
    const auto marks = platform::attributeHidden | platform::attributeSystem;
    ASSERT_TRUE(platform::setFileAttributes(path, marks));
    if (platform::fileAttributes(path) != marks) GTEST_SKIP() << "no extended attributes on this file system";
    ASSERT_TRUE(
        makePythonArchive(archive, "z.writestr('secret.dat', 'new')\nz.writestr('fresh.dat', 'new')\n"));
    EXPECT_EQ(extract(install), std::make_pair(true, std::string()));
    EXPECT_EQ(readText(path), "new");
    EXPECT_EQ(platform::fileAttributes(path), marks);
    // Marks come only from a replaced file.
    EXPECT_EQ(platform::fileAttributes(install + "fresh.dat"), platform::attributeNormal);
}

TEST_F(ExtractArchiveTest, entry_names_follow_existing_folders_and_files_regardless_of_case) {
    fs::create_directories(install + "data/Maps");
    writeText(install + "data/Maps/town.dat", "old");
    ASSERT_TRUE(makePythonArchive(archive, "z.writestr('Data/maps/TOWN.dat', 'new')\n"
                                           "z.writestr('DATA/new.dat', 'fresh')\n"));
    EXPECT_EQ(extract(install), std::make_pair(true, std::string()));
    EXPECT_EQ(readText(install + "data/Maps/town.dat"), "new");
    EXPECT_EQ(readText(install + "data/new.dat"), "fresh");
    std::vector<std::string> top;
    for (const auto& entry : fs::directory_iterator(install)) top.push_back(entry.path().filename());
    EXPECT_EQ(top, std::vector<std::string>{"data"});
}

TEST_F(ExtractArchiveTest, folder_in_the_way_of_a_file_is_reported_with_its_error_and_the_rest_written) {
    fs::create_directories(install + "blocked/inside");
    ASSERT_TRUE(
        makePythonArchive(archive, "z.writestr('blocked', 'file')\nz.writestr('after.txt', 'after')\n"));
    const auto [result, errors] = extract(install);
    EXPECT_FALSE(result);
    // EISDIR: a delete error other than "not found" and the retried kind is reported at once.
    EXPECT_EQ(errors,
              "Failed to delete file: " + install + "blocked Error: 21\nExtraction completed with errors\n");
    EXPECT_TRUE(fs::is_directory(install + "blocked/inside"));
    EXPECT_EQ(readText(install + "after.txt"), "after");
}

TEST_F(ExtractArchiveTest, file_that_refuses_deletion_is_reported_and_left_unchanged) {
    writeText(install + "held.dat", "old");
    dltest::ImmutableFile held(install + "held.dat");
    if (!held.active()) GTEST_SKIP() << "the immutable flag is not available here";
    ASSERT_TRUE(
        makePythonArchive(archive, "z.writestr('held.dat', 'new')\nz.writestr('other.dat', 'other')\n"));
    const auto [result, errors] = extract(install);
    EXPECT_FALSE(result);
    EXPECT_EQ(errors,
              "Failed to delete file: " + install + "held.dat Error: 1\nExtraction completed with errors\n");
    EXPECT_EQ(readText(install + "held.dat"), "old");
    EXPECT_EQ(readText(install + "other.dat"), "other");
}

} // namespace
