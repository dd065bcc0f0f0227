// Release signatures on files fetched from the update server: what a launcher with a key accepts.
#include "update/release_signature.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "../support/http_test_server.h"
#include "../support/release_test_key.h"
#include "platform/digest.h"
#include "update/download.h"

namespace {

using dltest::HttpTestServer;
using dltest::readText;
using dltest::TestFolder;
using dltest::writeText;

using TestKey = dltest::ReleaseTestKey;

std::string sha256Hex(const std::string& data) {
    platform::Sha256Hasher hasher;
    hasher.update(data.data(), data.size());
    const auto value = hasher.finish();
    std::string text;
    for (const unsigned char byte : *value) {
        static constexpr char digits[] = "0123456789abcdef";
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

TEST(ReleaseStatement, is_four_lines_each_ending_in_a_line_feed) {
    EXPECT_EQ(releaseStatement("patches/1002.zip", 42, "ab"),
              "ostrevan-signed-file-v1\npatches/1002.zip\n42\nab\n");
}

class SignedFetch : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.started());
        std::filesystem::create_directories(served.file("patches"));
        writeText(served.file(path), content);
        useReleasePublicKeyForTesting(key.publicPem());
    }
    void TearDown() override { useReleasePublicKeyForTesting(std::nullopt); }
    void sign(const std::string& statement) { writeText(served.file(path) + ".sig", key.sign(statement)); }
    bool fetch() {
        ::testing::internal::CaptureStderr();
        Downloader sink;
        const bool fetched = fetchUpdateFile(server.url(""), path, target, sink);
        diagnostics = ::testing::internal::GetCapturedStderr();
        return fetched;
    }

    const std::string path = "patches/1002.zip";
    const std::string content = "the archive of version 1002";
    TestKey key;
    TestFolder served;
    TestFolder install;
    HttpTestServer server{served.path()};
    std::string target = install.file("1002.zip");
    std::string diagnostics;
};

TEST_F(SignedFetch, each_wrong_signature_is_refused_with_its_reason_and_leaves_the_target_as_it_was) {
    const std::string good = releaseStatement(path, content.size(), sha256Hex(content));
    struct Case {
        const char* what;
        std::function<void()> serve;
        std::string diagnostic;
    };
    const std::vector<Case> cases = {
        {"missing", [&] { std::filesystem::remove(served.file(path) + ".sig"); },
         "Release signature missing for: " + server.url(path) + ".sig HRESULT: -404\n"},
        {"short", [&] { writeText(served.file(path) + ".sig", key.sign(good).substr(0, 63)); },
         "Release signature is not 64 bytes for: patches/1002.zip\n"},
        {"another path",
         [&] { sign(releaseStatement("patches/1001.zip", content.size(), sha256Hex(content))); },
         "Release signature does not match for: patches/1002.zip\n"},
        {"other content", [&] { sign(releaseStatement(path, content.size(), sha256Hex("other"))); },
         "Release signature does not match for: patches/1002.zip\n"},
        {"another key", [&] { writeText(served.file(path) + ".sig", TestKey().sign(good)); },
         "Release signature does not match for: patches/1002.zip\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeText(target, "installed");
        c.serve();
        EXPECT_FALSE(fetch());
        EXPECT_EQ(diagnostics, c.diagnostic);
        EXPECT_EQ(readText(target), "installed");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(install.path()), {}), 1)
            << "a temporary stayed";
    }
}

TEST_F(SignedFetch, a_good_signature_puts_the_file_in_place_and_no_key_needs_none) {
    sign(releaseStatement(path, content.size(), sha256Hex(content)));
    EXPECT_TRUE(signaturesRequired());
    EXPECT_TRUE(fetch());
    EXPECT_EQ(diagnostics, "");
    EXPECT_EQ(readText(target), content);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(install.path()), {}), 1);

    std::filesystem::remove(served.file(path) + ".sig");
    useReleasePublicKeyForTesting("");
    EXPECT_FALSE(signaturesRequired());
    EXPECT_TRUE(fetch());
    EXPECT_EQ(server.requestLog().find("1002.zip.sig\"", server.requestLog().find("1002.zip.sig\"") + 1),
              std::string::npos)
        << "a signature was fetched without a key";
}

} // namespace
