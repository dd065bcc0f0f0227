// Downloading a URL to a file (URLDownloadToFile with a bind-status callback).
//
// [X] libcurl easy interface; redirects followed; https with certificate checks on
// [X] an HTTP error status (>= 400) is a failed download, never a saved error page
// [X] "Cache-Control: no-cache" stands in for DeleteUrlCacheEntry: caches on the way revalidate
// [X] a stalled transfer fails instead of hanging (see downloadStallSeconds)
// [X] progress reports carry the bytes received and the expected total (0 when unknown)
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// A transfer that moves no byte for this long is abandoned.
inline constexpr int downloadStallSeconds = 30;
// Tests shorten the stall limit (it also bounds connecting); 0 restores downloadStallSeconds.
void setDownloadStallSeconds(int seconds);

using DownloadProgress = std::function<void(std::uint64_t received, std::uint64_t total)>;

// Writes the body of `url` to `path` (created or truncated). Returns 0 on success, otherwise a
// negative code that stands where Windows gives an HRESULT: -status for an HTTP error status,
// -(1000 + CURLcode) for a transport failure, -1 when the file cannot be written.
int downloadToFile(const std::string& url, const std::string& path, const DownloadProgress& progress);

} // namespace platform
