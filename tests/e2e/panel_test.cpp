// The whole panel: the real vedrik under Xvfb with the stand-in simulator on
// the panel's fixed ports, driven with xdotool.

#include <gtest/gtest.h>

#include <memory>

#include "messaging/endpoint.hpp"
#include "messaging/wire_names.hpp"
#include "support/x11/panel_fixture.hpp"

namespace {

using namespace std::chrono_literals;
using namespace panel_layout;

using Panel = PanelFixture;

constexpr int bright = 200;  // zero bytes are drawn at about half that

TEST_F(Panel, InitImAndFourStepsArriveAsEventsAndShowInTheMemoryWindows) {
    start_panel();
    start_standin();
    init_im_and_four_steps();
    EXPECT_EQ(quit_and_wait(), 0);
}

TEST_F(Panel, AnEditedRegisterComesBackAsTheSimulatorsEvent) {
    start_panel();
    start_standin();
    click(reg3_x, reg3_y);
    press("ctrl+a", reg3_field);
    type("42");
    press("Return", reg3_field);
    ASSERT_TRUE(stdout_has(envelope_line("QZ3_MK.register_file", "write", R"({"register_number":3,"value":42})")))
        << panel->stdout_text();
    EXPECT_NE(panel->stderr_text().find("{\"register_number\":3,\"value\":42}\n"), std::string::npos);
    EXPECT_EQ(quit_and_wait(), 0);
}

TEST_F(Panel, EventsOfNoViewArePrintedAndNotApplied) {
    start_panel();
    attach_component();
    component->send(MessageKind::event, "write", Message{{"address", 0}, {"value", 65}}, "QZ3_MK.simulation_control", "");
    component->send_body(encode(Message{{"message_sub_type", "write"}, {"data", {{"address", 0}, {"value", 65}}}}));
    component->send(MessageKind::event, "write", Message{{"address", 1}, {"value", 65}}, "QZ3_MK.data_memory", "");

    ASSERT_TRUE(stdout_has(envelope_line("QZ3_MK.simulation_control", "write", R"({"address":0,"value":65})") +
                           R"({"data":{"address":0,"value":65},"message_sub_type":"write"})" "\n" +
                           envelope_line("QZ3_MK.data_memory", "write", R"({"address":1,"value":65})")))
        << panel->stdout_text();
    // Byte 1's event came last: once it shows, the others have been taken.
    EXPECT_TRUE(wait_until([&] { return cell_brightness(dm_byte1_x, dm_row0_y) >= bright; }, 5s))
        << "applied: byte 1 is 41";
    EXPECT_LT(cell_brightness(dm_byte0_x, dm_row0_y), bright) << "not applied: byte 0 stays 00";
    EXPECT_EQ(quit_and_wait(), 0);
}

TEST_F(Panel, ATakenBusPortIsReportedOnceAndThePairStillListens) {
    std::string bus_url(wire::bus_address);
    Endpoint squatter(&bus_url, EndpointKind::bus_listen);
    ASSERT_TRUE(squatter.connect());
    start_panel();
    ASSERT_TRUE(wait_until([&] { return !panel->stderr_text().empty(); }, 10s));
    std::string pair_url(wire::pair_address);
    Endpoint pair_peer(pair_url, EndpointKind::pair_dial);
    ASSERT_TRUE(pair_peer.connect());
    EXPECT_TRUE(pair_peer.wait_for_peer(10s)) << "the pair socket does not listen";
    EXPECT_EQ(quit_and_wait(), 0);
    // Once, over the whole run, with frames run for the clicks.
    EXPECT_EQ(panel->stderr_text(), "Unable to establish socket connection: Address in use\n");
}

}  // namespace
