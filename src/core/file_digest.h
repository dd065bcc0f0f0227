#pragma once

#include <span>
#include <string>

inline constexpr const char* noDigest = "None";

// 32 lowercase hexadecimal digits of the MD5 of the file's content, or "None" when there is no
// regular file (none at all, a folder, a FIFO, a device), or it cannot be read.
std::string fileDigest(const std::string& path);

// Lowercase hexadecimal digits of `bytes`, two per byte, as digests are written.
std::string lowercaseHex(std::span<const unsigned char> bytes);
