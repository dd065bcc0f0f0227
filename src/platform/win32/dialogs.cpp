// Message boxes without an owner window: MessageBoxA with no hWnd.
//
// [X] MessageBoxA, no owner: usable before any window exists and from any thread
// [X] the caption, text, buttons and icon of each box as the callers ask for them
//     (MB_OK / MB_YESNO; MB_ICONQUESTION, MB_ICONWARNING, MB_ICONERROR, MB_ICONINFORMATION or none)
// [X] the texts are passed as they are: they are ASCII, which every ANSI code page reads alike
// [X] a box that cannot be shown is a diagnostic and the answer "failed"
// [X] a seam for tests: the hook in ../dialogs.cpp answers before this box is asked for
#include "platform/dialogs.h"
#include "platform/process.h"

#include <windows.h>

namespace platform {

namespace {

UINT iconStyle(DialogIcon icon) {
    switch (icon) {
    case DialogIcon::question:
        return MB_ICONQUESTION;
    case DialogIcon::warning:
        return MB_ICONWARNING;
    case DialogIcon::error:
        return MB_ICONERROR;
    case DialogIcon::information:
        return MB_ICONINFORMATION;
    case DialogIcon::none:
        break;
    }
    return 0;
}

} // namespace

DialogAnswer showSystemMessageBox(const DialogRequest& request) {
    const UINT style = (request.buttons == DialogButtons::yesNo ? MB_YESNO : MB_OK) | iconStyle(request.icon);
    switch (MessageBoxA(nullptr, request.text.c_str(), request.caption.c_str(), style)) {
    case IDOK:
        return DialogAnswer::ok;
    case IDYES:
        return DialogAnswer::yes;
    case IDNO:
        return DialogAnswer::no;
    default:
        diagnose("Message box \"" + request.caption + "\" could not be shown: error " +
                 std::to_string(GetLastError()));
        return DialogAnswer::failed;
    }
}

} // namespace platform
