// The downloads' settings that tests change, the same on every system; each system's downloader
// reads them at the start of every transfer.
#include "platform/http.h"

#include <atomic>
#include <mutex>

namespace platform {
namespace {

std::atomic<int> stallSeconds{downloadStallSeconds};
std::atomic<int> lowSpeedBytesPerSecond{downloadLowSpeedBytesPerSecond};
std::atomic<int> lowSpeedSeconds{downloadLowSpeedSeconds};
std::mutex trustedLock;
std::string trustedCertificates;

} // namespace

void setDownloadStallSeconds(int seconds) {
    stallSeconds = seconds > 0 ? seconds : downloadStallSeconds;
}

void setDownloadLowSpeed(int bytesPerSecond, int seconds) {
    lowSpeedBytesPerSecond = bytesPerSecond > 0 ? bytesPerSecond : downloadLowSpeedBytesPerSecond;
    lowSpeedSeconds = seconds > 0 ? seconds : downloadLowSpeedSeconds;
}

void setDownloadTrustedCertificates(const std::string& pemFile) {
    std::lock_guard lock(trustedLock);
    trustedCertificates = pemFile;
}

int currentDownloadStallSeconds() {
    return stallSeconds.load();
}

int currentDownloadLowSpeedBytesPerSecond() {
    return lowSpeedBytesPerSecond.load();
}

int currentDownloadLowSpeedSeconds() {
    return lowSpeedSeconds.load();
}

std::string currentDownloadTrustedCertificates() {
    std::lock_guard lock(trustedLock);
    return trustedCertificates;
}

} // namespace platform
