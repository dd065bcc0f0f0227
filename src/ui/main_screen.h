// Everything drawn inside the "Main" window: background, window buttons, progress bar or ready
// controls, the news or settings panel, the status and version lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct LauncherSnapshot;

inline constexpr std::int32_t minClientCount = 1;
inline constexpr std::int32_t maxClientCount = 50;

// Kept between frames; touched only by the interface thread.
extern std::int32_t clientCount;
extern bool newsPanelOpen;
extern bool settingsPanelOpen; // wins over newsPanelOpen

// Width of one character (its UTF-8 bytes) as drawn.
using CharacterWidth = std::function<float(std::string_view character)>;

// A copy of `text` with a line break after every `width` bytes (also after the last group when it
// is full, and inside words), except that a break never falls inside a UTF-8 character: one
// that would cross the count starts the next line. With `measure`, a line also ends before a
// character that would make it wider than `boxWidth` pixels. A broken sequence counts as
// characters of one byte each.
std::string wrapText(std::string_view text, std::size_t width, float boxWidth = 0.0f,
                     const CharacterWidth& measure = {});
// Bytes of the UTF-8 character at the start of `text`: its lead byte and the continuation bytes
// it announces, or 1 where those are not all there.
std::size_t utf8CharacterLength(std::string_view text);
// `count` moved by `step`, unless that leaves 1..50.
std::int32_t steppedClientCount(std::int32_t count, std::int32_t step);

// Draws one frame of the main screen. Returns false when the interface thread must stop drawing
// (a game start failed and the player closed its message).
bool drawMainScreen(const LauncherSnapshot& snapshot);
