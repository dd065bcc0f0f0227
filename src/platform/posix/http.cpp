// Downloading a URL to a file with libcurl's easy interface (stands in for URLDownloadToFile).
//
// [X] redirects followed (http and https only, at most 10 hops; from an https address, https only)
// [X] https with peer and host certificate checks on
// [X] an HTTP error status is a failure, reported as -status; the error page is never written
// [X] "Cache-Control: no-cache" instead of DeleteUrlCacheEntry: caches on the way revalidate
// [X] a transfer that moves no byte for the stall time fails (checked at curl's progress calls,
//     about once a second); connecting has the same limit
// [X] a transfer that averages under the low-speed limit (1 KiB/s) over its time (60 s) fails
//     too, headers included: curl's own low-speed check, which counts every byte received
// [X] a body shorter than announced is CURLE_PARTIAL_FILE; a reply without a length that ends in
//     a connection reset is CURLE_RECV_ERROR. A reply without a length that the server closes
//     cleanly looks complete to HTTP/1.x itself: nothing on the wire tells it apart
// [X] resuming with Range and If-Range; a 206 must continue exactly where the kept part ends
// [X] progress reports carry bytes of the file so far (kept part included) and the expected total
// [X] the body goes to the file in pieces of 64 KiB and more: small network reads are gathered,
//     large ones are written as they come (copying them again costs more than it saves)
// [X] the proxy: libcurl's standard variables (http_proxy, https_proxy, all_proxy, no_proxy); one
//     diagnostic when the proxy refuses: a 407, a refused tunnel, a proxy name not found
// [ ] a proxy that cannot be reached looks like a server that cannot be: no diagnostic of its own
// [ ] the bind-status callback's other notifications (status codes, MIME type) have no use here
#include "platform/http.h"
#include "platform/process.h"

