#include "update/folder_names.h"

#include <vector>

#include "platform/files.h"

namespace {

std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// "." names the folder itself: "./Data/a" and "data/b" must meet in one listing.
std::vector<std::string> components(const std::string& relative) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : relative) {
        if (c == '/' || c == '\\') {
            if (!current.empty() && current != ".") parts.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty() && current != ".") parts.push_back(std::move(current));
    return parts;
}

// "a/b/c" gives "a/b/" and "c"; a name without a folder has the empty folder.
std::pair<std::string, std::string> splitLast(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return {std::string(), path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

} // namespace

FolderNames::Listing& FolderNames::listingOf(const std::string& folder) {
    auto [it, inserted] = listings_.try_emplace(folder);
    if (inserted) {
        // A folder that does not exist (or is a file) lists as empty, as it did before.
        for (auto& name : platform::listFolder(folder)) {
            it->second.byLowerCase.try_emplace(lowerCase(name), name);
            it->second.exact.insert(std::move(name));
        }
    }
    return it->second;
}

FolderNames::Resolved FolderNames::resolve(const std::string& folder, const std::string& relative) {
    Resolved resolved{folder, false};
    const auto parts = components(relative);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const Listing& listing = listingOf(resolved.path);
        std::string part = parts[i];
        resolved.existed = listing.exact.count(part) != 0;
        if (!resolved.existed) {
            const auto match = listing.byLowerCase.find(lowerCase(part));
            if (match != listing.byLowerCase.end()) {
                part = match->second;
                resolved.existed = true;
            }
        }
        resolved.path += part;
        if (i + 1 < parts.size()) resolved.path += '/';
    }
    return resolved;
}

void FolderNames::createFolders(const std::string& folder) {
    for (std::size_t i = 1; i <= folder.size(); ++i) {
        if (i < folder.size() && folder[i] != '/') continue;
        const std::string prefix = folder.substr(0, i);
        if (!createdFolders_.insert(prefix).second) continue;
        // Existing folders are the normal case; a failure shows when the entry is written.
        platform::createFolder(prefix);
        noteCreated(prefix);
    }
}

void FolderNames::noteCreated(const std::string& path) {
    const auto [folder, name] = splitLast(path);
    const auto it = listings_.find(folder);
    if (it == listings_.end() || name.empty()) return;
    it->second.byLowerCase.try_emplace(lowerCase(name), name);
    it->second.exact.insert(name);
}
