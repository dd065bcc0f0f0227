// Downloads from the update server: fetching beside the target, trying again, resuming, and
// putting the complete file in place.
//
// [X] the target is replaced only by renaming a complete, signed (where required) and accepted
//     download over it; any failure leaves it as it was
// [X] passing failures are tried again after 1, 2 and 4 s (or the server's short Retry-After)
// [X] a cut transfer's part is kept with its validator and resumed, in this run or the next
// [X] limits: the target's free space less a spare, and a cap for answers without a length
// [X] SHA-256 of the whole file while it streams in, only when signatures are required
// [X] several update servers with the same files: a file a server fails to give (after the
//     retries), or gives with a refused signature or content, is fetched from the next one; the
//     server that last gave a file is asked first for the rest of the run
// [X] a kept part continues from whichever server still names the same copy (If-Range with its
//     validator); an answer naming another copy starts the file over
#include "update/download.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "core/file_digest.h"
#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/process.h"
#include "update/release_signature.h"
#include "update/resume.h"
#include "update/temporary_names.h"

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
// the same target at once (two patch lists in flight) each get their own temporary; only the
// first, plain downloadPartPath(target), is ever kept for resuming.
class TemporaryName {
  public:
    explicit TemporaryName(const std::string& target) {
        std::lock_guard lock(namesLock);
        name_ = downloadPartPath(target);
        for (int n = 2; inUse.count(name_) != 0; ++n)
            name_ = target + "." + std::to_string(n) + downloadPartSuffix();
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

constexpr const char* retryText = "Retrying download of: ";
constexpr const char* retryPauseText = " in ";
constexpr const char* retryUnitText = " ms";

std::mutex pauseLock;
std::function<void(int)> retryPause;
std::atomic<bool> alwaysHash{false};

void pauseBeforeRetry(int milliseconds) {
    std::function<void(int)> pause;
    {
        std::lock_guard lock(pauseLock);
        pause = retryPause;
    }
    if (pause)
        pause(milliseconds);
    else
        platform::sleepMilliseconds(milliseconds);
}

int retryPauseMs(int retry, int retryAfterSeconds) {
    // A longer Retry-After would hold the update for minutes: the usual pause is taken instead.
    if (retryAfterSeconds >= 0 && retryAfterSeconds <= maximumRetryAfterSeconds)
        return retryAfterSeconds * 1000;
    return firstRetryPauseMs << retry;
}

// What one download keeps between its tries, and whether its part outlives the process.
struct Attempts {
    std::string url;
    std::string resumeKey; // the same for every server of a file: a part resumes from any of them
    std::string part;
    bool resumable = false; // only the plain downloadPartPath(target) is ever resumed
    bool hashing = false;
    std::string askedValidator; // of the kept part this try continues
    bool otherCopy = false;     // the server continued a copy other than the kept part's
    std::optional<platform::Sha256Hasher> hasher;
    // Read by an end step on whichever thread ends the process.
    std::shared_ptr<std::atomic<bool>> keepPart = std::make_shared<std::atomic<bool>>(false);
};

// The whole file may take what the file system offers, less the spare; `kept` is already there.
std::uint64_t sizeLimit(const std::string& path, std::uint64_t kept) {
    const auto free = platform::freeSpace(platform::folderHolding(path));
    if (!free) return 0;
    // 0 would mean no limit: a full disk still takes an empty file, and nothing more.
    return kept + std::max<std::uint64_t>(*free > downloadSpareBytes ? *free - downloadSpareBytes : 0, 1);
}

platform::DownloadResult tryOnce(Attempts& attempts, Downloader& sink) {
    std::optional<ResumePoint> point;
    if (attempts.resumable) point = keptPart(attempts.part, attempts.resumeKey);
    if (attempts.hashing) {
        attempts.hasher.emplace();
        // The kept part is hashed before the rest is appended; an unreadable one is fetched again.
        if (point && !hashFileStart(attempts.part, point->kept, *attempts.hasher)) {
            forgetPart(attempts.part);
            point.reset();
            attempts.hasher.emplace();
        }
    }
    attempts.keepPart->store(point.has_value());

    platform::DownloadRequest request;
    request.url = attempts.url;
    request.path = attempts.part;
    attempts.askedValidator = point ? point->validator : std::string();
    attempts.otherCopy = false;
    if (point) {
        request.resumeFrom = point->kept;
        request.ifRange = point->validator;
    }
    request.maximumBytes = sizeLimit(attempts.part, point ? point->kept : 0);
    request.maximumUnannouncedBytes = unannouncedDownloadCapBytes;
    request.progress = [&sink](std::uint64_t received, std::uint64_t total) {
        sink.onProgress(received, total);
    };
    request.started = [&attempts](const platform::DownloadAnswer& answer) {
        // A server that ignores If-Range must not continue the part with another copy's bytes.
        if (answer.kept > 0 && answer.validator != attempts.askedValidator) {
            attempts.otherCopy = true;
            return false;
        }
        // A fresh start (a 200, or a copy that changed) hashes from the first byte again.
        if (answer.kept == 0 && attempts.hashing) attempts.hasher.emplace();
        const bool keep = attempts.resumable &&
                          saveResumePoint(attempts.part, attempts.resumeKey, answer.validator, answer.total);
        if (!keep) platform::deleteFile(resumeFilePath(attempts.part));
        attempts.keepPart->store(keep);
        return true;
    };
    if (attempts.hashing)
        request.body = [&attempts](const char* data, std::size_t size) {
            return attempts.hasher->update(data, size);
        };
    platform::DownloadResult result = platform::downloadToFile(request);
    if (result.code == platform::downloadRangeMismatch || attempts.otherCopy) {
        forgetPart(attempts.part);
        attempts.keepPart->store(false);
        // Worth another try: it starts the file over.
        if (attempts.otherCopy) result.transient = true;
    }
    return result;
}

// How a download ended: in place, refused or failed by the server (another may do better), or
// failed here (no other server can help).
enum class Outcome { replaced, serverFailed, localFailure };

// Downloads into a temporary beside `path`; `accept` decides whether it replaces `path`.
Outcome downloadReplacing(const std::string& url, const std::string& resumeKey, const std::string& path,
                          Downloader& sink, const std::string& baseUrl, const std::string& relativePath,
                          const AcceptDownload& accept, const MayReplace& mayReplace) {
    const TemporaryName temporary(path);
    Attempts attempts;
    attempts.url = url;
    attempts.resumeKey = resumeKey;
    attempts.part = temporary.path();
    attempts.resumable = temporary.path() == downloadPartPath(path);
    attempts.hashing = alwaysHash.load() || signaturesRequired();
    // A leftover of another download of this target that this one cannot resume.
    if (!attempts.resumable) forgetPart(temporary.path());
    // Should the process end mid-transfer (a lost connection, the close button), a part that can
    // be resumed stays for the next start; nothing else partial stays behind.
    const platform::EndStep removePartial([part = temporary.path(), keep = attempts.keepPart] {
        if (!keep->load()) forgetPart(part);
    });

    // Under way for the interface's speed line until this routine returns.
    const Downloader::Transfer transfer(sink);
    platform::DownloadResult result;
    for (int retry = 0;; ++retry) {
        result = tryOnce(attempts, sink);
        if (result.code == 0 || !result.transient || retry == downloadRetries) break;
        const int pause = retryPauseMs(retry, result.retryAfterSeconds);
        platform::diagnose(retryText + url + downloadCodeText + std::to_string(result.code) + retryPauseText +
                           std::to_string(pause) + retryUnitText);
        pauseBeforeRetry(pause);
    }
    if (result.code != 0) {
        // A cut transfer of a copy the server can name again is kept for the next start.
        if (!(result.transient && attempts.keepPart->load())) forgetPart(temporary.path());
        platform::diagnose(downloadFailedText + url + downloadCodeText + std::to_string(result.code));
        return Outcome::serverFailed;
    }
    attempts.keepPart->store(false);
    platform::deleteFile(resumeFilePath(temporary.path()));

    FetchedFile fetched{temporary.path(), relativePath, result.size, {}, url};
    if (attempts.hashing) {
        const auto value = attempts.hasher->finish();
        if (value) fetched.sha256 = lowercaseHex(*value);
    }
    if (!relativePath.empty() && !verifyReleaseSignature(baseUrl, fetched)) {
        platform::deleteFile(temporary.path());
        return Outcome::serverFailed;
    }
    if (accept && !accept(fetched)) {
        platform::deleteFile(temporary.path());
        return Outcome::serverFailed;
    }
    if (mayReplace && !mayReplace()) {
        platform::deleteFile(temporary.path());
        return Outcome::localFailure;
    }
    if (!prepareFileForDownload(path)) {
        platform::deleteFile(temporary.path());
        platform::diagnose(prepareFailedText + path);
        return Outcome::localFailure;
    }
    if (!platform::replaceFile(temporary.path(), path)) {
        platform::deleteFile(temporary.path());
        platform::diagnose(downloadFailedText + url + downloadCodeText + std::to_string(unwritableCode));
        return Outcome::localFailure;
    }
    return Outcome::replaced;
}

std::mutex serverLock;
std::string lastWorkingServer;

// The servers of a ;-list, the one that last gave a file first, the others in list order.
std::vector<std::string> serversInTurn(const std::string& baseUrls) {
    std::vector<std::string> servers;
    for (std::size_t start = 0; start <= baseUrls.size();) {
        const auto end = std::min(baseUrls.find(';', start), baseUrls.size());
        if (end > start || baseUrls.empty()) servers.push_back(baseUrls.substr(start, end - start));
        start = end + 1;
    }
    std::lock_guard lock(serverLock);
    const auto last = std::find(servers.begin(), servers.end(), lastWorkingServer);
    if (last != servers.end()) std::rotate(servers.begin(), last, last + 1);
    return servers;
}

void rememberWorkingServer(const std::string& server) {
    std::lock_guard lock(serverLock);
    lastWorkingServer = server;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// What cannot stand in a URL path as a browser writes one: control bytes, space, bytes above 127,
// the characters a browser escapes, and '?' and '#', which would end the path.
bool mustBeEscaped(unsigned char c) {
    return c <= 0x20 || c >= 0x7F ||
           std::string_view("\"<>\\^`{|}?#").find(static_cast<char>(c)) != std::string_view::npos;
}

} // namespace

void setDownloadRetryPause(std::function<void(int milliseconds)> pause) {
    std::lock_guard lock(pauseLock);
    retryPause = std::move(pause);
}

void forgetWorkingUpdateServer() {
    std::lock_guard lock(serverLock);
    lastWorkingServer.clear();
}

void setDownloadHashingForTests(bool always) {
    alwaysHash = always;
}

bool downloadFile(const std::string& url, const std::string& path, Downloader& sink) {
    return downloadReplacing(url, url, path, sink, {}, {}, {}, {}) == Outcome::replaced;
}

std::string updateFileUrl(const std::string& baseUrl, const std::string& relativePath) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string url = baseUrl;
    for (std::size_t i = 0; i < relativePath.size(); ++i) {
        const char c = relativePath[i];
        const auto byte = static_cast<unsigned char>(c);
        // A listed "%20" is already an escape and goes out as it is; a '%' that begins none is one.
        const bool escape = c == '%' && !(i + 2 < relativePath.size() && hexDigit(relativePath[i + 1]) >= 0 &&
                                          hexDigit(relativePath[i + 2]) >= 0);
        if (!escape && !mustBeEscaped(byte)) {
            url += c;
        } else {
            url += '%';
            url += digits[byte >> 4];
            url += digits[byte & 0x0F];
        }
    }
    return url;
}

std::string percentDecoded(const std::string& text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
            hexDigit(text[i + 2]) >= 0) {
            decoded += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

bool fetchUpdateFile(const std::string& baseUrl, const std::string& relativePath, const std::string& path,
                     Downloader& sink, const AcceptDownload& accept, const MayReplace& mayReplace) {
    // A kept part is recorded under the first listed server's address, whichever server gave it.
    const std::string resumeKey = updateFileUrl(baseUrl.substr(0, baseUrl.find(';')), relativePath);
    for (const std::string& server : serversInTurn(baseUrl)) {
        switch (downloadReplacing(updateFileUrl(server, relativePath), resumeKey, path, sink, server,
                                  relativePath, accept, mayReplace)) {
        case Outcome::replaced:
            rememberWorkingServer(server);
            return true;
        case Outcome::localFailure:
            return false;
        case Outcome::serverFailed:
            break;
        }
    }
    return false;
}

bool createParentFolder(const std::string& path) {
    const auto separator = path.find_last_of("/\\");
    if (separator == std::string::npos) return false;
    // A file directly under the root: its folder is the root itself.
    return platform::createFolder(separator == 0 ? path.substr(0, 1) : path.substr(0, separator));
}
