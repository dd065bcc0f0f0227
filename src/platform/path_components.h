// Splitting a relative name from a server or an archive into its components, the same on every
// system: '/' and '\\' both separate, and empty components (doubled or trailing separators) drop out.
#pragma once

#include <string>
#include <vector>

namespace platform {

std::vector<std::string> splitComponents(const std::string& relative);

} // namespace platform
