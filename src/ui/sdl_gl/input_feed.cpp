#include "ui/sdl_gl/input_feed.h"

#include <cfloat>

#include <imgui.h>

namespace {

int buttonIndex(Uint8 button) {
    switch (button) {
    case SDL_BUTTON_LEFT:
        return 0;
    case SDL_BUTTON_RIGHT:
        return 1;
    case SDL_BUTTON_MIDDLE:
        return 2;
    default:
        return -1;
    }
}

void applyModifiers(ImGuiIO& io, Uint16 modifiers) {
    io.KeyShift = (modifiers & KMOD_SHIFT) != 0;
    io.KeyCtrl = (modifiers & KMOD_CTRL) != 0;
    io.KeyAlt = (modifiers & KMOD_ALT) != 0;
    io.KeySuper = (modifiers & KMOD_GUI) != 0;
}

void applyWindowChange(ImGuiIO& io, InputFeed& feed, const SDL_WindowEvent& window) {
    switch (window.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_RESIZED:
        feed.width = window.data1;
        feed.height = window.data2;
        break;
    case SDL_WINDOWEVENT_MINIMIZED:
        feed.minimised = true;
        break;
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_MAXIMIZED:
    case SDL_WINDOWEVENT_SHOWN:
        feed.minimised = false;
        break;
    case SDL_WINDOWEVENT_ENTER:
        feed.mouseInside = true;
        break;
    case SDL_WINDOWEVENT_LEAVE:
        feed.mouseInside = false;
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        io.AddFocusEvent(true);
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        io.AddFocusEvent(false);
        break;
    default:
        break;
    }
}

} // namespace

void setupInputFeed(ImGuiIO& io, InputFeed& feed, int width, int height) {
    io.BackendPlatformName = "launcher_sdl_events";
    // No cursor shapes: setting them would be an SDL call from this thread.
    io.ConfigFlags |= ImGuiConfigFlags_NoMouseCursorChange;
    io.KeyMap[ImGuiKey_Tab] = SDL_SCANCODE_TAB;
    io.KeyMap[ImGuiKey_LeftArrow] = SDL_SCANCODE_LEFT;
    io.KeyMap[ImGuiKey_RightArrow] = SDL_SCANCODE_RIGHT;
    io.KeyMap[ImGuiKey_UpArrow] = SDL_SCANCODE_UP;
    io.KeyMap[ImGuiKey_DownArrow] = SDL_SCANCODE_DOWN;
    io.KeyMap[ImGuiKey_PageUp] = SDL_SCANCODE_PAGEUP;
    io.KeyMap[ImGuiKey_PageDown] = SDL_SCANCODE_PAGEDOWN;
    io.KeyMap[ImGuiKey_Home] = SDL_SCANCODE_HOME;
    io.KeyMap[ImGuiKey_End] = SDL_SCANCODE_END;
    io.KeyMap[ImGuiKey_Insert] = SDL_SCANCODE_INSERT;
    io.KeyMap[ImGuiKey_Delete] = SDL_SCANCODE_DELETE;
    io.KeyMap[ImGuiKey_Backspace] = SDL_SCANCODE_BACKSPACE;
    io.KeyMap[ImGuiKey_Space] = SDL_SCANCODE_SPACE;
    io.KeyMap[ImGuiKey_Enter] = SDL_SCANCODE_RETURN;
    io.KeyMap[ImGuiKey_Escape] = SDL_SCANCODE_ESCAPE;
    io.KeyMap[ImGuiKey_KeyPadEnter] = SDL_SCANCODE_KP_ENTER;
    io.KeyMap[ImGuiKey_A] = SDL_SCANCODE_A;
    io.KeyMap[ImGuiKey_C] = SDL_SCANCODE_C;
    io.KeyMap[ImGuiKey_V] = SDL_SCANCODE_V;
    io.KeyMap[ImGuiKey_X] = SDL_SCANCODE_X;
    io.KeyMap[ImGuiKey_Y] = SDL_SCANCODE_Y;
    io.KeyMap[ImGuiKey_Z] = SDL_SCANCODE_Z;
    feed = InputFeed{};
    feed.width = width;
    feed.height = height;
}

void applyWindowEvent(ImGuiIO& io, InputFeed& feed, const SDL_Event& event) {
    switch (event.type) {
    case SDL_MOUSEMOTION:
        feed.mouseX = static_cast<float>(event.motion.x);
        feed.mouseY = static_cast<float>(event.motion.y);
        feed.mouseInside = true;
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        feed.mouseX = static_cast<float>(event.button.x);
        feed.mouseY = static_cast<float>(event.button.y);
        const int index = buttonIndex(event.button.button);
        if (index < 0) break;
        const bool down = event.type == SDL_MOUSEBUTTONDOWN;
        feed.buttonHeld[index] = down;
        if (down) feed.buttonPressed[index] = true;
        break;
    }
    case SDL_MOUSEWHEEL:
        if (event.wheel.x > 0) io.MouseWheelH += 1;
        if (event.wheel.x < 0) io.MouseWheelH -= 1;
        if (event.wheel.y > 0) io.MouseWheel += 1;
        if (event.wheel.y < 0) io.MouseWheel -= 1;
        break;
    case SDL_TEXTINPUT:
        io.AddInputCharactersUTF8(event.text.text);
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        const int key = event.key.keysym.scancode;
        if (key >= 0 && key < IM_ARRAYSIZE(io.KeysDown)) io.KeysDown[key] = event.type == SDL_KEYDOWN;
        applyModifiers(io, event.key.keysym.mod);
        break;
    }
    case SDL_WINDOWEVENT:
        applyWindowChange(io, feed, event.window);
        break;
    default:
        break;
    }
}

void prepareFrameInput(ImGuiIO& io, InputFeed& feed, float deltaSeconds) {
    io.DisplaySize = ImVec2(static_cast<float>(feed.width), static_cast<float>(feed.height));
    io.DisplayFramebufferScale = ImVec2(1.0f, 1.0f);
    io.DeltaTime = deltaSeconds > 0.0f ? deltaSeconds : 1.0f / 1000.0f;
    const bool anyHeld = feed.buttonHeld[0] || feed.buttonHeld[1] || feed.buttonHeld[2];
    // A drag that leaves the window keeps following the pointer, as SDL's mouse capture would.
    if (feed.mouseInside || anyHeld)
        io.MousePos = ImVec2(feed.mouseX, feed.mouseY);
    else
        io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
    for (int i = 0; i < 3; ++i) {
        io.MouseDown[i] = feed.buttonPressed[i] || feed.buttonHeld[i];
        feed.buttonPressed[i] = false;
    }
}
