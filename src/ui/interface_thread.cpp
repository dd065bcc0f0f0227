// The interface thread: owns Dear ImGui and the renderer after start-up and draws the "Main"
// window every 10 ms tick in which something may have changed. The window and the renderer are
// reached through ui/renderer.h.
#include <chrono>
#include <cstdio>

#include <imgui.h>

#include "core/downloader.h"
#include "core/launcher_state.h"
#include "game/game_settings.h"
#include "platform/process.h"
#include "ui/download_line.h"
#include "ui/draw.h"
#include "ui/frame_pacing.h"
#include "ui/main_screen.h"
#include "ui/renderer.h"
#include "ui/system_font.h"
#include "ui/text_glyphs.h"
#include "ui/window.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr ImGuiWindowFlags mainWindowFlags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                             ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoScrollbar |
                                             ImGuiWindowFlags_NoBackground;

// Whether the drawn frame left the interface in a state that changes without new input: a widget
// held or being typed into (its caret blinks), a mouse button down (drags, key repeat timing).
bool interfaceBusy(const ImGuiIO& io) {
    return ImGui::IsAnyItemActive() || io.WantTextInput || ImGui::IsAnyMouseDown();
}

// Builds and presents one frame; false when the main screen says the thread must stop. `busy`
// tells whether the frame left the interface busy.
bool drawFrame(const LauncherSnapshot& snapshot, float deltaSeconds, bool& busy) {
    beginBackendFrame(deltaSeconds);
    ImGui::NewFrame();

    ImGui::SetNextWindowPos(ImVec2(-5.0f, -5.0f), ImGuiCond_Always);
    ImGui::SetNextWindowSize(ImVec2(windowWidth + 10.0f, windowHeight + 30.0f), ImGuiCond_Always);
    if (ImGui::Begin("Main", nullptr, mainWindowFlags)) {
        // A game start that failed ends the thread right here, mid-frame: the window keeps
        // showing the last presented frame.
        if (!drawMainScreen(snapshot)) return false;
    }
    ImGui::End();
    // Drawn on the foreground list so that the outline shows above everything else.
    strokeRect(0.0f, 0.0f, windowWidth, windowHeight, Colour{1.0f, 0.843137f, 0.0f, 0.5f}, 2.0f, 5.0f,
               ImGui::GetForegroundDrawList());
    ImGui::Render();
    busy = interfaceBusy(ImGui::GetIO());

    presentFrame(ImGui::GetDrawData());
    return true;
}

// The characters of the texts from the server join those the atlas grows by.
void noteTexts(TextGlyphs& glyphs, const LauncherSnapshot& snapshot) {
    glyphs.note(snapshot.statusText);
    glyphs.note(snapshot.gameVersion);
    for (const std::string& item : snapshot.newsItems) glyphs.note(item);
}

// Between two frames: the faces a search found join the atlas, the atlas grows by one step of
// the characters that wait, and its texture is made again. Searches run on a thread of their own.
void growFonts(TextGlyphs& glyphs) {
    const Clock::time_point started = Clock::now();
    ImFontAtlas& atlas = *ImGui::GetIO().Fonts;
    if (glyphs.fallbacksFound() && !glyphs.addFallbacks(atlas))
        platform::diagnose("fonts: the system's faces could not be added");
    if (glyphs.growthDue()) {
        if (!glyphs.growAtlas(atlas)) {
            platform::diagnose("fonts: the atlas could not be built for the new characters");
            return;
        }
        // A step that built nothing keeps the texture, which would otherwise build the atlas once
        // more.
        if (atlas.TexPixelsAlpha8 != nullptr || atlas.TexPixelsRGBA32 != nullptr) remakeFontTexture();
        atlas.ClearTexData();
        char line[128];
        std::snprintf(line, sizeof line, "fonts: atlas grown to %zu characters in %.1f ms",
                      glyphs.needed().size(),
                      std::chrono::duration<double, std::milli>(Clock::now() - started).count());
        platform::diagnose(line);
    }
    glyphs.searchFallbacks(fallbackFonts);
}

void reportFirstFrame() {
    const double milliseconds =
        std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
    char line[96];
    std::snprintf(line, sizeof line, "interface: first frame presented at monotonic %.3f ms", milliseconds);
    platform::diagnose(line);
}

} // namespace

void runInterfaceThread() {
    bindRenderer();
    loadGameSettings();

    LauncherSnapshot snapshot;
    TextGlyphs glyphs;
    DownloadLine downloadLine;
    const Clock::time_point begun = Clock::now();
    FramePacing pacing;
    bool busy = false;
    bool presentedOnce = false;
    Clock::time_point lastFrame{};
    for (;;) {
        const WindowInput input = takeWindowInput();
        if (input == WindowInput::quit) {
            releaseRenderer();
            return;
        }
        // Read every tick, drawn or not, so a change is on screen within one tick.
        bool stateChanged = refreshSnapshot(snapshot);
        if (stateChanged) noteTexts(glyphs, snapshot);
        if (downloadLine.update(downloader, std::chrono::duration<double>(Clock::now() - begun).count())) {
            snapshot.downloadLine = downloadLine.text();
            stateChanged = true;
        }
        // Characters still to draw, or faces found for those drawn as fallback glyphs, draw the
        // next frame too.
        const bool fontsDue = glyphs.growthDue() || glyphs.fallbacksFound();
        const bool draw =
            shouldDrawFrame(pacing, stateChanged || fontsDue || input == WindowInput::arrived, busy);
        if (draw && !windowMinimised()) {
            if (fontsDue) growFonts(glyphs);
            const Clock::time_point now = Clock::now();
            const float delta =
                presentedOnce ? std::chrono::duration<float>(now - lastFrame).count() : 1.0f / 60.0f;
            lastFrame = now;
            if (!drawFrame(snapshot, delta, busy)) return;
            if (!presentedOnce) {
                reportFirstFrame();
                // The atlas now lives in its texture; its pixel copies (2 MiB, and 8 MiB where the
                // first texture was 32-bit) are not needed again (a renderer that loses its device
                // builds them again from the fonts).
                ImGui::GetIO().Fonts->ClearTexData();
            }
            presentedOnce = true;
        }
        platform::sleepMilliseconds(10);
    }
}
