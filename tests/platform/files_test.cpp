#include "platform/files.h"

#include "../support/test_processes.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/xattr.h>

namespace fs = std::filesystem;

namespace {

class FilesTest : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return (root / name).string(); }
    void write(const std::string& name, const std::string& content = "x") const {
        fs::create_directories((root / name).parent_path());
        std::ofstream(root / name) << content;
    }
    dltest::TestFolder scratch;
    fs::path root{scratch.path()};
};

TEST_F(FilesTest, missing_path_has_no_attributes_and_plain_file_reads_normal) {
    EXPECT_FALSE(platform::fileAttributes(path("absent")).has_value());
    write("plain");
    EXPECT_EQ(platform::fileAttributes(path("plain")), platform::attributeNormal);
    fs::create_directory(root / "folder");
    EXPECT_TRUE(*platform::fileAttributes(path("folder")) & platform::attributeDirectory);
}

TEST_F(FilesTest, read_only_bit_round_trips_through_the_owner_write_bit) {
    write("file");
    ASSERT_TRUE(platform::setFileAttributes(path("file"), platform::attributeReadOnly));
    EXPECT_EQ(fs::status(root / "file").permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_TRUE(*platform::fileAttributes(path("file")) & platform::attributeReadOnly);
    ASSERT_TRUE(platform::setFileAttributes(path("file"), platform::attributeNormal));
    EXPECT_EQ(platform::fileAttributes(path("file")), platform::attributeNormal);
}

TEST_F(FilesTest, hidden_and_system_bits_live_in_the_wine_attribute) {
    write("file");
    if (setxattr(path("file").c_str(), "user.probe", "1", 1, 0) != 0) GTEST_SKIP() << "no user xattrs here";
    ASSERT_TRUE(
        platform::setFileAttributes(path("file"), platform::attributeHidden | platform::attributeSystem));
    char text[32] = {};
    ASSERT_GT(getxattr(path("file").c_str(), "user.DOSATTRIB", text, sizeof text - 1), 0);
    EXPECT_STREQ(text, "0x6");
    EXPECT_EQ(*platform::fileAttributes(path("file")), platform::attributeHidden | platform::attributeSystem);
    ASSERT_TRUE(platform::setFileAttributes(path("file"), platform::attributeNormal));
    EXPECT_EQ(platform::fileAttributes(path("file")), platform::attributeNormal);
}

TEST_F(FilesTest, delete_sorts_outcomes_as_the_retry_rules_need) {
    write("file");
    EXPECT_EQ(platform::deleteFile(path("file")).result, platform::DeleteResult::deleted);
    EXPECT_EQ(platform::deleteFile(path("file")).result, platform::DeleteResult::notFound);
    fs::create_directory(root / "folder");
    EXPECT_EQ(platform::deleteFile(path("folder")).result, platform::DeleteResult::failed);
}

TEST_F(FilesTest, folders_are_created_one_level_only) {
    EXPECT_TRUE(platform::createFolder(path("a")));
    EXPECT_TRUE(platform::createFolder(path("a")));
    EXPECT_FALSE(platform::createFolder(path("b/c")));
    EXPECT_FALSE(fs::exists(root / "b"));
    write("file");
    EXPECT_FALSE(platform::createFolder(path("file")));
}

TEST_F(FilesTest, move_never_replaces_an_existing_file) {
    write("from", "new");
    write("to", "old");
    EXPECT_FALSE(platform::moveFileNoReplace(path("from"), path("to")));
    std::ifstream to(root / "to");
    std::string content;
    to >> content;
    EXPECT_EQ(content, "old");
    EXPECT_TRUE(platform::moveFileNoReplace(path("from"), path("moved")));
    EXPECT_FALSE(fs::exists(root / "from"));
}

TEST_F(FilesTest, names_from_the_server_take_the_spelling_of_existing_entries) {
    write("Data/Maps/a.dat");
    const std::string folder = root.string() + "/";
    EXPECT_EQ(platform::resolveCaseInsensitive(folder, "data\\maps\\A.DAT"), folder + "Data/Maps/a.dat");
    EXPECT_EQ(platform::resolveCaseInsensitive(folder, "DATA/new/b.dat"), folder + "Data/new/b.dat");
    EXPECT_EQ(platform::resolveCaseInsensitive(folder, "fresh.txt"), folder + "fresh.txt");
    EXPECT_EQ(platform::resolveCaseInsensitive(folder, "data/"), folder + "Data/");
}

TEST_F(FilesTest, the_running_executable_is_known_under_any_name) {
    fs::create_symlink(platform::executablePath(), root / "other-name");
    EXPECT_TRUE(platform::isRunningExecutable(path("other-name")));
    write("copy");
    EXPECT_FALSE(platform::isRunningExecutable(path("copy")));
    EXPECT_FALSE(platform::isRunningExecutable(path("absent")));
}

TEST_F(FilesTest, free_space_is_what_the_file_system_offers_and_nothing_for_a_missing_folder) {
    const auto free = platform::freeSpace(scratch.path());
    ASSERT_TRUE(free.has_value());
    const auto available = fs::space(root).available;
    // Other engineers' builds write to the same disk meanwhile.
    EXPECT_NEAR(static_cast<double>(*free), static_cast<double>(available), 256.0 * 1024 * 1024);
    EXPECT_FALSE(platform::freeSpace(path("absent")).has_value());
}

} // namespace
