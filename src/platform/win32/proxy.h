// The proxy the current user chose in Internet Options, for each request. Private to
// src/platform/win32.
#pragma once

#include <windows.h>

#include <winhttp.h>

#include <string>

namespace platform::win32 {

struct ProxyChoice {
    bool direct = true;
    std::wstring proxy;  // "host:port", or a list by scheme ("http=host:port;https=...")
    std::wstring bypass; // names that go direct ("<local>;*.example.com"); empty: none
};

// For a request to `url` (`resolver`: a session without a proxy, used to fetch a configuration
// script): the automatic configuration (detection, or the script's address) when
// the user has one and it answers, else the named proxy, else a direct connection.
ProxyChoice userProxyFor(HINTERNET resolver, const std::wstring& url);
// A session whose requests go through `choice`. The choice is made when the session opens: Wine,
// unlike Windows, takes no proxy set on a session or request afterwards.
HINTERNET openSession(const wchar_t* userAgent, const ProxyChoice& choice);

} // namespace platform::win32
