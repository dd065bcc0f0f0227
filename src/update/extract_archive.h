#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

// Lays the entries of a ZIP archive over `targetFolder`. True when the archive opened and every
// entry was written. Entries under `skippedFolder` (a delta patch's own folder) are left out.
bool extractArchive(const std::string& archivePath, std::string targetFolder,
                    const std::string& skippedFolder = {});

// The free space of the file system that holds a folder; nothing when unknown.
using FreeSpaceProbe = std::function<std::optional<std::uint64_t>(const std::string& folder)>;
// Tests stand in for the disk with a probe; an empty one restores the real free space.
void setFreeSpaceProbe(FreeSpaceProbe probe);
// The free space of `folder`'s file system, through the probe when one is set.
std::optional<std::uint64_t> freeSpaceOf(const std::string& folder);
// What files of `sizes` need on disk: a block more each, and room the system and the game still
// need afterwards.
std::uint64_t spaceNeededFor(const std::vector<std::uint64_t>& sizes);

// The marks of `path` that a file put in its place keeps: read-only, hidden and system.
std::uint32_t marksToKeep(const std::string& path);
// Renames `temporary` over `path`, with `marks` put on it first, retrying while another program
// holds `path` for a moment.
platform::DeleteOutcome replaceKeepingMarks(const std::string& temporary, const std::string& path,
                                            std::uint32_t marks);

// Whether an archive's name is the installation's version.dat, however it is spelled
// ("version.dat", ".\\VERSION.DAT", ".//version.dat").
bool isRootVersionFile(const std::string& name);
