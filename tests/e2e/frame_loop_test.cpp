// The frame loop of the real vedrik on both kinds of display: Xvfb's, whose
// software renderer refuses vsync, and a desktop GPU's, whose driver grants
// it and makes every buffer swap wait for the next refresh (emulated by a
// preloaded library). On both, an idle panel comes to rest, an event wakes
// it, and what needs frames (a blinking cursor, a held key) still gets them.

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <set>
#include <thread>

#include "support/x11/panel_fixture.hpp"

namespace {

using namespace std::chrono_literals;
using namespace panel_layout;

class FrameLoop : public OnEachDisplay {};

// With a simulator attached and nothing happening, every thread of the panel
// comes to rest: its processor time stops growing. How little it costs
// meanwhile is a benchmark's figure (process_bench).
TEST_P(FrameLoop, AnIdlePanelWithASimulatorAttachedComesToRest) {
    start_panel();
    start_standin();
    park_pointer();
    EXPECT_TRUE(settle()) << "the panel's threads keep running with nothing to do";
    EXPECT_EQ(quit_and_wait(), 0);
}

// Each event is sent to a panel that has been idle, with nothing else
// happening: it must wake for the arrival by itself, print the event and show
// its byte. How soon is a benchmark's figure (process_bench); here the wait
// is bounded only so that a panel that never wakes fails.
TEST_P(FrameLoop, AnEventWakesAnIdlePanelAndIsPrintedAndShown) {
    start_panel();
    attach_component();
    park_pointer();

    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(settle()) << "the panel does not go idle";
        const auto before = pixels(data_memory);
        const std::string line =
            envelope_line("QZ3_MK.data_memory", "write", R"({"address":)" + std::to_string(i) + R"(,"value":65})");
        component->send(MessageKind::event, "write", Message{{"address", i}, {"value", 65}}, "QZ3_MK.data_memory", "");
        ASSERT_TRUE(stdout_has(line)) << "event " << i << " never printed";
        ASSERT_TRUE(wait_until([&] { return pixels(data_memory) != before; }, 10s)) << "event " << i << " never shown";
    }
    EXPECT_EQ(quit_and_wait(), 0);
}

// The pointer moved onto a button lights it, and moved away leaves it as it
// was: pointer motion reaches Dear ImGui, and the panel draws the frames
// that show it.
TEST_P(FrameLoop, HoverLightsTheButtonUnderThePointer) {
    start_panel();
    park_pointer();
    // The inside of "Step", left of its label.
    const PanelRegion step_fill{step_x - 15, step_y - 5, 4, 10};
    const auto idle = pixels(step_fill);
    x.move(origin.x + step_x, origin.y + step_y);
    ASSERT_TRUE(wait_until([&] { return pixels(step_fill) != idle; }, 5s))
        << "the pointer over \"Step\" never lit it";
    // Brighter: the hovered colour, not another change.
    const auto lit = pixels(step_fill);
    auto luma = [](std::uint32_t p) {
        return (2126 * ((p >> 16) & 0xFF) + 7152 * ((p >> 8) & 0xFF) + 722 * (p & 0xFF)) / 10000;
    };
    EXPECT_GT(luma(lit[0]), luma(idle[0])) << std::hex << idle[0] << " hovered as " << lit[0];
    park_pointer();
    EXPECT_TRUE(pixels_become(step_fill, idle)) << "\"Step\" stayed lit after the pointer left";
    EXPECT_EQ(quit_and_wait(), 0);
}

