#pragma once
// Whether SDL found a display to show the window on. Without one (no
// DISPLAY, or an X server that does not answer) SDL falls back to a video
// driver that draws nowhere, and the panel would run unseen, holding its
// ports. A driver the user chose through SDL_VIDEODRIVER is taken as chosen.

#include <optional>
#include <string>

// After SDL_Init with SDL_INIT_VIDEO: nothing when the window can be shown,
// else a sentence naming the display that is missing, for "Error: %s\n".
std::optional<std::string> missing_display();
