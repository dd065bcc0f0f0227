// Handler of message 1003: every listed file must have one of its accepted digests; files that
// do not are fetched again from patches/Launcher/, and what is still wrong is reported.
//
// The list comes from the network, so two rules guard it. A name that would leave the
// installation folder, or a download path that would leave patches/Launcher/, is never fetched
// and counts as failed. A message that ends before its last entry is read no further: the
// entries it does not hold are neither in order nor repaired, so the check cannot end "Ready.";
// the report then counts the failures of the entries that were read, or, with none, says that the
// list was incomplete.
//
// Two more guarantees: a repair download replaces the file only once its own digest is accepted
// (a wrong download leaves the file as it was); and the listed files are hashed ahead, one worker
// per core, while the entries are still handled (downloads, status, diagnostics) in list order.
#include "update/integrity_check.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "core/file_digest.h"
#include "core/launcher_state.h"
#include "core/protocol.h"
#include "launcher_config.h"
#include "platform/files.h"
#include "platform/process.h"
#include "update/download.h"
#include "update/game_guard.h"

namespace {

constexpr const char* checkingStatusText = "Checking missing files.";
constexpr const char* readyStatusText = "Ready.";
constexpr const char* mismatchText = "MD5 mismatch for: ";
constexpr const char* refusedText = "Refusing a listed file outside the installation: ";
constexpr const char* truncatedText = "File list ends before its last entry; entries read: ";
constexpr const char* incompleteListText = "The file list arrived incomplete. Please restart launcher.";
constexpr const char* repairFolder = "patches/Launcher/";
constexpr std::size_t countOffset = 4;
constexpr std::size_t skippedLengthOffset = 5;
constexpr std::size_t skippedOffset = 6;
constexpr std::size_t namesInReport = 3;

struct IntegrityEntry {
    std::string name;
    std::string downloadPath;
    std::string acceptedDigests;
};

// The entries the message holds, in order, and whether it held all it announced.
struct EntryList {
    std::size_t announced = 0;
    std::vector<IntegrityEntry> entries;
    bool complete = true;
};

EntryList readEntries(std::string_view message) {
    EntryList list;
    if (message.size() <= countOffset) {
        list.complete = false;
        return list;
    }
    list.announced = static_cast<unsigned char>(message[countOffset]);
    if (list.announced == 0) return list;
    if (message.size() <= skippedLengthOffset) {
        list.complete = false;
        return list;
    }
    const auto skippedLength = static_cast<unsigned char>(message[skippedLengthOffset]);
    std::size_t position = skippedOffset + skippedLength;
    for (std::size_t i = 0; i < list.announced; ++i) {
        IntegrityEntry entry;
        auto name = readTextAt(message, position);
        auto downloadPath = name ? readTextAt(message, position) : std::nullopt;
        auto digests = downloadPath ? readTextAt(message, position) : std::nullopt;
        if (!digests) {
            list.complete = false;
            break;
        }
        list.entries.push_back({std::move(*name), std::move(*downloadPath), std::move(*digests)});
    }
    return list;
}

bool isSafeEntry(const IntegrityEntry& entry) {
    return platform::isContainedRelativePath(entry.name) &&
           platform::isContainedRelativePath(entry.downloadPath) &&
           // Judged as the server will read the request: its escapes undone once.
           platform::isContainedRelativePath(percentDecoded(updateFileUrl({}, entry.downloadPath)));
}

bool isAccepted(const std::string& digest, const std::string& acceptedDigests) {
    return !digest.empty() && acceptedDigests.find(digest) != std::string::npos;
}

std::string failureReport(std::size_t failCount, const std::vector<std::string>& failedNames) {
    std::string report = "Missing/corrupted files (" + std::to_string(failCount) + "): ";
    for (std::size_t i = 0; i < failedNames.size() && i < namesInReport; ++i) {
        if (i > 0) report += ", ";
        report += failedNames[i];
    }
    if (failedNames.size() > namesInReport)
        report += "... and " + std::to_string(failedNames.size() - namesInReport) + " more";
    report += ". Please restart launcher.";
    return report;
}

// The digests of the listed files, computed ahead of the entry being handled by one worker per
// core. Workers take the files in list order, so the one needed next is the first to be ready.
class DigestsAhead {
  public:
    // An empty path stands for an entry that is not hashed.
    explicit DigestsAhead(std::vector<std::string> paths)
        : paths_(std::move(paths)), digests_(paths_.size()) {
        const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
        const std::size_t count = std::min(cores, paths_.size());
        for (std::size_t i = 0; i < count; ++i) workers_.emplace_back([this] { work(); });
    }
    DigestsAhead(const DigestsAhead&) = delete;
    DigestsAhead& operator=(const DigestsAhead&) = delete;

