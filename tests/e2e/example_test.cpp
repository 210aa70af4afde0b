// The example simulator of examples/ against the real panel: what it
// publishes shows in the panel, and the panel's commands reach it.

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

#include "support/x11/panel_fixture.hpp"

namespace {

using namespace std::chrono_literals;
using namespace panel_layout;

class ExampleSimulator : public PanelFixture {
protected:
    void start_example() {
        example = std::make_unique<ChildProcess>(ChildProcess::Options{
            {EXAMPLE_BINARY}, {}, dir.path(), dir.file("example-out.txt"), dir.file("example-err.txt")});
        ASSERT_TRUE(wait_until([] { return established(31337) && established(31338); }, 10s))
            << "the example never connected: " << example->stderr_text();
    }

    bool example_printed(const std::string& text) {
        return wait_until([&] { return example->stdout_text().find(text) != std::string::npos; }, 10s);
    }

    std::unique_ptr<ChildProcess> example;
};

constexpr int bright = 200;  // zero bytes are drawn at about half that

TEST_F(ExampleSimulator, ItsEventsShowInThePanelAndThePanelsCommandsReachIt) {
    start_panel();
    start_example();
    const std::string published =
        envelope_line("QZ3_MK.instruction_memory", "load", R"({"start":0,"values":[69634,73731]})") +
        envelope_line("QZ3_MK.instruction_memory", "write", R"({"address":2,"value":12546})") +
        envelope_line("QZ3_MK.register_file", "load", R"({"start":0,"values":[10,11,12]})") +
        envelope_line("QZ3_MK.register_file", "write", R"({"register_number":3,"value":42})") +
        envelope_line("QZ3_MK.data_memory", "load", R"({"start":0,"values":[1,2,3,4]})") +
        envelope_line("QZ3_MK.data_memory", "write", R"({"address":4,"value":5})");
    ASSERT_TRUE(stdout_has(published)) << panel->stdout_text();
    EXPECT_EQ(panel->stderr_text().find("event not applied"), std::string::npos) << panel->stderr_text();
    wait_until([&] { return cell_brightness(dm_byte0_x, dm_row0_y) >= bright &&
                            cell_brightness(im_byte0_x, im_row0_y) >= bright; },
               5s);
    EXPECT_GE(cell_brightness(dm_byte0_x, dm_row0_y), bright) << "data byte 0 is 01";
    EXPECT_GE(cell_brightness(im_byte0_x, im_row0_y), bright) << "word 0 = 0x00011002: byte 0 is 02";

    click(step_x, step_y);
    EXPECT_TRUE(example_printed(
        R"(pair < {"data":null,"destination":"QZ3_MK.simulation_control","message_sub_type":"step","message_type":"command","origin":""})"
        "\n"))
        << example->stdout_text();
    click(init_im_x, init_im_y);
    EXPECT_TRUE(example_printed(
        R"(pair < {"data":{"start":0,"values":[69634,73731,12546,327683]},"destination":"QZ3_MK.instruction_memory","message_sub_type":"load","message_type":"command","origin":""})"
        "\n"))
        << example->stdout_text();

    // The benchmark ends only if every ping is answered.
    click(run_test_0_x, run_test_0_y);
    ASSERT_TRUE(stdout_has("test done in: ")) << panel->stdout_text();
    EXPECT_TRUE(example_printed("pair < ping with 0 values\n"));

    click(reg3_x, reg3_y);
    press("ctrl+a", reg3_field);
    type("7");
    press("Return", reg3_field);
    EXPECT_TRUE(example_printed(
        R"(bus < {"data":{"register_number":3,"value":7},"destination":"","message_sub_type":"write","message_type":"command","origin":"register_file"})"
        "\n"))
        << example->stdout_text();

    EXPECT_EQ(quit_and_wait(), 0);
    example->signal(SIGTERM);
    EXPECT_EQ(example->wait_for(5s), 0) << "Ctrl+C or SIGTERM ends it";
}

}  // namespace
