// The primary screen's size on POSIX: SDL's desktop mode of display 0.
//
// [X] GetSystemMetrics(SM_CXSCREEN / SM_CYSCREEN): the desktop mode of the first display
// [X] callable before the window exists and from any thread: SDL's video subsystem is started once
//     here when nobody has started it yet
// [X] zeros when there is no display, also when SDL stands in its offscreen or dummy driver
// [X] a seam for tests: a hook answers instead of the screen
#include "platform/display.h"

#include <SDL2/SDL.h>
#include <cstring>
#include <mutex>
#include <utility>

namespace platform {

namespace {

std::mutex hookMutex;
std::function<ScreenSize()> screenHook;

std::once_flag videoStart;

ScreenSize desktopSize() {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0)
        std::call_once(videoStart, [] { SDL_InitSubSystem(SDL_INIT_VIDEO); });
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return {};
    if (!hasRealDisplay()) return {};
    SDL_DisplayMode mode{};
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return {};
    return {mode.w, mode.h};
}

} // namespace

bool hasRealDisplay() {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver != nullptr && std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0;
}

ScreenSize screenSize() {
    std::function<ScreenSize()> hook;
    {
        std::lock_guard lock(hookMutex);
        hook = screenHook;
    }
    return hook ? hook() : desktopSize();
}

void setScreenSizeHook(std::function<ScreenSize()> hook) {
    std::lock_guard lock(hookMutex);
    screenHook = std::move(hook);
}

} // namespace platform
