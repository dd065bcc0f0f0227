// Pictures and fonts that are part of the launcher's executable.
#pragma once

#include <cstddef>
#include <cstdint>

// Picture resource numbers.
inline constexpr int backgroundResource = 102;
inline constexpr int communityResource = 103;
inline constexpr int settingsResource = 104;
inline constexpr int iconResource = 106;
inline constexpr int newsResource = 107;
inline constexpr int supportResource = 111;

struct EmbeddedData {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

// The PNG bytes of a picture resource; empty when the executable has no such resource.
EmbeddedData embeddedPicture(int resourceId);

// A texture made from a picture resource: an OpenGL texture name (SDL2 + OpenGL 3) or the address
// of a Direct3D 8 texture (Win32); empty (0) when the picture is missing.
struct Picture {
    std::uintptr_t texture = 0;
    int width = 0;
    int height = 0;
    explicit operator bool() const { return texture != 0; }
};

extern Picture backgroundPicture;
extern Picture communityButtonPicture;
extern Picture settingsButtonPicture;
extern Picture newsPicture;
extern Picture supportButtonPicture;

// Needs the renderer: the OpenGL context current on the calling thread, or the Direct3D 8 device.
void loadPicture(int resourceId, Picture& picture);
// Fills the font atlas (text font plus the two merged icon fonts) and sets the style; needs the
// interface context.
void setupFontsAndStyle();
