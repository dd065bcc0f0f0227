// Delta patches: a version brought in by the changed bytes of its large files, where the server
// publishes them (see delta_format.h).
#pragma once

#include <string>

// Lays a downloaded delta archive over `folder` (ending with '/'): every delta is rebuilt beside
// its target and checked first, then all are renamed over their targets, then the archive's
// whole files and version.dat follow as in extractArchive. False when anything fails, and then
// the version's full patch must follow: a base that does not match, a delta that fails or a file
// that could not be renamed never leaves version.dat advanced.
bool applyDeltaArchive(const std::string& archivePath, const std::string& folder);

// Fetches patches/<version>.delta.zip into folder's Downloads and applies it. False when the
// server has none, the game runs (the full patch's download asks the player), or it did not apply;
// the caller then fetches the full patch.
bool runDeltaPatch(const std::string& baseUrl, const std::string& version, const std::string& folder);
