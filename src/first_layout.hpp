#pragma once
// The windows' first layout: where they open when the working directory
// holds no imgui.ini, side by side in the 1280 x 720 window. Once Dear ImGui
// has written imgui.ini (at exit, or soon after a window moves), that file
// is read instead, so the user's own layout is kept.

// The layout, in Dear ImGui's settings format.
extern const char* const first_layout_ini;

// Gives the current Dear ImGui context the first layout when its settings
// file (io.IniFilename) cannot be read. Main thread; after the context's
// creation and its settings handlers, before its first frame, which would
// otherwise read the file.
void load_first_layout_unless_saved();
