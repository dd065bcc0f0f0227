// The launcher's window: created on the main thread after acceptance, pumped there, drawn by
// the interface thread.
#pragma once

// Creates the window, the OpenGL context, the interface context, fonts, style and pictures.
// Ends the process with 1 when there is no usable display or context.
bool createLauncherWindow();
// Body of the interface thread.
void runInterfaceThread();
// The main thread's pump: every 10 ms drains the window's pending events and hands them to the
// interface thread. Never returns.
[[noreturn]] void pumpWindowMessages();
