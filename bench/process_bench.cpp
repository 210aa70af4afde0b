// The panel as a process: what the real vedrik costs while idle, how soon an
// event sent to an idle panel is on its console and on the screen, how soon
// it listens and shows its first frame, and how much memory it holds before
// and after a stream of events and the four ping benchmarks. Each figure
// stands beside the same figure of empty_panel (bench/support/empty_panel.cpp:
// the same libraries set up the same way, an empty Dear ImGui frame drawn only
// when an SDL event comes), measured in the same run under the same Xvfb.
//
//   build/bench/process_bench [--rounds N] [--window SECONDS] [--starts N]
//                             [--flood N] [--rate PER_SECOND] [--events N]
//                             [--vedrik PATH] [--before PATH]
//                             [--only idle|latency|start|memory]
//
// --vedrik measures another build of the panel against the same baseline;
// --before adds an older build (an earlier commit, say) to the idle and
// latency tables, measured in the same run.
//
// Idle and latency are measured on two kinds of display: Xvfb as it is, whose
// software renderer refuses vsync, and Xvfb with the granted_vsync library
// preloaded into the subject, which makes the swap interval succeed and every
// buffer swap wait for the next 60 Hz tick, as a desktop GPU's driver does.
//
// Xvfb runs pinned to one processor (the bench sets its own affinity around
// each spawn, and a child inherits it). The starts are timed with the subject
// pinned there too: it shares one core with its X server as on a loaded
// machine, and the times do not depend on where the scheduler puts it. The
// idle and memory runs leave the subject and the stand-in free on every
// processor, as a user runs them: Mesa's llvmpipe starts one rasterizer
// thread per processor it may use, and none at all when it may use only one,
// so a pinned panel would hide the threads the idle goal is about. The
// bench's own polling runs on another processor when there is one, so that it
// takes none of the subject's time.
//
// The panel listens on its fixed ports 31337 and 31338, which the end-to-end
// tests and other runs of the panel use too: the bench
// moves itself into a network namespace of its own first (when it may, as
// root), so that they neither collide with its subjects nor hear them; where
// it may not, it stops when the ports are taken.
//
// Idle: CPU time (utime + stime from /proc) over a window of several seconds,
// once the window has shown its first frame and settled (with nothing
// attached, with a quiet stand-in attached, and after a component changed a
// few registers and bytes and their highlights faded out); "other threads" is
// the whole process (which keeps the time of threads that have ended) minus
// the main thread (the task whose tid is the pid), both as % of one core.
// Start: from the fork to both ports in LISTEN (/proc/net/tcp) and to the
// first frame (the window mapped and a row of its pixels no longer all black,
// read through Xlib every millisecond); beside it the CPU time the subject's
// threads had used by then, which depends less on the machine's other load.
// Wake-ups: the voluntary and involuntary context switches of all its
// threads (/proc/<pid>/task/*/status) over the same window, per second.
// Latency: an event is sent on the bus by a dialled peer every 300 ms; from
// the send to its line in the subject's standard output (polled every 0.2
// ms) and to a change of the data memory window's pixels (read through Xlib
// as fast as they come), medians over the events.
// Memory: VmHWM and VmRSS from /proc/<pid>/status.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "messaging/endpoint.hpp"
#include "support/child_process.hpp"
#include "support/x11/x_session.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int bus_port = 31337;
constexpr int pair_port = 31338;
constexpr auto settle_time = 1500ms;       // after the first frame, before an idle window opens
constexpr auto fade_time = 1500ms;         // a change's highlight fades out in this time
constexpr auto start_limit = 20s;          // longest wait for a window or a port
constexpr auto poll_period = 1ms;          // start: the port and pixel polls
constexpr double idle_process_goal = 0.5;  // % of a core, whole process
constexpr double console_goal_ms = 20.0;   // event to console line, median
constexpr double pixels_goal_ms = 40.0;    // event to pixels, median
constexpr auto event_spacing = 300ms;      // latency: the panel is idle before each event
constexpr double start_goal_ratio = 1.25;  // first frame, against the baseline
// Centres of the "run test" buttons, relative to the panel window's top-left
// corner, in the layout of tests/e2e/panel.ini (the "Main" window at 10,30:
// one button every 23 pixels below "Step").
constexpr int ping_button_x = 45;
constexpr int ping_button_y[] = {135, 158, 181, 204};
const char* const ping_labels[] = {"run test 0", "run test 100", "run test 1000", "run test 10000"};

