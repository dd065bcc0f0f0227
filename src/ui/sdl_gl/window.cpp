// The launcher's window on SDL2 + OpenGL 3, and the main thread's event pump.
//
// The main thread owns the window: it alone calls SDL's event functions. It hands the events the
// interface needs to the interface thread through a locked queue, and carries out the one window
// change the interface asks for (minimising). The interface thread owns the OpenGL context after
// createLauncherWindow has released it.
#include "ui/window.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <SDL.h>
#include <SDL_opengl.h>
#include <imgui.h>
#include <imgui_impl_opengl3.h>

#include "core/launcher_state.h"
#include "launcher_config.h"
#include "platform/display.h"
#include "platform/process.h"
#include "ui/draw.h"
#include "ui/picture_data.h"
#include "ui/renderer.h"
#include "ui/resources.h"
#include "ui/sdl_gl/window_input.h"

namespace {

// Bounds the queue when nobody takes from it any more (the interface thread ended after a failed
// game start while the window stays up).
constexpr std::size_t maxQueuedEvents = 4096;

SDL_Window* window = nullptr;
SDL_GLContext glContext = nullptr;
const char* glslVersion = "#version 130";

std::mutex queueLock;
std::vector<SDL_Event> queuedEvents; // guarded by queueLock
std::atomic<bool> minimiseRequested{false};

struct SurfaceFree {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};

// Why the window cannot be had, found while preparing it; reported once the server has accepted.
std::string preparationFailure;
bool prepared = false;

void failPreparation(const char* what) {
    preparationFailure = std::string(what) + ": " + SDL_GetError();
}

void setWindowIcon() {
    auto icon = decodePicture(embeddedPicture(iconResource));
    if (!icon) return;
    std::unique_ptr<SDL_Surface, SurfaceFree> surface(SDL_CreateRGBSurfaceWithFormatFrom(
        icon->rgba.data(), icon->width, icon->height, 32, icon->width * 4, SDL_PIXELFORMAT_RGBA32));
    if (surface) SDL_SetWindowIcon(window, surface.get());
}

// Prefers a 3.0 context (GLSL 130); falls back to 3.2 core (GLSL 150) for drivers that offer
// nothing else.
bool createGlContext() {
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, 0);
    glContext = SDL_GL_CreateContext(window);
    if (glContext != nullptr) return true;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, SDL_GL_CONTEXT_FORWARD_COMPATIBLE_FLAG);
    glContext = SDL_GL_CreateContext(window);
    glslVersion = "#version 150";
    return glContext != nullptr;
}

// Mesa's software renderer compiles its shaders on the first draw, and the first swap of a window
// costs as much again. One hidden frame here keeps both out of the time between the server's
// acceptance and the first frame the player sees.
void warmUpRenderer() {
    ImGui_ImplOpenGL3_Init(glslVersion);
    ImGuiIO& io = ImGui::GetIO();
    ImGui_ImplOpenGL3_NewFrame();
    io.DisplaySize = ImVec2(windowWidth, windowHeight);
    io.DeltaTime = 1.0f / 60.0f;
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
    ImGui::Begin("##warm-up", nullptr, ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoInputs);
    ImGui::TextUnformatted(brandName);
    if (backgroundPicture)
        ImGui::Image(reinterpret_cast<ImTextureID>(static_cast<std::uintptr_t>(backgroundPicture.texture)),
                     ImVec2(64.0f, 64.0f));
    ImGui::End();
    ImGui::Render();
    glViewport(0, 0, static_cast<GLsizei>(windowWidth), static_cast<GLsizei>(windowHeight));
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    SDL_GL_SwapWindow(window);
}

// The system's close command. A window manager turns Alt+F4 into a close request itself; without
// one (a bare X server) the launcher does what Windows' default window handling does.
bool isCloseCommand(const SDL_Event& event) {
    if (event.type == SDL_QUIT) return true;
    if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) return true;
    return event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_F4 &&
           (event.key.keysym.mod & KMOD_ALT) != 0;
}

