#pragma once
// A private X server (Xvfb) for the tests and benchmarks that drive the real
// vedrik window, with the few things they do to it: find the window, click,
// type, read pixels, and close it the way a window manager does. Every wait
// is bounded.
//
// The pointer moves and clicks through XTest, as a mouse does; keys go out
// through xdotool (which types through XTest too). Input returns once the
// server has it: waiting until the panel has handled it is the caller's (see
// PanelFixture).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.hpp"

// A top-level window's place on the screen (there is no window manager, so
// the window is the root's child and its position is the screen's).
struct WindowGeometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool viewable = false;  // mapped: its pixels are on the screen
};

class XSession {
public:
    // Starts Xvfb on a free display number with one 1280 x 800 x 24 screen.
    // Throws std::runtime_error when no server comes up within 10 s.
    XSession();
    ~XSession();

    // ":N", for DISPLAY.
    const std::string& display() const { return display_; }
    // The X server's process.
    int server_pid() const { return server_->pid(); }

    // The id of the top-level window with exactly this title, if there is
    // one now; asks the server directly, cheap enough to poll.
    std::optional<unsigned long> window_now(const std::string& title);
    // The same, waiting up to timeout.
    std::optional<unsigned long> find_window(const std::string& title, std::chrono::seconds timeout);
    // All zero when the window is gone.
    WindowGeometry geometry(unsigned long window);

    // Moves the pointer to a screen position.
    void move(int x, int y);
    // Presses or releases button 1 where the pointer is.
    void press_button(bool down);
    // Moves the pointer to a screen position and clicks button 1 there. A
    // press and its release that reach the panel within one frame are taken
    // in two frames.
    void click(int x, int y);
    void type(const std::string& text);
    // Holds a key (xdotool's name, "ctrl+a") down until held_long_enough
    // gives true or limit passes, then releases it: Dear ImGui 1.86 reads a
    // key's state once a frame, and a press released before a frame has
    // read it is never seen. False when the limit passed.
    bool key(const std::string& name, const std::function<bool()>& held_long_enough,
             std::chrono::milliseconds limit);

    // The pixels of a rectangle of the screen as 0xRRGGBB, row by row, read
    // straight from the server (cheap enough to poll); empty when they
    // cannot be read.
    std::vector<std::uint32_t> pixels(int x, int y, int width, int height);

    // Sends WM_DELETE_WINDOW, what a window manager's close button sends.
    bool close_window(unsigned long window);

    // Runs a command with DISPLAY set to this session.
    int run(const std::string& command, std::string* output = nullptr,
            std::chrono::seconds timeout = std::chrono::seconds(20));

private:
    TempDir files_;  // the server's output
    std::string display_;
    std::unique_ptr<ChildProcess> server_;
    struct _XDisplay* xlib_ = nullptr;  // for pixels and XTest, opened on first use
    struct _XDisplay* xlib();
};