struct Options {
    int rounds = 5;             // idle windows per subject
    double window_seconds = 6;  // length of one idle window
    int starts = 9;             // starts per subject
    long long flood = 200000;   // events of the stream
    long long rate = 8000;      // their pace per second; 0: as fast as the stand-in goes
    int events = 20;            // latency: events per subject and display
    std::string vedrik = VEDRIK_BINARY;
    std::string before;         // an older vedrik for the idle and latency tables
    std::string only;           // empty: every measurement
    bool runs(const char* part) const { return only.empty() || only == part; }
};

struct Subject {
    std::string name;    // as printed
    std::string binary;
    std::string title;   // of its window
};

// The display a subject runs on.
enum class Vsync { refused, granted };

const char* display_name(Vsync v) {
    return v == Vsync::granted ? "vsync granted (60 Hz swaps)" : "vsync refused (Xvfb as it is)";
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// --- processors ----------------------------------------------------------

int subject_cpu = 0;  // the subjects, Xvfb, the stand-in
int probe_cpu = 0;    // the bench's polling
cpu_set_t all_cpus;   // the processors this process may use

// Where a child runs: on subject_cpu alone, or on any processor as it would
// for a user.
enum class Placement { pinned, free };

void set_affinity(const cpu_set_t& set) {
    if (sched_setaffinity(0, sizeof set, &set) != 0) std::perror("sched_setaffinity");
}

void pin_to(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    set_affinity(set);
}

// Builds a child (or anything that forks one) with the placement's affinity,
// which the child inherits; the bench goes back to its own processor.
template <class Make>
auto placed(Placement placement, Make make) {
    if (placement == Placement::pinned) pin_to(subject_cpu);
    else set_affinity(all_cpus);
    auto made = make();
    pin_to(probe_cpu);
    return made;
}

// Picks the processor this process runs on for the subjects and another one
// it may use for itself.
void choose_processors() {
    CPU_ZERO(&all_cpus);
    sched_getaffinity(0, sizeof all_cpus, &all_cpus);
    const cpu_set_t& allowed = all_cpus;
    int current = sched_getcpu();
    subject_cpu = current >= 0 && CPU_ISSET(current, &allowed) ? current : 0;
    probe_cpu = subject_cpu;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (cpu != subject_cpu && CPU_ISSET(cpu, &allowed)) {
            probe_cpu = cpu;
            break;
        }
    }
    pin_to(probe_cpu);
    std::printf("Xvfb, and the subjects while they start, pinned to processor %d; the bench's polling on %d\n",
                subject_cpu, probe_cpu);
}

// --- the network --------------------------------------------------------

// Moves this process (before it starts any thread) into a new network
// namespace with its loopback interface up; false when it may not.
bool private_network() {
    if (unshare(CLONE_NEWNET) != 0) return false;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    close(fd);
    return up;
}

// --- /proc ---------------------------------------------------------------

// CPU time of the threads of pid so far, in ms, from each task's schedstat
// (nanoseconds on a processor), precise where stat's clock ticks are 10 ms.
double thread_cpu_ms(pid_t pid) {
    std::error_code ec;
    double ns = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        ns += std::atof(read_file(task.path().string() + "/schedstat").c_str());
    }
    return ns / 1e6;
}

// A "VmHWM:"-style line of /proc/<pid>/status, in kB.
long long status_kb(pid_t pid, const std::string& key) {
    std::istringstream in(read_file("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + key.size());
    }
    return -1;
}

// Context switches of all threads of pid so far.
long long context_switches(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    long long total = 0;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                total += std::atoll(line.c_str() + line.find(':') + 1);
            }
        }
    }
    return total;
}

// Whether 127.0.0.1:port has a socket in state st (0A: LISTEN, 01: ESTABLISHED).
bool tcp_state(int port, const char* st) {
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port);
    std::istringstream in(read_file("/proc/net/tcp"));
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local_address, remote_address, state;
        fields >> slot >> local_address >> remote_address >> state;
        if (local_address == local && state == st) return true;
    }
    return false;
}

bool listening(int port) { return tcp_state(port, "0A"); }
bool established(int port) { return tcp_state(port, "01"); }

// Counts occurrences of a marker in a growing file, reading only what was
// added since the last call.
class FileTail {
public:
    FileTail(std::string path, std::string marker) : path_(std::move(path)), marker_(std::move(marker)) {}