void queueEvents(std::vector<SDL_Event>& batch) {
    std::lock_guard lock(queueLock);
    if (queuedEvents.size() + batch.size() > maxQueuedEvents) queuedEvents.clear();
    queuedEvents.insert(queuedEvents.end(), batch.begin(), batch.end());
}

// Whether an event is one the interface uses; the pump queues only these.
bool isInterfaceEvent(const SDL_Event& event) {
    switch (event.type) {
    case SDL_MOUSEMOTION:
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
    case SDL_MOUSEWHEEL:
    case SDL_KEYDOWN:
    case SDL_KEYUP:
    case SDL_TEXTINPUT:
    case SDL_WINDOWEVENT:
        return true;
    default:
        return false;
    }
}

} // namespace

void takeWindowEvents(std::vector<SDL_Event>& events) {
    events.clear();
    std::lock_guard lock(queueLock);
    events.swap(queuedEvents);
}

void requestWindowMinimise() {
    minimiseRequested.store(true, std::memory_order_release);
}

SDL_Window* launcherWindow() {
    return window;
}
SDL_GLContext launcherGlContext() {
    return glContext;
}

void prepareLauncherWindow() {
    if (prepared) return;
    prepared = true;
    // Signals keep their usual meaning instead of turning into a quit event (exit code 0).
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return failPreparation("no video");
    // Without a display SDL quietly picks an off-screen driver; an invisible launcher is a failure.
    if (!platform::hasRealDisplay()) return failPreparation("no display");

    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    // Finding the system font and rasterising the atlas is pure processor work; it runs beside the
    // loading of the OpenGL driver, the slowest step here. Nothing else touches the interface
    // context until the join below.
    std::jthread fontBuilder([] {
        setupFontsAndStyle();
        unsigned char* pixels = nullptr;
        int width = 0;
        int height = 0;
        ImGui::GetIO().Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    });

    window =
        SDL_CreateWindow(brandName, 100, 100, static_cast<int>(windowWidth), static_cast<int>(windowHeight),
                         SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
    if (window == nullptr) return failPreparation("no window");
    setWindowIcon();
    if (!createGlContext()) return failPreparation("no OpenGL context");
    SDL_GL_MakeCurrent(window, glContext);
    // The 10 ms tick paces the frames; presenting does not wait for the display.
    SDL_GL_SetSwapInterval(0);

    loadPicture(backgroundResource, backgroundPicture);
    loadPicture(communityResource, communityButtonPicture);
    loadPicture(settingsResource, settingsButtonPicture);
    loadPicture(newsResource, newsPicture);
    loadPicture(supportResource, supportButtonPicture);

    fontBuilder.join();
    warmUpRenderer();
    // Navigation needs the key map, which the interface thread's input feed sets up.
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard | ImGuiConfigFlags_NavEnableGamepad;
    // The interface thread takes the context over; a context is current on one thread at a time.
    SDL_GL_MakeCurrent(window, nullptr);
}

bool createLauncherWindow() {
    prepareLauncherWindow();
    if (!preparationFailure.empty()) {
        platform::diagnose("window: " + preparationFailure);
        platform::endProcess(1);
    }
    const platform::ScreenSize screen = platform::screenSize();
    const WindowPosition position = centredWindowPosition(screen.width, screen.height);
    SDL_SetWindowPosition(window, position.x, position.y);
    SDL_ShowWindow(window);
    launcherState.mainWindow = window;
    return true;
}

[[noreturn]] void pumpWindowMessages() {
    std::vector<SDL_Event> batch;
    for (;;) {
        platform::sleepMilliseconds(10);
        if (minimiseRequested.exchange(false, std::memory_order_acq_rel)) SDL_MinimizeWindow(window);
        batch.clear();
        SDL_Event event;
        while (SDL_PollEvent(&event) != 0) {
            if (isCloseCommand(event)) platform::endProcess(0);
            if (event.type == SDL_DROPFILE || event.type == SDL_DROPTEXT) SDL_free(event.drop.file);
            if (isInterfaceEvent(event)) batch.push_back(event);
        }
        if (!batch.empty()) queueEvents(batch);
    }
}
