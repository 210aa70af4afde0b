// The real vedrik under a paced stream of 200000 sequence-numbered events
// while the user clicks through the window: every event is printed, in order,
// and the data memory shows the last value of every cell, as a fresh panel
// does that is sent only those last values.

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <sstream>

#include "messaging/endpoint.hpp"
#include "messaging/wire_names.hpp"
#include "support/x11/panel_fixture.hpp"

namespace {

using namespace std::chrono_literals;
using namespace panel_layout;

using Load = PanelFixture;

constexpr long long events = 200000;
constexpr long long rate = 20000;

// The flood's event i: address i % 256, value (i / 256) % 256.
int address_of(long long i) { return static_cast<int>(i % 256); }
int value_of(long long i) { return static_cast<int>((i / 256) % 256); }

long long count_lines(const std::string& text) {
    long long n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

TEST_F(Load, EveryEventArrivesInOrderWhileTheUserClicksAndTheMirrorShowsTheLastValues) {
    start_panel("load");
    start_standin({"--flood", std::to_string(events), "--rate", std::to_string(rate)});
    const auto started = std::chrono::steady_clock::now();

    // A user going through the window: the base buttons, a register field,
    // an instruction word, the editor's options, the menu, the windows.
    struct Click {
        int x, y;
        bool escape_after;
    };
    const std::vector<Click> clicks{
        {237, 66, false},  {289, 66, false},  {reg_hex_x, reg_hex_y, false}, {reg3_x, reg3_y, true}, {342, 66, false},
        {im_byte0_x, im_row0_y, true},        {566, 342, true},  {18, 9, true},          {60, 39, false},
        {1200, 60, false}, {380, 39, false},  {800, 39, false},
    };
    // Under the stream the panel never goes idle: each action waits at most
    // this long for it, a user's pace.
    constexpr auto user_pace = 300ms;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    long long printed = 0;
    std::size_t done_clicks = 0;
    while (printed < events && std::chrono::steady_clock::now() < deadline && panel->running()) {
        const Click& c = clicks[done_clicks++ % clicks.size()];
        click(c.x, c.y, user_pace);
        if (c.escape_after) press("Escape", above_data_memory, user_pace);
        printed = count_lines(panel->stdout_text());
    }
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // Whatever the clicks left behind, the last one leaves DEC chosen.
    click(342, 66);
    ASSERT_TRUE(panel->running());

    long long others = 0;
    const std::vector<std::pair<int, int>> writes = printed_writes(panel->stdout_text(), others);
    long long in_order = 0;
    while (in_order < static_cast<long long>(writes.size()) && in_order < events &&
           writes[static_cast<std::size_t>(in_order)] == std::make_pair(address_of(in_order), value_of(in_order))) {
        ++in_order;
    }
    std::cout << writes.size() << " of " << events << " events printed, " << in_order << " in order, " << others
              << " other lines, " << done_clicks << " clicks; all printed within " << seconds << " s of the start"
              << std::endl;
    EXPECT_EQ(static_cast<long long>(writes.size()), events);
    EXPECT_EQ(in_order, events);
    EXPECT_EQ(others, 0);
    EXPECT_GT(done_clicks, clicks.size()) << "the clicks went on through the stream";

    // The changes' highlights end at once when switched off: the two runs'
    // data memories then look alike whenever their last changes came.
    click(highlight_switch_x, highlight_switch_y);
    park_pointer();
    const std::vector<std::uint32_t> loaded = pixels(data_memory);
    EXPECT_EQ(quit_and_wait(), 0) << panel->stderr_text();
    stop_standin();

    // The reference: a fresh panel sent only the last value of each cell.
    start_panel("reference");
    attach_component();
    for (long long i = events - 256; i < events; ++i) {
        ASSERT_TRUE(send_paced("write", Message{{"address", address_of(i)}, {"value", value_of(i)}},
                               "QZ3_MK.data_memory"));
    }
    const std::string last = envelope_line("QZ3_MK.data_memory", "write",
                                           "{\"address\":" + std::to_string(address_of(events - 1)) +
                                               ",\"value\":" + std::to_string(value_of(events - 1)) + "}");
    ASSERT_TRUE(stdout_has(last, 10s));
    click(highlight_switch_x, highlight_switch_y);
    park_pointer();
    pixels_become(data_memory, loaded);
    EXPECT_EQ(differing_pixels(pixels(data_memory), loaded), 0);
    EXPECT_EQ(quit_and_wait(), 0);
}

}  // namespace
