// Message boxes without an owner window (MessageBoxA with no hWnd).
//
// [X] Windows: MessageBoxA itself, with the icon and buttons asked for
// [X] Linux: SDL message boxes, usable before any window exists and from any thread; Yes is the
//     Return-key default, No the Escape-key default
// [ ] the question-mark icon on Linux: SDL has none; the information icon stands in for it
// [X] a seam for tests: a hook answers instead of the screen (dialogs.cpp, for both systems)
#pragma once

#include <functional>
#include <string>

namespace platform {

enum class DialogButtons { ok, yesNo };
enum class DialogIcon { none, question, warning, error, information };
enum class DialogAnswer { ok, yes, no, failed };

struct DialogRequest {
    std::string caption;
    std::string text;
    DialogButtons buttons;
    DialogIcon icon;
};

// Blocks the calling thread until the player answers.
DialogAnswer showMessageBox(const std::string& caption, const std::string& text, DialogButtons buttons,
                            DialogIcon icon);
// Tests answer boxes through this hook; an empty function restores the real boxes.
void setDialogHook(std::function<DialogAnswer(const DialogRequest&)> hook);
// The system's own box, hook or not: each system's part behind showMessageBox.
DialogAnswer showSystemMessageBox(const DialogRequest& request);

} // namespace platform
