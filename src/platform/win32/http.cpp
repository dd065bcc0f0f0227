// Downloading a URL to a file through WinHTTP.
//
// The design names URLDownloadToFileW with a bind-status callback. WinHTTP stands in for it
// because the moniker cannot give the behaviour the launcher relies on: URLDownloadToFileW
// answers S_OK to a 404 and leaves the error page (or an empty file) behind, it offers no stall
// time-out, and it cannot ask for a range of the file. WinHTTP reports the status code, has a
// time limit for every wait, and sends whatever headers the launcher needs.
//
// [X] DeleteUrlCacheEntryW first (url_cache.cpp); "Cache-Control: no-cache" so that caches on the
//     way revalidate as well
// [X] redirects followed (WinHTTP's default: at most 10, never from https down to http)
// [X] https with the system's certificate checks
// [X] an HTTP status outside 2xx is a failure, reported as -status; the error page is never written
// [X] every wait (name lookup, connect, send, each receive) is bounded by the stall time, so a
//     transfer that moves no byte for that long fails
// [X] a body shorter than its Content-Length is a failure
// [X] progress reports carry the bytes received and the expected total (0 while unknown)
// [ ] the proxy: WinHTTP's own setting (netsh winhttp), not the browser's
#include "platform/http.h"

#include "url_cache.h"
#include "wide_text.h"

#include <windows.h>

#include <winhttp.h>

#include <atomic>
#include <cwchar>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
namespace {

using win32::ownHandle;
using win32::UniqueHandle;
using win32::widen;

constexpr DWORD receiveBufferBytes = 128 * 1024;
constexpr const wchar_t* userAgent = L"Mozilla/4.0 (compatible)";

std::atomic<int> stallSeconds{downloadStallSeconds};

struct InternetCloser {
    void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetCloser>;

int transportFailure(DWORD error) {
    return -(1000 + static_cast<int>(error));
}

int lastTransportFailure() {
    return transportFailure(GetLastError());
}

std::optional<std::uint64_t> contentLength(HINTERNET request) {
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    wchar_t* end = nullptr;
    const auto value = std::wcstoull(text, &end, 10);
    if (end == text) return std::nullopt;
    return static_cast<std::uint64_t>(value);
}

bool writeAll(HANDLE file, const char* data, DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, data, size, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

} // namespace

void setDownloadStallSeconds(int seconds) {
    stallSeconds = seconds > 0 ? seconds : downloadStallSeconds;
}

int downloadToFile(const std::string& url, const std::string& path, const DownloadProgress& progress) {
    const std::wstring wideUrl = widen(url);
    win32::forgetCachedUrl(wideUrl);

    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) return lastTransportFailure();
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return transportFailure(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty()) object = L"/";

    const InternetHandle session(WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return lastTransportFailure();
    const int stallMs = stallSeconds.load() * 1000;
    WinHttpSetTimeouts(session.get(), stallMs, stallMs, stallMs, stallMs);
    const InternetHandle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) return lastTransportFailure();
    const InternetHandle request(WinHttpOpenRequest(
        connection.get(), L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
        parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return lastTransportFailure();
    const wchar_t* headers = L"Cache-Control: no-cache\r\nPragma: no-cache\r\n";
    if (!WinHttpSendRequest(request.get(), headers, static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0,
                            0) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
        return lastTransportFailure();

    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX))
        return lastTransportFailure();
    if (status < 200 || status >= 300) return -static_cast<int>(status);
    const std::optional<std::uint64_t> expected = contentLength(request.get());

    const UniqueHandle file = ownHandle(CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return -1;
    std::vector<char> buffer(receiveBufferBytes);
    std::uint64_t received = 0;
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), receiveBufferBytes, &got))
            return lastTransportFailure();
        if (got == 0) break;
        if (!writeAll(file.get(), buffer.data(), got)) return -1;
        received += got;
        if (progress) progress(received, expected.value_or(0));
    }
    if (expected && received != *expected) return transportFailure(ERROR_WINHTTP_CONNECTION_ERROR);
    // The last report may have gone out before the end of the body was known to be the end.
    if (progress && received > 0 && !expected) progress(received, received);
    return 0;
}

} // namespace platform
