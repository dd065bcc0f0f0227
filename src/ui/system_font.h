// The system font the launcher writes its text in.
#pragma once

#include <array>
#include <string>

struct SystemFontFile {
    std::string path; // empty when the system has no fitting font
    int index = 0;    // face number inside a font collection file
};

// fontconfig's match for "Arial:bold" (on Debian, Liberation Sans Bold), accepted only when it is
// a readable TrueType or OpenType file of bold weight; otherwise an empty path.
SystemFontFile boldTextFont();

// Whether the file can be read and starts like a TrueType, OpenType or collection file.
bool isReadableFontFile(const std::string& path);
// TrueType, OpenType (CFF) or a TrueType collection, by a file's first four bytes.
bool isFontFileStart(const std::array<char, 4>& magic);
