// Downloading a URL to a file (URLDownloadToFile with a bind-status callback).
//
// [X] redirects followed; https with certificate checks on; an https address never follows a
//     redirect to anything but https
// [X] an HTTP error status (>= 400) is a failed download, never a saved error page
// [X] "Cache-Control: no-cache" stands in for DeleteUrlCacheEntry: caches on the way revalidate
// [X] a stalled transfer fails instead of hanging: silent for downloadStallSeconds, or averaging
//     under downloadLowSpeedBytesPerSecond over downloadLowSpeedSeconds (a trickle)
// [X] a body shorter than its Content-Length, or a reply cut by a connection reset, is a failure
// [X] progress reports carry the bytes of the file so far (a kept part included) and the
//     expected total (0 when unknown)
// [X] resuming: the rest of a kept part is asked for with Range and If-Range; a 206 answer is
//     appended, a 200 answer rewrites the file from its start
// [X] size limits: an answer announcing more than the limit fails before its body; a body that
//     grows past the limit is cut off
// [X] failures are sorted into passing ones (worth another try) and the rest; Retry-After in
//     seconds form is reported
// [X] every body byte is handed to an observer in order (hashing while the file streams in)
// [X] the player's proxy: Windows' Internet Options (automatic configuration included), on Linux
//     libcurl's standard variables (http_proxy, https_proxy, no_proxy); a refusal is diagnosed
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// The diagnostic when a proxy refuses a download (asks for authentication, or cannot be reached),
// followed by the address, and in parentheses the proxy where known and the answer.
inline constexpr const char* proxyRefusedText = "The proxy refused the download of ";

// A transfer that moves no byte for this long is abandoned.
inline constexpr int downloadStallSeconds = 30;
// Tests shorten the stall limit (it also bounds connecting); 0 restores downloadStallSeconds.
void setDownloadStallSeconds(int seconds);
// A transfer (headers included) that averages under this speed over this time counts as stalled:
// a server sending a byte a second must not hold a download for ever.
inline constexpr int downloadLowSpeedBytesPerSecond = 1024;
inline constexpr int downloadLowSpeedSeconds = 60;
// Tests shorten the low-speed time and change the speed; 0 restores each default.
void setDownloadLowSpeed(int bytesPerSecond, int seconds);
// Tests trust their own certificate authority (a PEM file); empty restores the system's store.
void setDownloadTrustedCertificates(const std::string& pemFile);
// What the settings above hold now, for each system's downloader.
int currentDownloadStallSeconds();
int currentDownloadLowSpeedBytesPerSecond();
int currentDownloadLowSpeedSeconds();
std::string currentDownloadTrustedCertificates();

using DownloadProgress = std::function<void(std::uint64_t received, std::uint64_t total)>;

// What the server answered, known before the first body byte is written.
struct DownloadAnswer {
    std::uint64_t kept = 0;  // bytes of the file kept from before (a 206 answer); 0: written anew
    std::uint64_t total = 0; // size of the complete file when the answer says, 0 when unknown
    std::string validator;   // strong ETag, else Last-Modified; empty when the answer gives neither
};

struct DownloadRequest {
    std::string url;
    std::string path; // created, or truncated to what is kept
    // With both set, `path` holds the first `resumeFrom` bytes of the server's copy that
    // `ifRange` names, and only the rest is asked for.
    std::uint64_t resumeFrom = 0;
    std::string ifRange;
    // Limits on the complete file's size (a kept part included); 0: none.
    std::uint64_t maximumBytes = 0;
    std::uint64_t maximumUnannouncedBytes = 0; // when the answer gives no length
    DownloadProgress progress;
    // Called on the downloading thread once the final answer is a success, before its body, when
    // the file already holds only what is kept; false abandons the transfer.
    std::function<bool(const DownloadAnswer&)> started;
    // Every body byte, in order, as it is written; false abandons the transfer.
    std::function<bool(const char* data, std::size_t size)> body;
};

// Codes that stand where Windows gives an HRESULT: 0 success, -status for an HTTP error status,
// -(1000 + CURLcode) for a transport failure, -1 when the file cannot be written.
inline constexpr int downloadUnwritable = -1;
inline constexpr int downloadTooLarge = -(1000 + 63);  // CURLE_FILESIZE_EXCEEDED
inline constexpr int downloadAbandoned = -(1000 + 42); // CURLE_ABORTED_BY_CALLBACK
// A 206 that does not continue the kept part: the part is worth nothing, the next try starts over.
inline constexpr int downloadRangeMismatch = -(1000 + 33); // CURLE_RANGE_ERROR

struct DownloadResult {
    int code = 0;
    // A passing failure (connection refused or reset, time-out, stall, cut transfer, 408, 429,
    // 5xx): another try may succeed.
    bool transient = false;
    int retryAfterSeconds = -1; // the failed answer's Retry-After in seconds form, -1 if none
    DownloadAnswer answer;      // the success answer, when one began
    // Bytes in the file at the end (the complete file on success). What arrived before a failure
    // stays in the file; when no success answer began, a kept part is left untouched.
    std::uint64_t size = 0;
};

DownloadResult downloadToFile(const DownloadRequest& request);

// The whole file at once, without resuming, limits or observers.
inline int downloadToFile(const std::string& url, const std::string& path, const DownloadProgress& progress) {
    DownloadRequest request;
    request.url = url;
    request.path = path;
    request.progress = progress;
    return downloadToFile(request).code;
}

} // namespace platform
