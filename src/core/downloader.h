// The progress of the download under way, shared by every download and drawn by the interface.
#pragma once

#include <atomic>
#include <cstdint>

// The one progress sink of every download; the interface draws its percentage.
class Downloader {
  public:
    // Called during a download with the bytes received so far and the expected total.
    void onProgress(std::uint64_t progress, std::uint64_t progressMax);
    std::atomic<std::int32_t> progressPercent{0};
};

extern Downloader downloader;
