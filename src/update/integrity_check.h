// Handler of message 1003: verify listed files by digest and fetch the wrong ones again.
#pragma once

#include <string>
#include <string_view>

void runIntegrityCheck(std::string_view message);
// The same with the installation folder (ending with '/') and the update server's base URL as
// parameters; runIntegrityCheck passes installFolder() and updateServerUrls. Tests use this.
void runIntegrityCheckIn(std::string_view message, const std::string& folder, const std::string& baseUrl);
