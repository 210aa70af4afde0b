// The whole panel: the real vedrik under Xvfb with the stand-in simulator on
// the panel's fixed ports, driven with xdotool. The windows are pinned by the
// imgui.ini beside this file; the click positions below are in that layout.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "child_process.hpp"
#include "endpoint.hpp"
#include "wire_names.hpp"
#include "x_session.hpp"

namespace {

using namespace std::chrono_literals;

// Centres of the controls, relative to the panel window's top-left corner.
constexpr int step_x = 35, step_y = 66;
constexpr int init_im_x = 46, init_im_y = 89;
constexpr int reg3_x = 320, reg3_y = 158;
// The hex cells of instruction word 0's bytes 0 and 3 (row 000).
constexpr int im_byte0_x = 585, im_byte3_x = 639, im_row0_y = 64;
// Data memory byte 0 and byte 1 (row 00).
constexpr int dm_byte0_x = 577, dm_byte1_x = 595, dm_row0_y = 404;

std::string envelope_line(const char* origin, const char* sub_type, const char* data) {
    return std::string("{\"data\":") + data + ",\"destination\":\"\",\"message_sub_type\":\"" + sub_type +
           "\",\"message_type\":\"event\",\"origin\":\"" + origin + "\"}\n";
}

class Panel : public ::testing::Test {
protected:
    void start_panel() {
        std::filesystem::copy_file(std::filesystem::path(__FILE__).parent_path() / "panel.ini", dir.file("imgui.ini"));
        panel = std::make_unique<ChildProcess>(ChildProcess::Options{
            {VEDRIK_BINARY}, {{"DISPLAY", x.display()}}, dir.path(), dir.file("stdout.txt"), dir.file("stderr.txt")});
        auto found = x.find_window("Vedrik", 20s);
        ASSERT_TRUE(found.has_value()) << panel->stderr_text();
        window = *found;
        origin = x.geometry(window);
    }

