#include "x_session.hpp"

#include <csignal>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace {

constexpr auto server_start_limit = std::chrono::seconds(10);

}  // namespace

// Xvfb picks the first display number that is free (-displayfd) and writes
// it to its standard output once it listens.
XSession::XSession() {
    const std::string number_file = files_.file("display");
    server_ = std::make_unique<ChildProcess>(ChildProcess::Options{
        {"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"},
        {},
        "",
        number_file,
        files_.file("server-err.txt")});
    const bool up = wait_until(
        [&] { return read_file(number_file).find('\n') != std::string::npos || !server_->running(); },
        server_start_limit);
    if (!up || !server_->running()) {
        throw std::runtime_error("could not start Xvfb: " + read_file(files_.file("server-err.txt")));
    }
    display_ = ":" + std::to_string(std::stoi(read_file(number_file)));
}

// SIGTERM, not the SIGKILL of ChildProcess: Xvfb then removes its lock file
// and socket.
XSession::~XSession() {
    if (xlib_ != nullptr) XCloseDisplay(xlib_);
    server_->signal(SIGTERM);
    server_->wait_for(std::chrono::seconds(5));
}

int XSession::run(const std::string& command, std::string* output, std::chrono::seconds timeout) {
    return run_command("DISPLAY=" + display_ + " " + command, output, timeout);
}

// xdotool's search ends with an X error (BadWindow) when a window it lists
// is destroyed before it reads the window's name, as a program starting up
// may do with a window of its own: it is searched again until the time is up.
std::optional<unsigned long> XSession::find_window(const std::string& title, std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::seconds>(deadline - std::chrono::steady_clock::now());
        if (left <= std::chrono::seconds(0)) return std::nullopt;
        std::string out;
        const int rc = run("xdotool search --sync --limit 1 --name '^" + title + "$' 2>/dev/null", &out, left);
        std::istringstream in(out);
        unsigned long id = 0;
        if (rc == 0 && in >> id) return id;
        if (rc == 124) return std::nullopt;  // timed out
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

WindowGeometry XSession::geometry(unsigned long window) {
    std::string out;
    run("xdotool getwindowgeometry --shell " + std::to_string(window), &out);
    WindowGeometry g;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq);
        int value = std::atoi(line.c_str() + eq + 1);
        if (key == "X") g.x = value;
        if (key == "Y") g.y = value;
        if (key == "WIDTH") g.width = value;
        if (key == "HEIGHT") g.height = value;
    }
    return g;
}

Display* XSession::xlib() {
    if (xlib_ == nullptr) xlib_ = XOpenDisplay(display_.c_str());
    return xlib_;
}

// Through XTest, as a pointing device moves it: xdotool's mousemove warps the
// pointer, which SDL's X11 back end does not take as motion (it follows
// XInput2's raw motion), so that Dear ImGui would still see the old position.
// XSync: the server has the request before this returns.
void XSession::move(int x, int y) {
    Display* dpy = xlib();
    if (dpy == nullptr) return;
    XTestFakeMotionEvent(dpy, -1, x, y, CurrentTime);
    XSync(dpy, False);
}

void XSession::press_button(bool down) {
    Display* dpy = xlib();
    if (dpy == nullptr) return;
    XTestFakeButtonEvent(dpy, 1, down ? True : False, CurrentTime);
    XSync(dpy, False);
}

void XSession::click(int x, int y) {
    move(x, y);
    press_button(true);
    press_button(false);
}

void XSession::type(const std::string& text) { run("xdotool type --delay 60 '" + text + "'"); }

bool XSession::key(const std::string& name, const std::function<bool()>& held_long_enough,
                   std::chrono::milliseconds limit) {
    run("xdotool keydown " + name);
    const bool seen = wait_until(held_long_enough, limit);
    run("xdotool keyup " + name);
    return seen;
}

std::vector<std::uint32_t> XSession::pixels(int x, int y, int width, int height) {
    if (xlib() == nullptr) return {};
    XImage* image = XGetImage(xlib_, DefaultRootWindow(xlib_), x, y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) return {};
    std::vector<std::uint32_t> out;
    out.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) out.push_back(static_cast<std::uint32_t>(XGetPixel(image, col, row)) & 0xFFFFFFu);
    }
    XDestroyImage(image);
    return out;
}

bool XSession::close_window(unsigned long window) {
    Display* dpy = XOpenDisplay(display_.c_str());
    if (dpy == nullptr) return false;
    Atom protocols = XInternAtom(dpy, "WM_PROTOCOLS", False);
    Atom delete_window = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(delete_window);
    event.xclient.data.l[1] = CurrentTime;
    Status ok = XSendEvent(dpy, window, False, NoEventMask, &event);
    XFlush(dpy);
    XCloseDisplay(dpy);
    return ok != 0;
}
