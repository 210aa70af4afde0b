// The change highlight of the real vedrik on both kinds of display (vsync
// refused by Xvfb's renderer, granted by a desktop GPU's driver, emulated by
// a preloaded library): a register and a data byte that an event changed
// look different from an unchanged one holding the same value, and the same
// again once the fade is over, without any input.

#include <gtest/gtest.h>

#include "support/x11/panel_fixture.hpp"

namespace {

using namespace std::chrono_literals;
using namespace panel_layout;

// Data bytes 0 and 1 side by side, and the fields of registers 3 and 4 one
// under the other: two copies of one image when they show the same thing.
constexpr int dm_cell_pitch = 20;  // the hex cell's width: 2.5 glyphs of 8 pixels
constexpr PanelRegion dm_byte0{dm_byte0_x - 8, dm_row0_y - 7, dm_cell_pitch, 14};
constexpr PanelRegion dm_byte1{dm_byte0.x + dm_cell_pitch, dm_byte0.y, dm_byte0.width, dm_byte0.height};
constexpr int register_pitch = 23;  // a field's height and the spacing under it
constexpr PanelRegion reg3_frame{reg3_field.x, reg3_y - 9, 120, 19};
constexpr PanelRegion reg4_frame{reg3_frame.x, reg3_frame.y + register_pitch, reg3_frame.width, reg3_frame.height};

class Highlight : public OnEachDisplay {};

TEST_P(Highlight, AChangedCellStandsOutUntilItsFadeEnds) {
    start_panel();
    attach_component();
    park_pointer();
    ASSERT_EQ(pixels(dm_byte0), pixels(dm_byte1)) << "both 00 and unchanged";
    ASSERT_EQ(pixels(reg3_frame), pixels(reg4_frame)) << "both 0 and unchanged";

    // Byte 0 and register 3 change, and change back to 0: they hold what
    // byte 1 and register 4 hold, and changed.
    ASSERT_TRUE(send_paced("write", Message{{"address", 0}, {"value", 0x41}}, "QZ3_MK.data_memory"));
    ASSERT_TRUE(send_paced("write", Message{{"register_number", 3}, {"value", 200}}, "QZ3_MK.register_file"));
    ASSERT_TRUE(send_paced("write", Message{{"address", 0}, {"value", 0}}, "QZ3_MK.data_memory"));
    ASSERT_TRUE(send_paced("write", Message{{"register_number", 3}, {"value", 0}}, "QZ3_MK.register_file"));
    ASSERT_TRUE(stdout_has(envelope_line("QZ3_MK.register_file", "write", R"({"register_number":3,"value":0})")));

    // On the screen: the zero, on its highlight.
    constexpr int bright = 200;
    EXPECT_TRUE(wait_until([&] { return cell_brightness(dm_byte0_x, dm_row0_y) < bright && pixels(dm_byte0) != pixels(dm_byte1); }, 5s))
        << "changed byte 0 looks like unchanged byte 1";
    EXPECT_TRUE(wait_until([&] { return pixels(reg3_frame) != pixels(reg4_frame); }, 5s))
        << "changed register 3 looks like unchanged register 4";

    // The fade ends by itself.
    EXPECT_TRUE(wait_until([&] { return pixels(dm_byte0) == pixels(dm_byte1); }, 10s)) << "byte 0 still highlighted";
    EXPECT_TRUE(wait_until([&] { return pixels(reg3_frame) == pixels(reg4_frame); }, 10s))
        << "register 3 still highlighted";
    EXPECT_EQ(quit_and_wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(Display, Highlight, testing::Values(Vsync::refused, Vsync::granted), vsync_name);

}  // namespace
