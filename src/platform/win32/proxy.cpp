// The current user's proxy settings, as Internet Options holds them, for WinHTTP requests.
//
// [X] WinHttpGetIEProxyConfigForCurrentUser: what the user chose for the active connection
// [X] automatic configuration (WPAD detection, a configuration script's address) through
//     WinHttpGetProxyForUrl, per request address, so a redirect to another host gets its own
//     answer; a script that says DIRECT is obeyed
// [X] a failed automatic configuration falls back to the named proxy, then to a direct connection
// [X] detection that found nothing is not tried again in this process (each try can wait seconds
//     on a network without WPAD); a script's address is asked each time (WinHTTP caches it)
// [X] the named proxy's list by scheme and its bypass list ("<local>") are WinHTTP's to apply
// [ ] proxy authentication: the user's logon is offered to an automatic configuration only
#include "proxy.h"

#include <atomic>

namespace platform::win32 {
namespace {

std::atomic<bool> detectionFoundNothing{false};

// The texts these calls return belong to the caller, who frees them with GlobalFree.
struct GlobalText {
    wchar_t* text;
    explicit GlobalText(wchar_t* owned) : text(owned) {}
    GlobalText(const GlobalText&) = delete;
    GlobalText& operator=(const GlobalText&) = delete;
    ~GlobalText() {
        if (text) GlobalFree(text);
    }
    std::wstring value() const { return text ? text : L""; }
};

ProxyChoice named(const std::wstring& proxy, const std::wstring& bypass) {
    if (proxy.empty()) return {};
    return {false, proxy, bypass};
}

} // namespace

ProxyChoice userProxyFor(HINTERNET resolver, const std::wstring& url) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&user)) return {};
    const GlobalText script{user.lpszAutoConfigUrl};
    const GlobalText proxy{user.lpszProxy};
    const GlobalText bypass{user.lpszProxyBypass};

    const bool detect = user.fAutoDetect && !detectionFoundNothing.load();
    if (detect || script.text) {
        WINHTTP_AUTOPROXY_OPTIONS options{};
        if (detect) {
            options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        if (script.text) {
            options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = script.text;
        }
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO found{};
        if (WinHttpGetProxyForUrl(resolver, url.c_str(), &options, &found)) {
            const GlobalText foundProxy{found.lpszProxy};
            const GlobalText foundBypass{found.lpszProxyBypass};
            if (found.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) return {};
            return named(foundProxy.value(), foundBypass.value());
        }
        if (detect && !script.text) detectionFoundNothing = true;
    }
    return named(proxy.value(), bypass.value());
}

HINTERNET openSession(const wchar_t* userAgent, const ProxyChoice& choice) {
    if (choice.direct)
        return WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
    return WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, choice.proxy.c_str(),
                       choice.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : choice.bypass.c_str(), 0);
}

} // namespace platform::win32
