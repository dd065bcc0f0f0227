// Downloads from the update server and the file routines the whole update engine uses.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/downloader.h"
#include "core/install_folder.h"

// A download without Content-Length stops here: a server streaming for ever must not fill the disk.
inline constexpr std::uint64_t unannouncedDownloadCapBytes = std::uint64_t{4} << 30;
// Room left free on the target's file system, for the system and for the file being replaced.
inline constexpr std::uint64_t downloadSpareBytes = std::uint64_t{16} << 20;
// A download that fails for a passing reason is tried this many more times, after 1, 2 and 4 s,
// or after the server's Retry-After when it asks for at most maximumRetryAfterSeconds.
inline constexpr int downloadRetries = 3;
inline constexpr int firstRetryPauseMs = 1000;
inline constexpr int maximumRetryAfterSeconds = 30;
// Tests pause without waiting; an empty function restores sleeping.
void setDownloadRetryPause(std::function<void(int milliseconds)> pause);
// Tests start over as a new run would: the first listed update server is asked first again.
void forgetWorkingUpdateServer();
// Tests hash every download, as a build that requires signatures does; false restores that rule.
void setDownloadHashingForTests(bool always);

// True when nothing is left at `path`.
bool prepareFileForDownload(const std::string& path);
// Fetches `url` into `path`; failures are diagnostics only. True when the file is in place.
bool downloadFile(const std::string& url, const std::string& path, Downloader& sink);

// A complete download, still under its temporary name beside its target.
struct FetchedFile {
    std::string temporaryPath;
    std::string relativePath; // below the update URL, as published (not percent-encoded)
    std::uint64_t size = 0;
    std::string sha256; // lowercase hex, filled while the file streams in when signatures are required
    std::string url;    // where it came from: one of several update servers
};
// Says whether a complete download may replace its target. A refused file is removed and counts
// as a failed download; the target stays as it was.
using AcceptDownload = std::function<bool(const FetchedFile&)>;
// Asked right before an accepted download replaces its target (the game guard). A "no" is this
// machine's answer, not the server's: no other server is asked for the file.
using MayReplace = std::function<bool()>;

// The address of a file on the update server: `baseUrl` (ending with '/') and the published path
// as a browser writes it: control bytes, space, bytes above 127, '"', '<', '>', '\', '^', '`',
// '{', '|', '}', '?', '#' and a '%' that begins no escape are percent-encoded; "%XX" escapes, '/'
// and everything else go out as listed.
std::string updateFileUrl(const std::string& baseUrl, const std::string& relativePath);
// The path a web server sees once it has undone the escapes of a request, once.
std::string percentDecoded(const std::string& text);
// Fetches a file of the update server into `path`. The download replaces `path` only once it is
// complete, signed where this build requires signatures, and accepted by `accept`; otherwise
// `path` stays as it was. True when the new file is in place.
// `baseUrl` may list several servers with the same files, separated by ';' (updateServerUrls):
// a server that fails to give the file (after its retries), or whose file or signature is
// refused, passes it on to the next; the one that last gave a file is asked first from then on.
bool fetchUpdateFile(const std::string& baseUrl, const std::string& relativePath, const std::string& path,
                     Downloader& sink, const AcceptDownload& accept = {}, const MayReplace& mayReplace = {});
// Creates the one folder that holds `path`; true when it exists afterwards.
bool createParentFolder(const std::string& path);
