// Replacing a file that carries the read-only mark, the same way on both systems.
//
// [X] Windows refuses to replace (or delete) a read-only file with ERROR_ACCESS_DENIED: the marks
//     of the replaced file are cleared right before the rename and put back when it fails, so a
//     failure leaves the old file as it was, marks included; the new file keeps its own marks
// [X] the same order of steps on POSIX (where the rename would not need it), so that one test of
//     the order, through the hook, holds for both
// [X] a link at the target is itself replaced: its marks are never read or changed through it
#include "platform/files.h"
#include "platform/replace_steps.h"

#include <mutex>

namespace platform {
namespace {

constexpr std::uint32_t clearedMarks = attributeReadOnly | attributeHidden | attributeSystem;

std::mutex hookLock;
ReplaceHook replaceHook;

void runReplaceHook(const std::string& from, const std::string& to) {
    ReplaceHook hook;
    {
        std::lock_guard lock(hookLock);
        hook = replaceHook;
    }
    if (hook) hook(from, to);
}

} // namespace

void setReplaceHookForTesting(ReplaceHook hook) {
    std::lock_guard lock(hookLock);
    replaceHook = std::move(hook);
}

namespace detail {

int replaceClearingMarks(const std::string& from, const std::string& to) {
    const std::uint32_t old = fileAttributes(to).value_or(0);
    const bool clear = (old & attributeDirectory) == 0 && (old & clearedMarks) != 0;
    if (clear) setFileAttributes(to, attributeNormal);
    runReplaceHook(from, to);
    const int error = renameOver(from, to);
    if (error != 0 && clear) setFileAttributes(to, old);
    return error;
}

} // namespace detail
} // namespace platform
