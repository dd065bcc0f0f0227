// Never replace game files while the game runs: ask the player, close it, then download; asked
// again right before anything is extracted or put in place.
#pragma once

#include <string>

#include "update/download.h"

inline constexpr const char* gameExecutableName = "Halcyra.exe";

bool isGameRunning();
bool closeGame();
// True when no game process runs, or when the player agreed to close it and it has ended; otherwise
// the player has been told (the guard's boxes) and the diagnostic written.
bool gameClosedForUpdate();
// Fetches a file of the update server (as fetchUpdateFile) once the game is not running; false
// when it is not in place afterwards.
bool guardedDownload(const std::string& baseUrl, const std::string& relativePath, const std::string& path,
                     Downloader& sink, const AcceptDownload& accept = {}, const MayReplace& mayReplace = {});
