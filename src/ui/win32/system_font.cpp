// Arial Bold from the Windows fonts folder.
//
// [X] "arialbd.ttf" in the Fonts folder of the system's Windows folder (C:\Windows\Fonts on
//     nearly every system; GetWindowsDirectory finds it where Windows lives elsewhere)
// [X] a file the atlas could not read counts as no match, instead of failing inside the atlas
#include "ui/system_font.h"

#include <array>
#include <string>

#include <windows.h>

#include "core/text_conversion.h"

SystemFontFile boldTextFont() {
    std::array<wchar_t, MAX_PATH> folder{};
    const UINT length = GetWindowsDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
    if (length == 0 || length >= folder.size()) return {};
    const std::string path =
        toNarrow(std::u16string_view(reinterpret_cast<const char16_t*>(folder.data()), length)) +
        "\\Fonts\\arialbd.ttf";
    if (!isReadableFontFile(path)) return {};
    return {path, 0};
}
