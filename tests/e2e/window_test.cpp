// The real vedrik window under Xvfb, started with no saved layout: it appears
// with its title, clears to its background colour, opens its windows in its
// first layout, writes imgui.ini, and ends with exit code 0 when closed by a
// window manager or by File > Quit. Without a display to show it on, it
// says so and ends at once.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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

TEST_F(VedrikWindow, WithoutImguiIniItsWindowsOpenWhereTheTestsPinThem) {
    start_panel("first", Layout::fresh);
    park_pointer();
    const auto first = pixels({0, 0, origin.width, origin.height});
    EXPECT_EQ(quit_and_wait(), 0) << panel->stderr_text();
    start_panel("pinned", Layout::pinned);
    park_pointer();
    const auto pinned = pixels({0, 0, origin.width, origin.height});
    EXPECT_EQ(differing_pixels(first, pinned), 0) << "the first layout is the one tests/e2e/panel.ini pins";
}

TEST_F(VedrikWindow, FileQuitEndsWithExitCodeZero) {
    start_panel("window", Layout::fresh);
    EXPECT_EQ(quit_and_wait(), 0) << panel->stderr_text();
}

// A TCP listener on 127.0.0.1:port, so that another listen there fails.
class HeldPort {
public:
    explicit HeldPort(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        // As nng's listeners do: connections of earlier tests on the port
        // may still be in TIME_WAIT.
        const int on = 1;
        held_ = fd_ >= 0 && setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(fd_, 1) == 0;
    }
    ~HeldPort() {
        if (fd_ >= 0) close(fd_);
    }
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;
    bool held() const { return held_; }

private:
    int fd_;
    bool held_ = false;
};

// An X display number with no server behind it.
std::string display_without_server() {
    struct stat st{};
    for (int n = 200; n < 1000; ++n) {
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
        const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
        if (stat(socket.c_str(), &st) != 0 && stat(lock.c_str(), &st) != 0) return ":" + std::to_string(n);
    }
    return {};
}

struct NoDisplayCase {
    const char* name;
    bool set_display;  // to a display with no server; else DISPLAY is unset
    const char* error_tail;
};

std::ostream& operator<<(std::ostream& out, const NoDisplayCase& c) { return out << c.name; }

class NoDisplay : public testing::TestWithParam<NoDisplayCase> {};

// SDL would fall back to a driver that draws nowhere: the panel says which
// display is missing, on standard output, listens on nothing and fails.
TEST_P(NoDisplay, SaysWhichDisplayIsMissingListensOnNothingAndFails) {
    const NoDisplayCase& c = GetParam();
    // A listen of the panel's would fail here, and say so on standard error.
    HeldPort bus(31337), pair(31338);
    ASSERT_TRUE(bus.held() && pair.held()) << "the panel's ports are in use";
    TempDir dir;
    std::vector<std::string> argv{"/usr/bin/env", "-u", "WAYLAND_DISPLAY", "-u", "SDL_VIDEODRIVER"};
    std::string display;
    if (c.set_display) {
        display = display_without_server();
        ASSERT_FALSE(display.empty());
        argv.push_back("DISPLAY=" + display);
    } else {
        argv.insert(argv.end(), {"-u", "DISPLAY"});
    }
    argv.push_back(VEDRIK_BINARY);
    ChildProcess panel({argv, {}, dir.path(), dir.file("out"), dir.file("err")});
    EXPECT_EQ(panel.wait_for(10s), 255) << "main's -1";
    std::string tail = c.error_tail;
    if (c.set_display) tail = "the X display \"" + display + "\" (DISPLAY) does not answer";
    EXPECT_EQ(panel.stdout_text(), "Error: no display to show the window on: " + tail + "\n");
    EXPECT_EQ(panel.stderr_text().find("Unable to establish"), std::string::npos) << panel.stderr_text();
    EXPECT_FALSE(std::filesystem::exists(dir.file("imgui.ini")));
}

INSTANTIATE_TEST_SUITE_P(Displays, NoDisplay,
                         testing::Values(NoDisplayCase{"unset", false, "DISPLAY is not set"},
                                         NoDisplayCase{"no_server", true, ""}),
                         [](const testing::TestParamInfo<NoDisplayCase>& case_info) {
                             return std::string(case_info.param.name);
                         });

}  // namespace