#include <curl/curl.h>
#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {
namespace {

// Measured on loopback: pieces of about 128 KiB keep the data in the processor's cache between
// the socket and the file; megabyte buffers cost twice the processor time.
constexpr long receiveBufferBytes = 128L * 1024;
constexpr std::size_t gatherBytes = 64 * 1024;
constexpr long maximumRedirects = 10;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

struct FileDeleter {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileDeleter>;

// Why a transfer was abandoned from inside one of curl's callbacks.
enum class Stop { none, unwritable, tooLarge, badRange, byObserver, errorStatus, silent };

// The headers of the answer being read; redirects and error pages each start a new one.
struct Answer {
    long status = 0;
    std::string etag;
    std::string lastModified;
    std::string contentRange;
    std::string location;
    long long contentLength = -1;
    int retryAfter = -1;
};

struct Transfer {
    const DownloadRequest* request = nullptr;
    std::FILE* file = nullptr;
    std::vector<char> pending;
    Answer answer;
    bool begun = false;
    DownloadAnswer begunAnswer;
    std::uint64_t limit = 0;
    std::uint64_t received = 0;
    std::uint64_t lastReported = 0;
    Stop stop = Stop::none;
    std::chrono::steady_clock::time_point lastByteAt = std::chrono::steady_clock::now();
    std::chrono::seconds silenceLimit{downloadStallSeconds};
};

// curl_global_init is not thread-safe and downloads start on whichever worker thread needs one.
bool initialiseCurl() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

bool startsWithIgnoringCase(const std::string& text, const char* prefix) {
    return text.size() >= std::strlen(prefix) && strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

std::string trimmed(const char* data, std::size_t size) {
    std::size_t begin = 0;
    while (begin < size && (data[begin] == ' ' || data[begin] == '\t')) ++begin;
    while (size > begin && (data[size - 1] == '\r' || data[size - 1] == '\n' || data[size - 1] == ' '))
        --size;
    return std::string(data + begin, size - begin);
}

long long parseCount(const std::string& text) {
    if (text.empty() || text.size() > 18) return -1;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "bytes FIRST-LAST/TOTAL": true with FIRST and TOTAL (TOTAL 0 when "*").
bool parseContentRange(const std::string& text, std::uint64_t& first, std::uint64_t& total) {
    if (!startsWithIgnoringCase(text, "bytes ")) return false;
    const auto dash = text.find('-', 6);
    const auto slash = text.find('/', 6);
    if (dash == std::string::npos || slash == std::string::npos || dash > slash) return false;
    const long long from = parseCount(text.substr(6, dash - 6));
    const long long size = text.substr(slash + 1) == "*" ? 0 : parseCount(text.substr(slash + 1));
    if (from < 0 || size < 0) return false;
    first = static_cast<std::uint64_t>(from);
    total = static_cast<std::uint64_t>(size);
    return true;
}

bool truncateTo(std::FILE* file, std::uint64_t size) {
    return std::fflush(file) == 0 && ftruncate(fileno(file), static_cast<off_t>(size)) == 0 &&
           fseeko(file, static_cast<off_t>(size), SEEK_SET) == 0;
}

// The final answer is a success: settle what is kept, the total and the limit, then tell the owner.
bool beginBody(Transfer& transfer) {
    const DownloadRequest& request = *transfer.request;
    const Answer& answer = transfer.answer;
    DownloadAnswer& begun = transfer.begunAnswer;
    if (answer.status == 206) {
        std::uint64_t first = 0;
        std::uint64_t total = 0;
        if (request.resumeFrom == 0 || !parseContentRange(answer.contentRange, first, total) ||
            first != request.resumeFrom) {
            transfer.stop = Stop::badRange;
            return false;
        }
        begun.kept = request.resumeFrom;
        begun.total = total;
    } else {
        begun.kept = 0;
        begun.total = answer.contentLength > 0 ? static_cast<std::uint64_t>(answer.contentLength) : 0;
    }
    if (!truncateTo(transfer.file, begun.kept)) {
        transfer.stop = Stop::unwritable;
        return false;
    }
    // A weak ETag may not stand in If-Range.
    begun.validator = !answer.etag.empty() && !startsWithIgnoringCase(answer.etag, "W/")
                          ? answer.etag
                          : answer.lastModified;
    const bool announced = begun.total > 0 || answer.contentLength >= 0;
    transfer.limit = request.maximumBytes;
    if (!announced && request.maximumUnannouncedBytes > 0 &&
        (transfer.limit == 0 || request.maximumUnannouncedBytes < transfer.limit))
        transfer.limit = request.maximumUnannouncedBytes;
    const std::uint64_t expected =
        begun.total > 0
            ? begun.total
            : begun.kept + static_cast<std::uint64_t>(answer.contentLength > 0 ? answer.contentLength : 0);
    if (transfer.limit > 0 && expected > transfer.limit) {
        transfer.stop = Stop::tooLarge;
        return false;
    }
    transfer.begun = true;
    if (request.started && !request.started(begun)) {
        transfer.stop = Stop::byObserver;
        return false;
    }
    return true;
}

std::size_t readHeader(char* data, std::size_t size, std::size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    const std::size_t bytes = size * count;
    transfer->lastByteAt = std::chrono::steady_clock::now();
    const std::string line = trimmed(data, bytes);
    Answer& answer = transfer->answer;
    try {
        if (startsWithIgnoringCase(line, "HTTP/")) {
            answer = Answer{};
            const auto space = line.find(' ');
            if (space != std::string::npos) answer.status = std::atol(line.c_str() + space + 1);
            return bytes;
        }
        if (!line.empty()) {
            const auto colon = line.find(':');
            if (colon == std::string::npos) return bytes;
            const std::string name = line.substr(0, colon);
            const std::string value = trimmed(line.data() + colon + 1, line.size() - colon - 1);
            if (strcasecmp(name.c_str(), "ETag") == 0) answer.etag = value;
            if (strcasecmp(name.c_str(), "Last-Modified") == 0) answer.lastModified = value;
            if (strcasecmp(name.c_str(), "Content-Range") == 0) answer.contentRange = value;
            if (strcasecmp(name.c_str(), "Location") == 0) answer.location = value;
            if (strcasecmp(name.c_str(), "Content-Length") == 0) answer.contentLength = parseCount(value);
            if (strcasecmp(name.c_str(), "Retry-After") == 0) {
                const long long seconds = parseCount(value);
                answer.retryAfter = seconds >= 0 && seconds < 86400 ? static_cast<int>(seconds) : -1;
            }
            return bytes;
        }
        // The end of an answer's headers. Informational answers and redirects that curl follows
        // are not the final one.
        if (answer.status < 200 || (answer.status >= 300 && answer.status < 400 && !answer.location.empty()))
            return bytes;
        if (answer.status >= 300) {
            transfer->stop = Stop::errorStatus;
            return 0;
        }
        return beginBody(*transfer) ? bytes : 0;
    } catch (...) {
        // Runs inside curl's C frames: nothing may be thrown through them.
        transfer->stop = Stop::byObserver;
        return 0;
    }
}

bool writePending(Transfer& transfer) {
    const std::size_t bytes = transfer.pending.size();
    const bool written = bytes == 0 || std::fwrite(transfer.pending.data(), 1, bytes, transfer.file) == bytes;
    transfer.pending.clear();
    return written;
}

bool writeGathered(Transfer& transfer, const char* data, std::size_t bytes) {
    if (transfer.pending.size() + bytes > gatherBytes) {
        if (!writePending(transfer)) return false;
        if (bytes >= gatherBytes) return std::fwrite(data, 1, bytes, transfer.file) == bytes;
    }
    transfer.pending.insert(transfer.pending.end(), data, data + bytes);
    return true;
}

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    const std::size_t bytes = size * count;
    if (!transfer->begun) return 0;
    if (transfer->limit > 0 && transfer->begunAnswer.kept + transfer->received + bytes > transfer->limit) {
        transfer->stop = Stop::tooLarge;
        return 0;
    }
    try {
        if (transfer->request->body && !transfer->request->body(data, bytes)) {
            transfer->stop = Stop::byObserver;
            return 0;
        }
    } catch (...) {
        transfer->stop = Stop::byObserver;
        return 0;
    }
    if (!writeGathered(*transfer, data, bytes)) {
        transfer->stop = Stop::unwritable;
        return 0;
    }
    transfer->received += bytes;
    transfer->lastByteAt = std::chrono::steady_clock::now();
    return bytes;
}

void report(Transfer& transfer, std::uint64_t received, std::uint64_t total) {
    const DownloadProgress& progress = transfer.request->progress;
    if (!progress || received == 0) return;
    transfer.lastReported = received;
    progress(received, total);
}

int reportProgress(void* context, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(context);
    if (std::chrono::steady_clock::now() - transfer->lastByteAt > transfer->silenceLimit) {
        transfer->stop = Stop::silent;
        return 1;
    }
    if (!transfer->begun) return 0;
    const std::uint64_t kept = transfer->begunAnswer.kept;
    const auto received = kept + static_cast<std::uint64_t>(now);
    if (received == transfer->lastReported) return 0;
    try {
        report(*transfer, received, total > 0 ? kept + static_cast<std::uint64_t>(total) : 0);
    } catch (...) {
        return 1;
    }
    return 0;
}

int failure(CURLcode code) {
    return -(1000 + static_cast<int>(code));
}

bool isPassing(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return true;
    default:
        return false;
    }
}

constexpr long proxyAuthenticationRequired = 407;

bool isPassingStatus(long status) {
    return status == 408 || status == 429 || (status >= 500 && status <= 599);
}

bool isHttps(const std::string& url) {
    return startsWithIgnoringCase(url, "https://");
}

void setOptions(CURL* handle, const DownloadRequest& request, curl_slist* headers, Transfer& transfer,
                const std::string& range) {
    const long stall = currentDownloadStallSeconds();
    curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    // Once on https, a redirect must not hand the file over to an unprotected connection.
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, isHttps(request.url) ? "https" : "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, maximumRedirects);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    if (!range.empty()) curl_easy_setopt(handle, CURLOPT_RANGE, range.c_str());
    // Worker threads download; curl's alarm-based DNS time-out would signal the whole process.
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, stall);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT,
                     static_cast<long>(currentDownloadLowSpeedBytesPerSecond()));
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(currentDownloadLowSpeedSeconds()));
    transfer.silenceLimit = std::chrono::seconds(stall);
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, receiveBufferBytes);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, readHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, reportProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
}

