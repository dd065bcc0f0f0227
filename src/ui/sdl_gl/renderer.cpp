// The interface thread's side of the SDL2 + OpenGL 3 window: the events the main thread queued
// become Dear ImGui's input here (ui/sdl_gl/input_feed.h), and frames go out through OpenGL.
#include "ui/renderer.h"

#include <cstdint>
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
GLuint alphaFontTexture = 0;

// The rebuilt atlas as one byte a pixel that the sampler reads as white with that alpha: the same
// picture as the back end's 32-bit texture, without its conversion and with a quarter of its
// upload. stb_truetype draws coverage only, no colour.
bool makeAlphaFontTexture() {
    static const bool swizzles = SDL_GL_ExtensionSupported("GL_ARB_texture_swizzle") ||
                                 SDL_GL_ExtensionSupported("GL_EXT_texture_swizzle");
    if (!swizzles) return false;
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    ImGui::GetIO().Fonts->GetTexDataAsAlpha8(&pixels, &width, &height);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glGenTextures(1, &alphaFontTexture);
    glBindTexture(GL_TEXTURE_2D, alphaFontTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    const GLint whiteWithAlpha[] = {GL_ONE, GL_ONE, GL_ONE, GL_RED};
    glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, whiteWithAlpha);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, width, height, 0, GL_RED, GL_UNSIGNED_BYTE, pixels);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
    ImGui::GetIO().Fonts->SetTexID(
        reinterpret_cast<ImTextureID>(static_cast<std::intptr_t>(alphaFontTexture)));
    return true;
}

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
    if (alphaFontTexture != 0) glDeleteTextures(1, &alphaFontTexture);
    alphaFontTexture = 0;
    if (!makeAlphaFontTexture()) ImGui_ImplOpenGL3_CreateFontsTexture();
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