    const std::string& path(std::size_t index) const { return paths_[index]; }
    // Waits until the digest of entry `index` is there.
    std::string digest(std::size_t index) {
        std::unique_lock lock(lock_);
        ready_.wait(lock, [&] { return digests_[index].has_value(); });
        return *digests_[index];
    }

  private:
    void work() {
        for (;;) {
            std::size_t index = 0;
            {
                std::lock_guard lock(lock_);
                if (next_ == paths_.size()) return;
                index = next_++;
            }
            std::string digest = paths_[index].empty() ? std::string(noDigest) : fileDigest(paths_[index]);
            {
                std::lock_guard lock(lock_);
                digests_[index] = std::move(digest);
            }
            ready_.notify_all();
        }
    }

    const std::vector<std::string> paths_;
    std::mutex lock_;
    std::condition_variable ready_;
    std::vector<std::optional<std::string>> digests_;
    std::size_t next_ = 0;
    // Last, so that the workers are joined before what they use goes.
    std::vector<std::jthread> workers_;
};

} // namespace

void runIntegrityCheckIn(std::string_view message, const std::string& folder, const std::string& baseUrl) {
    setStatusText(checkingStatusText);
    setUpdatePhase(verifyingPhase);

    const EntryList list = readEntries(message);
    std::vector<std::string> localPaths;
    for (const auto& entry : list.entries)
        localPaths.push_back(isSafeEntry(entry) ? platform::resolveCaseInsensitive(folder, entry.name) : "");
    DigestsAhead digests(std::move(localPaths));

    std::size_t okCount = 0;
    std::vector<std::string> failedNames;
    // Files replaced and folders made so far: a later entry naming the same file (or resolving
    // differently now that a folder exists) is hashed again in its turn.
    std::set<std::string> repaired;
    for (std::size_t i = 0; i < list.entries.size(); ++i) {
        const IntegrityEntry& entry = list.entries[i];
        if (!isSafeEntry(entry)) {
            platform::diagnose(refusedText + entry.name);
            failedNames.push_back(entry.name);
            continue;
        }
        std::string digest = digests.digest(i);
        std::string localPath = digests.path(i);
        if (!repaired.empty()) {
            localPath = platform::resolveCaseInsensitive(folder, entry.name);
            if (localPath != digests.path(i) || repaired.count(localPath) != 0)
                digest = fileDigest(localPath);
        }
        if (isAccepted(digest, entry.acceptedDigests)) {
            ++okCount;
            continue;
        }
        createParentFolder(localPath);
        setStatusText("Downloading " + entry.name + " file.");
        // The download is checked before it replaces anything: a wrong one leaves the file as it was,
        // and so does a game started meanwhile.
        const auto accept = [&entry](const FetchedFile& fetched) {
            return isAccepted(fileDigest(fetched.temporaryPath), entry.acceptedDigests);
        };
        const bool replaced = guardedDownload(baseUrl, std::string(repairFolder) + entry.downloadPath,
                                              localPath, downloader, accept, gameClosedForUpdate);
        repaired.insert(localPath);
        if (replaced) {
            ++okCount;
            continue;
        }
        platform::diagnose(mismatchText + entry.name);
        failedNames.push_back(entry.name);
    }
    if (!list.complete)
        platform::diagnose(truncatedText + std::to_string(list.entries.size()) + " of " +
                           std::to_string(list.announced));

    if (list.complete && okCount == list.announced) {
        setUpdatePhase(readyPhase);
        setStatusText(readyStatusText);
        return;
    }
    setStatusText(failedNames.empty() ? std::string(incompleteListText)
                                      : failureReport(failedNames.size(), failedNames));
}

void runIntegrityCheck(std::string_view message) {
    runIntegrityCheckIn(message, installFolder(), updateServerUrls);
}
