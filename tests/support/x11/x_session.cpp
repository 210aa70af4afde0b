#include "x_session.hpp"

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

namespace {

constexpr auto server_start_limit = std::chrono::seconds(10);

bool display_in_use(int n) {
    return std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
           std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock");
}

}  // namespace

XSession::XSession() {
    int first = 100 + static_cast<int>(::getpid() % 400);
    for (int attempt = 0; attempt < 20; ++attempt) {
        int n = first + attempt;
        if (display_in_use(n)) continue;
        std::string display = ":" + std::to_string(n);
        auto server = std::make_unique<ChildProcess>(ChildProcess::Options{
            {"/usr/bin/Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"}, {}, "", "", ""});
        std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
        bool up = wait_until([&] { return std::filesystem::exists(socket) || !server->running(); },
                             std::chrono::duration_cast<std::chrono::milliseconds>(server_start_limit));
        if (up && server->running()) {
            display_ = display;
            server_ = std::move(server);
            return;
        }
    }
    throw std::runtime_error("could not start Xvfb");
}

XSession::~XSession() {
    if (xlib_ != nullptr) XCloseDisplay(xlib_);
}

int XSession::run(const std::string& command, std::string* output, std::chrono::seconds timeout) {
    return run_command("DISPLAY=" + display_ + " " + command, output, timeout);
}

std::optional<unsigned long> XSession::find_window(const std::string& title, std::chrono::seconds timeout) {
    std::string out;
    int rc = run("xdotool search --sync --limit 1 --name '^" + title + "$'", &out, timeout);
    if (rc != 0) return std::nullopt;
    std::istringstream in(out);
    unsigned long id = 0;
    if (!(in >> id)) return std::nullopt;
    return id;
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

void XSession::click(int x, int y) {
    // Not --sync: it waits for a motion event, and there is none when the
    // pointer is already there.
    run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    run("xdotool click 1");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

void XSession::type(const std::string& text) { run("xdotool type --delay 60 '" + text + "'"); }

// Dear ImGui 1.86 samples key state once per frame: a press and release in
// one frame is never seen, so the key is held for a few frames.
void XSession::key(const std::string& name) {
    run("xdotool keydown " + name);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    run("xdotool keyup " + name);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

bool XSession::screenshot(const std::string& path) {
    return run("import -window root " + path) == 0 && std::filesystem::exists(path);
}

std::optional<Rgb> XSession::pixel(const std::string& png_path, int x, int y) {
    std::string out;
    std::string cmd = "convert " + png_path + " -format '%[fx:int(255*p{" + std::to_string(x) + "," +
                      std::to_string(y) + "}.r)],%[fx:int(255*p{" + std::to_string(x) + "," + std::to_string(y) +
                      "}.g)],%[fx:int(255*p{" + std::to_string(x) + "," + std::to_string(y) + "}.b)]' info:";
    if (run_command(cmd, &out) != 0) return std::nullopt;
    Rgb c;
    if (std::sscanf(out.c_str(), "%d,%d,%d", &c.r, &c.g, &c.b) != 3) return std::nullopt;
    return c;
}

std::vector<std::uint32_t> XSession::pixels(int x, int y, int width, int height) {
    if (xlib_ == nullptr) xlib_ = XOpenDisplay(display_.c_str());
    if (xlib_ == nullptr) return {};
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
