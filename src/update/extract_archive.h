#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Lays the entries of a ZIP archive over `targetFolder`. True when the archive opened and every
// entry was written. Entries under `skippedFolder` (a delta patch's own folder) are left out.
bool extractArchive(const std::string& archivePath, std::string targetFolder,
                    const std::string& skippedFolder = {});

// The free space of the file system that holds a folder; nothing when unknown.
using FreeSpaceProbe = std::function<std::optional<std::uint64_t>(const std::string& folder)>;
// Tests stand in for the disk with a probe; an empty one restores the real free space.
void setFreeSpaceProbe(FreeSpaceProbe probe);

// Whether an archive's name is the installation's version.dat, however it is spelled
// ("version.dat", ".\\VERSION.DAT", ".//version.dat").
bool isRootVersionFile(const std::string& name);
