// The real vedrik window under Xvfb, started with no saved layout: it appears
// with its title, clears to its background colour, writes imgui.ini, and ends
// with exit code 0 when closed by a window manager or by File > Quit.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/x11/panel_fixture.hpp"

namespace {

using namespace std::chrono_literals;

using VedrikWindow = PanelFixture;

TEST_F(VedrikWindow, OpensAtItsSizeAndClearsToTheBackgroundColour) {
    start_panel("window", Layout::fresh);
    EXPECT_EQ(origin.width, 1280);
    EXPECT_EQ(origin.height, 720);
    // Well below the menu bar, where no window is drawn: (0.45, 0.55, 0.60).
    const auto corner = pixels({origin.width - 10, origin.height - 10, 1, 1});
    ASSERT_EQ(corner.size(), 1u);
    EXPECT_NEAR((corner[0] >> 16) & 0xFF, 115, 2);
    EXPECT_NEAR((corner[0] >> 8) & 0xFF, 140, 2);
    EXPECT_NEAR(corner[0] & 0xFF, 153, 2);
}

TEST_F(VedrikWindow, WindowManagerCloseEndsWithExitCodeZeroAndWritesSettings) {
    start_panel("window", Layout::fresh);
    ASSERT_TRUE(x.close_window(window));
    // Bounded: a panel that does not end is a failure, not a stalled run.
    EXPECT_EQ(panel->wait_for(10s), 0) << panel->stderr_text();
    std::ifstream ini(run_dir + "/imgui.ini");
    ASSERT_TRUE(ini.good());
    const std::string saved((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
    EXPECT_NE(saved.find("[Window][Main]"), std::string::npos) << saved;
    EXPECT_NE(saved.find("[Vedrik][Settings]\nHighlightChanges=1\n"), std::string::npos) << saved;
}

TEST_F(VedrikWindow, FileQuitEndsWithExitCodeZero) {
    start_panel("window", Layout::fresh);
    EXPECT_EQ(quit_and_wait(), 0) << panel->stderr_text();
}

}  // namespace
