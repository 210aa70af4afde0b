#pragma once
// The real vedrik under Xvfb on the panel's fixed ports, with the stand-in
// simulator, for the tests that drive the whole panel. The windows are pinned
// by tests/e2e/panel.ini, the panel's first layout too; the positions of
// panel_layout.hpp are in that layout.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "messaging/endpoint.hpp"
#include "support/child_process.hpp"
#include "support/proc_stats.hpp"
#include "support/x11/panel_layout.hpp"
#include "support/x11/x_session.hpp"

// The two kinds of display the frame loop meets: Xvfb's software renderer
// refuses vsync; a desktop GPU's driver grants it and blocks each swap until
// the next refresh, which granted_vsync, preloaded into the panel, emulates.
enum class Vsync { refused, granted };

// Adds to env, the environment a panel is started with, what makes it meet
// the display vsync.
inline void use_display(Vsync vsync, std::map<std::string, std::string>& env) {
    if (vsync == Vsync::granted) env["LD_PRELOAD"] = GRANTED_VSYNC_LIBRARY;
}

// Waits in this fixture are on what the panel shows or does, each with a
// bound; one that runs out fails the test at that step, with what it saw.
// Input goes in as a person's does: the pointer moves (XTest motion, so
// hover shows), then the button goes down and up. After each input the
// panel must wake for it; then, where the test needs its outcome, the wait
// is for that outcome on the screen or the console (click_until,
// stdout_has, pixels_become). The panel runs frames only while something
// can change its window and sleeps otherwise; settle waits until it sleeps
// again, for the tests that need it idle.
class PanelFixture : public ::testing::Test {
protected:
    enum class Layout {
        pinned,  // the windows where tests/e2e/panel.ini puts them
        fresh,   // no imgui.ini: the panel's own first layout
    };
    // Which build of a program to start.
    enum class Build {
        native,   // this tree's, for Linux
        windows,  // the Windows build's (scripts/windows.sh), under Wine
    };

    // Starts vedrik in a fresh working directory and waits until its window
    // shows its first frame and the panel has settled. run_name tells runs
    // within one test apart.
    void start_panel(const std::string& run_name = "panel", Layout layout = Layout::pinned,
                     Build build = Build::native);
    // Starts the stand-in on the fixed ports with --quiet and extra, and
    // waits until both its connections are established.
    void start_standin(std::vector<std::string> extra = {}, Build build = Build::native);

    // The Windows build's folder of programs (with SDL2.dll), and whether
    // it holds the panel and Wine is installed: a test of the Windows build
    // skips without them.
    static std::string windows_bin_dir();
    static bool windows_build_present();
    // Where start_panel and start_standin take the Windows programs from.
    std::string windows_programs = windows_bin_dir();
    // The argument vector that starts a Windows program (a path) under Wine.
    std::vector<std::string> wine_command(const std::string& program);

    // SIGTERM to the stand-in, and its end.
    void stop_standin();
    // Dials the panel's bus as one of the simulator's components would, in
    // component, and waits until the panel has taken the connection.
    void attach_component();

    // Sends an event with origin from through component, waiting first
    // until the panel has printed all but a few of those sent before: a bus
    // drops a message when the connection's send queue (16 messages in nng)
    // is full, which a sender that does not wait soon makes it. False when
    // the panel fell behind for 10 s.
    bool send_paced(const std::string& sub_type, const Message& data, const std::string& from);

