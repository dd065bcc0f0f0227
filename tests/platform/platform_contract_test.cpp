// What every platform implementation promises the layers above it, checked against the real
// system: these tests also run as Windows programs (under Wine), where they check the win32 layer.
#include "platform/digest.h"
#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/process.h"
#include "platform/profile.h"

#include "../support/test_folder.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class PlatformContract : public ::testing::Test {
  protected:
    dltest::TestFolder scratch;
    std::string path(const std::string& name) const { return scratch.file(name); }
};

TEST_F(PlatformContract, one_holder_of_the_folder_lock_until_it_lets_go) {
    using platform::FolderLock;
    const std::string lock = path("OstrevanLauncher.lock");
    ASSERT_EQ(platform::lockInstallFolder(lock), FolderLock::held);
    // Another taker (a new handle, as another launcher would open) finds it held, and the
    // holder's pid stays readable beside the lock.
    EXPECT_EQ(platform::lockInstallFolder(lock), FolderLock::heldByAnother);
    EXPECT_FALSE(dltest::readText(lock).empty());
    // A lock file removed under the holder (a player, a patch entry of that name) lets nobody in.
    std::error_code ignored;
    fs::remove(lock, ignored);
    EXPECT_EQ(platform::lockInstallFolder(lock), FolderLock::heldByAnother);
    platform::releaseInstallFolderLock();
    // Nor does a read-only one: the lock needs no write access.
    dltest::writeText(lock, "1\n");
    fs::permissions(lock, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read, ignored);
    EXPECT_EQ(platform::lockInstallFolder(lock), FolderLock::held);
    EXPECT_EQ(platform::lockInstallFolder(lock), FolderLock::heldByAnother);
    platform::releaseInstallFolderLock();
    fs::permissions(lock, fs::perms::owner_all, ignored);
    EXPECT_EQ(platform::lockInstallFolder(path("missing/OstrevanLauncher.lock")), FolderLock::unavailable);
}

TEST_F(PlatformContract, files_are_created_moved_replaced_and_deleted_as_the_update_engine_expects) {
    // Windows adds its archive bit to new files; the engine looks at these three only.
    const std::uint32_t marks =
        platform::attributeReadOnly | platform::attributeHidden | platform::attributeSystem;
    EXPECT_FALSE(platform::fileAttributes(path("absent")).has_value());
    EXPECT_EQ(platform::deleteFile(path("absent")).result, platform::DeleteResult::notFound);

    ASSERT_TRUE(platform::createFolder(path("folder")));
    EXPECT_TRUE(platform::createFolder(path("folder"))) << "an existing folder is success";
    EXPECT_FALSE(platform::createFolder(path("missing/child"))) << "one level only";
    EXPECT_TRUE(*platform::fileAttributes(path("folder")) & platform::attributeDirectory);

    dltest::writeText(path("a"), "first");
    dltest::writeText(path("b"), "second");
    EXPECT_FALSE(platform::createFolder(path("a"))) << "an existing file is no folder";
    EXPECT_EQ(*platform::fileAttributes(path("a")) & marks, 0u);
    EXPECT_FALSE(platform::moveFileNoReplace(path("a"), path("b")));
    EXPECT_EQ(dltest::readText(path("b")), "second");
    ASSERT_TRUE(platform::moveFileNoReplace(path("a"), path("c")));
    EXPECT_FALSE(platform::pathExists(path("a")));
    ASSERT_TRUE(platform::replaceFile(path("c"), path("b")));
    EXPECT_EQ(dltest::readText(path("b")), "first");

    ASSERT_TRUE(platform::setFileAttributes(path("b"), platform::attributeReadOnly));
    EXPECT_TRUE(*platform::fileAttributes(path("b")) & platform::attributeReadOnly);
    ASSERT_TRUE(platform::setFileAttributes(path("b"), platform::attributeNormal));
    EXPECT_EQ(*platform::fileAttributes(path("b")) & marks, 0u);
    EXPECT_EQ(platform::deleteFileRetrying(path("b"), 3, 1).result, platform::DeleteResult::deleted);

    auto names = platform::listFolder(scratch.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"folder"}));
    EXPECT_GT(platform::freeSpace(scratch.path()).value_or(0), 0u);
}

TEST_F(PlatformContract, the_running_program_is_known_by_its_file_and_is_a_complete_executable) {
    const std::string self = platform::executablePath();
    ASSERT_FALSE(self.empty());
    EXPECT_TRUE(platform::isRunningExecutable(self));
    EXPECT_TRUE(platform::isCompleteExecutable(self));

    std::error_code error;
    fs::copy_file(self, path("copy"), error);
    ASSERT_FALSE(error);
    EXPECT_FALSE(platform::isRunningExecutable(path("copy"))) << "same bytes, another file";
    EXPECT_TRUE(platform::isCompleteExecutable(path("copy")));
    // A download cut short, and a page that is no program at all.
    fs::resize_file(path("copy"), fs::file_size(path("copy")) / 2, error);
    ASSERT_FALSE(error);
    EXPECT_FALSE(platform::isCompleteExecutable(path("copy")));
    dltest::writeText(path("page"), "<html>Not Found</html>");
    EXPECT_FALSE(platform::isCompleteExecutable(path("page")));

    const std::string name = fs::path(self).filename().string();
    bool listed = false;
    // Linux cuts a process's name to 15 bytes.
    for (const auto& process : platform::liveProcessTable().list())
        listed = listed || platform::equalsIgnoringAsciiCase(process.name, name) ||
                 (process.name.size() == 15 && name.rfind(process.name, 0) == 0);
    EXPECT_TRUE(listed) << name << " is not among the running processes";
    EXPECT_FALSE(platform::startProcess(path("absent-program"), {}, scratch.path()));
}

