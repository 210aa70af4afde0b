#include "frame.hpp"

#include "imgui.h"

void draw_main_menu_bar(bool& done) {
    if (!ImGui::BeginMainMenuBar()) return;
    if (ImGui::BeginMenu("File", true)) {
        if (ImGui::MenuItem("Quit", nullptr, false, true)) done = true;
        ImGui::EndMenu();
    }
    ImGui::EndMainMenuBar();
}

void run_frame(bool& done) {
    draw_main_menu_bar(done);
}
