// Turns the window events handed over by the main thread into Dear ImGui's input, on the interface
// thread, without asking SDL anything: the mouse position, buttons, size and focus all come from
// the events themselves. This stands in for ImGui_ImplSDL2_ProcessEvent / _NewFrame, which query
// SDL's global mouse and keyboard state while the main thread is changing it.
#pragma once

#include <SDL.h>

struct ImGuiIO;

struct InputFeed {
    bool buttonHeld[3] = {false, false, false};
    // A press is kept until one frame has seen it, so a click shorter than a frame still counts.
    bool buttonPressed[3] = {false, false, false};
    float mouseX = -1.0f;
    float mouseY = -1.0f;
    bool mouseInside = false;
    int width = 0;
    int height = 0;
    bool minimised = false;
};

// Key map and back-end flags; once, after the context exists.
void setupInputFeed(ImGuiIO& io, InputFeed& feed, int width, int height);
// One event, in arrival order.
void applyWindowEvent(ImGuiIO& io, InputFeed& feed, const SDL_Event& event);
// Before ImGui::NewFrame: display size, mouse position and buttons; consumes the latched presses.
void prepareFrameInput(ImGuiIO& io, InputFeed& feed, float deltaSeconds);
