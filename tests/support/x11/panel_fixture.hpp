#pragma once
// The real vedrik under Xvfb on the panel's fixed ports, with the stand-in
// simulator, for the tests that drive the whole panel. The windows are pinned
// by tests/e2e/panel.ini; the positions below are in that layout, relative to
// the panel window's top-left corner.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "endpoint.hpp"
#include "peer_socket.hpp"
#include "x_session.hpp"

// A rectangle of the panel window.
struct PanelRegion {
    int x, y, width, height;
};

namespace panel_layout {
// Centres of the controls.
inline constexpr int step_x = 35, step_y = 66;
inline constexpr int init_im_x = 46, init_im_y = 89;
inline constexpr int run_test_0_x = 52, run_test_0_y = 135;
inline constexpr int reg3_x = 320, reg3_y = 158;
// The hex cells of instruction word 0's bytes 0 and 3 (row 000).
inline constexpr int im_byte0_x = 585, im_byte3_x = 639, im_row0_y = 64;
// Data memory byte 0 and byte 1 (row 00).
inline constexpr int dm_byte0_x = 577, dm_byte1_x = 595, dm_row0_y = 404;
// The insides of the three mirror windows, below their title bars.
inline constexpr PanelRegion register_file{222, 52, 296, 446};
inline constexpr PanelRegion instruction_memory{532, 52, 596, 306};
inline constexpr PanelRegion data_memory{532, 392, 596, 306};
// A spot over no window, where the pointer hovers nothing.
inline constexpr int idle_x = 1200, idle_y = 600;
}  // namespace panel_layout

class PanelFixture : public ::testing::Test {
protected:
    // Starts vedrik in a fresh working directory with the pinned layout and
    // waits for its window. run_name tells runs within one test apart.
    void start_panel(const std::string& run_name = "panel");
    // Starts the stand-in on the fixed ports with --quiet and extra, and
    // waits until both its connections are established.
    void start_standin(std::vector<std::string> extra = {});

    // SIGTERM to the stand-in, and its end.
    void stop_standin();
    // Dials the panel's bus as one of the simulator's components would, in
    // component, and waits until the panel has taken the connection.
    void attach_component();

    // An established TCP connection to the local port exists.
    static bool established(int port);

    void click(int dx, int dy);
    // Moves the pointer where it hovers nothing.
    void park_pointer();

    // Waits until the panel's standard output holds text.
    bool stdout_has(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10));

    // The brightest channel value in a 12 x 8 box around a hex cell: bright
    // digits for a nonzero byte, greyed digits for a zero one.
    int cell_brightness(const std::string& shot, int dx, int dy);

    // Saves region of the panel window out of a screenshot as its own PNG.
    bool crop(const std::string& shot, PanelRegion region, const std::string& out);
    // The pixels of a region of the panel window, read from the screen.
    std::vector<std::uint32_t> pixels(PanelRegion region);
    // Waits until a region's pixels differ from before; false after limit.
    bool pixels_change(PanelRegion region, const std::vector<std::uint32_t>& before,
                       std::chrono::milliseconds limit = std::chrono::seconds(5));

    // The number of pixels in which two PNGs of one size differ; -1 when
    // they cannot be compared.
    static long differing_pixels(const std::string& a, const std::string& b);

    // A line of /proc/<pid>/status of the panel in kB ("VmRSS", "VmHWM"); -1 when unreadable.
    long status_kb(const char* field);

    // File > Quit, then the exit code (-1 when it did not end within 10 s).
    int quit_and_wait();

    // Added to the panel's environment by start_panel.
    std::map<std::string, std::string> panel_env;

    XSession x;
    TempDir dir;
    std::unique_ptr<ChildProcess> panel;
    std::unique_ptr<ChildProcess> standin;
    std::string component_url{"tcp://127.0.0.1:31337"};
    std::unique_ptr<PeerSocket> component;
    unsigned long window = 0;
    WindowGeometry origin;
    std::string run_dir;  // the panel's working directory
};

// One line of the panel's console for a received event.
std::string envelope_line(const char* origin, const char* sub_type, const std::string& data);
