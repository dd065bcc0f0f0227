// The message boxes' test seam, the same on every system: a hook set by a test answers instead of
// the screen; without one, the system's own box (showSystemMessageBox) is shown.
#include "platform/dialogs.h"

#include <mutex>

namespace platform {
namespace {

std::mutex hookLock;
std::function<DialogAnswer(const DialogRequest&)> dialogHook;

} // namespace

DialogAnswer showMessageBox(const std::string& caption, const std::string& text, DialogButtons buttons,
                            DialogIcon icon) {
    const DialogRequest request{caption, text, buttons, icon};
    std::function<DialogAnswer(const DialogRequest&)> hook;
    {
        std::lock_guard lock(hookLock);
        hook = dialogHook;
    }
    if (hook) return hook(request);
    return showSystemMessageBox(request);
}

void setDialogHook(std::function<DialogAnswer(const DialogRequest&)> hook) {
    std::lock_guard lock(hookLock);
    dialogHook = std::move(hook);
}

} // namespace platform
