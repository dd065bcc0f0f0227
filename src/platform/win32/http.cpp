// Downloading a URL to a file through WinHTTP.
//
// The design names URLDownloadToFileW with a bind-status callback. WinHTTP stands in for it
// because the moniker cannot give the behaviour the launcher relies on: URLDownloadToFileW
// answers S_OK to a 404 and leaves the error page (or an empty file) behind, has no stall
// time-out, writes straight into the target, and cannot ask for the rest of a file (Range). WinHTTP
// reports the status and every header, bounds each wait, and sends the headers the launcher needs.
//
// [X] DeleteUrlCacheEntryW first (url_cache.cpp); "Cache-Control: no-cache" so that caches on the
//     way revalidate as well
// [X] redirects followed here, not by WinHTTP (whose redirect to an address it cannot parse goes
//     astray under Wine): http and https only, at most 10, never from https down to http
// [X] https with the system's certificate checks
// [X] an HTTP status outside 2xx is a failure, reported as -status; the error page is never written
// [X] every wait (name lookup, connect, send, each receive) is bounded by the stall time, so a
//     transfer that moves no byte for that long fails
// [X] a body that averages under the low-speed limit over the low-speed time fails (a passing
//     failure), measured here in windows of that time as curl's check does; headers are bounded
//     as a whole by the response time-out (the stall time, shorter than the low-speed time)
// [X] a body shorter than its Content-Length is a failure (a passing one)
// [X] transport failures reported with the Linux build's codes (curl's), passing as there
// [X] resuming with Range and If-Range; a 206 must continue exactly where the kept part ends
// [X] size limits, the started and body observers, Retry-After in seconds, passing failures
// [X] progress reports carry bytes of the file so far (kept part included) and the expected total
// [ ] a test's own certificate authority (setDownloadTrustedCertificates): ignored;
//     WinHTTP trusts the system's store only
// [X] the proxy and automatic configuration the user chose in Internet Options, asked for each
//     address (a redirect to another host gets its own), direct when there is none (proxy.cpp);
//     one diagnostic when the proxy refuses (407, or it cannot be reached)
#include "platform/http.h"

#include "platform/files.h"
#include "platform/process.h"
#include "proxy.h"
#include "url_cache.h"
#include "wide_text.h"

#include <windows.h>