    // Waits until the panel has handled everything sent to it: all its
    // threads and the X server's asleep, their processor time still for a
    // while. False after limit (a panel that is kept busy, by a stream,
    // never settles).
    bool settle(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Processor time of every thread of the panel so far.
    std::chrono::nanoseconds panel_cpu() const;

    // Input, each followed by a wait until the panel has woken for it and
    // settled (at most settle_limit).
    void click(int dx, int dy, std::chrono::milliseconds settle_limit = std::chrono::seconds(10));
    // Clicks and waits until shown gives true (at most 10 s); a failure of
    // the test naming what never showed, and false, otherwise.
    bool click_until(int dx, int dy, const std::function<bool()>& shown, const std::string& what);
    // Moves the pointer where it hovers nothing.
    void park_pointer();
    void type(const std::string& text);
    // Holds a key down until watched shows a change (the frame that read it
    // has been drawn; at most 1 s), then releases it.
    void press(const std::string& key, PanelRegion watched,
               std::chrono::milliseconds settle_limit = std::chrono::seconds(10));

    // The panel's standard output so far, its line ends as "\n" (a Windows
    // console program ends its lines with "\r\n").
    std::string console_text() const;
    // Waits until the panel's standard output (console_text) holds text.
    bool stdout_has(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Waits until the panel has printed at least lines lines.
    bool stdout_lines_reach(long long lines, std::chrono::milliseconds limit = std::chrono::seconds(10));

    // The pixels of a region of the panel window, read from the screen.
    std::vector<std::uint32_t> pixels(PanelRegion region);
    // Waits until a region's pixels are expected; false after limit.
    bool pixels_become(PanelRegion region, const std::vector<std::uint32_t>& expected,
                       std::chrono::milliseconds limit = std::chrono::seconds(5));
    // The number of pixels in which two images of one region differ.
    static long differing_pixels(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b);

    // The brightest luma in a 12 x 8 box around a hex cell, on the screen
    // now: bright digits for a nonzero byte, greyed digits for a zero one.
    int cell_brightness(int dx, int dy);

    // With the stand-in attached: clicks "Init IM" and "Step" four times and
    // checks the five events printed and the memory cells they change.
    void init_im_and_four_steps();

    // File > Quit, then the exit code (-1 when it did not end within 10 s).
    int quit_and_wait();

    // Added to the panel's environment by start_panel.
    std::map<std::string, std::string> panel_env;

    XSession x;
    TempDir dir;
    // Wine's session for the Windows programs, in a prefix of this test's
    // own whose first program runs with this test's DISPLAY: a session
    // started without one shows its windows on a smaller desktop. Made on
    // the first wine_command; ends every Wine process of the prefix first
    // thing in the fixture's teardown.
    struct WineSession {
        std::string prefix;
        std::map<std::string, std::string> env;  // WINEPREFIX, WINEDEBUG, DISPLAY
        ~WineSession();
    };
    std::unique_ptr<ChildProcess> panel;
    std::unique_ptr<ChildProcess> standin;
    std::unique_ptr<WineSession> wine;  // ended before the programs are reaped
    std::string component_url{"tcp://127.0.0.1:31337"};
    std::unique_ptr<Endpoint> component;
    unsigned long window = 0;
    WindowGeometry origin;
    std::string run_dir;  // the panel's working directory

private:
    long long paced_base_ = 0;  // lines printed when the component attached
    long long paced_sent_ = 0;

    // Waits (at most 5 s) until the panel's processor time moves on from
    // before: it has woken for step, what was just sent. A failure otherwise.
    void wait_woken(std::chrono::nanoseconds before, const std::string& step);
};

// One line of the panel's console for a received event.
std::string envelope_line(const char* origin, const char* sub_type, const std::string& data);

// Reads the data-memory write events printed in out, in order, as
// (address, value). Lines of anything else are counted in others.
std::vector<std::pair<int, int>> printed_writes(const std::string& out, long long& others);

// A PanelFixture whose panel meets the display of the test's parameter, for
// the suites that run on both kinds:
//   INSTANTIATE_TEST_SUITE_P(Display, Suite, testing::Values(Vsync::refused, Vsync::granted), vsync_name);
class OnEachDisplay : public PanelFixture, public testing::WithParamInterface<Vsync> {
protected:
    void SetUp() override { use_display(GetParam(), panel_env); }
};

inline std::string vsync_name(const testing::TestParamInfo<Vsync>& info) {
    return info.param == Vsync::granted ? "VsyncGranted" : "VsyncRefused";
}
