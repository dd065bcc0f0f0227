// Downloading a URL to a file with libcurl's easy interface (stands in for URLDownloadToFile).
//
// [X] redirects followed (http and https only, at most 10 hops); from an https address only to https
// [X] https with peer and host certificate checks on
// [X] an HTTP error status is a failure, reported as -status; the error page is never written
// [X] "Cache-Control: no-cache" instead of DeleteUrlCacheEntry: caches on the way revalidate
// [X] a transfer that moves no byte for the stall time fails (curl averages the speed over a few
//     seconds, so a stall right after a burst is noticed a little later); connecting has the same limit
// [X] progress reports carry bytes received and the expected total (0 while unknown)
// [X] the body goes to the file in pieces of 64 KiB and more: small network reads are gathered,
//     large ones are written as they come (copying them again costs more than it saves)
// [ ] the bind-status callback's other notifications (status codes, MIME type) have no use here
#include "platform/http.h"

#include "platform/files.h"

#include <curl/curl.h>

#include <atomic>
#include <cstdio>
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

std::atomic<int> stallSeconds{downloadStallSeconds};

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

struct Transfer {
    std::FILE* file = nullptr;
    std::vector<char> pending;
    const DownloadProgress* progress = nullptr;
    std::uint64_t received = 0;
    std::uint64_t lastReported = 0;
    bool writeFailed = false;
};

// curl_global_init is not thread-safe and downloads start on whichever worker thread needs one.
bool initialiseCurl() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

bool writePending(Transfer& transfer) {
    const std::size_t bytes = transfer.pending.size();
    const bool written = bytes == 0 || std::fwrite(transfer.pending.data(), 1, bytes, transfer.file) == bytes;
    transfer.pending.clear();
    return written;
}

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    const std::size_t bytes = size * count;
    bool written = true;
    if (transfer->pending.size() + bytes > gatherBytes) {
        written = writePending(*transfer);
        if (written && bytes >= gatherBytes) {
            written = std::fwrite(data, 1, bytes, transfer->file) == bytes;
            data = nullptr;
        }
    }
    if (written && data != nullptr) transfer->pending.insert(transfer->pending.end(), data, data + bytes);
    if (!written) {
        transfer->writeFailed = true;
        return 0;
    }
    transfer->received += bytes;
    return bytes;
}

void report(Transfer& transfer, std::uint64_t received, std::uint64_t total) {
    if (!*transfer.progress || received == 0) return;
    transfer.lastReported = received;
    (*transfer.progress)(received, total);
}

// Runs inside curl's C frames: nothing may be thrown through them.
int reportProgress(void* context, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(context);
    const auto received = static_cast<std::uint64_t>(now);
    if (received == transfer->lastReported) return 0;
    try {
        report(*transfer, received, total > 0 ? static_cast<std::uint64_t>(total) : 0);
    } catch (...) {
        return 1;
    }
    return 0;
}

int failure(CURLcode code) {
    return -(1000 + static_cast<int>(code));
}

} // namespace

void setDownloadStallSeconds(int seconds) {
    stallSeconds = seconds > 0 ? seconds : downloadStallSeconds;
}

int downloadToFile(const std::string& url, const std::string& path, const DownloadProgress& progress) {
    if (!initialiseCurl()) return failure(CURLE_FAILED_INIT);
    EasyHandle easy(curl_easy_init());
    if (!easy) return failure(CURLE_FAILED_INIT);
    HeaderList headers(curl_slist_append(nullptr, "Cache-Control: no-cache"));
    if (!headers) return failure(CURLE_OUT_OF_MEMORY);

    FileHandle file(std::fopen(path.c_str(), "wb"));
    if (!file) return -1;
    // The transfer gathers small pieces itself; a stream buffer would only copy large ones again.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);

    Transfer transfer;
    transfer.file = file.get();
    transfer.pending.reserve(gatherBytes);
    transfer.progress = &progress;
    const long stall = stallSeconds.load();

    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    // A secure address never gives up its certificate check half-way through a redirect.
    const bool secure =
        url.size() >= 8 && equalsIgnoringAsciiCase(std::string_view(url).substr(0, 8), "https://");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, maximumRedirects);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
    // Worker threads download; curl's alarm-based DNS time-out would signal the whole process.
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, stall);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, stall);
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, receiveBufferBytes);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, reportProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);

    const CURLcode code = curl_easy_perform(handle);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (transfer.writeFailed) return -1;
    if (code == CURLE_HTTP_RETURNED_ERROR) return -static_cast<int>(status);
    if (code != CURLE_OK) return failure(code);
    // A final answer outside 2xx (a redirect without a target, say) carries no file either.
    if (status < 200 || status >= 300) return -static_cast<int>(status);
    if (!writePending(transfer) || std::fclose(file.release()) != 0) return -1;

    // The last report may have gone out before the end of the body was known to be the end.
    try {
        report(transfer, transfer.received, transfer.received);
    } catch (...) {
    }
    return 0;
}

} // namespace platform
