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
        {"far too long", [&] { writeText(served.file(path) + ".sig", std::string(100000, 'x')); },
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

    // Two keys built in (rotation): a signature by either is accepted.
    sign(releaseStatement(path, content.size(), sha256Hex(content)));
    for (const std::string& keys :
         {TestKey().publicPem() + key.publicPem(), key.publicPem() + TestKey().publicPem()}) {
        useReleasePublicKeyForTesting(keys);
        std::filesystem::remove(target);
        EXPECT_TRUE(fetch());
        EXPECT_EQ(readText(target), content);
    }
    useReleasePublicKeyForTesting(TestKey().publicPem() + TestKey().publicPem());
    EXPECT_FALSE(fetch()) << "signed by neither key";
}

// Several update servers: the first fails to give the file, in each way, and the second gives it.
TEST_F(SignedFetch, a_file_the_first_server_fails_to_give_comes_from_the_second_which_is_asked_first_then) {
    sign(releaseStatement(path, content.size(), sha256Hex(content)));
    TestFolder badServed;
    std::filesystem::create_directories(badServed.file("patches"));
    writeText(badServed.file(path), content);
    writeText(badServed.file(path) + ".sig",
              key.sign(releaseStatement(path, content.size(), sha256Hex("other"))));
    HttpTestServer failing{served.path(), {"/" + path + "=500"}};
    HttpTestServer badSignature{badServed.path()};
    ASSERT_TRUE(failing.started() && badSignature.started());
    setDownloadRetryPause([](int) {});
    struct Case {
        const char* what;
        std::string first;
        std::string diagnostic;
    };
    const std::vector<Case> cases = {
        {"refusing connections", "http://127.0.0.1:1/",
         "Download failed for: http://127.0.0.1:1/" + path + " HRESULT: -1007\n"},
        {"answering 500", failing.url(""), "Download failed for: " + failing.url(path) + " HRESULT: -500\n"},
        {"serving a bad signature", badSignature.url(""),
         "Release signature does not match for: " + path + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeText(target, "installed");
        forgetWorkingUpdateServer();
        const std::string servers = c.first + ";" + server.url("");
        Downloader sink;
        ::testing::internal::CaptureStderr();
        EXPECT_TRUE(fetchUpdateFile(servers, path, target, sink));
        diagnostics = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(readText(target), content);
        EXPECT_NE(diagnostics.find(c.diagnostic), std::string::npos) << diagnostics;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(install.path()), {}), 1);
        // The second server gave the last file: it is asked first, and the first not at all.
        const HttpTestServer* first = c.first == failing.url("")        ? &failing
                                      : c.first == badSignature.url("") ? &badSignature
                                                                        : nullptr;
        const std::string firstLog = first ? first->requestLog() : std::string();
        ::testing::internal::CaptureStderr();
        EXPECT_TRUE(fetchUpdateFile(servers, path, target, sink));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(first ? first->requestLog() : std::string(), firstLog);
    }
    setDownloadRetryPause({});
}

} // namespace
