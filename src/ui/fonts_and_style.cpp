// Fonts and style of the interface: one font in which text comes from the system's bold sans
// face and icon code points from the two embedded icon fonts.
#include "ui/fonts_and_style.h"

#include <cstring>

#include <imgui.h>

#include "embedded_files.h"
#include "platform/process.h"
#include "ui/kept_glyphs.h"
#include "ui/resources.h"
#include "ui/system_font.h"

namespace {

constexpr float textFontSize = 14.0f;
constexpr float iconFontSize = 16.0f;

// The atlas keeps pointers to the ranges until it is destroyed, so they live for the whole run.
constexpr ImWchar fontAwesome5Range[] = {0xF000, 0xF950, 0};
constexpr ImWchar fontAwesome4Range[] = {0xF000, 0xF3FF, 0};

ImVec4 rgba(int r, int g, int b, int a) {
    return ImVec4(static_cast<float>(r) / 255.0f, static_cast<float>(g) / 255.0f,
                  static_cast<float>(b) / 255.0f, static_cast<float>(a) / 255.0f);
}

// The launcher's sizes and colours over the dark preset.
void applyLauncherStyle(ImGuiStyle& style) {
    ImGui::StyleColorsDark(&style);
    style.Alpha = 1.0f;
    style.WindowPadding = ImVec2(8, 8);
    style.WindowRounding = 5.0f;
    style.WindowTitleAlign = ImVec2(0.5f, 0.5f);
    style.FramePadding = ImVec2(4, 3);
    style.FrameRounding = 5.0f;
    style.ItemSpacing = ImVec2(8, 4);
    style.ItemInnerSpacing = ImVec2(4, 4);
    style.ScrollbarSize = 13.0f;
    style.ScrollbarRounding = 12.0f;
    style.ButtonTextAlign = ImVec2(0.5f, 0.5f);

    ImVec4* colours = style.Colors;
    colours[ImGuiCol_Text] = ImVec4(1, 1, 1, 1);
    colours[ImGuiCol_WindowBg] = ImVec4(1, 1, 1, 1);
    colours[ImGuiCol_FrameBg] = rgba(255, 153, 0, 125);
    colours[ImGuiCol_MenuBarBg] = ImVec4(0.14f, 0.14f, 0.14f, 1.0f);
    colours[ImGuiCol_ScrollbarBg] = rgba(255, 215, 0, 100);
    colours[ImGuiCol_ScrollbarGrab] = rgba(42, 152, 223, 255);
    colours[ImGuiCol_ScrollbarGrabHovered] = rgba(255, 215, 0, 150);
    colours[ImGuiCol_ScrollbarGrabActive] = rgba(255, 215, 0, 255);
    colours[ImGuiCol_CheckMark] = ImVec4(0, 1, 0, 1);
    colours[ImGuiCol_SliderGrab] = rgba(42, 152, 223, 255);
    colours[ImGuiCol_SliderGrabActive] = rgba(255, 215, 0, 255);
    colours[ImGuiCol_Button] = rgba(255, 215, 0, 100);
    colours[ImGuiCol_ButtonHovered] = rgba(255, 215, 0, 150);
    colours[ImGuiCol_ButtonActive] = rgba(255, 215, 0, 255);
    colours[ImGuiCol_Tab] = rgba(255, 215, 0, 100);
    colours[ImGuiCol_TabHovered] = rgba(255, 215, 0, 150);
    colours[ImGuiCol_TabActive] = rgba(255, 215, 0, 255);
}

} // namespace

bool addLauncherFonts(ImFontAtlas& atlas, const SystemFontFile& textFont) {
    ImFont* base = nullptr;
    ImFontConfig config;
    config.OversampleH = 1;
    config.OversampleV = 1;
    config.PixelSnapH = true;
    config.FontNo = textFont.index;
    if (textFont.data.size() >= 4 &&
        isFontFileStart({static_cast<char>(textFont.data[0]), static_cast<char>(textFont.data[1]),
                         static_cast<char>(textFont.data[2]), static_cast<char>(textFont.data[3])})) {
        // The atlas frees what it owns with its own allocator.
        void* copy = IM_ALLOC(textFont.data.size());
        std::memcpy(copy, textFont.data.data(), textFont.data.size());
        base =
            atlas.AddFontFromMemoryTTF(copy, static_cast<int>(textFont.data.size()), textFontSize, &config);
    } else if (!textFont.path.empty() && isReadableFontFile(textFont.path)) {
        base = atlas.AddFontFromFileTTF(textFont.path.c_str(), textFontSize, &config, nullptr);
    }
    if (base == nullptr) {
        // Without the bold face the icons still need a font to merge into.
        platform::diagnose("setupFontsAndStyle: no bold Arial match, using the built-in font");
        base = atlas.AddFontDefault();
    }

    ImFontConfig solid;
    solid.MergeMode = true;
    solid.PixelSnapH = true;
    solid.FontDataOwnedByAtlas = false;
    solid.OversampleH = 3;
    solid.OversampleV = 1;
    // The atlas only reads the data; its interface takes a non-const pointer for the owning case.
    const bool solidAdded = atlas.AddFontFromMemoryTTF(const_cast<unsigned char*>(embeddedFontAwesome5Solid),
                                                       static_cast<int>(embeddedFontAwesome5SolidSize),
                                                       iconFontSize, &solid, fontAwesome5Range) != nullptr;

    ImFontConfig legacy;
    legacy.MergeMode = true;
    legacy.PixelSnapH = true;
    legacy.OversampleH = 2;
    legacy.OversampleV = 2;
    const bool legacyAdded =
        atlas.AddFontFromMemoryCompressedTTF(embeddedFontAwesome4Compressed,
                                             static_cast<int>(embeddedFontAwesome4CompressedSize),
                                             iconFontSize, &legacy, fontAwesome4Range) != nullptr;
    return base != nullptr && solidAdded && legacyAdded;
}

void setupFontsAndStyle() {
    ImGuiIO& io = ImGui::GetIO();
    if (!addLauncherFonts(*io.Fonts, boldTextFont())) {
        platform::diagnose("setupFontsAndStyle: an icon font could not be added");
    }
    // Built here, before any frame waits for it; later builds draw only what they add.
    if (io.Fonts->Build()) keepAtlasGlyphs(*io.Fonts);
    applyLauncherStyle(ImGui::GetStyle());
    io.IniFilename = nullptr;
}
