// The steps of replacing a file that both systems share. Private to src/platform.
#pragma once

#include <string>

namespace platform::detail {

// The system's own rename over an existing `to`: 0, or the error code (errno, GetLastError).
int renameOver(const std::string& from, const std::string& to);
// renameOver, with the marks of `to` that Windows would refuse to replace (read-only, and with it
// hidden and system) cleared right before, and put back should the rename fail. 0 or its error.
int replaceClearingMarks(const std::string& from, const std::string& to);

} // namespace platform::detail
