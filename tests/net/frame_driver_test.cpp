// The frame driver with real sockets and a headless Dear ImGui: what arrives
// on the bus is printed as one compact line each and routed by its origin.

#include "frame.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "imgui_internal.h"
#include "loop/frame_schedule.hpp"
#include "loop/redraw_check.hpp"
#include "messaging/endpoint.hpp"
#include "support/child_process.hpp"
#include "support/headless_imgui.hpp"
#include "support/loopback.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class FrameDriver : public ::testing::Test {
protected:
    void SetUp() override {
        ui.frame([this] { panel.frame(done); });  // first frame: the hub starts
        ASSERT_TRUE(peer.connect());
        ASSERT_TRUE(peer.wait_for_peer(5s));
        // One probe through to the panel's inbox, printed and dropped by a
        // frame: from then on the panel's end is attached too.
        peer.send(MessageKind::event, "probe", nullptr, "", "");
        ASSERT_TRUE(wait_until([&] { return inbox_size() > 0; }, 5s));
        testing::internal::CaptureStdout();
        ui.frame();
        testing::internal::GetCapturedStdout();
    }

    // Envelopes in the panel's inbox, counted by taking none.
    std::size_t inbox_size() {
        std::size_t count = 0;
        app().hub.bus.take_if([&](Message&) {
            ++count;
            return false;
        });
        return count;
    }

    Application& app() { return panel.app; }

    // Publishes bodies, waits until all are in the inbox, then runs one frame
    // and returns what it printed.
    std::string frame_with(const std::vector<std::vector<std::uint8_t>>& bodies) {
        for (auto& b : bodies) peer.send_body(b);
        std::size_t n = bodies.size();
        bool all = wait_until([&] { return inbox_size() >= n; }, 5s);
        EXPECT_TRUE(all);
        testing::internal::CaptureStdout();
        ui.frame();
        return testing::internal::GetCapturedStdout();
    }

    static std::vector<std::uint8_t> event(const std::string& origin, const char* sub, Message data) {
        return encode(make_envelope(MessageKind::event, sub, data, origin, ""));
    }

    // The peer dials before the first frame makes the panel listen.
    ReservedPort bus_port;
    std::string bus_url = bus_port.url();
    Panel panel{bus_url, any_loopback_port};
    HeadlessImGui ui;
    bool done = false;
    Endpoint peer{bus_url, EndpointKind::bus_dial};
};

TEST_F(FrameDriver, PrintsEveryMessageAndRoutesByOrigin) {
    testing::internal::CaptureStderr();
    std::string out = frame_with({
        event("QZ3_MK.register_file", "write", {{"register_number", 3}, {"value", 1}}),
        event("QZ3_MK.register_file", "write", {{"register_number", 3}, {"value", 2}}),
        event("QZ3_MK.data_memory", "write", {{"address", 4}, {"value", 5}}),
        event("QZ3_MK.instruction_memory", "load", {{"start", 1}, {"values", {69634}}}),
        event("QZ3_MK.simulation_control", "write", {{"address", 7}, {"value", 7}}),
        encode(Message{{"message_sub_type", "write"}, {"data", {{"address", 8}, {"value", 8}}}}),
    });
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out,
              R"({"data":{"register_number":3,"value":1},"destination":"","message_sub_type":"write","message_type":"event","origin":"QZ3_MK.register_file"})"
              "\n"
              R"({"data":{"register_number":3,"value":2},"destination":"","message_sub_type":"write","message_type":"event","origin":"QZ3_MK.register_file"})"
              "\n"
              R"({"data":{"address":4,"value":5},"destination":"","message_sub_type":"write","message_type":"event","origin":"QZ3_MK.data_memory"})"
              "\n"
              R"({"data":{"start":1,"values":[69634]},"destination":"","message_sub_type":"load","message_type":"event","origin":"QZ3_MK.instruction_memory"})"
              "\n"
              R"({"data":{"address":7,"value":7},"destination":"","message_sub_type":"write","message_type":"event","origin":"QZ3_MK.simulation_control"})"
              "\n"
              R"({"data":{"address":8,"value":8},"message_sub_type":"write"})"
              "\n");
    EXPECT_EQ(panel.register_file.registers[3], 2);  // applied in arrival order
    EXPECT_EQ(panel.data_memory.memory[4], 5);
    EXPECT_EQ(panel.instruction_memory.memory[1], 69634u);
    EXPECT_EQ(panel.data_memory.memory[7], 0) << "simulation_control is not a memory";
    EXPECT_EQ(panel.data_memory.memory[8], 0) << "no origin, not applied";
    // The register view's sub-type lines, and the note for the envelope
    // without an origin (simulation_control is a known origin).
    EXPECT_EQ(err, "\"write\"\n\"write\"\n"
                   "hint: an envelope without \"origin\" changes no view; the views take "
                   "\"QZ3_MK.instruction_memory\", \"QZ3_MK.data_memory\" and \"QZ3_MK.register_file\"\n");
}

