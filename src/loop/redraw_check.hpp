#pragma once
// Decides whether a frame has to be drawn and swapped at all: Dear ImGui's
// draw data of this frame against the previous drawn one. An idle panel
// builds the same vertices frame after frame, and under a software
// rasterizer (llvmpipe) filling the window costs far more than building the
// frame, so a frame whose draw data equals the last drawn one is not drawn;
// the window keeps showing that last image.
//
// Main thread only, between ImGui::Render and the drawing.

#include <cstddef>
#include <vector>

#include "imgui.h"

class RedrawCheck {
public:
    // True when data differs from the draw data of the last call that
    // returned true, or after invalidate (or on the first call). Compares the
    // display rectangle and scale, every list's vertices and indices, and
    // every command's clip rectangle, texture, offsets and count; a command
    // with a user callback always counts as changed.
    bool needed(const ImDrawData& data);

    // The next call to needed returns true: the window's pixels may be lost
    // (exposed, resized, shown) or the GL state changed outside Dear ImGui.
    void invalidate() { valid_ = false; }

private:
    std::vector<std::byte> last_;
    std::vector<std::byte> next_;
    bool valid_ = false;
};
