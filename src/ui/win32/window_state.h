// What the Win32 window and its Direct3D 8 device share between the main thread, which owns the
// window and runs its procedure, and the interface thread, which draws.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include <d3d8.h>
#include <windows.h>

// Made once by createLauncherWindow on the main thread before the interface thread starts; from
// then on used by the interface thread only, except as noted.
extern WNDCLASSEXA windowClass;
extern IDirect3D8* direct3d;
// Cleared by the interface thread when it releases everything, under presentLock, because the
// window procedure tests it.
extern IDirect3DDevice8* device;
// The back-buffer size is written by the window procedure (WM_SIZE) and read for a device reset,
// both under presentLock.
extern D3DPRESENT_PARAMETERS presentParameters;
extern std::mutex presentLock;

HWND launcherWindowHandle();

// One window message that Dear ImGui's Win32 back end reads, as the window procedure received it.
struct QueuedMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    // GetKeyState belongs to the window's thread: the modifier keys as they were at this message.
    std::uint8_t leftControl = 0, rightControl = 0, leftShift = 0, rightShift = 0, leftAlt = 0, rightAlt = 0;
};

// Moves the queued messages into `messages` (cleared first); true when a message that may change
// the picture reached the window procedure since the last call (input, painting, size or focus).
bool takeQueuedMessages(std::vector<QueuedMessage>& messages);
