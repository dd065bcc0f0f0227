#pragma once

#include <string>

// Lays the entries of a ZIP archive over `targetFolder`. True when the archive opened and every
// entry was written.
bool extractArchive(const std::string& archivePath, std::string targetFolder);
