// Dear ImGui renderer back end for Direct3D 8, written for the launcher after Dear ImGui's own
// Direct3D 9 back end (same calls, same names, ImGui_ImplDX8_*). Use it with the Win32 platform
// back end.
#pragma once

struct IDirect3DDevice8;
struct ImDrawData;

bool ImGui_ImplDX8_Init(IDirect3DDevice8* device);
void ImGui_ImplDX8_Shutdown();
// Re-creates the device objects (font texture) when they are missing, e.g. after a reset.
void ImGui_ImplDX8_NewFrame();
void ImGui_ImplDX8_RenderDrawData(ImDrawData* drawData);

// Around a device reset: objects in the default pool must go before Reset and come back after.
void ImGui_ImplDX8_InvalidateDeviceObjects();
bool ImGui_ImplDX8_CreateDeviceObjects();

// Around a rebuild of the font atlas between frames: the texture is made again from the atlas.
void ImGui_ImplDX8_DestroyFontsTexture();
bool ImGui_ImplDX8_CreateFontsTexture();
