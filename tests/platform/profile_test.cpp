// Profile files read and written by the private-profile rules, on real files.
#include "platform/profile.h"

#include "platform/files.h"

#include "../support/test_processes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform::readProfileInt;
using platform::readProfileString;
using platform::writeProfileString;

class ProfileTest : public ::testing::Test {
  protected:
    std::string put(const std::string& name, const std::string& bytes) {
        std::ofstream(folder + name, std::ios::binary) << bytes;
        return folder + name;
    }
    static std::string contents(const std::string& path) { return dltest::readText(path); }
    std::string read(const std::string& file, const std::string& section, const std::string& key,
                     std::size_t bufferSize = 256) {
        return readProfileString(section, key, "default", bufferSize, file);
    }

    dltest::TestFolder scratch;
    std::string folder = scratch.path() + "/";
};

const std::string untidy = "; written by hand\r\n"
                           "stray=before any section\r\n"
                           "  [ Screen ]  \r\n"
                           "  WIDTH  =   1024   \r\n"
                           ";Height=1\r\n"
                           "\tHeight\t=\t768\r\n"
                           "name3\r\n"
                           "Quoted = \"  spaced  \"\r\n"
                           "Single='x'\r\n"
                           "Mismatched=\"x'\r\n"
                           "Lonely=\"\r\n"
                           "Empty=\r\n"
                           "\r\n"
                           "[Other]\r\n"
                           "Width=1\r\n";

TEST_F(ProfileTest, reads_names_without_regard_to_case_or_surrounding_blanks) {
    const auto file = put("a.ini", untidy);
    EXPECT_EQ(read(file, "screen", "width"), "1024");
    EXPECT_EQ(read(file, "  SCREEN ", " Width  "), "1024");
    EXPECT_EQ(read(file, "Screen", "height"), "768");
    EXPECT_EQ(read(file, "other", "WIDTH"), "1");
}

// The client's reader has no comments: every non-blank line that is not a header is a key.
TEST_F(ProfileTest, comments_bare_names_broken_headers_and_lines_before_any_section_are_keys) {
    const auto file = put("a.ini", untidy + "[Broken\r\nname3=hidden\r\n[ Last ] trailing ]\r\nk=v\r\n");
    EXPECT_EQ(read(file, "Screen", ";Height"), "1");
    EXPECT_EQ(read(file, "Screen", "name3"), "default"); // a key without a value
    EXPECT_EQ(read(file, "Screen", "stray"), "default");
    EXPECT_EQ(read(file, "", "stray"), "before any section");
    EXPECT_EQ(read(file, " \t", "STRAY"), "before any section");
    EXPECT_EQ(read(file, "Other", "[Broken"), "default");
    EXPECT_EQ(read(file, "Other", "name3"), "hidden");  // "[Broken" started no section
    EXPECT_EQ(read(file, "Last ] trailing", "k"), "v"); // the name runs to the last ']'
    EXPECT_EQ(read(file, "Screen", "Empty"), "");
}

TEST_F(ProfileTest, one_pair_of_matching_quotes_is_removed) {
    const auto file = put("a.ini", untidy + "[Q]\r\nNested=\"'a'\"\r\nDoubled=\"\"b\"\"\r\n");
    EXPECT_EQ(read(file, "Screen", "Quoted"), "  spaced  ");
    EXPECT_EQ(read(file, "Screen", "Single"), "x");
    EXPECT_EQ(read(file, "Screen", "Mismatched"), "\"x'");
    EXPECT_EQ(read(file, "Screen", "Lonely"), "\"");
    EXPECT_EQ(read(file, "Q", "Nested"), "'a'");
    EXPECT_EQ(read(file, "Q", "Doubled"), "\"b\"");
    EXPECT_EQ(readProfileString("Q", "Absent", "'x'  ", 64, file), "x"); // defaults too
}

TEST_F(ProfileTest, missing_file_section_or_key_gives_the_default_without_trailing_spaces) {
    const auto file = put("a.ini", untidy);
    EXPECT_EQ(readProfileString("Screen", "Absent", "  fallback   ", 64, file), "  fallback");
    EXPECT_EQ(readProfileString("Absent", "Width", "x", 64, file), "x");
    EXPECT_EQ(readProfileString("Screen", "Width", "x", 64, folder + "none.ini"), "x");
    EXPECT_EQ(readProfileString("Screen", "Width", "x", 64, folder), "x"); // a folder, not a file
}

