// The small line under the progress bar while a file downloads: bytes done of the total, the
// speed over the last few seconds and the time left, e.g.
// "12.4 MB of 310.0 MB  -  5.2 MB/s  -  about 1 min left".
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

class Downloader;

// The speed is the average over this many seconds of samples...
inline constexpr double speedWindowSeconds = 5.0;
// ...and is shown only once the samples span this long.
inline constexpr double speedMinimumSpanSeconds = 0.5;
// The speed shown changes at most this often, so that it stays readable.
inline constexpr double downloadLineIntervalSeconds = 0.5;

// The average rate of a growing byte count over the last speedWindowSeconds.
class TransferRate {
  public:
    void reset() { samples_.clear(); }
    // The count at `seconds` (a monotonic clock). A count below the last one starts over: a try
    // that began again from an earlier point.
    void add(double seconds, std::uint64_t bytes);
    // Bytes per second, or nothing while the samples span less than speedMinimumSpanSeconds.
    std::optional<double> bytesPerSecond() const;

  private:
    struct Sample {
        double seconds;
        std::uint64_t bytes;
    };
    std::deque<Sample> samples_;
};

// The line for `done` of `total` bytes at `bytesPerSecond` (none yet: sizes only; zero: the
// transfer stalls). Empty when the size is unknown (0) or the file is complete.
std::string downloadProgressLine(std::uint64_t done, std::uint64_t total,
                                 std::optional<double> bytesPerSecond);

// The interface thread's reading of the Downloader's counters.
class DownloadLine {
  public:
    // Reads `sink` at `seconds`; true when the line's text changed.
    bool update(const Downloader& sink, double seconds);
    const std::string& text() const { return text_; }

  private:
    TransferRate rate_;
    std::uint32_t transfer_ = 0;
    std::optional<double> speed_; // as shown
    double speedAt_ = 0.0;
    std::string text_;
};
