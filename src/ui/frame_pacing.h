// Whether a tick of the frame loop draws and presents a frame.
//
// The loop wakes every 10 ms and reads the shared state every time, but an unchanged window need
// not be drawn again: after any input or state change it draws for a few more ticks (Dear ImGui
// settles hover, pop-up sizing and click release over a couple of frames), and it keeps drawing for
// as long as the interface itself is busy (a widget held or being edited, a mouse button down).
#pragma once

inline constexpr int settleFrames = 3;

struct FramePacing {
    int framesLeft = 0;
};

// `changed`: new input, or a new snapshot of the shared state, since the last tick.
// `interfaceBusy`: the last drawn frame left something active that animates or waits for input.
bool shouldDrawFrame(FramePacing& pacing, bool changed, bool interfaceBusy);