#include <winhttp.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
namespace {

using win32::narrow;
using win32::ownHandle;
using win32::UniqueHandle;
using win32::widen;

constexpr DWORD receiveBufferBytes = 128 * 1024;
constexpr int maximumRedirects = 10; // as many as the Linux build follows
constexpr const wchar_t* userAgent = L"Mozilla/4.0 (compatible)";
constexpr DWORD proxyAuthenticationRequired = 407;

struct InternetCloser {
    void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetCloser>;

// Transport failures are reported as the Linux build reports them, -(1000 + CURLcode), so that a
// diagnostic means the same on both systems and the same failures count as passing. An error
// without a counterpart keeps its own number (WinHTTP's are 12000 and up, above every CURLcode).
// Wine reports some failures with the Winsock error underneath (a time-out as WSAETIMEDOUT).
int curlEquivalent(DWORD error) {
    switch (error) {
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
        return 1; // CURLE_UNSUPPORTED_PROTOCOL
    case ERROR_WINHTTP_INVALID_URL:
        return 3; // CURLE_URL_MALFORMAT
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return 6; // CURLE_COULDNT_RESOLVE_HOST
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
        return 7; // CURLE_COULDNT_CONNECT
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        return 8; // CURLE_WEIRD_SERVER_REPLY
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
        return 28; // CURLE_OPERATION_TIMEDOUT
    case ERROR_WINHTTP_REDIRECT_FAILED:
        return 47; // CURLE_TOO_MANY_REDIRECTS
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_RESEND_REQUEST:
    case WSAECONNRESET:
    case WSAECONNABORTED:
        return 56; // CURLE_RECV_ERROR
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        return 60; // CURLE_PEER_FAILED_VERIFICATION
    default:
        return static_cast<int>(error);
    }
}

constexpr int partialFile = 18; // CURLE_PARTIAL_FILE: the body ended before its announced length
constexpr int timedOut = 28;    // CURLE_OPERATION_TIMEDOUT: stalled, as curl's low-speed check says

int transportFailure(DWORD error) {
    return -(1000 + curlEquivalent(error));
}

// The same passing failures as the Linux build's: no connection, a time-out, a cut transfer.
bool isPassingError(DWORD error) {
    switch (curlEquivalent(error)) {
    case 7:
    case 8:
    case partialFile:
    case timedOut:
    case 56:
        return true;
    default:
        return false;
    }
}

bool isRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Where a Location header points, taken against the address it answered. An address with a scheme
// of its own stands as it is, so that the scheme is checked before anything is asked of it.
std::wstring resolved(const std::wstring& base, const std::wstring& location) {
    const auto colon = location.find(L':');
    const auto delimiter = location.find_first_of(L"/?#");
    bool schemed = colon != std::wstring::npos && colon > 0 && colon < delimiter && iswalpha(location[0]);
    for (std::size_t i = 0; schemed && i < colon; ++i)
        schemed = iswalnum(location[i]) || location[i] == L'+' || location[i] == L'-' || location[i] == L'.';
    if (schemed) return location;
    const auto authority = base.find(L"://") + 3;
    if (location.starts_with(L"//")) return base.substr(0, authority - 2) + location;
    const auto pathStart = base.find_first_of(L"/?#", authority);
    const std::wstring origin = base.substr(0, pathStart);
    std::wstring path = pathStart == std::wstring::npos ? L"/" : base.substr(pathStart);
    path = path.substr(0, path.find_first_of(L"?#"));
    if (path.empty()) path = L"/";
    if (location.empty() || location.starts_with(L'#')) return origin + path;
    if (location.starts_with(L'/')) return origin + location;
    if (location.starts_with(L'?')) return origin + path + location;
    return origin + path.substr(0, path.rfind(L'/') + 1) + location;
}

bool isPassingStatus(DWORD status) {
    return status == 408 || status == 429 || (status >= 500 && status <= 599);
}

std::optional<std::string> header(HINTERNET request, DWORD which) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::nullopt;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    text.resize(size / sizeof(wchar_t));
    return narrow(text);
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

bool startsWithIgnoringCase(const std::string& text, const char* prefix) {
    const std::string_view start(prefix);
    return text.size() >= start.size() &&
           equalsIgnoringAsciiCase(std::string_view(text).substr(0, start.size()), start);
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

bool truncateTo(HANDLE file, std::uint64_t size) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && SetEndOfFile(file);
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

// One transfer: the request, its open handles and what has arrived.
struct Transfer {
    const DownloadRequest& request;
    bool resuming = false;
    HANDLE file = nullptr;
    DownloadResult result;
    std::uint64_t received = 0;
    std::uint64_t expected = 0;
    std::uint64_t limit = 0;
    bool begun = false;

    DownloadResult& fail(int code, bool transient = false) {
        result.code = code;
        result.transient = transient;
        return result;
    }
};

// The final answer is a success: settle what is kept, the total and the limit, then tell the owner.
bool beginBody(Transfer& transfer, HINTERNET request, DWORD status) {
    const DownloadRequest& asked = transfer.request;
    DownloadAnswer& begun = transfer.result.answer;
    const long long length = parseCount(header(request, WINHTTP_QUERY_CONTENT_LENGTH).value_or(""));
    if (status == 206) {
        std::uint64_t first = 0;
        std::uint64_t total = 0;
        if (!transfer.resuming ||
            !parseContentRange(header(request, WINHTTP_QUERY_CONTENT_RANGE).value_or(""), first, total) ||
            first != asked.resumeFrom) {
            // The server's copy moved under us; the next try asks for the whole file.
            transfer.fail(downloadRangeMismatch, true);
            return false;
        }
        begun.kept = asked.resumeFrom;
        begun.total = total;
    } else {
        begun.kept = 0;
        begun.total = length > 0 ? static_cast<std::uint64_t>(length) : 0;
    }
    if (!truncateTo(transfer.file, begun.kept)) {
        transfer.fail(downloadUnwritable);
        return false;
    }
    // A weak ETag may not stand in If-Range.
    const std::string etag = header(request, WINHTTP_QUERY_ETAG).value_or("");
    begun.validator = !etag.empty() && !startsWithIgnoringCase(etag, "W/")
                          ? etag
                          : header(request, WINHTTP_QUERY_LAST_MODIFIED).value_or("");
    const bool announced = begun.total > 0 || length >= 0;
    transfer.limit = asked.maximumBytes;
    if (!announced && asked.maximumUnannouncedBytes > 0 &&
        (transfer.limit == 0 || asked.maximumUnannouncedBytes < transfer.limit))
        transfer.limit = asked.maximumUnannouncedBytes;
    transfer.expected =
        begun.total > 0 ? begun.total : begun.kept + static_cast<std::uint64_t>(length > 0 ? length : 0);
    if (transfer.limit > 0 && transfer.expected > transfer.limit) {
        transfer.fail(downloadTooLarge);
        return false;
    }
    transfer.begun = true;
    if (asked.started && !asked.started(begun)) {
        transfer.fail(downloadAbandoned);
        return false;
    }
    return true;
}

// Reads the body into the file; false with the result set when the transfer stops early.
bool readBody(Transfer& transfer, HINTERNET request) {
    const DownloadRequest& asked = transfer.request;
    const std::uint64_t kept = transfer.result.answer.kept;
    std::vector<char> buffer(receiveBufferBytes);
    const ULONGLONG lowSpeedMs = static_cast<ULONGLONG>(currentDownloadLowSpeedSeconds()) * 1000;
    const std::uint64_t lowSpeedBytes = static_cast<std::uint64_t>(currentDownloadLowSpeedBytesPerSecond()) *
                                        static_cast<std::uint64_t>(currentDownloadLowSpeedSeconds());
    ULONGLONG windowStart = GetTickCount64();
    std::uint64_t windowBytes = 0;
    for (;;) {
        // Only what has arrived is read: a read for more waits (under Wine) until the buffer is
        // full, which a trickle never fills, so the low-speed check below would never run.
        DWORD available = 0;
        DWORD got = 0;
        if (!WinHttpQueryDataAvailable(request, &available) ||
            (available > 0 && !WinHttpReadData(request, buffer.data(),
                                               std::min<DWORD>(available, receiveBufferBytes), &got))) {
            const DWORD error = GetLastError();
            // A connection lost before the announced end: the body came short, as curl says.
            if (transfer.result.answer.total > 0 && curlEquivalent(error) == 56)
                transfer.fail(-(1000 + partialFile), true);
            else
                transfer.fail(transportFailure(error), isPassingError(error));
            return false;
        }
        if (got == 0) return true;
        if (transfer.limit > 0 && kept + transfer.received + got > transfer.limit) {
            transfer.fail(downloadTooLarge);
            return false;
        }
        if (asked.body && !asked.body(buffer.data(), got)) {
            transfer.fail(downloadAbandoned);
            return false;
        }
        if (!writeAll(transfer.file, buffer.data(), got)) {
            transfer.fail(downloadUnwritable);
            return false;
        }
        transfer.received += got;
        if (asked.progress) asked.progress(kept + transfer.received, transfer.expected);
        // A trickle keeps every read within the stall time; only the average tells it.
        windowBytes += got;
        if (GetTickCount64() - windowStart >= lowSpeedMs) {
            if (windowBytes < lowSpeedBytes) {
                transfer.fail(-(1000 + timedOut), true);
                return false;
            }
            windowStart = GetTickCount64();
            windowBytes = 0;
        }
    }
}

// What the final answer brings: a failure for a status outside 2xx, otherwise the body.
void answer(Transfer& transfer, HINTERNET request, DWORD status) {
    if (status < 200 || status >= 300) {
        const long long retryAfter = parseCount(header(request, WINHTTP_QUERY_RETRY_AFTER).value_or(""));
        transfer.result.retryAfterSeconds =
            retryAfter >= 0 && retryAfter < 86400 ? static_cast<int>(retryAfter) : -1;
        transfer.fail(-static_cast<int>(status), isPassingStatus(status));
        return;
    }
    try {
        if (!beginBody(transfer, request, status) || !readBody(transfer, request)) return;
    } catch (...) {
        transfer.fail(downloadAbandoned);
        return;
    }
    const std::uint64_t size = transfer.result.answer.kept + transfer.received;
    if (transfer.result.answer.total > 0 && size != transfer.result.answer.total)
        transfer.fail(-(1000 + partialFile), true);
}

void run(Transfer& transfer) {
    const DownloadRequest& asked = transfer.request;
    std::wstring url = widen(asked.url);
    win32::forgetCachedUrl(url);
    bool secure = false; // the first address's scheme

    const auto lastFailure = [&transfer] {
        const DWORD error = GetLastError();
        transfer.fail(transportFailure(error), isPassingError(error));
    };
    // Fetches a configuration script, where the user has one; each address then gets a session
    // with the user's choice of proxy for it.
    const InternetHandle resolver(WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                              WINHTTP_NO_PROXY_BYPASS, 0));
    if (!resolver) return lastFailure();
    const int stallMs = currentDownloadStallSeconds() * 1000;
    WinHttpSetTimeouts(resolver.get(), stallMs, stallMs, stallMs, stallMs);

    // Redirects are followed here rather than by WinHTTP, so that each address is checked as the
    // Linux build checks it: http or https only, never from https down to http, at most ten.
    for (int redirects = 0;; ++redirects) {
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        parts.dwHostNameLength = static_cast<DWORD>(-1);
        parts.dwUrlPathLength = static_cast<DWORD>(-1);
        parts.dwExtraInfoLength = static_cast<DWORD>(-1);
        if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
            transfer.fail(transportFailure(GetLastError()));
            return;
        }
        if (redirects == 0) secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
        if ((parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
            (secure && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
            transfer.fail(transportFailure(ERROR_WINHTTP_UNRECOGNIZED_SCHEME));
            return;
        }
        const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
        std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
        object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        if (object.empty()) object = L"/";

        const win32::ProxyChoice proxy = win32::userProxyFor(resolver.get(), url);
        const InternetHandle session(win32::openSession(userAgent, proxy));
        if (!session) return lastFailure();
        WinHttpSetTimeouts(session.get(), stallMs, stallMs, stallMs, stallMs);
        const InternetHandle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
        if (!connection) return lastFailure();
        const InternetHandle request(WinHttpOpenRequest(
            connection.get(), L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
            WINHTTP_DEFAULT_ACCEPT_TYPES, parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
        if (!request) return lastFailure();
        const auto refusedBy = [&](const std::string& what) {
            if (!proxy.direct)
                diagnose(proxyRefusedText + narrow(url) + " (proxy " + narrow(proxy.proxy) + ", " + what +
                         ")");
        };
        DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
        if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects,
                              sizeof noRedirects))
            return lastFailure();
        // The wait for the answer's headers has a limit of its own (90 s unless set): the stall's too.
        DWORD responseMs = static_cast<DWORD>(stallMs);
        WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs,
                         sizeof responseMs);
        std::wstring headers = L"Cache-Control: no-cache\r\nPragma: no-cache\r\n";
        if (transfer.resuming)
            headers += L"Range: bytes=" + std::to_wstring(asked.resumeFrom) + L"-\r\nIf-Range: " +
                       widen(asked.ifRange) + L"\r\n";
        if (!WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                                WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
            !WinHttpReceiveResponse(request.get(), nullptr)) {
            const DWORD error = GetLastError();
            // Not connected, or its name not found: with a proxy, that is the proxy's.
            const int curlCode = curlEquivalent(error);
            if (curlCode == 6 || curlCode == 7) refusedBy("error " + std::to_string(error));
            SetLastError(error);
            return lastFailure();
        }

        DWORD status = 0;
        DWORD statusSize = sizeof status;
        if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX))
            return lastFailure();
        if (status == proxyAuthenticationRequired) refusedBy("status " + std::to_string(status));
        if (isRedirect(status)) {
            if (const auto location = header(request.get(), WINHTTP_QUERY_LOCATION)) {
                if (redirects == maximumRedirects) {
                    transfer.fail(transportFailure(ERROR_WINHTTP_REDIRECT_FAILED));
                    return;
                }
                url = resolved(url, widen(*location));
                continue;
            }
        }
        answer(transfer, request.get(), status);
        return;
    }
}

} // namespace

DownloadResult downloadToFile(const DownloadRequest& request) {
    Transfer transfer{request, false, nullptr, {}, 0, 0, 0, false};
    transfer.resuming = request.resumeFrom > 0 && !request.ifRange.empty();
    // The kept part is written in place; a fresh download starts from an empty file.
    const UniqueHandle file = ownHandle(
        CreateFileW(widen(request.path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    transfer.resuming ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return transfer.fail(downloadUnwritable);
    transfer.file = file.get();
    run(transfer);
    // What did arrive stays in the file: a kept part may be resumed by the next try.
    transfer.result.size = transfer.begun ? transfer.result.answer.kept + transfer.received : 0;
    if (transfer.result.code != 0) return transfer.result;
    // The last report may have gone out before the end of the body was known to be the end.
    try {
        if (request.progress && transfer.result.size > 0)
            request.progress(transfer.result.size, transfer.result.size);
    } catch (...) {
    }
    return transfer.result;
}

} // namespace platform
