// Layout constants and the three drawing routines every screen uses.
//
// Coordinates given to the drawing routines are absolute client pixels; widget positions set with
// ImGui::SetCursorPos are local to the "Main" window, which starts 5 pixels above and left of the
// client area.
#pragma once

#include <cstdint>

struct ImDrawList;

inline constexpr float windowWidth = 1140.0f;
inline constexpr float windowHeight = 670.0f;

struct Colour {
    float red = 0.0f;
    float green = 0.0f;
    float blue = 0.0f;
    float alpha = 0.0f;
};

inline constexpr Colour goldColour{1.0f, 0.843137f, 0.0f, 1.0f};
inline constexpr Colour whiteColour{1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr Colour headingOrange{1.0f, 0.6f, 0.0f, 1.0f};

// Red in the low byte, then green, blue, alpha in the high byte; each channel clamped to 0..1 and
// rounded as (int)(value * 255 + 0.5). The same layout as IM_COL32.
std::uint32_t packColour(const Colour& colour);

// Where the window's top-left corner goes so that a 1140 x 670 window is centred on a screen of
// the given size: each screen dimension is halved as an integer first, so odd sizes round down.
struct WindowPosition {
    int x = 0;
    int y = 0;
};
WindowPosition centredWindowPosition(int screenWidth, int screenHeight);

// A measured text width rounded up to whole pixels (the integer part of width + 0.99999).
int wholePixelWidth(float width);

// Each routine draws on `list`, or on the current Dear ImGui window's draw list when `list` is null.
void drawLine(float x1, float y1, float x2, float y2, const Colour& colour, float thickness,
              ImDrawList* list = nullptr);
void strokeRect(float x, float y, float width, float height, const Colour& colour, float thickness,
                float rounding, ImDrawList* list = nullptr);
// A colour whose alpha byte is 0 draws nothing; a rounding of 0 or less draws square corners.
void fillRect(float x, float y, float width, float height, const Colour& colour, float rounding,
              ImDrawList* list = nullptr);

// The panel at the right of the window that holds the news or the settings.
inline constexpr float sidePanelLeft = windowWidth - 250.0f;
// Its frame, filled black at `fillOpacity`, with the cursor put at its first line.
void drawSidePanel(float fillOpacity);
// An orange bullet heading at the cursor, as the panels head their parts.
void drawHeading(const char* text);
