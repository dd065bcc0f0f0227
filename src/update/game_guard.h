// Never replace game files while the game runs: ask the player, close it, then download.
#pragma once

#include <string>

class Downloader;

inline constexpr const char* gameExecutableName = "Halcyra.exe";

bool isGameRunning();
bool closeGame();
void guardedDownload(const std::string& url, const std::string& path, Downloader& sink);
