// Downloads from the update server: making room for the target, fetching, and the progress sink.
#include "update/download.h"

#include <filesystem>
#include <mutex>
#include <set>

#include "platform/files.h"
#include "platform/http.h"
#include "platform/process.h"
#include "update/release_signature.h"

namespace {

constexpr const char* attributesFailedText = "Failed to remove attributes for: ";
constexpr const char* deleteFailedText = "Failed to delete file: ";
constexpr const char* deleteErrorText = " Error: ";
constexpr const char* deleteRetriesText = "Failed to delete file after retries: ";
constexpr const char* prepareFailedText = "Failed to prepare file for download: ";
constexpr const char* downloadFailedText = "Download failed for: ";
constexpr const char* downloadCodeText = " HRESULT: ";

constexpr int deleteAttempts = 3;
constexpr int deleteRetryPauseMs = 100;
constexpr std::uint32_t blockingAttributes =
    platform::attributeReadOnly | platform::attributeHidden | platform::attributeSystem;
// Where rename cannot put a completed download in place, the file cannot be written.
constexpr int unwritableCode = -1;

// A download goes to a file beside its target and replaces the target only when complete, so an
// interrupted transfer never leaves a truncated file under the target's name. Two downloads of
// the same target at once (two patch lists in flight) each get their own temporary.
class TemporaryName {
  public:
    explicit TemporaryName(const std::string& target) {
        std::lock_guard lock(namesLock);
        name_ = target + ".part";
        for (int n = 2; inUse.count(name_) != 0; ++n) name_ = target + "." + std::to_string(n) + ".part";
        inUse.insert(name_);
    }
    ~TemporaryName() {
        std::lock_guard lock(namesLock);
        inUse.erase(name_);
    }
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    const std::string& path() const { return name_; }

  private:
    static inline std::mutex namesLock;
    static inline std::set<std::string> inUse;
    std::string name_;
};

} // namespace

bool prepareFileForDownload(const std::string& path) {
    const auto attributes = platform::fileAttributes(path);
    if (!attributes) return true;
    if ((*attributes & blockingAttributes) != 0 &&
        !platform::setFileAttributes(path, platform::attributeNormal)) {
        platform::diagnose(attributesFailedText + path);
        return false;
    }
    const platform::DeleteOutcome outcome =
        platform::deleteFileRetrying(path, deleteAttempts, deleteRetryPauseMs);
    switch (outcome.result) {
    case platform::DeleteResult::deleted:
    case platform::DeleteResult::notFound:
        return true;
    case platform::DeleteResult::busy:
        platform::diagnose(deleteRetriesText + path);
        return false;
    case platform::DeleteResult::failed:
        break;
    }
    platform::diagnose(deleteFailedText + path + deleteErrorText +
                       std::to_string(static_cast<unsigned>(outcome.errorCode)));
    return false;
}

namespace {

// Downloads into a temporary beside `path`; `accept` decides whether it replaces `path`.
bool downloadReplacing(const std::string& url, const std::string& path, Downloader& sink,
                       const std::string& baseUrl, const std::string& relativePath,
                       const AcceptDownload& accept) {
    const TemporaryName temporary(path);
    // A leftover of a launcher that ended mid-download.
    platform::deleteFile(temporary.path());
    // Should the process end mid-transfer (a lost connection, the close button), nothing partial
    // stays behind.
    const platform::EndStep removePartial([partial = temporary.path()] { platform::deleteFile(partial); });
    int result =
        platform::downloadToFile(url, temporary.path(), [&sink](std::uint64_t received, std::uint64_t total) {
            sink.onProgress(received, total);
        });
    if (result != 0) {
        platform::deleteFile(temporary.path());
        platform::diagnose(downloadFailedText + url + downloadCodeText + std::to_string(result));
        return false;
    }
    std::error_code error;
    const auto size = std::filesystem::file_size(temporary.path(), error);
    const FetchedFile fetched{temporary.path(), relativePath, error ? 0 : size, {}};
    if (!relativePath.empty() && !verifyReleaseSignature(baseUrl, fetched)) {
        platform::deleteFile(temporary.path());
        return false;
    }
    if (accept && !accept(fetched)) {
        platform::deleteFile(temporary.path());
        return false;
    }
    if (!prepareFileForDownload(path)) {
        platform::deleteFile(temporary.path());
        platform::diagnose(prepareFailedText + path);
        return false;
    }
    if (!platform::replaceFile(temporary.path(), path)) {
        platform::deleteFile(temporary.path());
        platform::diagnose(downloadFailedText + url + downloadCodeText + std::to_string(unwritableCode));
        return false;
    }
    return true;
}

} // namespace

bool downloadFile(const std::string& url, const std::string& path, Downloader& sink) {
    return downloadReplacing(url, path, sink, {}, {}, {});
}

std::string updateFileUrl(const std::string& baseUrl, const std::string& relativePath) {
    return baseUrl + relativePath;
}

bool fetchUpdateFile(const std::string& baseUrl, const std::string& relativePath, const std::string& path,
                     Downloader& sink, const AcceptDownload& accept) {
    return downloadReplacing(updateFileUrl(baseUrl, relativePath), path, sink, baseUrl, relativePath, accept);
}

bool createParentFolder(const std::string& path) {
    const auto separator = path.find_last_of("/\\");
    if (separator == std::string::npos) return false;
    // A file directly under the root: its folder is the root itself.
    return platform::createFolder(separator == 0 ? path.substr(0, 1) : path.substr(0, separator));
}
