#include "ui/download_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/downloader.h"

namespace {

constexpr double kilobyte = 1024.0;
constexpr double megabyte = 1024.0 * 1024.0;
constexpr double gigabyte = 1024.0 * 1024.0 * 1024.0;
constexpr const char* separator = "  -  ";
constexpr const char* stalledText = "stalled";

std::string formatted(const char* format, double value) {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string sizeText(double bytes) {
    if (bytes >= gigabyte) return formatted("%.2f GB", bytes / gigabyte);
    if (bytes >= megabyte) return formatted("%.1f MB", bytes / megabyte);
    return formatted("%.0f KB", std::ceil(bytes / kilobyte));
}

std::string speedText(double bytesPerSecond) {
    if (bytesPerSecond >= megabyte) return formatted("%.1f MB/s", bytesPerSecond / megabyte);
    return formatted("%.0f KB/s", std::ceil(bytesPerSecond / kilobyte));
}

// Rounded as a player reads a countdown: seconds below 45, then minutes, then hours and minutes.
std::string timeLeftText(double seconds) {
    if (seconds < 45.0) return formatted("about %.0f s left", std::max(1.0, std::ceil(seconds)));
    const double minutes = std::round(seconds / 60.0);
    if (minutes < 60.0) return formatted("about %.0f min left", minutes);
    if (minutes >= 24.0 * 60.0) return "more than a day left";
    const double hours = std::floor(minutes / 60.0);
    return formatted("about %.0f h ", hours) + formatted("%.0f min left", minutes - hours * 60.0);
}

} // namespace

void TransferRate::add(double seconds, std::uint64_t bytes) {
    if (!samples_.empty() && bytes < samples_.back().bytes) samples_.clear();
    samples_.push_back({seconds, bytes});
    // The oldest sample kept is the last one at or before the window's start, so the window is
    // covered whole.
    while (samples_.size() > 2 && samples_[1].seconds <= seconds - speedWindowSeconds) samples_.pop_front();
}

std::optional<double> TransferRate::bytesPerSecond() const {
    if (samples_.size() < 2) return std::nullopt;
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    const double span = last.seconds - first.seconds;
    if (!(span >= speedMinimumSpanSeconds)) return std::nullopt;
    return static_cast<double>(last.bytes - first.bytes) / span;
}

std::string downloadProgressLine(std::uint64_t done, std::uint64_t total,
                                 std::optional<double> bytesPerSecond) {
    if (total == 0 || done >= total) return {};
    std::string line = sizeText(static_cast<double>(done)) + " of " + sizeText(static_cast<double>(total));
    if (!bytesPerSecond) return line;
    // Below one byte a second nothing moves that a player could wait for.
    if (!(*bytesPerSecond >= 1.0)) return line + separator + stalledText;
    const double left = static_cast<double>(total - done) / *bytesPerSecond;
    return line + separator + speedText(*bytesPerSecond) + separator + timeLeftText(left);
}

bool DownloadLine::update(const Downloader& sink, double seconds) {
    std::string next;
    if (sink.transfersUnderWay.load(std::memory_order_acquire) > 0) {
        const std::uint32_t transfer = sink.transfersBegun.load(std::memory_order_acquire);
        if (transfer != transfer_) {
            transfer_ = transfer;
            rate_.reset();
            speed_.reset();
            speedAt_ = seconds;
        }
        const std::uint64_t done = sink.bytesDone.load(std::memory_order_acquire);
        const std::uint64_t total = sink.bytesTotal.load(std::memory_order_relaxed);
        // Until the first report the count says nothing (a resumed file starts at its kept part).
        if (done > 0) rate_.add(seconds, done);
        // The bytes are always the latest; the speed changes at most each interval, so that it
        // can be read (the time left follows the bytes at that speed).
        if (!speed_ || seconds - speedAt_ >= downloadLineIntervalSeconds) {
            speed_ = rate_.bytesPerSecond();
            if (speed_) speedAt_ = seconds;
        }
        next = downloadProgressLine(done, total, speed_);
    } else {
        rate_.reset();
        speed_.reset();
    }
    if (next == text_) return false;
    text_ = std::move(next);
    return true;
}
