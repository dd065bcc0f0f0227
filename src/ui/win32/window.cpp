// The launcher's window on Win32 + Direct3D 8: the window class and window, the device, the window
// procedure and the main thread's message pump.
//
// [X] class "ImGui Example" with icon 106, WS_POPUP, 1140 x 670, created at (100, 100) and centred
// [X] device: HAL, software vertex processing, windowed, discard, D16 depth, the display's format
// [X] WM_SIZE keeps the back-buffer size for the next reset; SC_KEYMENU does nothing; WM_CLOSE
//     ends the process with 0; a device that cannot be made ends it with 1, before anything shows
// [X] d3d8.dll is loaded at run time: MinGW ships no import library for it
// [ ] the window procedure does not call Dear ImGui itself: it queues what the Win32 back end reads
//     and the interface thread hands it over at its next tick, so that the two threads never touch
//     Dear ImGui together and the window procedure never waits for a frame. Mouse capture, mouse
//     leave tracking, the cursor shape and the modifier keys, which belong to the window's own
//     thread, are taken care of here.
// [ ] the pump drains every pending message of the window each 10 ms, not just one
#include "ui/window.h"

#include <imgui.h>
#include <string>

#include "core/launcher_state.h"
#include "launcher_config.h"
#include "platform/display.h"
#include "platform/process.h"
#include "ui/draw.h"
#include "ui/resources.h"
#include "ui/win32/window_state.h"

WNDCLASSEXA windowClass{};
IDirect3D8* direct3d = nullptr;
IDirect3DDevice8* device = nullptr;
D3DPRESENT_PARAMETERS presentParameters{};
std::mutex presentLock;

namespace {

constexpr UINT direct3dSdkVersion = 220;
constexpr const char* windowClassName = "ImGui Example";
// Bounds the queue when nobody takes from it any more (the interface thread ended after a failed
// game start while the window stays up).
constexpr std::size_t maxQueuedMessages = 4096;

std::mutex queueLock;
std::vector<QueuedMessage> queuedMessages; // guarded by queueLock
bool messageArrived = false;               // guarded by queueLock

bool prepared = false;

using Direct3DCreate8Function = IDirect3D8*(WINAPI*)(UINT);

IDirect3D8* createDirect3d() {
    // The system's own only, named by its full path: game folders often hold a wrapper d3d8.dll,
    // which nothing verified, and the launcher runs with administrator rights. Its own imports are
    // looked for beside it first. Kept for the life of the process.
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(system, length) + L"\\d3d8.dll";
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) return nullptr;
    const auto create = reinterpret_cast<Direct3DCreate8Function>(
        reinterpret_cast<void*>(GetProcAddress(library, "Direct3DCreate8")));
    return create != nullptr ? create(direct3dSdkVersion) : nullptr;
}

bool createDevice() {
    direct3d = createDirect3d();
    if (direct3d == nullptr) return false;
    D3DDISPLAYMODE mode{};
    if (direct3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode) < 0) return false;
    presentParameters = D3DPRESENT_PARAMETERS{};
    presentParameters.BackBufferFormat = mode.Format;
    presentParameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentParameters.Windowed = TRUE;
    presentParameters.EnableAutoDepthStencil = TRUE;
    presentParameters.AutoDepthStencilFormat = D3DFMT_D16;
    return direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, launcherWindowHandle(),
                                  D3DCREATE_SOFTWARE_VERTEXPROCESSING, &presentParameters, &device) >= 0;
}

bool isImGuiInput(UINT message) {
    switch (message) {
    case WM_MOUSEMOVE:
    case WM_MOUSELEAVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
    case WM_XBUTTONDOWN:
    case WM_XBUTTONDBLCLK:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
    case WM_XBUTTONUP:
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_CHAR:
    case WM_DEVICECHANGE:
        return true;
    default:
        return false;
    }
}

std::uint8_t keyDown(int key) {
    return (GetKeyState(key) & 0x8000) != 0 ? 1 : 0;
}

constexpr WPARAM anyMouseButton = MK_LBUTTON | MK_RBUTTON | MK_MBUTTON | MK_XBUTTON1 | MK_XBUTTON2;

// What Dear ImGui's Win32 handler would do on the window's thread, done where it works.
void keepThreadInputState(HWND window, UINT message, WPARAM wParam) {
    static bool leaveTracked = false;
    switch (message) {
    case WM_MOUSEMOVE:
        if (!leaveTracked) {
            TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, window, 0};
            leaveTracked = TrackMouseEvent(&track) != FALSE;
        }
        break;
    case WM_MOUSELEAVE:
        leaveTracked = false;
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
    case WM_XBUTTONDBLCLK:
        // A drag that leaves the window keeps reporting to it.
        if (GetCapture() == nullptr) SetCapture(window);
        break;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
    case WM_XBUTTONUP:
        if ((wParam & anyMouseButton) == 0 && GetCapture() == window) ReleaseCapture();
        break;
    default:
        break;
    }
}

void queueMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    QueuedMessage queued{message, wParam, lParam};
    if (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN || message == WM_SYSKEYUP) {
        queued.leftControl = keyDown(VK_LCONTROL);
        queued.rightControl = keyDown(VK_RCONTROL);
        queued.leftShift = keyDown(VK_LSHIFT);
        queued.rightShift = keyDown(VK_RSHIFT);
        queued.leftAlt = keyDown(VK_LMENU);
        queued.rightAlt = keyDown(VK_RMENU);
    }
    std::lock_guard lock(queueLock);
    if (queuedMessages.size() >= maxQueuedMessages) queuedMessages.clear();
    queuedMessages.push_back(queued);
}

// Whether a message may change what the window must show: input, or the window shown, moved,
// resized, activated or uncovered. Hit tests and cursor queries, which some systems send several
// times a second while the pointer rests on the window, are not.
bool changesPicture(UINT message) {
    switch (message) {
    case WM_PAINT:
    case WM_SIZE:
    case WM_SHOWWINDOW:
    case WM_WINDOWPOSCHANGED:
    case WM_ACTIVATE:
    case WM_ACTIVATEAPP:
    case WM_DISPLAYCHANGE:
        return true;
    default:
        return isImGuiInput(message);
    }
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (changesPicture(message)) {
        std::lock_guard lock(queueLock);
        messageArrived = true;
    }
    if (isImGuiInput(message)) {
        keepThreadInputState(window, message, wParam);
        queueMessage(message, wParam, lParam);
    }
    switch (message) {
    case WM_SETCURSOR:
        // The launcher shows the arrow everywhere in its client area (the class has no cursor).
        if (LOWORD(lParam) == HTCLIENT) {
            SetCursor(LoadCursor(nullptr, IDC_ARROW));
            return 1;
        }
        break;
    case WM_SIZE: {
        std::lock_guard lock(presentLock);
        // The device is reset with this size only after a loss (the frame loop does that).
        if (device != nullptr && wParam != SIZE_MINIMIZED) {
            presentParameters.BackBufferWidth = LOWORD(lParam);
            presentParameters.BackBufferHeight = HIWORD(lParam);
        }
        return 0;
    }
    case WM_SYSCOMMAND:
        // The keyboard menu (Alt or F10 alone) does nothing.
        if ((wParam & 0xFFF0) == SC_KEYMENU) return 0;
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        platform::endProcess(0);
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void releaseFailedDevice() {
    if (device != nullptr) {
        device->Release();
        device = nullptr;
    }
    if (direct3d != nullptr) {
        direct3d->Release();
        direct3d = nullptr;
    }
    UnregisterClassA(windowClass.lpszClassName, windowClass.hInstance);
}

} // namespace

HWND launcherWindowHandle() {
    return static_cast<HWND>(launcherState.mainWindow);
}

bool takeQueuedMessages(std::vector<QueuedMessage>& messages) {
    messages.clear();
    std::lock_guard lock(queueLock);
    messages.swap(queuedMessages);
    const bool arrived = messageArrived;
    messageArrived = false;
    return arrived;
}

// The interface context and its fonts: pure processor work, done while the server decides on the
// launcher. Nothing is shown and no window exists yet.
void prepareLauncherWindow() {
    if (prepared) return;
    prepared = true;
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    // Builds the atlas too; the renderer makes its texture from the atlas's one byte a pixel.
    setupFontsAndStyle();
}

bool createLauncherWindow() {
    HINSTANCE module = GetModuleHandleA(nullptr);
    windowClass = WNDCLASSEXA{};
    windowClass.cbSize = sizeof(WNDCLASSEXA);
    windowClass.style = CS_CLASSDC;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = module;
    windowClass.hIcon = LoadIconA(module, MAKEINTRESOURCEA(iconResource));
    windowClass.lpszClassName = windowClassName;
    RegisterClassExA(&windowClass);

    HWND window =
        CreateWindowExA(0, windowClassName, brandName, WS_POPUP, 100, 100, static_cast<int>(windowWidth),
                        static_cast<int>(windowHeight), nullptr, nullptr, module, nullptr);
    launcherState.mainWindow = window;

    if (!createDevice()) {
        platform::diagnose("window: no Direct3D 8 device");
        releaseFailedDevice();
        platform::endProcess(1);
    }
    ShowWindow(window, SW_SHOWDEFAULT);
    UpdateWindow(window);

    prepareLauncherWindow();
    ImGui::GetIO().ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard | ImGuiConfigFlags_NavEnableGamepad;

    const platform::ScreenSize screen = platform::screenSize();
    const WindowPosition position = centredWindowPosition(screen.width, screen.height);
    SetWindowPos(window, nullptr, position.x, position.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);

    loadPicture(backgroundResource, backgroundPicture);
    loadPicture(communityResource, communityButtonPicture);
    loadPicture(settingsResource, settingsButtonPicture);
    loadPicture(newsResource, newsPicture);
    loadPicture(supportResource, supportButtonPicture);
    return true;
}

[[noreturn]] void pumpWindowMessages() {
    HWND window = launcherWindowHandle();
    MSG message{};
    for (;;) {
        platform::sleepMilliseconds(10);
        while (PeekMessageA(&message, window, 0, 0, PM_REMOVE) != FALSE) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}