// How many images they show in a given time is a benchmark's figure
// (process_bench); here each change is waited for.
TEST_P(FrameLoop, ABlinkingCursorAndAHeldKeyStillChangeTheScreen) {
    start_panel();
    park_pointer();

    // A register field being edited: its cursor goes off and comes back with
    // nothing else happening.
    click(reg3_x, reg3_y);
    park_pointer();
    const auto shown = pixels(reg3_field);
    EXPECT_TRUE(wait_until([&] { return pixels(reg3_field) != shown; }, 5s)) << "the cursor does not blink";
    EXPECT_TRUE(pixels_become(reg3_field, shown)) << "the cursor does not come back";
    press("Escape", reg3_field);

    // A held arrow key in the hex editor moves the selection byte after
    // byte: more than the one move of a single press.
    click(dm_byte0_x, dm_row0_y);
    park_pointer();
    std::set<std::vector<std::uint32_t>> seen{pixels(data_memory)};
    const bool repeated = x.key("Right", [&] {
        seen.insert(pixels(data_memory));
        return seen.size() >= 4;
    }, 5s);
    EXPECT_TRUE(repeated) << "the held key does not repeat: " << seen.size() - 1 << " moves";
    EXPECT_EQ(quit_and_wait(), 0);
}

// Hex digits typed into the data memory as fast as a typist does: each byte
// must show what was typed for it. The bytes a "load" event puts on line 1
// are what lines 2 to 4 must look like, cell by cell, once typed at 10, 20
// and 40 ms between keys.
TEST_P(FrameLoop, HexDigitsTypedFastWriteEveryByte) {
    start_panel();
    attach_component();
    const std::string digits = "DEADBEEF0123CAFE";
    Message values = Message::array();
    for (std::size_t k = 0; k < digits.size(); k += 2) values.push_back(std::stoi(digits.substr(k, 2), nullptr, 16));
    component->send(MessageKind::event, "load", Message{{"start", 16}, {"values", values}}, "QZ3_MK.data_memory", "");
    ASSERT_TRUE(stdout_has(R"("origin":"QZ3_MK.data_memory")")) << panel->stdout_text();

    constexpr int cell_pitch = dm_byte1_x - dm_byte0_x;
    constexpr int line_height = 13;
    const auto cell = [&](int line, int byte) {
        return pixels({dm_byte0_x - 7 + byte * cell_pitch, dm_row0_y - 6 + line * line_height, 14, 12});
    };
    const auto line_image = [&](int line) {
        std::vector<std::vector<std::uint32_t>> cells;
        for (int byte = 0; byte < 8; ++byte) cells.push_back(cell(line, byte));
        return cells;
    };
    ASSERT_TRUE(wait_until([&] { return cell_brightness(dm_byte0_x, dm_row0_y + line_height) >= 200; }, 5s))
        << "the loaded bytes never showed";
    // An event's changes are drawn on an amber highlight that fades, and
    // typed bytes on none: line 1 is the model once its highlight is gone.
    const auto tinted = [&](int line) {
        for (const auto& c : line_image(line)) {
            for (std::uint32_t p : c) {
                const int r = static_cast<int>((p >> 16) & 0xFF), b = static_cast<int>(p & 0xFF);
                if (r - b > 30) return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(wait_until([&] { return !tinted(1); }, 10s)) << "the loaded bytes' highlight never faded";
    const auto expected = line_image(1);

    int line = 2;
    for (int delay_ms : {10, 20, 40}) {
        SCOPED_TRACE(testing::Message() << delay_ms << " ms between keys");
        click(dm_byte0_x, dm_row0_y + line * line_height);
        park_pointer();
        x.run("xdotool type --delay " + std::to_string(delay_ms) + " " + digits);
        const bool all = wait_until([&] { return line_image(line) == expected; }, 5s);
        const auto shown = line_image(line);
        int right = 0;
        for (std::size_t byte = 0; byte < 8; ++byte) right += shown[byte] == expected[byte];
        std::cout << "typed at " << delay_ms << " ms between keys: " << right << " of 8 bytes right\n";
        EXPECT_TRUE(all) << right << " of 8 bytes right";
        ++line;
    }
    EXPECT_EQ(quit_and_wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(Display, FrameLoop, testing::Values(Vsync::refused, Vsync::granted), vsync_name);

}  // namespace
