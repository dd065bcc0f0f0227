#pragma once

#include <string>

inline constexpr const char* noDigest = "None";

// 32 lowercase hexadecimal digits of the MD5 of the file's content, or "None" when there is no
// regular file (none at all, a folder, a FIFO, a device), or it cannot be read.
std::string fileDigest(const std::string& path);
