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
    ASSERT_EQ(dltest::runTool({"touch", "-d", "2021-03-04 05:06:08", source + "/data/sub/a.txt"}), 0);
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

// Writes a hostile archive of `kind` (see the table below) with Python's struct, byte by byte:
// version.dat saying 1001, good.txt, and data/victim.dat made bad in the way `kind` says.
bool makeHostileArchive(const std::string& archive, const std::string& kind) {
    const std::string script = archive + ".py";
    writeText(script, R"(import struct, sys, zlib
kind, path = sys.argv[1], sys.argv[2]
out, records = b'', []
def header(name, data, method, crc, size):
    return struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, method, 0, 0x21, crc, len(data), size, len(name), 0) + name
def add(name, data, method=0, crc=None, size=None, local=None):
    global out
    crc = zlib.crc32(data) if crc is None else crc
    size = len(data) if size is None else size
    offset = len(out)
    out += header(name, data, method, crc, size) + data
    records.append((name, data, method, crc, size, offset))
def deflated(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()
add(b'version.dat', b'1001')
add(b'good.txt', b'good')
victim, payload = b'data/victim.dat', b'v' * 5000
if kind == 'crc': add(victim, payload, crc=zlib.crc32(payload) ^ 1)
if kind == 'deflate64': add(victim, deflated(payload), method=9, crc=zlib.crc32(payload), size=len(payload))
if kind == 'lzma': add(victim, payload, method=14)
if kind == 'longer_than_declared': add(victim, deflated(payload), method=8, crc=zlib.crc32(payload), size=100)
if kind == 'overlap':
    inner = header(b'data/inner.dat', b'i' * 100, 0, zlib.crc32(b'i' * 100), 100) + b'i' * 100
    add(victim, inner)
    name, data, method, crc, size, offset = records[-1]
    records.append((b'data/inner.dat', b'i' * 100, 0, zlib.crc32(b'i' * 100), 100, offset + 30 + len(victim)))
if kind in ('renamed', 'repeated'):
    add(victim, payload)
    for n in range(4): records.append((b'data/copy%d.dat' % n if kind == 'renamed' else victim,) + records[-1][1:])
directory = b''
for name, data, method, crc, size, offset in records:
    directory += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 20, 20, 0, method, 0, 0x21, crc, len(data), size,
                             len(name), 0, 0, 0, 0, 0, offset) + name
end = struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, len(records), len(records), len(directory), len(out), 0)
open(path, 'wb').write(out + directory + end)
)");
    const bool made = dltest::runTool({"python3", script, kind, archive}) == 0;
    fs::remove(script);
    return made;
}