    long long count() {
        std::ifstream in(path_, std::ios::binary);
        if (!in) return count_;
        in.seekg(static_cast<std::streamoff>(offset_));
        std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        offset_ += chunk.size();
        std::string text = carry_ + chunk;
        for (std::size_t at = text.find(marker_); at != std::string::npos; at = text.find(marker_, at + marker_.size())) {
            ++count_;
        }
        std::size_t keep = std::min(text.size(), marker_.size() - 1);
        carry_ = text.substr(text.size() - keep);
        return count_;
    }

private:
    std::string path_;
    std::string marker_;
    std::size_t offset_ = 0;
    std::string carry_;
    long long count_ = 0;
};

// --- X -------------------------------------------------------------------

int ignore_x_errors(Display*, XErrorEvent*) { return 0; }

// A direct Xlib connection to the session, for polling a window's pixels.
class XProbe {
public:
    explicit XProbe(const std::string& display) : dpy_(XOpenDisplay(display.c_str())) {
        if (dpy_ == nullptr) throw std::runtime_error("cannot open display " + display);
        XSetErrorHandler(ignore_x_errors);
    }
    ~XProbe() { XCloseDisplay(dpy_); }
    XProbe(const XProbe&) = delete;
    XProbe& operator=(const XProbe&) = delete;

    // A top-level window with this title, if there is one now.
    std::optional<Window> find(const std::string& title) {
        Window root_return = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        std::optional<Window> found;
        if (XQueryTree(dpy_, DefaultRootWindow(dpy_), &root_return, &parent, &children, &count) == 0) return found;
        for (unsigned int i = 0; i < count && !found; ++i) {
            char* name = nullptr;
            if (XFetchName(dpy_, children[i], &name) != 0 && name != nullptr) {
                if (title == name) found = children[i];
                XFree(name);
            }
        }
        if (children != nullptr) XFree(children);
        return found;
    }

    // Whether the window is mapped and its middle row holds a pixel that is
    // not black (an X window that was never drawn shows the black root).
    bool painted(Window window) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(dpy_, window, &attributes) == 0 || attributes.map_state != IsViewable) return false;
        XImage* row = XGetImage(dpy_, window, 0, attributes.height / 2, static_cast<unsigned>(attributes.width), 1,
                                AllPlanes, ZPixmap);
        if (row == nullptr) return false;
        bool lit = false;
        for (int x = 0; x < attributes.width && !lit; ++x) lit = (XGetPixel(row, x, 0) & 0xFFFFFF) != 0;
        XDestroyImage(row);
        return lit;
    }

    // The pixels of a rectangle of the window; empty when they cannot be read.
    std::vector<unsigned long> region(Window window, int x, int y, int width, int height) {
        std::vector<unsigned long> out;
        XImage* image = XGetImage(dpy_, window, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                  AllPlanes, ZPixmap);
        if (image == nullptr) return out;
        out.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        for (int row = 0; row < height; ++row) {
            for (int col = 0; col < width; ++col) out.push_back(XGetPixel(image, col, row) & 0xFFFFFF);
        }
        XDestroyImage(image);
        return out;
    }

private:
    Display* dpy_;
};

// --- subjects --------------------------------------------------------------

// A started subject in its own directory, with the pinned window layout as
// its imgui.ini and its standard output in stdout.txt.
struct Running {
    TempDir dir;
    std::unique_ptr<ChildProcess> process;
    Clock::time_point spawned;

    pid_t pid() const { return process->pid(); }
    std::string stdout_path() const { return dir.file("stdout.txt"); }
};

std::unique_ptr<Running> spawn(const Subject& subject, XSession& x, Placement placement,
                               Vsync vsync = Vsync::refused) {
    if (listening(bus_port) || listening(pair_port)) {
        throw std::runtime_error("another process listens on port 31337 or 31338");
    }
    auto run = std::make_unique<Running>();
    std::filesystem::copy_file(PANEL_INI, run->dir.file("imgui.ini"));
    run->process = placed(placement, [&] {
        run->spawned = Clock::now();
        std::map<std::string, std::string> env{{"DISPLAY", x.display()}};
        if (vsync == Vsync::granted) env["LD_PRELOAD"] = GRANTED_VSYNC_LIBRARY;
        return std::make_unique<ChildProcess>(ChildProcess::Options{{subject.binary},
                                                                    env,
                                                                    run->dir.path(),
                                                                    run->stdout_path(),
                                                                    run->dir.file("stderr.txt")});
    });
    return run;
}