    void start_standin(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv{STANDIN_BINARY, "--quiet"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        standin = std::make_unique<ChildProcess>(
            ChildProcess::Options{argv, {}, dir.path(), dir.file("standin-out.txt"), dir.file("standin-err.txt")});
        ASSERT_TRUE(wait_until([] { return established(31337) && established(31338); }, 10s))
            << "the stand-in never connected";
    }

    static bool established(int port) {
        std::string out;
        run_command("ss -Htn state established \"( sport = :" + std::to_string(port) + " )\"", &out);
        return !out.empty();
    }

    void click(int dx, int dy) { x.click(origin.x + dx, origin.y + dy); }

    bool stdout_has(const std::string& text, std::chrono::seconds limit = 10s) {
        return wait_until([&] { return panel->stdout_text().find(text) != std::string::npos; }, limit);
    }

    // The brightest channel value in a 12 x 8 box around a hex cell: bright
    // digits for a nonzero byte, greyed digits for a zero one.
    int cell_brightness(const std::string& shot, int dx, int dy) {
        std::string out;
        run_command("convert " + shot + " -crop 12x8+" + std::to_string(origin.x + dx - 6) + "+" +
                        std::to_string(origin.y + dy - 4) + " -colorspace Gray -format '%[fx:int(255*maxima)]' info:",
                    &out);
        return std::atoi(out.c_str());
    }

    int quit_and_wait() {
        click(18, 9);
        click(28, 30);
        auto code = panel->wait_for(10s);
        return code ? *code : -1;
    }

    XSession x;
    TempDir dir;
    std::unique_ptr<ChildProcess> panel;
    std::unique_ptr<ChildProcess> standin;
    unsigned long window = 0;
    WindowGeometry origin;
};

constexpr int bright = 200;  // zero bytes are drawn at about half that

TEST_F(Panel, InitImAndFourStepsArriveAsEventsAndShowInTheMemoryWindows) {
    start_panel();
    start_standin();
    click(init_im_x, init_im_y);
    for (int i = 0; i < 4; ++i) click(step_x, step_y);

    const std::string expected =
        envelope_line("QZ3_MK.instruction_memory", "load", R"({"start":0,"values":[69634,73731,12546,327683]})") +
        envelope_line("QZ3_MK.register_file", "write", R"({"register_number":1,"value":1})") +
        envelope_line("QZ3_MK.data_memory", "write", R"({"address":0,"value":1})") +
        envelope_line("QZ3_MK.register_file", "write", R"({"register_number":3,"value":1})") +
        envelope_line("QZ3_MK.data_memory", "write", R"({"address":0,"value":5})");
    ASSERT_TRUE(stdout_has(expected)) << panel->stdout_text();

    std::this_thread::sleep_for(300ms);
    std::string shot = dir.file("after-steps.png");
    ASSERT_TRUE(x.screenshot(shot));
    EXPECT_GE(cell_brightness(shot, im_byte0_x, im_row0_y), bright) << "word 0 = 0x00011002: byte 0 is 02";
    EXPECT_LT(cell_brightness(shot, im_byte3_x, im_row0_y), bright) << "its byte 3 is 00";
    EXPECT_GE(cell_brightness(shot, dm_byte0_x, dm_row0_y), bright) << "data byte 0 is 05";
    EXPECT_EQ(quit_and_wait(), 0);
}

TEST_F(Panel, AnEditedRegisterComesBackAsTheSimulatorsEvent) {
    start_panel();
    start_standin();
    click(reg3_x, reg3_y);
    x.key("ctrl+a");
    x.type("42");
    x.key("Return");
    ASSERT_TRUE(stdout_has(envelope_line("QZ3_MK.register_file", "write", R"({"register_number":3,"value":42})")))
        << panel->stdout_text();
    EXPECT_NE(panel->stderr_text().find("{\"register_number\":3,\"value\":42}\n"), std::string::npos);
    EXPECT_EQ(quit_and_wait(), 0);
}

TEST_F(Panel, EventsOfNoViewArePrintedAndNotApplied) {
    start_panel();
    std::string bus_url(wire::bus_address);
    Endpoint component(&bus_url, EndpointKind::bus_dial);
    ASSERT_TRUE(component.connect());
    ASSERT_TRUE(component.wait_for_peer(10s));
    std::this_thread::sleep_for(200ms);
    component.send(MessageKind::event, "write", Message{{"address", 0}, {"value", 65}}, "QZ3_MK.simulation_control", "");
    component.send_body(encode(Message{{"message_sub_type", "write"}, {"data", {{"address", 0}, {"value", 65}}}}));
    component.send(MessageKind::event, "write", Message{{"address", 1}, {"value", 65}}, "QZ3_MK.data_memory", "");

    ASSERT_TRUE(stdout_has(envelope_line("QZ3_MK.simulation_control", "write", R"({"address":0,"value":65})") +
                           R"({"data":{"address":0,"value":65},"message_sub_type":"write"})" "\n" +
                           envelope_line("QZ3_MK.data_memory", "write", R"({"address":1,"value":65})")))
        << panel->stdout_text();
    std::this_thread::sleep_for(300ms);
    std::string shot = dir.file("routing.png");
    ASSERT_TRUE(x.screenshot(shot));
    EXPECT_LT(cell_brightness(shot, dm_byte0_x, dm_row0_y), bright) << "not applied: byte 0 stays 00";
    EXPECT_GE(cell_brightness(shot, dm_byte1_x, dm_row0_y), bright) << "applied: byte 1 is 41";
    EXPECT_EQ(quit_and_wait(), 0);
}

TEST_F(Panel, MalformedBodiesAreReportedAndThePanelRunsOn) {
    start_panel();
    start_standin({"--malformed"});
    ASSERT_TRUE(stdout_has(envelope_line("QZ3_MK.register_file", "write", R"({"register_number":15,"value":15})")))
        << panel->stdout_text();
    std::string out = panel->stdout_text();
    EXPECT_NE(out.find("message: [json.exception.parse_error."), std::string::npos);
    EXPECT_NE(out.find("exception id: "), std::string::npos);
    EXPECT_TRUE(panel->running());
    EXPECT_EQ(quit_and_wait(), 0) << panel->stderr_text();
}

TEST_F(Panel, ATakenBusPortIsReportedOnceAndThePairStillListens) {
    std::string bus_url(wire::bus_address);
    Endpoint squatter(&bus_url, EndpointKind::bus_listen);
    ASSERT_TRUE(squatter.connect());
    start_panel();
    ASSERT_TRUE(wait_until([&] { return !panel->stderr_text().empty(); }, 10s));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(panel->stderr_text(), "Unable to establish socket connection: Address in use\n");
    std::string pair_url(wire::pair_address);
    Endpoint component(&pair_url, EndpointKind::pair_dial);
    ASSERT_TRUE(component.connect());
    EXPECT_TRUE(component.wait_for_peer(10s)) << "the pair socket does not listen";
    EXPECT_EQ(quit_and_wait(), 0);
}

}  // namespace
