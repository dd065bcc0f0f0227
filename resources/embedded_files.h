// Files compiled into the launcher: defined by sources that resources/embed_file writes at build
// time, one per file.
#pragma once

#include <cstddef>

// Pictures, PNG bytes as drawn by resources/make_pictures.py.
extern const unsigned char embeddedBackgroundPng[]; // resource 102
extern const std::size_t embeddedBackgroundPngSize;
extern const unsigned char embeddedCommunityPng[]; // resource 103
extern const std::size_t embeddedCommunityPngSize;
extern const unsigned char embeddedSettingsPng[]; // resource 104
extern const std::size_t embeddedSettingsPngSize;
extern const unsigned char embeddedIconPng[]; // resource 106
extern const std::size_t embeddedIconPngSize;
extern const unsigned char embeddedNewsPng[]; // resource 107
extern const std::size_t embeddedNewsPngSize;
extern const unsigned char embeddedSupportPng[]; // resource 111
extern const std::size_t embeddedSupportPngSize;

// Font Awesome 5 Free Solid 5.15.3, plain TrueType.
extern const unsigned char embeddedFontAwesome5Solid[];
extern const std::size_t embeddedFontAwesome5SolidSize;
// FontAwesome 4.7.0 in Dear ImGui's compressed-font form.
extern const unsigned char embeddedFontAwesome4Compressed[];
extern const std::size_t embeddedFontAwesome4CompressedSize;
