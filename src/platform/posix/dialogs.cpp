// Message boxes without an owner window (MessageBoxA with no hWnd) through SDL.
//
// [X] SDL_ShowMessageBox with no parent: usable before any window exists and from any thread
// [X] the caption, text and buttons of the Windows box; Yes is the Return-key default, No the
//     Escape-key default; a single OK answers both keys
// [ ] the question-mark icon: SDL has none; the information icon stands in for it
// [X] a box that cannot be shown (no display, no X core font) is a diagnostic and the answer
//     "failed", never a crash
// [X] a seam for tests: the hook in ../dialogs.cpp answers before this box is asked for
#include "platform/dialogs.h"
#include "platform/process.h"

#include <SDL2/SDL.h>
#include <mutex>

namespace platform {

namespace {

// SDL's box touches the process-wide mouse and keyboard state; two boxes at once would race.
std::mutex screenLock;

constexpr int buttonOk = 1;
constexpr int buttonYes = 2;
constexpr int buttonNo = 3;

Uint32 iconFlag(DialogIcon icon) {
    switch (icon) {
    case DialogIcon::none:
        return 0;
    case DialogIcon::warning:
        return SDL_MESSAGEBOX_WARNING;
    case DialogIcon::error:
        return SDL_MESSAGEBOX_ERROR;
    case DialogIcon::question:
    case DialogIcon::information:
        break;
    }
    return SDL_MESSAGEBOX_INFORMATION;
}

} // namespace

DialogAnswer showSystemMessageBox(const DialogRequest& request) {
    const SDL_MessageBoxButtonData okButtons[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, buttonOk, "OK"},
    };
    const SDL_MessageBoxButtonData yesNoButtons[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, buttonYes, "Yes"},
        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, buttonNo, "No"},
    };
    const bool yesNo = request.buttons == DialogButtons::yesNo;
    SDL_MessageBoxData data{};
    data.flags = iconFlag(request.icon);
    data.window = nullptr;
    data.title = request.caption.c_str();
    data.message = request.text.c_str();
    data.numbuttons = yesNo ? 2 : 1;
    data.buttons = yesNo ? yesNoButtons : okButtons;
    int pressed = -1;
    std::lock_guard lock(screenLock);
    if (SDL_ShowMessageBox(&data, &pressed) != 0) {
        diagnose("Message box \"" + request.caption + "\" could not be shown: " + SDL_GetError());
        return DialogAnswer::failed;
    }
    switch (pressed) {
    case buttonOk:
        return DialogAnswer::ok;
    case buttonYes:
        return DialogAnswer::yes;
    case buttonNo:
        return DialogAnswer::no;
    default:
        // Closed through the window manager: the Escape-key answer.
        return yesNo ? DialogAnswer::no : DialogAnswer::ok;
    }
}

} // namespace platform
