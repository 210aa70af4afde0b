#include "first_layout.hpp"

#include <cstdio>

#include "imgui.h"

// The "Main" window and "Settings" on the left, the register file beside
// them, the instruction and data memories stacked on the right.
const char* const first_layout_ini =
    "[Window][Main]\n"
    "Pos=10,30\n"
    "Size=200,240\n"
    "Collapsed=0\n"
    "\n"
    "[Window][register_file]\n"
    "Pos=220,30\n"
    "Size=300,470\n"
    "Collapsed=0\n"
    "\n"
    "[Window][instruction_memory]\n"
    "Pos=530,30\n"
    "Size=600,330\n"
    "Collapsed=0\n"
    "\n"
    "[Window][data_memory]\n"
    "Pos=530,370\n"
    "Size=600,330\n"
    "Collapsed=0\n"
    "\n"
    "[Window][Settings]\n"
    "Pos=10,280\n"
    "Size=200,60\n"
    "Collapsed=0\n"
    "\n";

void load_first_layout_unless_saved() {
    const char* saved = ImGui::GetIO().IniFilename;
    if (saved == nullptr) return;
    // A file that opens is Dear ImGui's to read, even an empty one.
    if (std::FILE* file = std::fopen(saved, "rb")) {
        std::fclose(file);
        return;
    }
    ImGui::LoadIniSettingsFromMemory(first_layout_ini);
}