TEST_F(ProfileTest, lf_and_lone_cr_endings_read_like_crlf) {
    std::string lf = untidy;
    std::string cr = untidy;
    for (std::size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.replace(at, 2, "\n");
    for (std::size_t at; (at = cr.find("\r\n")) != std::string::npos;) cr.replace(at, 2, "\r");
    for (const auto& text : {lf, cr}) {
        const auto file = put("e.ini", text);
        EXPECT_EQ(read(file, "screen", "width"), "1024");
        EXPECT_EQ(read(file, "Screen", "Quoted"), "  spaced  ");
        EXPECT_EQ(read(file, "Other", "Width"), "1");
    }
}

TEST_F(ProfileTest, only_the_first_of_duplicate_sections_and_keys_counts) {
    const auto file = put("d.ini", "[A]\nk=first\nk=second\n[B]\nx=1\n[a]\nk=third\nonly=later\n");
    EXPECT_EQ(read(file, "A", "k"), "first");
    EXPECT_EQ(read(file, "A", "only"), "default");

    ASSERT_TRUE(writeProfileString("A", "k", "new", file));
    ASSERT_TRUE(writeProfileString("A", "only", "here", file));
    EXPECT_EQ(contents(file), "[A]\nk=new\nk=second\nonly=here\n[B]\nx=1\n[a]\nk=third\nonly=later\n");
}

TEST_F(ProfileTest, a_value_is_seen_only_up_to_the_buffer_size_less_one) {
    const std::string fortyDigits = "1234567890123456789012345678901234567890";
    const auto file = put("c.ini", "[S]\r\nLong=" + fortyDigits + "\r\nQuoted=\"" + fortyDigits + "\"\r\n");
    EXPECT_EQ(read(file, "S", "Long", 32), fortyDigits.substr(0, 31));
    EXPECT_EQ(read(file, "S", "Quoted", 32), fortyDigits.substr(0, 31));
    EXPECT_EQ(read(file, "S", "Long", 1), "");
    EXPECT_EQ(read(file, "S", "Long", 0), "");
    EXPECT_EQ(readProfileString("S", "Absent", fortyDigits, 32, file), fortyDigits.substr(0, 31));

    // A quoted value cut by a buffer exactly as long as the text after its opening quote loses the
    // closing quote and one more character, as the Windows reader does it.
    const auto quoted = put("q.ini", "[S]\nq=\"abcd\"\n");
    const std::vector<std::pair<std::size_t, std::string>> cuts = {{1, ""},    {2, "a"},    {4, "abc"},
                                                                   {5, "abc"}, {6, "abcd"}, {7, "abcd"}};
    for (const auto& [size, expected] : cuts) EXPECT_EQ(read(quoted, "S", "q", size), expected) << size;
    EXPECT_EQ(readProfileString("S", "Absent", "\"dq\"", 3, quoted), "d");
}

TEST_F(ProfileTest, the_cut_counts_wide_characters_and_never_splits_one) {
    std::string accents;
    for (int i = 0; i < 40; ++i) accents += "\xC3\xA9";           // e-acute: one wide character, two bytes
    const std::string faces = "\xF0\x9F\x98\x80\xF0\x9F\x98\x80"; // two characters outside the BMP
    const auto file = put("u.ini", "[S]\nA=" + accents + "\nF=" + faces + "\n");
    EXPECT_EQ(read(file, "S", "A", 32), accents.substr(0, 62));
    EXPECT_EQ(read(file, "S", "F", 4), faces.substr(0, 4)); // a surrogate pair is two units
    EXPECT_EQ(read(file, "S", "F", 3), faces.substr(0, 4));
    EXPECT_EQ(read(file, "S", "F", 2), "");
}

TEST_F(ProfileTest, integers_wrap_at_32_bits_stop_at_the_first_non_digit_and_take_c_prefixes) {
    const std::vector<std::pair<std::string, std::int32_t>> cases = {{"1", 1},
                                                                     {"+1", 1},
                                                                     {"-1", -1},
                                                                     {"4294967296", 0},
                                                                     {"4294967297", 1},
                                                                     {"-4294967297", -1},
                                                                     {"42A94967297", 42},
                                                                     {"B4294967297", 0},
                                                                     {"0x10", 16},
                                                                     {"-0x1f", -31},
                                                                     {"0X10", 0},
                                                                     {"0b101", 5},
                                                                     {"0o17", 15},
                                                                     {"010", 10},
                                                                     {"00000000000000000000000000000123", 0},
                                                                     {"\"12\"", 12},
                                                                     {"\" 13\"", 13},
                                                                     {"2147483648", INT32_MIN},
                                                                     {"-2147483649", INT32_MAX}};
    for (const auto& [text, expected] : cases) {
        const auto file = put("i.ini", "[Test]\r\nProfileInt=" + text + "\r\nBlank=\r\n");
        EXPECT_EQ(readProfileInt("Test", "ProfileInt", 70, file), expected) << text;
    }
    const auto file = put("i.ini", "[Test]\r\nBlank=\r\n");
    EXPECT_EQ(readProfileInt("Test", "Blank", 70, file), 70);
    EXPECT_EQ(readProfileInt("Test", "Absent", -5, file), -5);
    EXPECT_EQ(readProfileInt("Test", "Absent", 3, folder + "none.ini"), 3);
}

TEST_F(ProfileTest, writing_an_existing_key_changes_only_its_value) {
    const auto file = put("a.ini", untidy);
    ASSERT_TRUE(writeProfileString("screen", "width", "800", file));
    std::string expected = untidy;
    expected.replace(expected.find("  WIDTH  =   1024   "), 20, "  WIDTH  =800");
    EXPECT_EQ(contents(file), expected);

    ASSERT_TRUE(writeProfileString("Screen", "Empty", " padded ", file));
    EXPECT_NE(contents(file).find("\r\nEmpty= padded \r\n"), std::string::npos);
    EXPECT_EQ(read(file, "Screen", "Empty"), "padded");
}

TEST_F(ProfileTest, writes_reach_the_line_the_client_reads) {
    const auto file = put("a.ini", untidy);
    ASSERT_TRUE(writeProfileString("Screen", "name3", "7", file));
    ASSERT_TRUE(writeProfileString("Screen", ";Height", "2", file));
    ASSERT_TRUE(writeProfileString("", "stray", "changed", file));
    ASSERT_TRUE(writeProfileString(" ", "early", "1", file));
    std::string expected = untidy;
    expected.replace(expected.find("name3\r\n"), 5, "name3=7");
    expected.replace(expected.find(";Height=1"), 9, ";Height=2");
    expected.replace(expected.find("stray=before any section\r\n"), 26, "stray=changed\r\nearly=1\r\n");
    EXPECT_EQ(contents(file), expected);

    // The section before the first header starts after a UTF-8 byte-order mark, which is no text.
    const auto marked = put("m.ini", "\xEF\xBB\xBF[S]\nk=1\n");
    EXPECT_EQ(read(marked, "S", "k"), "1");
    ASSERT_TRUE(writeProfileString("", "top", "2", marked));
    EXPECT_EQ(contents(marked), "\xEF\xBB\xBFtop=2\n[S]\nk=1\n");
}

TEST_F(ProfileTest, a_write_that_would_read_back_as_other_keys_is_refused) {
    const auto file = put("a.ini", untidy);
    EXPECT_FALSE(writeProfileString("Screen", "Width", "1\r\nHeight=2", file));
    EXPECT_FALSE(writeProfileString("Screen\n[Other", "Width", "1", file));
    EXPECT_FALSE(writeProfileString("Screen", "Width=1", "2", file));
    EXPECT_FALSE(writeProfileString("Screen", "[Other]", "2", file));
    EXPECT_FALSE(writeProfileString("Screen", "[Other", "]", file));
    EXPECT_EQ(contents(file), untidy);

    // Written first in a file, a key starting with a byte-order mark would read as another key.
    const auto headed = put("h.ini", "[S]\nk=1\n");
    EXPECT_FALSE(writeProfileString("", "\xEF\xBB\xBFk", "", headed));
    EXPECT_FALSE(writeProfileString("", "\xEF\xBB\xBFk", "", folder + "new.ini"));
    EXPECT_EQ(contents(headed), "[S]\nk=1\n");
    EXPECT_FALSE(std::filesystem::exists(folder + "new.ini"));
}

TEST_F(ProfileTest, writing_the_same_value_leaves_the_file_untouched) {
    const auto file = put("a.ini", untidy);
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    ASSERT_TRUE(writeProfileString("Screen", "Width", "1024", file));
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(contents(file), untidy);
}

TEST_F(ProfileTest, a_new_key_goes_after_the_last_line_of_its_section_in_the_files_ending) {
    const auto file = put("n.ini", "[A]\nx=1\n; about A\n\n\n[B]\ny=2\n");
    ASSERT_TRUE(writeProfileString("a", "Added", "v", file));
    EXPECT_EQ(contents(file), "[A]\nx=1\n; about A\nAdded=v\n\n\n[B]\ny=2\n");

    const auto open = put("o.ini", "[A]\r\nx=1");
    ASSERT_TRUE(writeProfileString("A", "y", "2", open));
    EXPECT_EQ(contents(open), "[A]\r\nx=1\r\ny=2\r\n");

    const auto headerOnly = put("h.ini", "[A]\n[B]\n");
    ASSERT_TRUE(writeProfileString("A", "k", "v", headerOnly));
    EXPECT_EQ(contents(headerOnly), "[A]\nk=v\n[B]\n");
}

TEST_F(ProfileTest, a_new_section_goes_at_the_end_of_the_file) {
    const auto lf = put("lf.ini", "; top\n[A]\nx=1\n");
    ASSERT_TRUE(writeProfileString(" New ", " Key ", "v", lf));
    EXPECT_EQ(contents(lf), "; top\n[A]\nx=1\n[New]\nKey=v\n");

    const auto open = put("open.ini", "[A]\r\nx=1");
    ASSERT_TRUE(writeProfileString("B", "k", "v", open));
    EXPECT_EQ(contents(open), "[A]\r\nx=1\r\n[B]\r\nk=v\r\n");

    const auto empty = put("empty.ini", "");
    ASSERT_TRUE(writeProfileString("B", "k", "v", empty));
    EXPECT_EQ(contents(empty), "[B]\r\nk=v\r\n");
}

// UTF-16LE bytes of ASCII text, with or without the byte-order mark.
std::string utf16(const std::string& ascii, bool mark = true) {
    std::string bytes = mark ? "\xFF\xFE" : "";
    for (const char c : ascii) bytes += std::string{c, '\0'};
    return bytes;
}

TEST_F(ProfileTest, utf16_files_are_read_and_written_in_utf16_or_not_at_all) {
    const auto file = put("u.ini", utf16("[Screen]\r\nWidth=1024\r\n[Other]\r\nx=1\r\n") +
                                       std::string("\x3D\xD8\x00\xDE", 4));
    EXPECT_EQ(read(file, "screen", "WIDTH"), "1024");
    ASSERT_TRUE(writeProfileString("Screen", "Width", "800", file));
    ASSERT_TRUE(writeProfileString("Screen", "Height", "600", file));
    ASSERT_TRUE(writeProfileString("New", "k", "\xC3\xA9", file));
    EXPECT_EQ(contents(file), utf16("[Screen]\r\nWidth=800\r\nHeight=600\r\n[Other]\r\nx=1\r\n") +
                                  std::string("\x3D\xD8\x00\xDE", 4) + utf16("\r\n[New]\r\nk=", false) +
                                  std::string("\xE9", 2) + utf16("\r\n", false));
    EXPECT_EQ(read(file, "New", "k"), "\xC3\xA9");
    // Big-endian files keep their byte order.
    const auto big = put("b.ini", std::string("\xFE\xFF\0[\0A\0]\0\n\0x\0=\0"
                                              "1",
                                              16));
    ASSERT_TRUE(writeProfileString("A", "y", "2", big));
    EXPECT_EQ(contents(big), std::string("\xFE\xFF\0[\0A\0]\0\n\0x\0=\0"
                                         "1\0\n\0y\0=\0"
                                         "2\0\n",
                                         26));
    // What could not be written back byte for byte is not written: the file keeps every byte.
    const std::string unpaired = utf16("[A]\r\nx=1\r\n") + std::string("\x00\xD8", 2) + utf16("\r\n", false);
    const std::string odd = utf16("[A]\r\nx=1\r\n") + "!";
    const std::string text = utf16("[A]\r\nx=1\r\n");
    const struct {
        std::string bytes, value;
    } refused[] = {{unpaired, "2"}, {odd, "2"}, {text, "\xFF"}, {text, "\xED\xA0\x80"}};
    for (const auto& [bytes, value] : refused) {
        const auto kept = put("kept.ini", bytes);
        EXPECT_EQ(read(kept, "A", "x"), "1");
        EXPECT_FALSE(writeProfileString("A", "y", value, kept)) << value;
        EXPECT_EQ(contents(kept), bytes);
    }
}

TEST_F(ProfileTest, a_missing_file_is_created_with_crlf_but_a_missing_folder_is_not) {
    const std::string file = folder + "new.ini";
    ASSERT_TRUE(writeProfileString("GameMode", "HighTimes", "1", file));
    ASSERT_TRUE(writeProfileString("GameMode", "GameModeRecord", "0", file));
    EXPECT_EQ(contents(file), "[GameMode]\r\nHighTimes=1\r\nGameModeRecord=0\r\n");

    EXPECT_FALSE(writeProfileString("S", "k", "v", folder + "absent/new.ini"));
    EXPECT_FALSE(fs::exists(folder + "absent"));
}

TEST_F(ProfileTest, a_read_only_file_is_not_written_and_permissions_survive_a_write) {
    const auto locked = put("ro.ini", "[S]\nk=1\n");
    ::chmod(locked.c_str(), 0444);
    EXPECT_FALSE(writeProfileString("S", "k", "2", locked));
    EXPECT_EQ(contents(locked), "[S]\nk=1\n");

    const auto shared = put("rw.ini", "[S]\nk=1\n");
    ::chmod(shared.c_str(), 0640);
    ASSERT_TRUE(writeProfileString("S", "k", "2", shared));
    struct stat status {};
    ASSERT_EQ(::stat(shared.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    const auto entries = std::distance(fs::directory_iterator(folder), fs::directory_iterator());
    EXPECT_EQ(entries, 2); // no temporary file left behind
}

TEST_F(ProfileTest, hidden_and_system_attributes_survive_a_write) {
    const auto file = put("h.ini", "[S]\nk=1\n");
    const std::uint32_t marks = platform::attributeHidden | platform::attributeSystem;
    if (!platform::setFileAttributes(file, marks)) GTEST_SKIP() << "no extended attributes here";
    ASSERT_TRUE(writeProfileString("S", "k", "2", file));
    EXPECT_EQ(platform::fileAttributes(file).value_or(0) & marks, marks);
}

TEST_F(ProfileTest, a_write_through_a_symbolic_link_changes_the_file_it_names) {
    const auto target = put("target.ini", "[S]\nk=1\n");
    fs::create_symlink(target, folder + "link.ini");
    ASSERT_TRUE(writeProfileString("S", "k", "2", folder + "link.ini"));
    EXPECT_TRUE(fs::is_symlink(folder + "link.ini"));
    EXPECT_EQ(contents(target), "[S]\nk=2\n");
}

TEST_F(ProfileTest, written_values_read_back) {
    const auto file = put("r.ini", untidy);
    const std::vector<std::pair<std::string, std::string>> values = {
        {"Width", "1920"}, {"FullScreen", "1"}, {"Unicode", "\xC3\xA9t\xC3\xA9"}, {"Spaces", "a b  c"}};
    for (const auto& [key, value] : values) ASSERT_TRUE(writeProfileString("Screen", key, value, file));
    for (const auto& [key, value] : values) EXPECT_EQ(read(file, "SCREEN", key), value) << key;
    EXPECT_EQ(read(file, "Other", "Width"), "1");
    EXPECT_EQ(contents(file).substr(0, 45), untidy.substr(0, 45));
}

TEST_F(ProfileTest, writers_on_several_threads_lose_no_key) {
    const std::string file = folder + "t.ini";
    std::vector<std::thread> writers;
    for (int thread = 0; thread < 4; ++thread)
        writers.emplace_back([&file, thread] {
            for (int key = 0; key < 25; ++key)
                writeProfileString("S" + std::to_string(thread), "k" + std::to_string(key),
                                   std::to_string(key), file);
        });
    for (auto& writer : writers) writer.join();
    for (int thread = 0; thread < 4; ++thread)
        for (int key = 0; key < 25; ++key)
            EXPECT_EQ(readProfileInt("S" + std::to_string(thread), "k" + std::to_string(key), -1, file), key);
}

} // namespace
