// Profile (INI) files through the Windows private-profile functions themselves:
// GetPrivateProfileStringW, GetPrivateProfileIntW and WritePrivateProfileStringW. The rules listed
// in platform/profile.h are the ones these calls follow; here Windows applies them.
//
// [X] the three calls, with the caller's buffer size in wide characters
// [X] paths are UTF-8 above this layer; a path without a folder would send Windows to its own
//     folder, so callers pass full paths (installFolder() + name)
// [X] the section and key names lose their surrounding spaces, as the header says
// [ ] byte-for-byte kept line endings: Windows writes CR LF and, for a new file, the ANSI code page
// [ ] atomic replacement: WritePrivateProfileStringW rewrites the file in place, as the game expects
#include "platform/profile.h"

#include "wide_text.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace platform {

namespace {

using win32::narrow;
using win32::widen;

// Wine's and Windows' profile caches are per process; one caller at a time keeps reads whole.
std::mutex profileMutex;

std::string trimSpaces(const std::string& name) {
    std::size_t begin = 0;
    std::size_t end = name.size();
    while (begin < end && name[begin] == ' ') ++begin;
    while (end > begin && name[end - 1] == ' ') --end;
    return name.substr(begin, end - begin);
}

} // namespace

std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultText, std::size_t bufferSize,
                              const std::string& file) {
    if (bufferSize == 0) return {};
    const auto size = static_cast<DWORD>(std::min<std::size_t>(bufferSize, 1u << 20));
    std::vector<wchar_t> buffer(size, L'\0');
    DWORD length = 0;
    {
        std::lock_guard lock(profileMutex);
        length =
            GetPrivateProfileStringW(widen(trimSpaces(section)).c_str(), widen(trimSpaces(key)).c_str(),
                                     widen(defaultText).c_str(), buffer.data(), size, widen(file).c_str());
    }
    return narrow(std::wstring(buffer.data(), std::min<DWORD>(length, size - 1)));
}

std::int32_t readProfileInt(const std::string& section, const std::string& key, std::int32_t defaultValue,
                            const std::string& file) {
    std::lock_guard lock(profileMutex);
    const UINT value =
        GetPrivateProfileIntW(widen(trimSpaces(section)).c_str(), widen(trimSpaces(key)).c_str(),
                              defaultValue, widen(file).c_str());
    return static_cast<std::int32_t>(value);
}

bool writeProfileString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& file) {
    const std::string sectionName = trimSpaces(section);
    const std::string keyName = trimSpaces(key);
    if (sectionName.empty() || keyName.empty()) return false;
    std::lock_guard lock(profileMutex);
    return WritePrivateProfileStringW(widen(sectionName).c_str(), widen(keyName).c_str(),
                                      widen(value).c_str(), widen(file).c_str()) != 0;
}

} // namespace platform
