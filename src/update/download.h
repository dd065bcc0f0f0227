// Downloads from the update server and the file routines the whole update engine uses.
#pragma once

#include <string>

#include "core/downloader.h"
#include "core/install_folder.h"

// True when nothing is left at `path`.
bool prepareFileForDownload(const std::string& path);
// Fetches `url` into `path`; failures are diagnostics only, callers look at the file.
void downloadFile(const std::string& url, const std::string& path, Downloader& sink);
// Creates the one folder that holds `path`; true when it exists afterwards.
bool createParentFolder(const std::string& path);