TEST_F(ExtractArchiveTest, entry_that_fails_keeps_the_old_file_the_installed_version_and_no_temporary) {
    struct Case {
        std::string kind;
        std::string diagnostics; // "@" stands for the installation folder
        bool opens = true;
    };
    const std::string failed = "Failed to extract: @data/victim.dat\n";
    const std::string overlaps = "Refusing entry whose data overlaps another entry: data/";
    const std::vector<Case> cases = {
        {"crc", failed},
        // Deflate64 (method 9), which other tools write and libzip cannot decode.
        {"deflate64", failed},
        // LZMA (method 14): this libzip cannot decode it, and the bytes are no LZMA stream anyway.
        {"lzma", failed},
        // A small declared size over a longer stream: nothing beyond the declared size is written.
        {"longer_than_declared", failed},
        // One entry's data holds another entry whole, as in a zip bomb that reuses its bytes.
        {"overlap", overlaps + "victim.dat\n" + overlaps + "inner.dat\n"},
        // Five directory records naming one data stream: libzip's consistency checks refuse them.
        {"renamed", "", false},
        {"repeated", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        fs::remove_all(install);
        fs::create_directories(install + "data");
        writeText(install + "version.dat", "1000");
        writeText(install + "data/victim.dat", "old");
        ASSERT_TRUE(makeHostileArchive(archive, c.kind));

        const auto [result, errors] = extract(install);
        EXPECT_FALSE(result);
        std::string expected = c.opens ? c.diagnostics +
                                             "Not writing version.dat: the archive did not apply completely\n"
                                             "Extraction completed with errors\n"
                                       : "Failed to open archive: " + archive + "\n";
        for (auto at = expected.find('@'); at != std::string::npos; at = expected.find('@'))
            expected.replace(at, 1, install);
        EXPECT_EQ(errors, expected);
        EXPECT_EQ(readText(install + "data/victim.dat"), "old");
        EXPECT_EQ(readText(install + "version.dat"), "1000");
        EXPECT_EQ(fs::exists(install + "good.txt"), c.opens) << "the other entries are written";
        EXPECT_FALSE(fs::exists(install + "data/inner.dat"));
        EXPECT_FALSE(hasTemporaryLeft(install));
    }
}

TEST_F(ExtractArchiveTest, archive_whose_declared_sizes_exceed_the_free_space_is_refused_whole) {
    // 64 MiB of zeros deflate to about 64 KiB: a small bomb.
    ASSERT_TRUE(makePythonArchive(archive, "z.writestr('version.dat', '1001')\n"
                                           "z.writestr('data/zeros.bin', bytes(64 << 20))\n"));
    writeText(install + "version.dat", "1000");
    std::uint64_t free = 70u << 20;
    setFreeSpaceProbe([&](const std::string& folder) -> std::optional<std::uint64_t> {
        EXPECT_EQ(folder, install);
        return free;
    });
    const auto [result, errors] = extract(install);
    EXPECT_FALSE(result);
    // The declared sizes, a block for each file and 16 MiB to spare.
    EXPECT_EQ(errors, "Not enough free space to extract " + archive + ": " +
                          std::to_string((64u << 20) + 4 + 2 * 4096 + (16u << 20)) + " bytes needed, " +
                          std::to_string(free) + " free\n");
    EXPECT_EQ(readText(install + "version.dat"), "1000");
    EXPECT_FALSE(fs::exists(install + "data"));

    free = 100u << 20;
    EXPECT_EQ(extract(install), std::make_pair(true, std::string()));
    EXPECT_EQ(fs::file_size(install + "data/zeros.bin"), 64u << 20);
    setFreeSpaceProbe({});
}

// Links as a Linux player makes them; Windows needs privileges for links that Wine does not give.
#ifndef _WIN32
TEST_F(ExtractArchiveTest, links_in_the_installation_are_followed_to_folders_but_replaced_as_files) {
    // What a player may have set up: a data folder moved to another disk, a file linked from
    // elsewhere that is read-only there, and a link whose target is gone.
    const std::string elsewhere = scratch.path() + "/elsewhere/";
    fs::create_directories(elsewhere + "maps");
    writeText(elsewhere + "readme.txt", "theirs");
    fs::permissions(elsewhere + "readme.txt", fs::perms::owner_read | fs::perms::group_read);
    fs::create_directory_symlink(elsewhere + "maps", install + "Maps");
    fs::create_symlink(elsewhere + "readme.txt", install + "readme.txt");
    fs::create_symlink(elsewhere + "gone.txt", install + "gone.txt");
    // An archive entry that is itself a link (a Unix mode with the link type) becomes a plain file.
    ASSERT_TRUE(makePythonArchive(archive, R"(z.writestr('readme.txt', 'ours')
z.writestr('gone.txt', 'back')
z.writestr('maps/town.map', 'town')
link = zipfile.ZipInfo('link.txt')
link.create_system = 3
link.external_attr = 0o120777 << 16
z.writestr(link, '/etc/passwd')
)"));
    EXPECT_EQ(extract(install), std::make_pair(true, std::string()));

    EXPECT_EQ(readText(elsewhere + "maps/town.map"), "town");
    EXPECT_TRUE(fs::is_symlink(install + "Maps"));
    for (const char* name : {"readme.txt", "gone.txt", "link.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(install + name)));
    }
    EXPECT_EQ(readText(install + "readme.txt"), "ours");
    EXPECT_EQ(readText(install + "link.txt"), "/etc/passwd");
    EXPECT_EQ(readText(elsewhere + "readme.txt"), "theirs");
    EXPECT_EQ(fs::status(elsewhere + "readme.txt").permissions(),
              fs::perms::owner_read | fs::perms::group_read);
    EXPECT_FALSE(fs::exists(elsewhere + "gone.txt"));
}
#endif

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
    // The marks the launcher keeps; Windows adds its archive bit to every file written.
    const auto marksOf = [](const std::string& file) {
        return platform::fileAttributes(file).value_or(platform::attributeDirectory) &
               (platform::attributeReadOnly | platform::attributeHidden | platform::attributeSystem |
                platform::attributeDirectory);
    };
    ASSERT_TRUE(platform::setFileAttributes(path, marks));
    if (marksOf(path) != marks) GTEST_SKIP() << "no extended attributes on this file system";
    ASSERT_TRUE(
        makePythonArchive(archive, "z.writestr('secret.dat', 'new')\nz.writestr('fresh.dat', 'new')\n"));
    EXPECT_EQ(extract(install), std::make_pair(true, std::string()));
    EXPECT_EQ(readText(path), "new");
    EXPECT_EQ(marksOf(path), marks);
    // Marks come only from a replaced file.
    EXPECT_EQ(marksOf(install + "fresh.dat"), 0u);
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
    for (const auto& entry : fs::directory_iterator(install)) top.push_back(entry.path().filename().string());
    EXPECT_EQ(top, std::vector<std::string>{"data"});
}

TEST_F(ExtractArchiveTest, folder_in_the_way_of_a_file_is_reported_with_its_error_and_the_rest_written) {
    fs::create_directories(install + "blocked/inside");
    ASSERT_TRUE(
        makePythonArchive(archive, "z.writestr('blocked', 'file')\nz.writestr('after.txt', 'after')\n"));
    const auto [result, errors] = extract(install);
    EXPECT_FALSE(result);
    // A folder: a delete error other than "not found" and the retried kind is reported at once.
    EXPECT_EQ(errors, "Failed to delete file: " + install +
                          "blocked Error: " + std::to_string(dltest::folderNotFileCode()) +
                          "\nExtraction completed with errors\n");
    EXPECT_TRUE(fs::is_directory(install + "blocked/inside"));
    EXPECT_EQ(readText(install + "after.txt"), "after");
}

TEST_F(ExtractArchiveTest, file_that_refuses_deletion_is_reported_and_left_unchanged) {
    writeText(install + "held.dat", "old");
    dltest::UndeletableFile held(install + "held.dat");
    if (!held.active()) GTEST_SKIP() << "the immutable flag is not available here";
    ASSERT_TRUE(
        makePythonArchive(archive, "z.writestr('held.dat', 'new')\nz.writestr('other.dat', 'other')\n"));
    const auto [result, errors] = extract(install);
    EXPECT_FALSE(result);
    EXPECT_EQ(errors, "Failed to delete file: " + install +
                          "held.dat Error: " + std::to_string(dltest::UndeletableFile::refusalCode()) +
                          "\nExtraction completed with errors\n");
    EXPECT_EQ(readText(install + "held.dat"), "old");
    EXPECT_EQ(readText(install + "other.dat"), "other");
}

} // namespace