// SIGTERM (SDL turns it into SDL_QUIT), then SIGKILL past a few seconds; and
// waits until nothing listens on the panel's ports any more.
void stop(Running& run) {
    run.process->signal(SIGTERM);
    if (!run.process->wait_for(5s)) {
        run.process->signal(SIGKILL);
        run.process->wait_for(5s);
    }
    wait_until([] { return !listening(bus_port) && !listening(pair_port); }, 5s);
}

void stop(ChildProcess& process) {
    process.signal(SIGTERM);
    if (!process.wait_for(5s)) process.signal(SIGKILL);
    process.wait_for(5s);
}

struct StartTimes {
    double listening_ms = -1;  // both ports; -1 for a subject that never listens
    double first_frame_ms = -1;
    double cpu_ms = -1;        // CPU time of its threads until the first frame
};

// Polls the ports and the window every millisecond from the spawn on.
StartTimes watch_start(Running& run, const Subject& subject, XProbe& probe, bool listens) {
    StartTimes t;
    std::optional<Window> window;
    auto deadline = run.spawned + start_limit;
    auto ms_since_spawn = [&] { return std::chrono::duration<double, std::milli>(Clock::now() - run.spawned).count(); };
    while ((t.first_frame_ms < 0 || (listens && t.listening_ms < 0)) && Clock::now() < deadline) {
        if (listens && t.listening_ms < 0 && listening(bus_port) && listening(pair_port)) t.listening_ms = ms_since_spawn();
        if (t.first_frame_ms < 0) {
            if (!window) window = probe.find(subject.title);
            if (window && probe.painted(*window)) {
                t.first_frame_ms = ms_since_spawn();
                t.cpu_ms = thread_cpu_ms(run.pid());
            }
        }
        if (auto code = run.process->wait_for(0ms)) {
            throw std::runtime_error(subject.name + " exited during start with code " + std::to_string(*code) + ": " +
                                     run.process->stderr_text());
        }
        std::this_thread::sleep_for(poll_period);
    }
    if (t.first_frame_ms < 0) throw std::runtime_error(subject.name + " showed no frame within the limit");
    return t;
}

std::unique_ptr<ChildProcess> start_standin(const std::string& dir, Placement placement,
                                            std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{STANDIN_BINARY, "--quiet"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    auto standin = placed(placement, [&] { return std::make_unique<ChildProcess>(ChildProcess::Options{argv, {}, dir, "", ""}); });
    if (!wait_until([] { return established(bus_port) && established(pair_port); }, 10s)) {
        throw std::runtime_error("the stand-in did not connect");
    }
    return standin;
}

// --- the three measurements -------------------------------------------------

struct IdleFigures {
    double process = 0;  // % of one core, medians over the rounds
    double wakeups = 0;  // context switches a second
};

// What the idle panel has around it.
enum class IdleCase {
    alone,           // nothing attached
    quiet_standin,   // qz3-standin --quiet attached, sending nothing
    after_changes,   // a component attached that changed registers and bytes, whose highlights have faded
};

// A register and a few data bytes changed, as one step of a program does,
// then time for their highlights to fade out.
void send_changes(const std::string& stdout_path) {
    Endpoint component("tcp://127.0.0.1:" + std::to_string(bus_port), EndpointKind::bus_dial);
    if (!component.connect() || !component.wait_for_peer(10s)) throw std::runtime_error("the panel did not take the bus connection");
    std::this_thread::sleep_for(200ms);  // the panel's end attaches too
    for (int i = 0; i < 4; ++i)
        component.send(MessageKind::event, "write", Message{{"address", i}, {"value", 10 + i}}, "QZ3_MK.data_memory", "");
    component.send(MessageKind::event, "write", Message{{"register_number", 1}, {"value", 7}}, "QZ3_MK.register_file", "");
    const bool printed = wait_until([&] {
        std::ifstream out(stdout_path);
        const std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
        return std::count(text.begin(), text.end(), '\n') >= 5;
    }, 10s);
    if (!printed) throw std::runtime_error("the panel did not print the changes");
    std::this_thread::sleep_for(fade_time);
}

IdleFigures measure_idle(const Subject& subject, IdleCase idle_case, Vsync vsync, XSession& x, XProbe& probe,
                         const Options& o) {
    std::vector<double> process, wakeups;
    for (int round = 0; round < o.rounds; ++round) {
        auto run = spawn(subject, x, Placement::free, vsync);
        watch_start(*run, subject, probe, false);
        std::unique_ptr<ChildProcess> standin;
        if (idle_case == IdleCase::quiet_standin) standin = start_standin(run->dir.path(), Placement::free);
        if (idle_case == IdleCase::after_changes) send_changes(run->stdout_path());
        std::this_thread::sleep_for(settle_time);
        const double cpu_a = thread_cpu_ms(run->pid());
        const long long switches_a = context_switches(run->pid());
        const auto a = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(o.window_seconds));
        const double cpu_b = thread_cpu_ms(run->pid());
        const long long switches_b = context_switches(run->pid());
        const double seconds = std::chrono::duration<double>(Clock::now() - a).count();
        process.push_back(100.0 * (cpu_b - cpu_a) / 1000.0 / seconds);
        wakeups.push_back(static_cast<double>(switches_b - switches_a) / seconds);
        if (standin) stop(*standin);
        stop(*run);
    }
    return {median(process), median(wakeups)};
}

