#pragma once
// A private X server (Xvfb) for tests that drive the real vedrik window, with
// the few things those tests do to it: find the window, click, type, take a
// screenshot, read pixels, and close it the way a window manager does.
// Every wait is bounded.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "child_process.hpp"

struct WindowGeometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
};

class XSession {
public:
    // Starts Xvfb on a free display number with one 1280 x 800 x 24 screen.
    // Throws std::runtime_error when no server comes up within a few seconds.
    XSession();
    ~XSession();

    // ":N", for DISPLAY.
    const std::string& display() const { return display_; }

    // The id of the top-level window with exactly this title, waiting up to timeout.
    std::optional<unsigned long> find_window(const std::string& title, std::chrono::seconds timeout);
    WindowGeometry geometry(unsigned long window);

    // xdotool: moves the pointer to a screen position, waits, clicks button 1.
    void click(int x, int y);
    void type(const std::string& text);
    void key(const std::string& name);

    // Saves the whole screen as PNG; returns false when it could not.
    bool screenshot(const std::string& path);
    // One pixel of a saved screenshot.
    static std::optional<Rgb> pixel(const std::string& png_path, int x, int y);

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
    std::string display_;
    std::unique_ptr<ChildProcess> server_;
    struct _XDisplay* xlib_ = nullptr;  // for pixels, opened on first use
};
