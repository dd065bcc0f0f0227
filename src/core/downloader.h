// The progress of the download under way, shared by every download and drawn by the interface.
#pragma once

#include <atomic>
#include <cstdint>

// The one progress sink of every download; the interface draws its percentage, and while a
// transfer is under way its bytes, speed and time left.
class Downloader {
  public:
    // Called during a download with the bytes received so far and the expected total.
    void onProgress(std::uint64_t progress, std::uint64_t progressMax);
    std::atomic<std::int32_t> progressPercent{0};

    // Bytes of the current file so far and its expected size (0: unknown), as last reported.
    std::atomic<std::uint64_t> bytesDone{0};
    std::atomic<std::uint64_t> bytesTotal{0};
    // Transfers begun so far (a new one restarts any averaging) and those still under way.
    std::atomic<std::uint32_t> transfersBegun{0};
    std::atomic<std::int32_t> transfersUnderWay{0};

    // Marks one transfer (with its retries) as under way for its lifetime.
    class Transfer {
      public:
        explicit Transfer(Downloader& sink);
        ~Transfer();
        Transfer(const Transfer&) = delete;
        Transfer& operator=(const Transfer&) = delete;

      private:
        Downloader& sink_;
    };
};

extern Downloader downloader;