struct LatencyFigures {
    double console_ms = -1;  // medians over the events
    double pixels_ms = -1;
    int lost = 0;            // events never printed or never shown within a second
};

// The data memory window's hex rows, in the layout of tests/e2e/panel.ini.
constexpr int data_rows_x = 532, data_rows_y = 392, data_rows_width = 596, data_rows_height = 306;

LatencyFigures measure_latency(const Subject& subject, Vsync vsync, XSession& x, XProbe& probe, const Options& o) {
    auto run = spawn(subject, x, Placement::free, vsync);
    watch_start(*run, subject, probe, false);
    auto window = probe.find(subject.title);
    if (!window) throw std::runtime_error("the panel's window is gone");
    // A panel under Wine may show its window some seconds before it listens.
    if (!wait_until([] { return listening(bus_port); }, 20s)) throw std::runtime_error("the panel never listened");
    Endpoint component("tcp://127.0.0.1:" + std::to_string(bus_port), EndpointKind::bus_dial);
    if (!component.connect() || !component.wait_for_peer(10s)) throw std::runtime_error("the panel did not take the bus connection");
    std::this_thread::sleep_for(settle_time);

    std::vector<double> console, pixels;
    LatencyFigures f;
    for (int i = 0; i < o.events; ++i) {
        std::this_thread::sleep_for(event_spacing);
        const int address = i % 256;
        const int value = 1 + i / 256 + (i % 2) * 64;
        const auto before = probe.region(*window, data_rows_x, data_rows_y, data_rows_width, data_rows_height);
        const std::string line = R"({"data":{"address":)" + std::to_string(address) + R"(,"value":)" +
                                 std::to_string(value) + "}";
        const off_t offset = static_cast<off_t>(std::filesystem::file_size(run->stdout_path()));
        const auto sent = Clock::now();
        component.send(MessageKind::event, "write", Message{{"address", address}, {"value", value}},
                       "QZ3_MK.data_memory", "");
        std::optional<double> printed, shown;
        while ((!printed || !shown) && Clock::now() - sent < 1s) {
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
            if (!printed) {
                std::ifstream out(run->stdout_path());
                out.seekg(offset);
                std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
                if (text.find(line) != std::string::npos) printed = ms;
            }
            if (!shown && probe.region(*window, data_rows_x, data_rows_y, data_rows_width, data_rows_height) != before) {
                shown = ms;
            }
            std::this_thread::sleep_for(200us);
        }
        if (printed && shown) {
            console.push_back(*printed);
            pixels.push_back(*shown);
        } else {
            ++f.lost;
        }
    }
    stop(*run);
    if (!console.empty()) {
        f.console_ms = median(console);
        f.pixels_ms = median(pixels);
    }
    return f;
}

struct StartFigures {
    double listening_ms = -1;
    double first_frame_ms = -1;
    double cpu_ms = -1;
};

