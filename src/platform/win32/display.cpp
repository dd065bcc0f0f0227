// The primary screen's size: GetSystemMetrics(SM_CXSCREEN / SM_CYSCREEN).
//
// [X] the primary monitor's size in pixels, callable before the window exists and from any thread
// [X] zeros when the system gives none
// [X] a Windows desktop is always a real display (no offscreen stand-in as with SDL)
// [X] a seam for tests: a hook answers instead of the screen
#include "platform/display.h"

#include <windows.h>

#include <mutex>
#include <utility>

namespace platform {

namespace {

std::mutex hookMutex;
std::function<ScreenSize()> screenHook;

} // namespace

bool hasRealDisplay() {
    return GetSystemMetrics(SM_CXSCREEN) > 0 && GetSystemMetrics(SM_CYSCREEN) > 0;
}

ScreenSize screenSize() {
    std::function<ScreenSize()> hook;
    {
        std::lock_guard lock(hookMutex);
        hook = screenHook;
    }
    if (hook) return hook();
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

void setScreenSizeHook(std::function<ScreenSize()> hook) {
    std::lock_guard lock(hookMutex);
    screenHook = std::move(hook);
}

} // namespace platform
