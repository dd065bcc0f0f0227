#include "core/downloader.h"

Downloader downloader;

void Downloader::onProgress(std::uint64_t progress, std::uint64_t progressMax) {
    if (progress == 0 || progressMax == 0) return;
    bytesTotal.store(progressMax, std::memory_order_relaxed);
    bytesDone.store(progress, std::memory_order_release);
    // Single precision on purpose: of 100, a progress of 53 shows 52 and 59 shows 58.
    const float percent = static_cast<float>(progress) / static_cast<float>(progressMax) * 100.0f;
    // More bytes than announced must not push the cast out of range.
    progressPercent = percent >= 100.0f ? 100 : static_cast<std::int32_t>(percent);
}

Downloader::Transfer::Transfer(Downloader& sink) : sink_(sink) {
    // The previous file's counts must not show as this one's.
    sink_.bytesDone.store(0, std::memory_order_relaxed);
    sink_.bytesTotal.store(0, std::memory_order_relaxed);
    sink_.transfersBegun.fetch_add(1, std::memory_order_acq_rel);
    sink_.transfersUnderWay.fetch_add(1, std::memory_order_acq_rel);
}

Downloader::Transfer::~Transfer() {
    sink_.transfersUnderWay.fetch_sub(1, std::memory_order_acq_rel);
}