// Starts the subjects in turn (a, b, a, b, ...), so that a change in the
// machine's load falls on both.
std::vector<StartFigures> measure_starts(const std::vector<Subject>& subjects, const std::vector<bool>& listens,
                                         XSession& x, XProbe& probe, const Options& o) {
    std::vector<std::vector<double>> listen_ms(subjects.size()), frame_ms(subjects.size()), cpu_ms(subjects.size());
    for (int round = 0; round < o.starts; ++round) {
        for (std::size_t k = 0; k < subjects.size(); ++k) {
            auto run = spawn(subjects[k], x, Placement::pinned);
            StartTimes t = watch_start(*run, subjects[k], probe, listens[k]);
            if (listens[k]) listen_ms[k].push_back(t.listening_ms);
            frame_ms[k].push_back(t.first_frame_ms);
            cpu_ms[k].push_back(t.cpu_ms);
            stop(*run);
        }
    }
    std::vector<StartFigures> figures(subjects.size());
    for (std::size_t k = 0; k < subjects.size(); ++k) {
        if (!listen_ms[k].empty()) figures[k].listening_ms = median(listen_ms[k]);
        figures[k].first_frame_ms = median(frame_ms[k]);
        figures[k].cpu_ms = median(cpu_ms[k]);
    }
    return figures;
}

struct Memory {
    long long hwm_kb = 0;
    long long rss_kb = 0;
};

Memory memory_of(pid_t pid) { return {status_kb(pid, "VmHWM:"), status_kb(pid, "VmRSS:")}; }

Memory memory_after_start(const Subject& subject, XSession& x, XProbe& probe) {
    auto run = spawn(subject, x, Placement::free);
    watch_start(*run, subject, probe, false);
    std::this_thread::sleep_for(settle_time);
    Memory m = memory_of(run->pid());
    stop(*run);
    return m;
}

struct MemoryRun {
    Memory start;
    Memory after_stream;
    Memory after_pings;
    long long events_received = 0;
    double stream_seconds = 0;
    std::vector<std::string> ping_results;
};

MemoryRun measure_memory(const Subject& panel, XSession& x, XProbe& probe, const Options& o) {
    MemoryRun m;
    auto run = spawn(panel, x, Placement::free);
    watch_start(*run, panel, probe, false);
    std::this_thread::sleep_for(settle_time);
    m.start = memory_of(run->pid());

    // The stand-in floods as soon as the panel's bus is attached. Every event
    // is one line on the panel's standard output.
    FileTail lines(run->stdout_path(), "\n");
    std::vector<std::string> extra{"--flood", std::to_string(o.flood)};
    if (o.rate > 0) extra.insert(extra.end(), {"--rate", std::to_string(o.rate)});
    auto stream_start = Clock::now();
    auto standin = start_standin(run->dir.path(), Placement::free, extra);
    long long seen = 0;
    auto last_growth = Clock::now();
    while (seen < o.flood && Clock::now() - last_growth < 5s) {
        std::this_thread::sleep_for(100ms);
        long long now_seen = lines.count();
        if (now_seen != seen) {
            seen = now_seen;
            last_growth = Clock::now();
        }
    }
    m.stream_seconds = std::chrono::duration<double>(last_growth - stream_start).count();
    m.events_received = seen;
    std::this_thread::sleep_for(settle_time);
    m.after_stream = memory_of(run->pid());

    // The four ping benchmarks, clicked in the "Main" window.
    auto window = x.find_window(panel.title, 10s);
    if (!window) throw std::runtime_error("the panel's window is gone");
    WindowGeometry origin = x.geometry(*window);
    FileTail done(run->stdout_path(), "test done in: ");
    FileTail stopped(run->stdout_path(), "ping test stopped");
    for (std::size_t k = 0; k < std::size(ping_button_y); ++k) {
        long long before = done.count() + stopped.count();
        x.click(origin.x + ping_button_x, origin.y + ping_button_y[k]);
        bool finished = wait_until([&] { return done.count() + stopped.count() > before; }, 120s);
        m.ping_results.push_back(std::string(ping_labels[k]) + (finished ? "" : ": no result within 120 s"));
    }
    std::this_thread::sleep_for(settle_time);
    m.after_pings = memory_of(run->pid());

    // The "test done in" lines, for the report.
    std::istringstream out(read_file(run->stdout_path()));
    std::string line;
    std::size_t k = 0;
    while (std::getline(out, line)) {
        if ((line.rfind("test done in: ", 0) == 0 || line.rfind("ping test stopped", 0) == 0) && k < m.ping_results.size()) {
            if (m.ping_results[k].find(':') == std::string::npos) m.ping_results[k] += ": " + line;
            ++k;
        }
    }
    stop(*standin);
    stop(*run);
    return m;
}

