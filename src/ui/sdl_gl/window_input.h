// The hand-over between the main thread, which owns the window and pumps its events, and the
// interface thread, which draws. Only window.cpp touches SDL's event queue; the interface thread
// makes no SDL call but taking the OpenGL context and swapping buffers.
#pragma once

#include <vector>

#include <SDL.h>

// Moves every event queued since the last call into `events` (which is cleared first).
void takeWindowEvents(std::vector<SDL_Event>& events);

// The window and its OpenGL context, made by createLauncherWindow; released from the main thread
// before the interface thread starts.
SDL_Window* launcherWindow();
SDL_GLContext launcherGlContext();
