#include "support/x11/x_session.hpp"

#include <csignal>
#include <stdexcept>

#include <X11/Xlib.h>
#include <X11/Xatom.h>
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

namespace {

// A window that vanished between two requests is no reason to end the
// program (Xlib's default handler exits): its request reads as failed.
int ignore_x_errors(Display*, XErrorEvent*) { return 0; }

// The window's title: WM_NAME, or _NET_WM_NAME where only that is set.
bool titled(Display* dpy, Window window, const std::string& title) {
    for (Atom property : {XA_WM_NAME, XInternAtom(dpy, "_NET_WM_NAME", False)}) {
        XTextProperty name{};
        if (XGetTextProperty(dpy, window, &name, property) == 0 || name.value == nullptr) continue;
        const bool same = std::string(reinterpret_cast<const char*>(name.value), name.nitems) == title;
        XFree(name.value);
        if (same) return true;
    }
    return false;
}

}  // namespace

std::optional<unsigned long> XSession::window_now(const std::string& title) {
    Display* dpy = xlib();
    if (dpy == nullptr) return std::nullopt;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    std::optional<unsigned long> found;
    if (XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count) == 0) return found;
    for (unsigned int i = 0; i < count && !found; ++i) {
        if (titled(dpy, children[i], title)) found = children[i];
    }
    if (children != nullptr) XFree(children);
    return found;
}

std::optional<unsigned long> XSession::find_window(const std::string& title, std::chrono::seconds timeout) {
    std::optional<unsigned long> found;
    wait_until([&] { return (found = window_now(title)).has_value(); }, timeout);
    return found;
}

WindowGeometry XSession::geometry(unsigned long window) {
    WindowGeometry g;
    Display* dpy = xlib();
    XWindowAttributes attributes{};
    if (dpy == nullptr || XGetWindowAttributes(dpy, window, &attributes) == 0) return g;
    Window child = 0;
    XTranslateCoordinates(dpy, window, DefaultRootWindow(dpy), 0, 0, &g.x, &g.y, &child);
    g.width = attributes.width;
    g.height = attributes.height;
    g.viewable = attributes.map_state == IsViewable;
    return g;
}

Display* XSession::xlib() {
    if (xlib_ == nullptr) {
        XSetErrorHandler(ignore_x_errors);
        xlib_ = XOpenDisplay(display_.c_str());
    }
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
