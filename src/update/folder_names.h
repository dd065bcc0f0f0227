// The names in the installation's folders, as one extraction sees them: each folder is listed at
// most once and then kept up to date with what the extraction creates, so laying tens of
// thousands of entries over a folder costs time in proportion to their number.
//
// [X] archive names ('\' or '/') resolved without regard to ASCII case against existing entries,
//     as Windows and Wine would; an exact match wins over another spelling
// [X] folders on the way created once per extraction, existing ones being the normal case
// [ ] changes that another program makes to a folder during the extraction are not seen
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>

class FolderNames {
  public:
    struct Resolved {
        std::string path;     // the folder joined with the name, in the spelling found on disk
        bool existed = false; // something of that name was in its folder
    };
    // `folder` ends with '/' (or is empty for the working folder).
    Resolved resolve(const std::string& folder, const std::string& relative);
    // Creates every missing folder on the way to `folder` (no final '/'), from the top down.
    void createFolders(const std::string& folder);
    // Something named `path` now exists.
    void noteCreated(const std::string& path);

  private:
    struct Listing {
        std::unordered_set<std::string> exact;
        std::unordered_map<std::string, std::string> byLowerCase; // the first spelling listed
    };
    Listing& listingOf(const std::string& folder);

    std::unordered_map<std::string, Listing> listings_;
    std::unordered_set<std::string> createdFolders_;
};
