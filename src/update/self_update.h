// Handler of message 1001: replace the launcher when the server says it is out of date.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// brandName + "Launcher" + the platform's executable suffix, and the old-copy name.
std::string launcherFileName();
std::string oldLauncherFileName();
// The new launcher's name while it is checked, before it takes the launcher's name.
std::string arrivingLauncherFileName();

// This launcher's release (LAUNCHER_RELEASE), from a source the build generates on its own so that
// a launcher of another release only links another object. A self-update installs only a higher one.
std::uint32_t builtInLauncherRelease();
// Tests compare against `release` instead; nullopt restores the built-in one.
void useLauncherReleaseForTesting(std::optional<std::uint32_t> release);

void runLauncherSelfUpdate(std::string_view message);
// True when the new launcher was put in place and started; false when the running one stays.
bool replaceLauncher(const std::string& url);
void removeOldLaunchers();
std::vector<std::string> listExecutables(const std::string& folder);

// The same with the launcher's folder (ending with '/') as a parameter; the public routines pass
// installFolder(). Tests use these, so that they never move the running test program.
bool replaceLauncherIn(const std::string& folder, const std::string& url);
void removeOldLaunchersIn(const std::string& folder);
