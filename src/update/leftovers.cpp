// Start-up's clean-up after a launcher that ended half-way.
//
// [X] only the launcher's own temporaries are removed: names that carry the launcher's name
//     (temporary_names.h); a player's file or an installed patch file stays, whatever its name
// [X] the whole installation tree is searched, links are never followed (a data folder linked to
//     another disk is the player's, not ours to clean), and only regular files are removed
// [X] one listing of each folder and a look at a file only when its name matches, so tens of
//     thousands of game files cost one pass of folder reads
// [X] a download that may be resumed (its part and resume record side by side) is kept
// [X] runs on the update worker before anything else, so it never races the self-update
#include "update/leftovers.h"

#include <filesystem>
#include <vector>

#include "platform/files.h"
#include "update/self_update.h"
#include "update/temporary_names.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view resumeSuffix = ".resume";

bool isLeftover(const fs::path& path) {
    const std::string name = path.filename().string();
    const std::string full = path.string();
    if (name.starts_with(extractingPrefix())) return true;
    std::error_code error;
    if (name.ends_with(downloadPartSuffix()))
        return !fs::exists(fs::symlink_status(full + std::string(resumeSuffix), error));
    if (name.ends_with(downloadPartSuffix() + std::string(resumeSuffix)))
        return !fs::exists(fs::symlink_status(full.substr(0, full.size() - resumeSuffix.size()), error));
    return false;
}

bool mayBeLeftover(const std::string& name) {
    return name.starts_with(extractingPrefix()) || name.ends_with(downloadPartSuffix()) ||
           name.ends_with(downloadPartSuffix() + std::string(resumeSuffix));
}

} // namespace

void removeLeftoversIn(const std::string& folder) {
    removeOldLaunchersIn(folder);
    platform::deleteFile((fs::path(folder) / arrivingLauncherFileName()).string());

    std::vector<fs::path> found;
    std::error_code error;
    // Links to folders are not followed: that is the iterator's default.
    fs::recursive_directory_iterator entry(folder, fs::directory_options::skip_permission_denied, error);
    for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        if (!mayBeLeftover(entry->path().filename().string())) continue;
        std::error_code typeError;
        if (entry->symlink_status(typeError).type() != fs::file_type::regular) continue;
        found.push_back(entry->path());
    }
    // Decided after the search, so that a part and its resume record are judged as they were found.
    std::vector<fs::path> leftovers;
    for (const auto& path : found)
        if (isLeftover(path)) leftovers.push_back(path);
    for (const auto& path : leftovers) platform::deleteFile(path.string());
}
