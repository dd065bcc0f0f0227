// Start-up's clean-up after a launcher that ended half-way.
//
// [X] the whole installation tree is searched, links are never followed (a data folder linked to
//     another disk is the player's, not ours to clean), and only regular files are removed
// [X] one listing of each folder and a look at a file only when its name matches, so tens of
//     thousands of game files cost one pass of folder reads
// [X] a download that may be resumed (its part and resume record side by side) is kept
// [X] runs on the update worker before anything else, so it never races the self-update
#include "update/leftovers.h"

#include <vector>

#include "platform/file_io.h"
#include "platform/files.h"
#include "update/self_update.h"

namespace {

constexpr std::string_view partSuffix = ".part";
constexpr std::string_view resumeSuffix = ".resume";
constexpr std::string_view extractingPrefix = ".extracting-";

struct Found {
    std::string path;
    std::string name;
};

std::string joined(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') return folder + '/' + name;
    return folder + name;
}

bool isLeftover(const Found& file) {
    const std::string& name = file.name;
    const std::string& full = file.path;
    if (name.starts_with(extractingPrefix)) return true;
    if (name.ends_with(partSuffix)) return !platform::entryKind(full + std::string(resumeSuffix));
    if (name.ends_with(std::string(partSuffix) + std::string(resumeSuffix)))
        return !platform::entryKind(full.substr(0, full.size() - resumeSuffix.size()));
    return false;
}

bool mayBeLeftover(const std::string& name) {
    return name.starts_with(extractingPrefix) || name.ends_with(partSuffix) || name.ends_with(resumeSuffix);
}

// Links to folders are not followed, nor are folders that cannot be listed.
void findCandidates(const std::string& folder, std::vector<Found>& found) {
    for (auto& entry : platform::listFolderEntries(folder)) {
        std::string path = joined(folder, entry.name);
        if (entry.kind == platform::EntryKind::folder)
            findCandidates(path, found);
        else if (entry.kind == platform::EntryKind::file && mayBeLeftover(entry.name))
            found.push_back({std::move(path), std::move(entry.name)});
    }
}

} // namespace

void removeLeftoversIn(const std::string& folder) {
    removeOldLaunchersIn(folder);
    platform::deleteFile(joined(folder, arrivingLauncherFileName()));

    std::vector<Found> found;
    findCandidates(folder, found);
    // Decided after the search, so that a part and its resume record are judged as they were found.
    std::vector<std::string> leftovers;
    for (const auto& file : found)
        if (isLeftover(file)) leftovers.push_back(file.path);
    for (const auto& path : leftovers) {
        // A temporary may carry the read-only mark of the file it was to replace, and Windows
        // deletes no read-only file.
        platform::setFileAttributes(path, platform::attributeNormal);
        platform::deleteFile(path);
    }
}
