// The URL cache of WinINet, which URLDownloadToFile and the browser share.
//
// [X] DeleteUrlCacheEntryW before each download, so no cached copy of an earlier release lingers
//     for the player's other programs; WinHTTP, which fetches here, keeps no cache of its own
#include "url_cache.h"

#include <windows.h>

#include <wininet.h>

namespace platform::win32 {

void forgetCachedUrl(const std::wstring& url) {
    DeleteUrlCacheEntryW(url.c_str());
}

} // namespace platform::win32
