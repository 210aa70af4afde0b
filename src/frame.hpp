#pragma once
// The body of every frame: owns the panel's long-lived objects, applies what
// arrived on the bus and draws every window in a fixed order.
//
// Main thread only, between ImGui::NewFrame and ImGui::Render.

// One frame of the panel; sets done when the user chooses File > Quit.
void run_frame(bool& done);

// The main menu bar with File > Quit.
void draw_main_menu_bar(bool& done);
