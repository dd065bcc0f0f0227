#include "core/file_digest.h"

#include "../support/test_processes.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class FileDigestTest : public ::testing::Test {
  protected:
    std::string write(const std::string& name, const std::string& content) const {
        std::ofstream(root / name, std::ios::binary) << content;
        return (root / name).string();
    }
    dltest::TestFolder scratch;
    fs::path root{scratch.path()};
};

TEST_F(FileDigestTest, matches_the_rfc_1321_test_suite) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    int index = 0;
    for (const auto& [content, digest] : vectors) {
        EXPECT_EQ(fileDigest(write("vector" + std::to_string(index++), content)), digest)
            << '"' << content << '"';
    }
}

TEST_F(FileDigestTest, files_larger_than_one_read_block_hash_their_whole_content) {
    // 1,000,000 times 'a' is the long vector of the MD5 test suites; it spans many blocks.
    EXPECT_EQ(fileDigest(write("million", std::string(1'000'000, 'a'))), "7707d6ae4e027c70eea2a935c2296f21");
    std::string binary(200'003, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7 + 3);
    const std::string first = fileDigest(write("one", binary));
    EXPECT_EQ(first, fileDigest(write("two", binary)));
    binary.back() ^= 1;
    EXPECT_NE(first, fileDigest(write("three", binary)));
}

TEST_F(FileDigestTest, text_is_always_32_lowercase_hex_digits) {
    for (int i = 0; i < 20; ++i) {
        const std::string digest =
            fileDigest(write("f" + std::to_string(i), std::string(i * 13, char('A' + i))));
        ASSERT_EQ(digest.size(), 32u);
        EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos) << digest;
    }
}

TEST_F(FileDigestTest, anything_but_a_regular_file_gives_none_at_once) {
    // A FIFO without a writer and /dev/zero would block or never end if they were read.
    ASSERT_EQ(::mkfifo((root / "fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", root / "zeros");
    fs::create_directory(root / "folder");
    fs::create_directory_symlink(root / "folder", root / "folder-link");
    fs::create_symlink(root / "absent", root / "dangling");
    for (const fs::path& path :
         {root / "absent", root / "absent" / "deeper", root, fs::path(""), root / "fifo", root / "zeros",
          root / "folder-link", root / "dangling", fs::path("/dev/null")})
        EXPECT_EQ(fileDigest(path.string()), "None") << path;
    // A link to a regular file is read through.
    fs::create_symlink(write("target", "abc"), root / "file-link");
    EXPECT_EQ(fileDigest((root / "file-link").string()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(FileDigestTest, unreadable_file_gives_none) {
    const std::string locked = write("locked", "secret");
    fs::permissions(locked, fs::perms::none);
    if (::access(locked.c_str(), R_OK) == 0) GTEST_SKIP() << "running with rights that read any file";
    EXPECT_EQ(fileDigest(locked), "None");
}

TEST_F(FileDigestTest, a_file_that_opens_but_fails_to_read_gives_none) {
    // Reading this process's memory from address 0 fails with an I/O error at once.
    EXPECT_EQ(fileDigest("/proc/self/mem"), "None");
}

TEST_F(FileDigestTest, the_running_program_has_a_digest) {
    const std::string digest = fileDigest(fs::read_symlink("/proc/self/exe").string());
    EXPECT_EQ(digest.size(), 32u);
}

} // namespace
