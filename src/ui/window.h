// The launcher's window: created on the main thread after acceptance, pumped there, drawn by
// the interface thread.
#pragma once

// Makes the hidden window, its OpenGL context, the interface context, fonts, style and pictures:
// the slow part of showing the window, done while the server decides on the launcher. Shows
// nothing and ends nothing; a failure is kept for createLauncherWindow.
void prepareLauncherWindow();
// Shows the prepared window centred on the screen (preparing it first where that has not
// happened). Ends the process with 1 when there is no usable display or context.
bool createLauncherWindow();
// Body of the interface thread.
void runInterfaceThread();
// The main thread's pump: every 10 ms drains the window's pending events and hands them to the
// interface thread. Never returns.
[[noreturn]] void pumpWindowMessages();
