// The primary screen (GetSystemMetrics SM_CXSCREEN / SM_CYSCREEN).
#pragma once

#include <functional>

namespace platform {

struct ScreenSize {
    int width = 0;
    int height = 0;
};

// SDL_GetDesktopDisplayMode(0); zeros when there is no display.
ScreenSize screenSize();
// Whether SDL's started video subsystem drives a real display rather than one of the drivers it
// falls back to without one (offscreen, dummy), which invent a screen.
bool hasRealDisplay();
// Tests fix the size through this hook; an empty function restores the real screen.
void setScreenSizeHook(std::function<ScreenSize()> hook);

} // namespace platform
