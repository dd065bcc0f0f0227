// Downloads from the update server and the file routines the whole update engine uses.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// The one progress sink of every download; the interface draws its percentage.
class Downloader {
  public:
    // Called during a download with the bytes received so far and the expected total.
    void onProgress(std::uint64_t progress, std::uint64_t progressMax);
    std::atomic<std::int32_t> progressPercent{0};
};

extern Downloader downloader;

// The launcher's own folder, which is the game's installation folder, ending with '/'.
std::string installFolder();
// True when nothing is left at `path`.
bool prepareFileForDownload(const std::string& path);
// Fetches `url` into `path`; failures are diagnostics only, callers look at the file.
void downloadFile(const std::string& url, const std::string& path, Downloader& sink);
// Creates the one folder that holds `path`; true when it exists afterwards.
bool createParentFolder(const std::string& path);
