// The real vedrik window under Xvfb: it appears with its title, clears to its
// background colour, writes imgui.ini, and ends with exit code 0 when closed
// by a window manager or by File > Quit.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "child_process.hpp"
#include "x_session.hpp"

namespace {

using namespace std::chrono_literals;

class VedrikWindow : public ::testing::Test {
protected:
    void SetUp() override {
        panel = std::make_unique<ChildProcess>(ChildProcess::Options{
            {VEDRIK_BINARY}, {{"DISPLAY", x.display()}}, dir.path(), dir.file("stdout.txt"), dir.file("stderr.txt")});
        auto found = x.find_window("Vedrik", 20s);
        ASSERT_TRUE(found.has_value()) << "no window titled Vedrik; stderr: " << panel->stderr_text();
        window = *found;
        geometry = x.geometry(window);
        // A few frames so that the first one has been drawn and swapped.
        std::this_thread::sleep_for(500ms);
    }

    // Bounded: a panel that does not end is a failure, not a stalled run.
    std::optional<int> exit_code() { return panel->wait_for(10s); }

    XSession x;
    TempDir dir;
    std::unique_ptr<ChildProcess> panel;
    unsigned long window = 0;
    WindowGeometry geometry;
};

TEST_F(VedrikWindow, OpensAtItsSizeAndClearsToTheBackgroundColour) {
    EXPECT_EQ(geometry.width, 1280);
    EXPECT_EQ(geometry.height, 720);
    std::string shot = dir.file("shot.png");
    ASSERT_TRUE(x.screenshot(shot));
    // Well below the menu bar, where no window is drawn: (0.45, 0.55, 0.60).
    auto c = XSession::pixel(shot, geometry.x + geometry.width - 10, geometry.y + geometry.height - 10);
    ASSERT_TRUE(c.has_value());
    EXPECT_NEAR(c->r, 115, 2);
    EXPECT_NEAR(c->g, 140, 2);
    EXPECT_NEAR(c->b, 153, 2);
}

TEST_F(VedrikWindow, WindowManagerCloseEndsWithExitCodeZeroAndWritesSettings) {
    ASSERT_TRUE(x.close_window(window));
    EXPECT_EQ(exit_code(), 0) << panel->stderr_text();
    EXPECT_TRUE(std::filesystem::exists(dir.file("imgui.ini")));
}

TEST_F(VedrikWindow, FileQuitEndsWithExitCodeZero) {
    // "File" sits at the left of the main menu bar; "Quit" is the first item of its menu.
    x.click(geometry.x + 18, geometry.y + 9);
    x.click(geometry.x + 28, geometry.y + 30);
    EXPECT_EQ(exit_code(), 0) << panel->stderr_text();
}

}  // namespace
