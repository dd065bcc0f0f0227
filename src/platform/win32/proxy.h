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

// For a request to `url`: the automatic configuration (detection, or the script's address) when
// the user has one and it answers, else the named proxy, else a direct connection.
ProxyChoice userProxyFor(HINTERNET session, const std::wstring& url);
// Puts `choice` on `request` (opened in a session without a proxy of its own).
bool useProxy(HINTERNET request, const ProxyChoice& choice);

} // namespace platform::win32
