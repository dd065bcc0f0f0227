// platform::downloadToFile against a real HTTP server on loopback.
#include "platform/http.h"

#include <gtest/gtest.h>

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
constexpr int receiveError = -(1000 + 56);       // CURLE_RECV_ERROR

std::string sampleContent(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 131 + i / 977) & 0xff);
    return text;
}

platform::DownloadRequest request(const std::string& url, const std::string& path) {
    platform::DownloadRequest request;
    request.url = url;
    request.path = path;
    return request;
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

// Which failures are worth another try, and what the server said about when.
TEST_F(HttpDownload, failures_are_sorted_into_passing_ones_and_the_rest) {
    struct Case {
        const char* fault;
        int code;
        bool transient;
        int retryAfter;
    };
    const Case cases[] = {
        {"drop", partialFile, true, -1},   // the body ends before its Content-Length
        {"short", partialFile, true, -1},  // more announced than there is
        {"reset", receiveError, true, -1}, // no length, cut by a connection reset
        {"503", -503, true, -1},           {"503:7", -503, true, 7}, {"429:2", -429, true, 2},
        {"408", -408, true, -1},           {"404", -404, false, -1}, {"403", -403, false, -1},
    };
    for (const auto& c : cases) {
        // Wine's WinHTTP takes a reset after a body without a length for its end.
        if (dltest::underWine() && std::string(c.fault) == "reset") continue;
        platform::DownloadRequest request;
        request.url = server->url(std::string("file.bin?fault=") + c.fault);
        request.path = target;
        const auto result = platform::downloadToFile(request);
        EXPECT_EQ(result.code, c.code) << c.fault;
        EXPECT_EQ(result.transient, c.transient) << c.fault;
        EXPECT_EQ(result.retryAfterSeconds, c.retryAfter) << c.fault;
    }
    const auto refused = platform::downloadToFile(request("http://127.0.0.1:1/file.bin", target));
    EXPECT_TRUE(refused.transient);
}

TEST_F(HttpDownload, limits_stop_a_download_that_announces_or_grows_too_large) {
    struct Case {
        const char* fault;
        std::uint64_t maximum;
        std::uint64_t maximumUnannounced;
        int code;
    };
    const std::uint64_t size = content.size();
    const Case cases[] = {
        {"", size - 1, 0, platform::downloadTooLarge},         // announced, refused before its body
        {"", size, 0, 0},                                      // exactly fits
        {"nolength", 0, size / 2, platform::downloadTooLarge}, // cut off at the cap
        {"nolength", size / 2, 0, platform::downloadTooLarge}, // cut off at the free space
        {"nolength", 0, size, 0},
    };
    for (const auto& c : cases) {
        // Wine's WinHTTP takes a reset after a body without a length for its end.
        if (dltest::underWine() && std::string(c.fault) == "reset") continue;
        platform::DownloadRequest request;
        request.url = server->url(std::string("file.bin?fault=") + c.fault);
        request.path = target;
        request.maximumBytes = c.maximum;
        request.maximumUnannouncedBytes = c.maximumUnannounced;
        std::uint64_t observed = 0;
        request.body = [&observed](const char*, std::size_t bytes) { return (observed += bytes) > 0; };
        const auto result = platform::downloadToFile(request);
        EXPECT_EQ(result.code, c.code) << c.fault << " " << c.maximum;
        if (c.code == 0) {
            EXPECT_EQ(readText(target), content);
        }
        const std::uint64_t limit = c.maximum != 0 ? c.maximum : c.maximumUnannounced;
        EXPECT_LE(std::filesystem::file_size(target), limit);
        EXPECT_LE(observed, limit);
        if (c.maximumUnannounced == 0 && c.code != 0 && std::string(c.fault).empty()) {
            EXPECT_EQ(observed, 0u) << "an announced size that does not fit fails before the body";
        }
    }
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

#ifndef _WIN32
// libcurl's standard variable; only a proxy could reach a host under ".invalid".
TEST_F(HttpDownload, http_proxy_carries_the_download_and_its_refusal_is_diagnosed) {
    const std::string proxy = server->url("");
    ASSERT_EQ(setenv("http_proxy", proxy.c_str(), 1), 0);
    ASSERT_EQ(setenv("no_proxy", "", 1), 0);
    const int through = platform::downloadToFile("http://launcher.invalid/file.bin", target, nullptr);
    EXPECT_EQ(through, 0);
    EXPECT_EQ(readText(target), content);
    ::testing::internal::CaptureStderr();
    const int refused =
        platform::downloadToFile("http://launcher.invalid/file.bin?fault=407", target, nullptr);
    const std::string diagnostics = ::testing::internal::GetCapturedStderr();
    unsetenv("http_proxy");
    unsetenv("no_proxy");
    EXPECT_EQ(refused, -407);
    EXPECT_EQ(diagnostics, std::string(platform::proxyRefusedText) +
                               "http://launcher.invalid/file.bin?fault=407 (status 407)\n");
}
#endif

// The rest of a kept part is asked for with Range and If-Range; a changed copy comes whole.
TEST(HttpResume, a_kept_part_is_continued_only_while_the_server_names_the_same_copy) {
    TestFolder folder;
    const std::string content = sampleContent(1024 * 1024 + 5);
    writeText(folder.file("file.bin"), content);
    HttpTestServer server(folder.path(), {}, {}, true);
    ASSERT_TRUE(server.started());
    const std::string target = folder.file("target.part");
    const auto whole = platform::downloadToFile(request(server.url("file.bin"), target));
    ASSERT_EQ(whole.code, 0);
    ASSERT_EQ(whole.answer.validator.front(), '"') << "a strong ETag is preferred";
    EXPECT_EQ(whole.answer.total, content.size());

    for (const bool sameCopy : {true, false}) {
        const std::size_t kept = content.size() / 3;
        writeText(target, content.substr(0, kept));
        platform::DownloadRequest request;
        request.url = server.url("file.bin");
        request.path = target;
        request.resumeFrom = kept;
        request.ifRange = sameCopy ? whole.answer.validator : "\"another\"";
        std::vector<Report> reports;
        request.progress = [&reports](std::uint64_t r, std::uint64_t t) { reports.push_back({r, t}); };
        std::string observed;
        request.body = [&observed](const char* data, std::size_t size) {
            return observed.append(data, size), true;
        };
        const auto result = platform::downloadToFile(request);
        ASSERT_EQ(result.code, 0) << sameCopy;
        EXPECT_EQ(readText(target), content) << sameCopy;
        EXPECT_EQ(result.answer.kept, sameCopy ? kept : 0u);
        EXPECT_EQ(observed, content.substr(sameCopy ? kept : 0));
        EXPECT_EQ(result.size, content.size());
        ASSERT_FALSE(reports.empty());
        if (sameCopy) {
            for (const auto& report : reports)
                EXPECT_GE(report.received, kept) << "progress goes on from the kept part";
        }
        EXPECT_EQ(reports.back().total, content.size());
    }
    const std::string log = server.requestLog();
    EXPECT_NE(log.find("\"range\": \"bytes=" + std::to_string(content.size() / 3) + "-\""),
              std::string::npos);
    EXPECT_NE(log.find("\"if-range\": \"\\\"another\\\"\""), std::string::npos) << log;
}

// A self-signed certificate for 127.0.0.1, made by the openssl program.
bool makeCertificate(const std::string& certificate, const std::string& key) {
    return dltest::runTool({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                            "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out",
                            certificate}) == 0;
}

// Certificate checks stay on: a server with a certificate nobody vouches for is refused.
TEST(HttpsDownload, self_signed_certificate_is_refused) {
    TestFolder folder;
    const std::string certificate = folder.file("cert.pem");
    const std::string key = folder.file("key.pem");
    if (dltest::underWine()) GTEST_SKIP() << "Wine's secure channel ends the handshake with error 12157";
    if (!makeCertificate(certificate, key)) GTEST_SKIP() << "openssl cannot make a test certificate here";
    writeText(folder.file("file.bin"), "secret");
    HttpTestServer server(folder.path(), {}, {certificate, key});
    ASSERT_TRUE(server.started());
    const std::string target = folder.file("target.bin");
    EXPECT_EQ(platform::downloadToFile(server.url("file.bin", "https"), target, nullptr), peerNotVerified);
    EXPECT_EQ(readText(target), "");
}

// Once on https, a redirect to plain http is refused; one to https is followed.
TEST(HttpsDownload, redirect_from_https_to_http_is_refused) {
    TestFolder folder;
    const std::string certificate = folder.file("cert.pem");
    const std::string key = folder.file("key.pem");
    if (dltest::underWine()) GTEST_SKIP() << "Wine's secure channel ends the handshake with error 12157";
    if (!makeCertificate(certificate, key)) GTEST_SKIP() << "openssl cannot make a test certificate here";
    writeText(folder.file("file.bin"), "secret");
    HttpTestServer secure(folder.path(), {}, {certificate, key});
    HttpTestServer plain(folder.path());
    ASSERT_TRUE(secure.started() && plain.started());
    platform::setDownloadTrustedCertificates(certificate);
    const std::string target = folder.file("target.bin");
    EXPECT_EQ(platform::downloadToFile(secure.url("file.bin", "https"), target, nullptr), 0);
    EXPECT_EQ(readText(target), "secret");
    EXPECT_EQ(platform::downloadToFile(secure.url("file.bin?fault=redirect", "https"), target, nullptr), 0);
    EXPECT_EQ(
        platform::downloadToFile(secure.url("file.bin?fault=redirect&to=" + plain.url("file.bin"), "https"),
                                 target, nullptr),
        unsupportedProtocol);
    EXPECT_EQ(plain.requestLog(), "");
    // From plain http, a redirect may still go either way.
    EXPECT_EQ(
        platform::downloadToFile(plain.url("file.bin?fault=redirect&to=" + secure.url("file.bin", "https")),
                                 target, nullptr),
        0);
    platform::setDownloadTrustedCertificates("");
}

} // namespace
