#include "core/downloader.h"

Downloader downloader;

void Downloader::onProgress(std::uint64_t progress, std::uint64_t progressMax) {
    if (progress == 0 || progressMax == 0) return;
    // Single precision on purpose: of 100, a progress of 53 shows 52 and 59 shows 58.
    const float percent = static_cast<float>(progress) / static_cast<float>(progressMax) * 100.0f;
    // More bytes than announced must not push the cast out of range.
    progressPercent = percent >= 100.0f ? 100 : static_cast<std::int32_t>(percent);
}
