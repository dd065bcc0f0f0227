// The interface thread: owns the OpenGL context and Dear ImGui after start-up and draws the
// "Main" window every 10 ms tick in which something may have changed.
#include <chrono>
#include <cstdio>
#include <vector>

#include <SDL.h>
#include <SDL_opengl.h>
#include <imgui.h>
#include <imgui_impl_opengl3.h>

#include "core/launcher_state.h"
#include "game/game_settings.h"
#include "platform/process.h"
#include "ui/draw.h"
#include "ui/frame_pacing.h"
#include "ui/input_feed.h"
#include "ui/main_screen.h"
#include "ui/window.h"
#include "ui/window_input.h"

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

// Builds and renders one frame; false when the main screen says the thread must stop.
bool drawFrame(const LauncherSnapshot& snapshot, InputFeed& feed, float deltaSeconds) {
    ImGuiIO& io = ImGui::GetIO();
    ImGui_ImplOpenGL3_NewFrame();
    prepareFrameInput(io, feed, deltaSeconds);
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

    glViewport(0, 0, feed.width, feed.height);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    return true;
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
    SDL_Window* window = launcherWindow();
    SDL_GL_MakeCurrent(window, launcherGlContext());
    ImGuiIO& io = ImGui::GetIO();
    InputFeed feed;
    setupInputFeed(io, feed, static_cast<int>(windowWidth), static_cast<int>(windowHeight));
    // The renderer's back end was bound, and warmed up, while the window was prepared.

    loadGameSettings();

    LauncherSnapshot snapshot;
    FramePacing pacing;
    std::vector<SDL_Event> events;
    bool busy = false;
    bool presentedOnce = false;
    Clock::time_point lastFrame{};
    for (;;) {
        takeWindowEvents(events);
        for (const SDL_Event& event : events) applyWindowEvent(io, feed, event);
        // Read every tick, drawn or not, so a change is on screen within one tick.
        const bool stateChanged = refreshSnapshot(snapshot);
        const bool draw = shouldDrawFrame(pacing, stateChanged || !events.empty(), busy);
        if (draw && !feed.minimised) {
            const Clock::time_point now = Clock::now();
            const float delta =
                presentedOnce ? std::chrono::duration<float>(now - lastFrame).count() : 1.0f / 60.0f;
            lastFrame = now;
            if (!drawFrame(snapshot, feed, delta)) return;
            busy = interfaceBusy(io);
            SDL_GL_SwapWindow(window);
            if (!presentedOnce) {
                reportFirstFrame();
                // The atlas now lives in its texture; its pixel copy (~10 MiB) is not needed again.
                io.Fonts->ClearTexData();
            }
            presentedOnce = true;
        }
        platform::sleepMilliseconds(10);
    }
}
