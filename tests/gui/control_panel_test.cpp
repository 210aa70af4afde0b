// The "Main" window, clicked headlessly: what each button puts on the pair
// socket, and the ping benchmark against peers that answer, answer late or
// fall silent.

#include "control_panel.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "imgui_internal.h"
#include "messaging/wire_names.hpp"
#include "support/child_process.hpp"
#include "support/headless_imgui.hpp"
#include "support/loopback.hpp"

namespace {

using namespace std::chrono_literals;

const std::vector<std::string> button_labels{"Step",       "Init IM",      "Init REG",      "run test 0",
                                             "run test 100", "run test 1000", "run test 10000"};

// The panel's pair endpoint listening on a port of its own, a dialling test peer on
// it, and the window drawn in a headless Dear ImGui context.
class ControlPanelTest : public testing::Test {
protected:
    void SetUp() override {
        app.pair_url = any_loopback_port;
        ASSERT_TRUE(app.hub.pair.connect());
        peer_url = app.hub.pair.bound_url();
        ASSERT_TRUE(peer.connect());
        ui.frame([this] { panel.draw(app); });
        ui.frame();
    }

    // Centre of the k-th button: the buttons stand one per line from the
    // window's first content line down.
    ImVec2 button_center(std::size_t k) {
        ImGuiWindow* window = ImGui::FindWindowByName("Main");
        EXPECT_NE(window, nullptr);
        float height = ImGui::GetFrameHeight();
        float step = height + ImGui::GetStyle().ItemSpacing.y;
        ImVec2 start = window->DC.CursorStartPos;
        return ImVec2(start.x + 8.0f, start.y + static_cast<float>(k) * step + height / 2.0f);
    }

    void click(const std::string& label) {
        for (std::size_t k = 0; k < button_labels.size(); ++k) {
            if (button_labels[k] == label) return ui.click(button_center(k));
        }
        FAIL() << "no button " << label;
    }

    // Takes `total` pings on the peer; the first `answers` get one reply each,
    // the rest are left unanswered. Counts the pings and those whose data was
    // not an array of payload_size zeros.
    void answer_pings(int answers, int payload_size, int total = 1000) {
        responder = std::thread([this, answers, payload_size, total] {
            Message zeros = Message::array();
            for (int i = 0; i < payload_size; ++i) zeros.push_back(0);
            for (int i = 0; i < total; ++i) {
                Message m;
                try {
                    m = peer.receive_within(5s);
                } catch (const NngError&) {
                    return;
                }
                ++pings;
                if (m.value("message_sub_type", "") != "ping" || m.value("data", Message()) != zeros) ++bad_pings;
                if (i < answers) peer.send(MessageKind::event, "ping", nullptr, std::string(wire::simulation_control), "");
            }
        });
    }

    void TearDown() override {
        if (responder.joinable()) responder.join();
    }

    Application app;
    std::string peer_url;
    Endpoint peer{&peer_url, EndpointKind::pair_dial};
    ControlPanel panel;
    HeadlessImGui ui;
    std::thread responder;
    std::atomic<int> pings{0};
    std::atomic<int> bad_pings{0};
};

TEST_F(ControlPanelTest, SevenButtonsInOrderOnePerLine) {
    ImGuiWindow* window = ImGui::FindWindowByName("Main");
    ASSERT_NE(window, nullptr);
    for (std::size_t k = 0; k < button_labels.size(); ++k) {
        ui.move_mouse(button_center(k));
        EXPECT_EQ(ImGui::GetCurrentContext()->HoveredId, ImHashStr(button_labels[k].c_str(), 0, window->ID))
            << "line " << k << " should be " << button_labels[k];
    }
}

struct CommandCase {
    const char* label;
    Message expected;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.label; }

class CommandButton : public ControlPanelTest, public testing::WithParamInterface<CommandCase> {};

TEST_P(CommandButton, SendsExactlyOneEnvelope) {
    click(GetParam().label);
    Message received = peer.receive_within(2s);
    EXPECT_EQ(encode(received), encode(GetParam().expected)) << compact_text(received);
    EXPECT_THROW(peer.receive_within(100ms), NngError) << "a second envelope arrived";
}

Message load_command(std::string destination, std::vector<std::int64_t> values) {
    return make_envelope(MessageKind::command, "load", {{"start", 0}, {"values", values}}, "", std::move(destination));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandButton,
    testing::Values(
        // "data" null ('Z'), not an empty object.
        CommandCase{"Step", make_envelope(MessageKind::command, "step", nullptr, "", "QZ3_MK.simulation_control")},
        CommandCase{"Init IM", load_command("QZ3_MK.instruction_memory", {69634, 73731, 12546, 327683})},
        CommandCase{"Init REG", load_command("QZ3_MK.register_file", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9})}),
    [](const testing::TestParamInfo<CommandCase>& case_info) {
        std::string name = case_info.param.label;
        name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
        return name;
    });

