// The names of the launcher's own temporaries. Each carries the launcher's name ("<brand>Launcher"),
// which no game or player file has, so that the clean-up at start-up finds exactly these: a file
// the player put in the installation or a patch installed is never taken for one, whatever its name.
#pragma once

#include <string>

#include "launcher_config.h"

// A download in progress ends with this; its resume record adds ".resume".
inline std::string downloadPartSuffix() {
    std::string suffix = ".";
    suffix += brandName;
    return suffix += "Launcher-part";
}
// Where a download of `target` goes first; only this one is ever kept for resuming.
inline std::string downloadPartPath(const std::string& target) {
    return target + downloadPartSuffix();
}
// An archive entry on its way to its place begins with this.
inline std::string extractingPrefix() {
    std::string prefix = ".";
    prefix += brandName;
    return prefix += "Launcher-extracting-";
}
