// platform::downloadToFile against a real HTTP server on loopback.
#include "platform/http.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "../support/http_test_server.h"

namespace {

using dltest::HttpTestServer;
using dltest::readText;
using dltest::TestFolder;
using dltest::writeText;

constexpr int partialFile = -(1000 + 18);        // CURLE_PARTIAL_FILE
constexpr int timedOut = -(1000 + 28);           // CURLE_OPERATION_TIMEDOUT
constexpr int unsupportedProtocol = -(1000 + 1); // CURLE_UNSUPPORTED_PROTOCOL
constexpr int peerNotVerified = -(1000 + 60);    // CURLE_PEER_FAILED_VERIFICATION

std::string sampleContent(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 131 + i / 977) & 0xff);
    return text;
}

struct Report {
    std::uint64_t received;
    std::uint64_t total;
};

class HttpDownload : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(folder.path().empty());
        std::filesystem::create_directory(root);
        writeText(root + "/file.bin", content);
        server = std::make_unique<HttpTestServer>(root);
        ASSERT_TRUE(server->started());
    }
    void TearDown() override { platform::setDownloadStallSeconds(0); }

    int fetch(const std::string& relative, std::vector<Report>* reports = nullptr) {
        return platform::downloadToFile(server->url(relative), target,
                                        [reports](std::uint64_t r, std::uint64_t t) {
                                            if (reports) reports->push_back({r, t});
                                        });
    }

    TestFolder folder;
    std::string root = folder.file("root");
    std::string target = folder.file("target.bin");
    std::string content = sampleContent(3 * 1024 * 1024 + 17);
    std::unique_ptr<HttpTestServer> server;
};

TEST_F(HttpDownload, whole_file_arrives_with_progress_ending_at_the_total) {
    std::vector<Report> reports;
    ASSERT_EQ(fetch("file.bin", &reports), 0);
    EXPECT_EQ(readText(target), content);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().received, content.size());
    EXPECT_EQ(reports.back().total, content.size());
    for (std::size_t i = 1; i < reports.size(); ++i) EXPECT_GE(reports[i].received, reports[i - 1].received);
    for (const auto& report : reports) EXPECT_GT(report.received, 0u);
}

TEST_F(HttpDownload, asks_caches_to_revalidate) {
    ASSERT_EQ(fetch("file.bin"), 0);
    EXPECT_NE(server->requestLog().find("\"cache-control\": \"no-cache\""), std::string::npos);
}

TEST_F(HttpDownload, error_status_is_a_failure_and_the_error_page_is_not_saved) {
    EXPECT_EQ(fetch("file.bin?fault=404"), -404);
    EXPECT_EQ(readText(target).find("error"), std::string::npos);
    EXPECT_EQ(fetch("file.bin?fault=500"), -500);
    EXPECT_EQ(readText(target).find("error"), std::string::npos);
    EXPECT_EQ(fetch("missing.bin"), -404);
}

TEST_F(HttpDownload, redirect_is_followed) {
    ASSERT_EQ(fetch("file.bin?fault=redirect"), 0);
    EXPECT_EQ(readText(target), content);
}

TEST_F(HttpDownload, redirect_to_a_local_file_is_refused) {
    EXPECT_EQ(fetch("file.bin?fault=redirect&to=file:///etc/hostname"), unsupportedProtocol);
}

TEST_F(HttpDownload, cut_transfers_are_failures) {
    EXPECT_EQ(fetch("file.bin?fault=drop"), partialFile);
    EXPECT_EQ(fetch("file.bin?fault=short"), partialFile);
}

TEST_F(HttpDownload, stalled_transfers_give_up) {
    platform::setDownloadStallSeconds(1);
    EXPECT_EQ(fetch("file.bin?fault=stall"), timedOut);
    EXPECT_EQ(fetch("file.bin?fault=stall-headers"), timedOut);
}

TEST_F(HttpDownload, unwritable_target_gives_minus_one) {
    target = folder.file("no-such-folder/target.bin");
    EXPECT_EQ(fetch("file.bin"), -1);
}

TEST_F(HttpDownload, refused_connection_is_a_transport_failure) {
    const int code = platform::downloadToFile("http://127.0.0.1:1/file.bin", target, nullptr);
    EXPECT_LE(code, -1000);
}

// Certificate checks stay on: a server with a certificate nobody vouches for is refused.
TEST(HttpsDownload, self_signed_certificate_is_refused) {
    TestFolder folder;
    const std::string certificate = folder.file("cert.pem");
    const std::string key = folder.file("key.pem");
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " + key + " -out " +
        certificate + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "openssl cannot make a test certificate here";
    writeText(folder.file("file.bin"), "secret");
    HttpTestServer server(folder.path(), {}, {certificate, key});
    ASSERT_TRUE(server.started());
    const std::string target = folder.file("target.bin");
    EXPECT_EQ(platform::downloadToFile(server.url("file.bin", "https"), target, nullptr), peerNotVerified);
    EXPECT_EQ(readText(target), "");
}

} // namespace