// The code and kind of a transfer that ended; 0 when the file is complete.
DownloadResult settle(CURLcode code, const Transfer& transfer) {
    DownloadResult result;
    result.answer = transfer.begunAnswer;
    result.retryAfterSeconds = transfer.answer.retryAfter;
    switch (transfer.stop) {
    case Stop::unwritable:
        result.code = downloadUnwritable;
        return result;
    case Stop::tooLarge:
        result.code = downloadTooLarge;
        return result;
    case Stop::badRange:
        // The server's copy moved under us; the next try asks for the whole file.
        result.code = downloadRangeMismatch;
        result.transient = true;
        return result;
    case Stop::byObserver:
        result.code = downloadAbandoned;
        return result;
    case Stop::silent:
        result.code = failure(CURLE_OPERATION_TIMEDOUT);
        result.transient = true;
        return result;
    case Stop::errorStatus:
        result.code = -static_cast<int>(transfer.answer.status);
        result.transient = isPassingStatus(transfer.answer.status);
        return result;
    case Stop::none:
        break;
    }
    if (code != CURLE_OK) {
        result.code = failure(code);
        result.transient = isPassing(code);
        return result;
    }
    // A final answer outside 2xx (a redirect without a target, say) carries no file either.
    if (!transfer.begun) {
        result.code = -static_cast<int>(transfer.answer.status);
        result.transient = isPassingStatus(transfer.answer.status);
        return result;
    }
    const std::uint64_t size = transfer.begunAnswer.kept + transfer.received;
    if (transfer.begunAnswer.total > 0 && size != transfer.begunAnswer.total) {
        result.code = failure(CURLE_PARTIAL_FILE);
        result.transient = true;
    }
    return result;
}