// --- main ------------------------------------------------------------------

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--rounds") o.rounds = std::stoi(value());
        else if (arg == "--window") o.window_seconds = std::stod(value());
        else if (arg == "--starts") o.starts = std::stoi(value());
        else if (arg == "--flood") o.flood = std::stoll(value());
        else if (arg == "--rate") o.rate = std::stoll(value());
        else if (arg == "--vedrik") o.vedrik = std::filesystem::absolute(value()).string();
        else if (arg == "--before") o.before = std::filesystem::absolute(value()).string();
        else if (arg == "--events") o.events = std::stoi(value());
        else if (arg == "--only") o.only = value();
        else throw std::runtime_error("unknown option " + arg);
    }
    if (!o.only.empty() && o.only != "idle" && o.only != "latency" && o.only != "start" && o.only != "memory") {
        throw std::runtime_error("--only takes idle, latency, start or memory");
    }
    if (o.events < 1 || o.rounds < 1 || o.starts < 1 || o.window_seconds <= 0 || o.flood < 1) throw std::runtime_error("bad option value");
    return o;
}

const char* verdict(bool met) { return met ? "met" : "NOT MET"; }

double ratio(double a, double b) { return b > 0 ? a / b : 0; }

// Each report prints its section and says whether its goal is met.
struct Bench {
    const Options& o;
    XSession& x;
    XProbe& probe;
    Subject baseline;
    Subject panel;
    std::optional<Subject> before;  // an older build of the panel
};

bool report_idle(Bench& b) {
    std::printf("Idle: CPU of the whole process over %.1f s windows, and its wake-ups, medians of %d\n",
                b.o.window_seconds, b.o.rounds);
    bool met = true;
    for (Vsync vsync : {Vsync::refused, Vsync::granted}) {
        std::printf("  %s\n", display_name(vsync));
        std::printf("  %-50s %10s %12s\n", "", "% of core", "wake-ups/s");
        std::fflush(stdout);
        auto row = [&](const std::string& name, const IdleFigures& f) {
            std::printf("  %-50s %9.2f%% %12.1f\n", name.c_str(), f.process, f.wakeups);
            std::fflush(stdout);
        };
        row("empty_panel (baseline)", measure_idle(b.baseline, IdleCase::alone, vsync, b.x, b.probe, b.o));
        std::vector<Subject> subjects;
        if (b.before) subjects.push_back(*b.before);
        subjects.push_back(b.panel);
        for (const Subject& s : subjects) {
            IdleFigures alone = measure_idle(s, IdleCase::alone, vsync, b.x, b.probe, b.o);
            row(s.name + ", nothing attached", alone);
            IdleFigures connected = measure_idle(s, IdleCase::quiet_standin, vsync, b.x, b.probe, b.o);
            row(s.name + ", qz3-standin --quiet attached", connected);
            IdleFigures faded = measure_idle(s, IdleCase::after_changes, vsync, b.x, b.probe, b.o);
            row(s.name + ", after changes, their fades over", faded);
            if (&s == &subjects.back())
                met = met && std::max({alone.process, connected.process, faded.process}) < idle_process_goal;
        }
    }
    std::printf("  goal: %s under %.1f%% of a core on both displays: %s\n\n", b.panel.name.c_str(), idle_process_goal,
                verdict(met));
    return met;
}

bool report_latency(Bench& b) {
    std::printf("Latency: an event sent to an idle panel, to its console line and to its pixels, medians of %d, ms\n",
                b.o.events);
    bool met = true;
    for (Vsync vsync : {Vsync::refused, Vsync::granted}) {
        std::printf("  %s\n", display_name(vsync));
        std::printf("  %-50s %10s %10s %6s\n", "", "console", "pixels", "lost");
        std::vector<Subject> subjects;
        if (b.before) subjects.push_back(*b.before);
        subjects.push_back(b.panel);
        for (const Subject& s : subjects) {
            std::fflush(stdout);
            LatencyFigures f = measure_latency(s, vsync, b.x, b.probe, b.o);
            std::printf("  %-50s %10.1f %10.1f %6d\n", s.name.c_str(), f.console_ms, f.pixels_ms, f.lost);
            if (&s == &subjects.back()) {
                met = met && f.lost == 0 && f.console_ms >= 0 && f.console_ms <= console_goal_ms &&
                      f.pixels_ms <= pixels_goal_ms;
            }
        }
    }
    std::printf("  goal: %s's console line within %.0f ms and pixels within %.0f ms on both displays: %s\n\n",
                b.panel.name.c_str(), console_goal_ms, pixels_goal_ms, verdict(met));
    return met;
}

