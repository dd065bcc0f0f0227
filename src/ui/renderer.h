// The seam between the interface, which is the same on every system (the frame loop, the screens,
// fonts, style and the pictures' pixels), and one system's window and renderer:
//
//   sdl_gl/  SDL2 window and OpenGL 3 (Linux). The main thread hands the window's events to the
//            interface thread through a locked queue; nothing is ever asked to quit.
//   win32/   Win32 window and Direct3D 8 (Windows). The window procedure queues the messages
//            that Dear ImGui's Win32 back end reads, and the interface thread hands them to it; a
//            quit message on the interface thread's own queue ends the frame loop.
//
// Window creation and the main thread's pump are in ui/window.h; textures in ui/resources.h. This
// header is what the interface thread asks of its back end, in the order it asks.
#pragma once

struct ImDrawData;

// Binds Dear ImGui's platform and renderer back ends to the window and the device (or context).
void bindRenderer();

enum class WindowInput {
    none,    // nothing arrived since the last call
    arrived, // input or a window change arrived: the next frames are drawn
    quit,    // the thread is asked to end: release everything (releaseRenderer) and return
};
// Takes what arrived for the interface thread since the last call.
WindowInput takeWindowInput();
// Whether the window is minimised; no frame is drawn then.
bool windowMinimised();

// Starts a frame of the back ends, right before ImGui::NewFrame: the display size, the time step
// and the input of this frame.
void beginBackendFrame(float deltaSeconds);
// Makes the font texture again from the atlas, after the atlas was rebuilt between frames.
void remakeFontTexture();
// Clears the target, draws the frame's draw data and presents it; a lost device is reset here.
void presentFrame(ImDrawData* drawData);
// Releases the back ends, the interface context, the renderer and the window.
void releaseRenderer();

// Asks the window's own thread to minimise the window, without waiting for it.
void requestWindowMinimise();