// Only a proxy answers 407, or answers the CONNECT of a tunnel.
void diagnoseProxyRefusal(CURL* handle, CURLcode code, const Transfer& transfer) {
    long tunnelStatus = 0;
    curl_easy_getinfo(handle, CURLINFO_HTTP_CONNECTCODE, &tunnelStatus);
    std::string what;
    if (code == CURLE_COULDNT_RESOLVE_PROXY)
        what = "its name was not found";
    else if (tunnelStatus >= 300)
        what = "status " + std::to_string(tunnelStatus);
    else if (transfer.answer.status == proxyAuthenticationRequired)
        what = "status " + std::to_string(transfer.answer.status);
    if (what.empty()) return;
    const char* url = nullptr;
    curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &url);
    diagnose(std::string(proxyRefusedText) + (url ? url : transfer.request->url) + " (" + what + ")");
}

} // namespace

DownloadResult downloadToFile(const DownloadRequest& request) {
    DownloadResult failed;
    if (!initialiseCurl()) return failed.code = failure(CURLE_FAILED_INIT), failed;
    EasyHandle easy(curl_easy_init());
    if (!easy) return failed.code = failure(CURLE_FAILED_INIT), failed;
    HeaderList headers(curl_slist_append(nullptr, "Cache-Control: no-cache"));
    if (!headers) return failed.code = failure(CURLE_OUT_OF_MEMORY), failed;

    const bool resuming = request.resumeFrom > 0 && !request.ifRange.empty();
    std::string range;
    if (resuming) {
        range = std::to_string(request.resumeFrom) + "-";
        curl_slist* more = curl_slist_append(headers.get(), ("If-Range: " + request.ifRange).c_str());
        if (!more) return failed.code = failure(CURLE_OUT_OF_MEMORY), failed;
    }
    // The kept part is read and written in place; a fresh download starts from an empty file.
    FileHandle file(std::fopen(request.path.c_str(), resuming ? "r+b" : "wb"));
    if (!file) return failed.code = downloadUnwritable, failed;
    // The transfer gathers small pieces itself; a stream buffer would only copy large ones again.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);

    Transfer transfer;
    DownloadRequest effective = request;
    if (!resuming) effective.resumeFrom = 0;
    transfer.request = &effective;
    transfer.file = file.get();
    transfer.pending.reserve(gatherBytes);

    CURL* handle = easy.get();
    setOptions(handle, effective, headers.get(), transfer, range);
    const std::string trusted = currentDownloadTrustedCertificates();
    if (!trusted.empty()) curl_easy_setopt(handle, CURLOPT_CAINFO, trusted.c_str());

    const CURLcode code = curl_easy_perform(handle);
    diagnoseProxyRefusal(handle, code, transfer);
    DownloadResult result = settle(code, transfer);
    // What did arrive stays in the file: a kept part may be resumed by the next try.
    if (!writePending(transfer) || std::fclose(file.release()) != 0) {
        if (result.code == 0) result.code = downloadUnwritable;
        result.transient = false;
    }
    result.size = transfer.begun ? transfer.begunAnswer.kept + transfer.received : 0;
    if (result.code != 0) return result;

    // The last report may have gone out before the end of the body was known to be the end.
    try {
        report(transfer, result.size, result.size);
    } catch (...) {
    }
    return result;
}

} // namespace platform