bool report_start(Bench& b) {
    std::printf("Start: from the fork, median of %d starts, ms\n", b.o.starts);
    std::fflush(stdout);
    std::vector<Subject> subjects{b.baseline};
    std::vector<bool> listens{false};
    if (b.before) {
        subjects.push_back(*b.before);
        listens.push_back(true);
    }
    subjects.push_back(b.panel);
    listens.push_back(true);
    auto starts = measure_starts(subjects, listens, b.x, b.probe, b.o);
    std::printf("  %-38s %10s %12s %8s %14s %8s\n", "", "listening", "first frame", "ratio", "CPU until it", "ratio");
    std::printf("  %-38s %10s %12.1f %8s %14.1f %8s\n", "empty_panel (baseline)", "-", starts[0].first_frame_ms, "1.00",
                starts[0].cpu_ms, "1.00");
    for (std::size_t k = 1; k < subjects.size(); ++k) {
        std::printf("  %-38s %10.1f %12.1f %8.2f %14.1f %8.2f\n", subjects[k].name.c_str(), starts[k].listening_ms,
                    starts[k].first_frame_ms, ratio(starts[k].first_frame_ms, starts[0].first_frame_ms),
                    starts[k].cpu_ms, ratio(starts[k].cpu_ms, starts[0].cpu_ms));
    }
    const StartFigures& panel = starts.back();
    bool met = ratio(panel.first_frame_ms, starts[0].first_frame_ms) <= start_goal_ratio;
    std::printf("  goal: %s's first frame within %.2f x the baseline's: %s\n\n", b.panel.name.c_str(), start_goal_ratio,
                verdict(met));
    return met;
}

void report_memory(Bench& b) {
    std::printf("Memory: kB\n");
    std::fflush(stdout);
    Memory base = memory_after_start(b.baseline, b.x, b.probe);
    MemoryRun m = measure_memory(b.panel, b.x, b.probe, b.o);
    std::printf("  %-38s %10s %10s %10s\n", "", "VmHWM", "VmRSS", "HWM ratio");
    auto row = [&](const std::string& name, const Memory& mem) {
        std::printf("  %-38s %10lld %10lld %10.2f\n", name.c_str(), mem.hwm_kb, mem.rss_kb,
                    ratio(static_cast<double>(mem.hwm_kb), static_cast<double>(base.hwm_kb)));
    };
    row("empty_panel after start (baseline)", base);
    row("vedrik after start", m.start);
    row("vedrik after a " + std::to_string(b.o.flood) + "-event stream", m.after_stream);
    row("vedrik after the four ping benchmarks", m.after_pings);
    std::printf("  growth since start: VmHWM %+lld kB, VmRSS %+lld kB\n", m.after_pings.hwm_kb - m.start.hwm_kb,
                m.after_pings.rss_kb - m.start.rss_kb);
    std::printf("  stream: %lld of %lld events printed by the panel in %.1f s (%s)\n", m.events_received, b.o.flood,
                m.stream_seconds, b.o.rate > 0 ? ("--rate " + std::to_string(b.o.rate)).c_str() : "unpaced");
    for (const auto& r : m.ping_results) std::printf("  %s\n", r.c_str());
}

int run(int argc, char** argv) {
    Options o = parse(argc, argv);
    if (private_network()) {
        std::printf("in a network namespace of its own\n");
    } else {
        std::printf("in the machine's network namespace: ports 31337 and 31338 must stay free during the run\n");
    }
    choose_processors();
    auto session = placed(Placement::pinned, [] { return std::make_unique<XSession>(); });
    XProbe probe(session->display());
    Bench b{o, *session, probe, {"empty_panel", EMPTY_PANEL_BINARY, "Empty panel"}, {"vedrik", o.vedrik, "Vedrik"},
            std::nullopt};
    std::printf("vedrik: %s\n", o.vedrik.c_str());
    if (!o.before.empty()) {
        b.before = Subject{"vedrik before", o.before, "Vedrik"};
        std::printf("vedrik before: %s\n", o.before.c_str());
    }
    std::printf("\n");
    bool met = true;
    if (o.runs("idle")) met = report_idle(b) && met;
    if (o.runs("latency")) met = report_latency(b) && met;
    if (o.runs("start")) met = report_start(b) && met;
    if (o.runs("memory")) report_memory(b);
    std::fflush(stdout);
    return met ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "process_bench: %s\n", e.what());
        return 2;
    }
}
