#pragma once

#include <string>

// The launcher's own folder, which is the game's installation folder, ending with '/'.
std::string installFolder();
