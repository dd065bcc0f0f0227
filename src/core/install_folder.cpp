#include "core/install_folder.h"

#include "platform/files.h"

std::string installFolder() {
    const std::string executable = platform::executablePath();
    const auto separator = executable.find_last_of("/\\");
    if (separator == std::string::npos) return {};
    return executable.substr(0, separator + 1);
}
