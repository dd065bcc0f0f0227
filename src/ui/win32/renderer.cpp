// The interface thread's side of the Win32 + Direct3D 8 window: the queued window messages go to
// Dear ImGui's Win32 back end on this thread, frames go out through the Direct3D 8 back end, and a
// lost device is reset here once it can be.
//
// [X] back ends bound in order (Win32, then Direct3D 8); the thread's own queue drained every
//     tick, a quit message ends the loop and releases back ends, context, device, Direct3D, the
//     background texture, window and class, in that order
// [X] each frame: Z and alpha blending off, clear to transparent black, BeginScene, draw data,
//     EndScene, Present; after D3DERR_DEVICELOST a reset only once TestCooperativeLevel reports
//     D3DERR_DEVICENOTRESET, with the back-buffer size the window procedure kept
// [X] minimising goes through the window's own thread (ShowWindowAsync)
// [ ] a frame every 10 ms: frames are drawn only after input, a window or state change, or while
//     the interface is busy (ui/frame_pacing.h); the 10 ms tick stays
#include "ui/renderer.h"

#include <bitset>
#include <deque>
#include <vector>

#include <imgui.h>
#include <imgui_impl_win32.h>

#include "ui/resources.h"
#include "ui/win32/imgui_impl_dx8.h"
#include "ui/win32/window_state.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND window, UINT message, WPARAM wParam,
                                                             LPARAM lParam);

