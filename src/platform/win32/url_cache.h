// Dropping a URL from WinINet's download cache (DeleteUrlCacheEntryW). Its own file, because
// <wininet.h> and <winhttp.h> cannot share one. Private to src/platform/win32.
#pragma once

#include <string>

namespace platform::win32 {

// Whether an entry existed, and whether the removal succeeded, does not matter to the caller.
void forgetCachedUrl(const std::wstring& url);

} // namespace platform::win32
