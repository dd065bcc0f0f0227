// The interface thread's side of the SDL2 + OpenGL 3 window: the events the main thread queued
// become Dear ImGui's input here (ui/sdl_gl/input_feed.h), and frames go out through OpenGL.
#include "ui/renderer.h"

#include <vector>

#include <SDL.h>
#include <SDL_opengl.h>
#include <imgui.h>
#include <imgui_impl_opengl3.h>

#include "ui/draw.h"
#include "ui/sdl_gl/input_feed.h"
#include "ui/sdl_gl/window_input.h"

namespace {

// Touched only by the interface thread.
InputFeed feed;
std::vector<SDL_Event> events;

} // namespace

void bindRenderer() {
    SDL_GL_MakeCurrent(launcherWindow(), launcherGlContext());
    setupInputFeed(ImGui::GetIO(), feed, static_cast<int>(windowWidth), static_cast<int>(windowHeight));
    // The renderer's back end was bound, and warmed up, while the window was prepared.
}

WindowInput takeWindowInput() {
    takeWindowEvents(events);
    ImGuiIO& io = ImGui::GetIO();
    for (const SDL_Event& event : events) applyWindowEvent(io, feed, event);
    return events.empty() ? WindowInput::none : WindowInput::arrived;
}

bool windowMinimised() {
    return feed.minimised;
}

void beginBackendFrame(float deltaSeconds) {
    ImGui_ImplOpenGL3_NewFrame();
    prepareFrameInput(ImGui::GetIO(), feed, deltaSeconds);
}

void remakeFontTexture() {
    ImGui_ImplOpenGL3_DestroyFontsTexture();
    ImGui_ImplOpenGL3_CreateFontsTexture();
}

void presentFrame(ImDrawData* drawData) {
    glViewport(0, 0, feed.width, feed.height);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(drawData);
    SDL_GL_SwapWindow(launcherWindow());
}

// Never asked for: nothing posts a quit to this build's interface thread.
void releaseRenderer() {}
