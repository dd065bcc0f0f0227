// Handler of message 1002: bring the installation to the newest listed patch version.
#pragma once

#include <string>
#include <string_view>
#include <vector>

void runPatchUpdate(std::string_view message);
// The first line of version.dat without the blanks around it ("1003\r\n" gives "1003"), or
// "1000" after creating the file.
std::string readInstalledVersion();
std::string installFolderAnsi();
std::vector<std::string> splitText(std::string_view text, std::string_view delimiter);
std::vector<std::u16string> splitText(std::u16string_view text, std::u16string_view delimiter);

// The same with the installation folder (ending with '/') and the update server's base URL as
// parameters; the public routines pass installFolder() and updateServerUrls. Tests use these.
void runPatchUpdateIn(std::string_view message, const std::string& folder, const std::string& baseUrl);
std::string readInstalledVersionIn(const std::string& folder);