TEST_F(PlatformContract, profile_values_written_are_read_back_and_missing_ones_give_the_default) {
    const std::string file = path("Settings.ini");
    EXPECT_EQ(platform::readProfileString("Screen", "Width", "800  ", 64, file), "800");
    EXPECT_EQ(platform::readProfileInt("Screen", "Width", 7, file), 7);
    ASSERT_TRUE(platform::writeProfileString("Screen", "Width", "1024", file));
    ASSERT_TRUE(platform::writeProfileString("Screen", "Height", "768", file));
    ASSERT_TRUE(platform::writeProfileString("Option", "Effects", "0", file));
    EXPECT_EQ(platform::readProfileString("screen", "WIDTH", "", 64, file), "1024");
    EXPECT_EQ(platform::readProfileString("Screen", "Width", "", 3, file), "10") << "cut to the buffer";
    EXPECT_EQ(platform::readProfileInt("Screen", "Height", 0, file), 768);
    EXPECT_EQ(platform::readProfileInt("Option", "Effects", 5, file), 0);
    EXPECT_EQ(dltest::readText(file), "[Screen]\r\nWidth=1024\r\nHeight=768\r\n[Option]\r\nEffects=0\r\n");
    EXPECT_FALSE(platform::writeProfileString("Screen", "Width", "1", path("missing/Settings.ini")));
}

TEST_F(PlatformContract, file_digests_read_regular_files_only) {
    dltest::writeText(path("data"), "abc");
    platform::Md5Hasher md5;
    ASSERT_TRUE(platform::readRegularFile(path("data"), [&md5](const unsigned char* data, std::size_t size) {
        return md5.update(data, size);
    }));
    const auto value = md5.finish();
    ASSERT_TRUE(value);
    EXPECT_EQ((*value)[0], 0x90); // 900150983cd24fb0d6963f7d28e17f72
    EXPECT_EQ((*value)[15], 0x72);
    ASSERT_TRUE(platform::createFolder(path("folder")));
    const auto never = [](const unsigned char*, std::size_t) { return true; };
    EXPECT_FALSE(platform::readRegularFile(path("folder"), never));
    EXPECT_FALSE(platform::readRegularFile(path("absent"), never));
}

TEST_F(PlatformContract, a_read_only_file_is_replaced_with_its_mark_off_only_for_the_rename) {
    // Wine, unlike Windows, would rename over a read-only file: the hook sees the order of steps.
    const std::uint32_t readOnly = platform::attributeReadOnly;
    std::vector<std::uint32_t> seen;
    platform::setReplaceHookForTesting([&seen](const std::string&, const std::string& to) {
        seen.push_back(platform::fileAttributes(to).value_or(0) & platform::attributeReadOnly);
    });
    dltest::writeText(path("old"), "old");
    dltest::writeText(path("new"), "new");
    ASSERT_TRUE(platform::setFileAttributes(path("old"), platform::attributeReadOnly));
    ASSERT_TRUE(platform::setFileAttributes(path("new"), platform::attributeReadOnly));
    EXPECT_FALSE(platform::replaceFile(path("absent"), path("old")));
    EXPECT_EQ(*platform::fileAttributes(path("old")) & readOnly, readOnly) << "put back after a failure";
    EXPECT_EQ(platform::replaceFileRetrying(path("new"), path("old"), 3, 1).result,
              platform::DeleteResult::deleted);
    platform::setReplaceHookForTesting({});
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{0, 0})) << "the old file's mark is off at each rename";
    EXPECT_EQ(dltest::readText(path("old")), "new");
    EXPECT_EQ(*platform::fileAttributes(path("old")) & readOnly, readOnly) << "the new file's own mark";
    platform::setFileAttributes(path("old"), platform::attributeNormal);
}