TEST_F(FrameDriver, OddMessagesArePrintedAndTheNextStillApplies) {
    std::vector<std::uint8_t> bad_utf8 = encode(make_envelope(MessageKind::event, "write",
                                                              Message{{"address", 1}, {"value", 1}},
                                                              "QZ3_MK.data_memory", "x\xFFy"));
    testing::internal::CaptureStderr();
    std::string out = frame_with({
        encode(Message(7)),
        encode(Message{{"origin", 12}, {"message_sub_type", "write"}}),
        bad_utf8,
        event("QZ3_MK.data_memory", "write", {{"address", 300}, {"value", 1}}),
        event("QZ3_MK.data_memory", "write", {{"address", 2}, {"value", 9}}),
    });
    std::string err = testing::internal::GetCapturedStderr();
    std::istringstream lines(out);
    std::vector<std::string> printed;
    for (std::string line; std::getline(lines, line);) printed.push_back(line);
    ASSERT_EQ(printed.size(), 5u) << out;
    EXPECT_EQ(printed[0], "7");
    EXPECT_EQ(printed[1], R"({"message_sub_type":"write","origin":12})");
    EXPECT_NE(printed[2].find("\"x\xEF\xBF\xBDy\""), std::string::npos) << "U+FFFD in place of the bad byte";
    EXPECT_EQ(panel.data_memory.memory[1], 1) << "bad bytes elsewhere do not stop the routing";
    EXPECT_EQ(panel.data_memory.memory[2], 9);
    const std::string views =
        "the views take \"QZ3_MK.instruction_memory\", \"QZ3_MK.data_memory\" and \"QZ3_MK.register_file\"\n";
    EXPECT_EQ(err, "hint: an envelope without \"origin\" changes no view; " + views +
                       "hint: origin 12 names no view, so its events change nothing; " + views +
                       "data_memory: \"write\" event not applied: \"address\" 300 is outside 0 to 255\n");
}

// The frame loop as the window runs it, on a clock of the test's: frames at
// the schedule's deadlines until it waits for an event.
TEST_F(FrameDriver, AFadeGivesTheLoopAFewFramesAndThenTheLoopWaits) {
    FrameSchedule schedule(60);
    RedrawCheck redraw;
    Clock::time_point now = Clock::now();
    ui.set_draw([&] { panel.frame(done, now); });

    // Frames from one event's to the loop's wait, and how long they lasted.
    const auto run_until_waiting = [&](int value) {
        for (auto& body : {event("QZ3_MK.data_memory", "write", {{"address", 4}, {"value", value}}),
                           event("QZ3_MK.register_file", "write", {{"register_number", 2}, {"value", value}})})
            peer.send_body(body);
        EXPECT_TRUE(wait_until([&] { return inbox_size() >= 2; }, 5s));
        const Clock::time_point start = now;
        int frames = 0;
        bool had_events = true;  // the arrival's wake-up
        Clock::time_point previous = now - 16ms;
        for (; frames < 100; ++frames) {
            // Dear ImGui's own timers (saving the layout) run on this clock too.
            ImGui::GetIO().DeltaTime = std::max(0.001f, std::chrono::duration<float>(now - previous).count());
            previous = now;
            schedule.frame_started(now);
            testing::internal::CaptureStdout();
            testing::internal::CaptureStderr();
            ui.frame();
            testing::internal::GetCapturedStderr();
            testing::internal::GetCapturedStdout();
            schedule.frame_ended(now, had_events, redraw.needed(*ImGui::GetDrawData()), panel.next_fade_step());
            had_events = false;
            if (!schedule.next().latest) break;
            now = *schedule.next().latest;
        }
        return std::pair{frames + 1, now - start};
    };

    // The first frames' window layout is not what is counted here.
    GImGui->SettingsDirtyTimer = 0.0f;
    panel.settings.highlight_changes = false;
    const auto [plain_frames, plain_span] = run_until_waiting(1);
    now += 1s;
    panel.settings.highlight_changes = true;
    const auto [frames, span] = run_until_waiting(2);

    EXPECT_EQ(panel.data_memory.changes.level(4), 0);
    EXPECT_EQ(panel.register_file.changes.level(2), 0);
    EXPECT_GE(span, ChangeMarks::fade_steps * ChangeMarks::fade_step) << "the fade took its time";
    EXPECT_LT(span, ChangeMarks::fade_steps * ChangeMarks::fade_step + 100ms) << "and then the loop waits";
    EXPECT_LT(plain_span, 100ms);
    EXPECT_GT(frames - plain_frames, 0);
    EXPECT_LE(frames - plain_frames, 8) << "frames spent on the fade";
    std::printf("frames after the event: %d without the highlight, %d with it\n", plain_frames, frames);
}

TEST_F(FrameDriver, AnEmptyInboxPrintsNothing) {
    testing::internal::CaptureStdout();
    ui.frames(3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