namespace {

// Touched only by the interface thread.
std::vector<QueuedMessage> taken;
std::deque<QueuedMessage> pending; // taken, not yet handed to Dear ImGui
constexpr std::size_t maxPendingMessages = 4096;

// What a message presses or releases: mouse buttons 0-4, then keys from pressTargetKeys on (by
// their virtual-key code); -1 for anything else.
constexpr int pressTargetKeys = 8;
constexpr std::size_t pressTargets = pressTargetKeys + 256;
int pressTarget(const QueuedMessage& queued, bool& down) {
    const bool firstX = GET_XBUTTON_WPARAM(queued.wParam) == XBUTTON1;
    switch (queued.message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        down = true;
        return 0;
    case WM_LBUTTONUP:
        return 0;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
        down = true;
        return 1;
    case WM_RBUTTONUP:
        return 1;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
        down = true;
        return 2;
    case WM_MBUTTONUP:
        return 2;
    case WM_XBUTTONDOWN:
    case WM_XBUTTONDBLCLK:
        down = true;
        return firstX ? 3 : 4;
    case WM_XBUTTONUP:
        return firstX ? 3 : 4;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        down = true;
        return pressTargetKeys + static_cast<int>(queued.wParam & 0xFF);
    case WM_KEYUP:
    case WM_SYSKEYUP:
        return pressTargetKeys + static_cast<int>(queued.wParam & 0xFF);
    default:
        return -1;
    }
}

// The handler reads the modifier keys with GetKeyState, which answers for the calling thread; the
// state the window's own thread saw goes over it.
void applyModifiers(ImGuiIO& io, const QueuedMessage& queued) {
    switch (queued.wParam) {
    case VK_CONTROL:
        io.KeysDown[VK_LCONTROL] = queued.leftControl != 0;
        io.KeysDown[VK_RCONTROL] = queued.rightControl != 0;
        io.KeyCtrl = queued.leftControl != 0 || queued.rightControl != 0;
        break;
    case VK_SHIFT:
        io.KeysDown[VK_LSHIFT] = queued.leftShift != 0;
        io.KeysDown[VK_RSHIFT] = queued.rightShift != 0;
        io.KeyShift = queued.leftShift != 0 || queued.rightShift != 0;
        break;
    case VK_MENU:
        io.KeysDown[VK_LMENU] = queued.leftAlt != 0;
        io.KeysDown[VK_RMENU] = queued.rightAlt != 0;
        io.KeyAlt = queued.leftAlt != 0 || queued.rightAlt != 0;
        break;
    default:
        break;
    }
}

template <typename T> void release(T*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

} // namespace

void bindRenderer() {
    ImGui_ImplWin32_Init(launcherWindowHandle());
    // Cursor shapes belong to the window's thread, which shows the arrow itself.
    ImGui::GetIO().ConfigFlags |= ImGuiConfigFlags_NoMouseCursorChange;
    ImGui_ImplDX8_Init(device);
}

WindowInput takeWindowInput() {
    // The thread's own queue holds messages for windows this thread made along the way (a message
    // box, the shell opening a page) and thread messages such as a quit.
    bool quit = false;
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
        if (message.message == WM_QUIT) quit = true;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (quit) return WindowInput::quit;

    bool arrived = takeQueuedMessages(taken);
    pending.insert(pending.end(), taken.begin(), taken.end());
    if (pending.size() > maxPendingMessages) pending.clear();
    // Dear ImGui reads a button or key as it is at the frame, so a press and its release handed
    // over together would never be seen: the release and whatever follows it wait for the next
    // frame (a busy renderer can take several ticks' worth of input at once).
    std::bitset<pressTargets> pressedNow;
    HWND window = launcherWindowHandle();
    ImGuiIO& io = ImGui::GetIO();
    while (!pending.empty()) {
        const QueuedMessage queued = pending.front();
        bool down = false;
        const int target = pressTarget(queued, down);
        if (target >= 0 && !down && pressedNow[static_cast<std::size_t>(target)]) break;
        if (target >= 0 && down) pressedNow.set(static_cast<std::size_t>(target));
        pending.pop_front();
        ImGui_ImplWin32_WndProcHandler(window, queued.message, queued.wParam, queued.lParam);
        if (target >= pressTargetKeys) applyModifiers(io, queued);
    }
    arrived = arrived || !pending.empty();
    return arrived ? WindowInput::arrived : WindowInput::none;
}

bool windowMinimised() {
    return IsIconic(launcherWindowHandle()) != FALSE;
}

void beginBackendFrame(float /*deltaSeconds*/) {
    // The Win32 back end measures the frame time itself.
    ImGui_ImplDX8_NewFrame();
    ImGui_ImplWin32_NewFrame();
}

void remakeFontTexture() {
    ImGui_ImplDX8_DestroyFontsTexture();
    ImGui_ImplDX8_CreateFontsTexture();
}

void presentFrame(ImDrawData* drawData) {
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_RGBA(0, 0, 0, 0), 1.0f, 0);
    if (device->BeginScene() >= 0) {
        ImGui_ImplDX8_RenderDrawData(drawData);
        device->EndScene();
    }
    const HRESULT presented = device->Present(nullptr, nullptr, nullptr, nullptr);
    // A lost device is reset only once it says it can be; until then frames keep being presented.
    if (presented == D3DERR_DEVICELOST && device->TestCooperativeLevel() == D3DERR_DEVICENOTRESET) {
        D3DPRESENT_PARAMETERS parameters;
        {
            std::lock_guard lock(presentLock);
            parameters = presentParameters;
        }
        // Reset may send messages to the window, so no lock the window procedure takes is held.
        ImGui_ImplDX8_InvalidateDeviceObjects();
        device->Reset(&parameters);
        ImGui_ImplDX8_CreateDeviceObjects();
    }
}

void releaseRenderer() {
    ImGui_ImplDX8_Shutdown();
    ImGui_ImplWin32_Shutdown();
    ImGui::DestroyContext();
    {
        std::lock_guard lock(presentLock);
        release(device);
    }
    release(direct3d);
    if (backgroundPicture) {
        reinterpret_cast<IDirect3DTexture8*>(backgroundPicture.texture)->Release();
        backgroundPicture = Picture{};
    }
    // Only the window's own thread can destroy it: from this thread the call fails and the
    // window stays up until the process ends.
    DestroyWindow(launcherWindowHandle());
    UnregisterClassA(windowClass.lpszClassName, windowClass.hInstance);
}

void requestWindowMinimise() {
    // Asynchronous: the window's thread minimises it when it next pumps.
    ShowWindowAsync(launcherWindowHandle(), SW_MINIMIZE);
}