TEST_F(PlatformContract, files_in_a_folder_named_outside_the_ansi_code_page_are_read_written_and_listed) {
    // Neither Windows-1252 nor any other single ANSI code page holds all of these.
    const std::string folder = path("\xC3\x86r\xC3\xB8 \xE2\x80\x93 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");
    ASSERT_TRUE(platform::createFolder(folder));
    const std::string file = folder + "/\xCE\xA9.dat";
    EXPECT_FALSE(platform::readWholeFile(file).has_value());
    ASSERT_TRUE(platform::writeWholeFile(file, std::string("one\r\n\0two", 9)));
    EXPECT_EQ(platform::readWholeFile(file), std::string("one\r\n\0two", 9));
    EXPECT_FALSE(platform::readWholeFile(file, 8).has_value()) << "over the limit";
    EXPECT_EQ(platform::fileSize(file), 9u);
    EXPECT_FALSE(platform::fileSize(folder).has_value());
    ASSERT_TRUE(platform::writeWholeFileAtomically(file, "new"));
    EXPECT_EQ(platform::readWholeFile(file), "new");
    EXPECT_FALSE(platform::pathExists(file + ".part"));
    ASSERT_TRUE(platform::createFolder(folder + "/sub"));

    {
        platform::File created = platform::openFile(folder + "/stream", platform::OpenMode::createNew);
        ASSERT_TRUE(created);
        EXPECT_FALSE(platform::openFile(folder + "/stream", platform::OpenMode::createNew))
            << "never reopened";
        EXPECT_TRUE(created.write("0123456789"));
        EXPECT_TRUE(created.close());
        platform::File both = platform::openFile(folder + "/stream", platform::OpenMode::readWrite);
        ASSERT_TRUE(both.seek(8));
        EXPECT_TRUE(both.write("xyz"));
        EXPECT_EQ(both.size(), 11u);
        ASSERT_TRUE(both.seek(6));
        EXPECT_EQ(both.readUpTo(100), "67xyz");
        EXPECT_EQ(both.readUpTo(100), "") << "the end";
        platform::File moved = std::move(both);
        EXPECT_FALSE(both.isOpen());
        EXPECT_TRUE(moved.flushToDisk());
    }
    EXPECT_TRUE(platform::writeWholeFile(folder + "/stream", "short"));
    EXPECT_EQ(platform::readWholeFile(folder + "/stream"), "short") << "emptied before the write";
    EXPECT_FALSE(platform::openFile(folder + "/absent", platform::OpenMode::read));
    EXPECT_FALSE(platform::openFile(folder + "/absent", platform::OpenMode::readWrite));
    EXPECT_FALSE(platform::openFile(folder + "/sub", platform::OpenMode::truncate));

    auto entries = platform::listFolderEntries(folder);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "stream");
    EXPECT_EQ(entries[0].kind, platform::EntryKind::file);
    EXPECT_EQ(entries[1].name, "sub");
    EXPECT_EQ(entries[1].kind, platform::EntryKind::folder);
    EXPECT_EQ(entries[2].name, "\xCE\xA9.dat");
    EXPECT_EQ(platform::entryKind(folder + "/sub"), platform::EntryKind::folder);
    EXPECT_EQ(platform::entryKind(file), platform::EntryKind::file);
    EXPECT_FALSE(platform::entryKind(folder + "/absent").has_value());
    EXPECT_TRUE(platform::listFolderEntries(folder + "/absent").empty());
    EXPECT_GT(platform::freeSpace(platform::folderHolding(file)).value_or(0), 0u);
#ifdef _WIN32
    EXPECT_NE(platform::ansiCodePageForm(folder), folder) << "the ANSI form cannot name this folder";
#else
    EXPECT_EQ(platform::ansiCodePageForm(folder), folder);
#endif
    EXPECT_EQ(platform::ansiCodePageForm("C:/Games/Ostrevan/"), "C:/Games/Ostrevan/");
}

TEST(FolderHolding, the_folder_of_a_path_is_found_with_either_separator) {
    const std::pair<const char*, const char*> cases[] = {
        {"a/b/c", "a/b"}, {"a\\b\\c", "a\\b"}, {"a\\b/c", "a\\b"}, {"c", "."},    {"/c", "/"},
        {"\\c", "\\"},    {"C:\\c", "C:\\"},   {"C:/x/c", "C:/x"}, {"C:c", "C:"}, {"/a/b/", "/a/b"},
    };
    for (const auto& [path, folder] : cases) EXPECT_EQ(platform::folderHolding(path), folder) << path;
}

TEST(ContainedPath, names_from_a_server_or_an_archive_stay_inside_the_folder) {
#ifdef _WIN32
    const bool windows = true;
#else
    const bool windows = false;
#endif
    const struct {
        const char* name;
        bool contained;
    } cases[] = {
        {"data/a.dat", true},
        {"data\\..x\\a", true},
        {"./a", true},
        {"console/con.txt", !windows},
        {"data/COM10", true},
        {"", false},
        {"../a", false},
        {"data\\..\\..\\a", false},
        {"/etc/passwd", false},
        {"\\x", false},
        {"C:\\Windows", false},
        // Win32 would climb through these or open a device.
        {"... /a", !windows},
        {".. /a", !windows},
        {"data/.../a", !windows},
        {"a.", !windows},
        {"a ", !windows},
        {"NUL", !windows},
        {"data/aux.txt", !windows},
        {"Com1", !windows},
        {"lpt9.log", !windows},
        {"conout$", !windows},
        {"prn .txt", !windows},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::isContainedRelativePath(c.name), c.contained) << '"' << c.name << '"';
}

} // namespace