// The compact text of n zeros: "[0,0,...,0]".
std::string zeros_line(int n) {
    std::string s = "[";
    for (int i = 0; i < n; ++i) s += i == 0 ? "0" : ",0";
    return s + "]";
}

// Exactly the payload line, then "test done in: <digits>ms", each ending in a newline.
bool is_timing_report(const std::string& out, const std::string& payload_line) {
    const std::string head = payload_line + "\ntest done in: ";
    if (out.compare(0, head.size(), head) != 0 || out.size() < head.size() + 4) return false;
    std::string rest = out.substr(head.size());
    if (rest.substr(rest.size() - 3) != "ms\n") return false;
    std::string digits = rest.substr(0, rest.size() - 3);
    return !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos;
}

struct PingCase {
    const char* label;
    int payload_size;
    std::string payload_line;
};

void PrintTo(const PingCase& c, std::ostream* os) { *os << c.label; }

class PingButton : public ControlPanelTest, public testing::WithParamInterface<PingCase> {};

TEST_P(PingButton, PrintsPayloadThenOneTimingLineAfter1000Answers) {
    answer_pings(1000, GetParam().payload_size);
    testing::internal::CaptureStdout();
    click(GetParam().label);
    std::string out = testing::internal::GetCapturedStdout();
    responder.join();
    EXPECT_EQ(pings, 1000);
    EXPECT_EQ(bad_pings, 0);
    EXPECT_TRUE(is_timing_report(out, GetParam().payload_line)) << out;
}

INSTANTIATE_TEST_SUITE_P(Payloads, PingButton,
                         testing::Values(PingCase{"run test 0", 0, "[]"},
                                         PingCase{"run test 100", 100, zeros_line(100)}),
                         [](const testing::TestParamInfo<PingCase>& case_info) {
                             return "Size" + std::to_string(case_info.param.payload_size);
                         });

struct SilentCase {
    int answers;
};

void PrintTo(const SilentCase& c, std::ostream* os) { *os << c.answers << " answers"; }

class SilentPeer : public ControlPanelTest, public testing::WithParamInterface<SilentCase> {};

TEST_P(SilentPeer, BenchmarkStopsWithOneReportInsteadOfHanging) {
    answer_pings(GetParam().answers, 0, GetParam().answers + 1);
    testing::internal::CaptureStdout();
    auto start = std::chrono::steady_clock::now();
    run_ping_test(app, 0, 300ms);
    auto took = std::chrono::steady_clock::now() - start;
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "[]\nping test stopped after " + std::to_string(GetParam().answers) +
                       " of 1000 exchanges: Timed out\n");
    EXPECT_LT(took, 3s);
    // The window runs on: the next command still goes out.
    responder.join();
    click("Step");
    EXPECT_EQ(peer.receive_within(2s).value("message_sub_type", ""), "step");
}

INSTANTIATE_TEST_SUITE_P(Answers, SilentPeer, testing::Values(SilentCase{0}, SilentCase{5}),
                         [](const testing::TestParamInfo<SilentCase>& case_info) {
                             return "After" + std::to_string(case_info.param.answers);
                         });

TEST_F(ControlPanelTest, StaleMessageCountsAsTheFirstReply) {
    // One reply waits on the pair endpoint before the benchmark; the peer then
    // answers only 999 of the 1000 pings, and the benchmark still completes.
    peer.send(MessageKind::event, "ping", nullptr, std::string(wire::simulation_control), "");
    answer_pings(999, 0);
    testing::internal::CaptureStdout();
    run_ping_test(app, 0, 2s);
    std::string out = testing::internal::GetCapturedStdout();
    responder.join();
    EXPECT_TRUE(is_timing_report(out, "[]")) << out;
    EXPECT_EQ(pings, 1000);
}

}  // namespace
