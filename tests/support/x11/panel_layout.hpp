#pragma once
// Where things are in the panel window when its windows are where
// tests/e2e/panel.ini puts them (the panel's first layout), relative to the
// window's top-left corner. The end-to-end tests click and read here, and so
// does scripts/run.sh for its screenshot: it reads the "name = number"
// pairs of this file, so keep each on one line.

// A rectangle of the panel window.
struct PanelRegion {
    int x, y, width, height;
};

namespace panel_layout {
// Centres of the controls.
inline constexpr int step_x = 35, step_y = 66;
// The register file's HEX base button.
inline constexpr int reg_hex_x = 394, reg_hex_y = 66;
// The data memory window's Options button, and "Show Data Preview" in the
// popup it opens.
inline constexpr int dm_options_x = 566, dm_options_y = 682;
inline constexpr int dm_show_preview_x = 584, dm_show_preview_y = 608;
inline constexpr int init_im_x = 46, init_im_y = 89;
inline constexpr int run_test_0_x = 52, run_test_0_y = 135;
inline constexpr int reg3_x = 320, reg3_y = 158;
// The left of register 3's field, where its text and cursor are drawn.
inline constexpr PanelRegion reg3_field{reg3_x - 95, reg3_y - 8, 80, 16};
// The hex cells of instruction word 0's bytes 0 and 3 (row 000).
inline constexpr int im_byte0_x = 585, im_byte3_x = 639, im_row0_y = 64;
// Data memory byte 0 and byte 1 (row 00).
inline constexpr int dm_byte0_x = 577, dm_byte1_x = 595, dm_row0_y = 404;
// The insides of the three mirror windows, below their title bars.
inline constexpr PanelRegion register_file{222, 52, 296, 446};
inline constexpr PanelRegion instruction_memory{532, 52, 596, 306};
inline constexpr PanelRegion data_memory{532, 392, 596, 306};
// Everything above the data memory window: the menu bar, the main window,
// the register file, the instruction memory and their popups.
inline constexpr PanelRegion above_data_memory{0, 0, 1280, 390};
// A spot over no window, where the pointer hovers nothing.
inline constexpr int idle_x = 1200, idle_y = 600;
// The "Highlight changes" check box of the Settings window.
inline constexpr int highlight_switch_x = 27, highlight_switch_y = 316;
}  // namespace panel_layout
