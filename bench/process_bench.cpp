// The panel as a process, beside empty_panel (bench/support/empty_panel.cpp:
// the same libraries set up the same way, an empty Dear ImGui frame drawn
// only when an SDL event comes) measured in the same run under the same Xvfb:
//
//   idle     processor time of all its threads and their wake-ups (context
//            switches) over windows of several seconds, once settled: nothing
//            attached, a quiet stand-in attached, and after a component
//            changed a few cells and their highlights faded out
//   latency  an event sent to the idle panel every 300 ms, to its console
//            line and to a change of the data memory window's pixels
//   input    what needs frames while nothing else happens: the images an
//            edited field's blinking cursor shows in 2.5 s, and those a held
//            arrow key shows in the hex editor in 1.5 s
//   start    from the fork to both ports listening and to the first frame,
//            with the processor time used until then
//   memory   VmHWM and VmRSS after start, after a stream of events, after the
//            stand-in's hostile bodies and after the four ping benchmarks
//
//   build/bench/process_bench [--rounds N] [--window SECONDS] [--starts N]
//                             [--flood N] [--rate PER_SECOND] [--events N]
//                             [--vedrik PATH] [--only idle|latency|input|start|memory]
//
// --vedrik measures another program as the panel (another build, or a script
// that runs the Windows build under Wine).
//
// Idle, latency and input run on two kinds of display: Xvfb as it is, whose
// software renderer refuses vsync, and Xvfb with the granted_vsync library
// preloaded into the subject, whose swaps then wait for the next 60 Hz tick
// as a desktop GPU's do.
//
// Xvfb, and each subject while it starts, are pinned to one processor; the
// bench polls from another. The idle, latency, input and memory runs leave
// the subject and the stand-in free on every processor, as a user runs them.
//
// The panel listens on its fixed ports: the bench moves into a network
// namespace of its own first when it may; where it may not, it stops when the
// ports are taken.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "messaging/endpoint.hpp"
#include "messaging/wire_names.hpp"
#include "support/child_process.hpp"
#include "support/proc_stats.hpp"
#include "support/x11/panel_fixture.hpp"
#include "support/x11/x_session.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int bus_port = 31337;
constexpr int pair_port = 31338;
constexpr auto settle_time = 1500ms;   // after the first frame, before a measurement
constexpr auto fade_time = 1500ms;     // a change's highlight fades out in this time
constexpr auto start_limit = 20s;      // longest wait for a window or a port
constexpr auto poll_period = 1ms;      // start: the port and pixel polls
constexpr auto event_spacing = 300ms;  // latency: the panel is idle before each event
constexpr auto blink_span = 2500ms;    // input: the cursor watched this long
constexpr auto held_span = 1500ms;     // input: the arrow key held this long

// Goals.
constexpr double idle_goal_percent = 0.5;    // of one core, whole process, every idle case
constexpr double console_goal_ms = 20.0;     // event to console line, median
constexpr double pixels_goal_ms = 40.0;      // event to pixels, median
constexpr std::size_t blink_goal_images = 2; // the cursor blinks at least once
constexpr std::size_t held_goal_images = 4;  // the selection moves three times or more
constexpr double start_goal_ratio = 1.25;    // first frame, against the baseline's
constexpr long long hostile_goal_kb = 16 * 1024;  // VmHWM growth over the hostile bodies

// The "run test" buttons, one under the other below "run test 0".
constexpr int ping_button_pitch = 23;
const char* const ping_labels[] = {"run test 0", "run test 100", "run test 1000", "run test 10000"};
// The stand-in's last hostile body ends with this line.
const std::string hostile_end_marker =
    envelope_line("QZ3_MK.register_file", "write", R"({"register_number":15,"value":15})");

struct Options {
    int rounds = 5;             // idle windows per case
    double window_seconds = 6;  // length of one idle window
    int starts = 9;             // starts per subject
    long long flood = 200000;   // events of the stream
    long long rate = 8000;      // their pace per second; 0: as fast as the stand-in goes
    int events = 20;            // latency: events per display
    std::string vedrik = VEDRIK_BINARY;
    std::string only;           // empty: every measurement
    bool runs(const char* part) const { return only.empty() || only == part; }
};

struct Subject {
    std::string name;    // as printed
    std::string binary;
    std::string title;   // of its window
};

constexpr Vsync displays[] = {Vsync::refused, Vsync::granted};

const char* display_name(Vsync v) {
    return v == Vsync::granted ? "vsync granted (60 Hz swaps)" : "vsync refused (Xvfb as it is)";
}

double median(std::vector<double> values) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// --- processors and network ------------------------------------------------

cpu_set_t all_cpus;
int subject_cpu = 0;  // Xvfb, and the subjects while they start
int probe_cpu = 0;    // the bench's polling

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

// Makes a child with the placement's affinity (it inherits the bench's);
// the bench goes back to its own processor.
template <class Make>
auto placed(Placement placement, Make make) {
    if (placement == Placement::pinned) pin_to(subject_cpu);
    else set_affinity(all_cpus);
    auto made = make();
    pin_to(probe_cpu);
    return made;
}

void choose_processors() {
    CPU_ZERO(&all_cpus);
    sched_getaffinity(0, sizeof all_cpus, &all_cpus);
    const int current = sched_getcpu();
    subject_cpu = current >= 0 && CPU_ISSET(current, &all_cpus) ? current : 0;
    probe_cpu = subject_cpu;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (cpu != subject_cpu && CPU_ISSET(cpu, &all_cpus)) {
            probe_cpu = cpu;
            break;
        }
    }
    pin_to(probe_cpu);
    std::printf("Xvfb and starting subjects on processor %d; the bench's polling on %d\n", subject_cpu, probe_cpu);
}

// Moves this process (before it starts any thread) into a new network
// namespace with its loopback interface up; false when it may not.
bool private_network() {
    if (unshare(CLONE_NEWNET) != 0) return false;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    close(fd);
    return up;
}

// Counts a marker in a growing file, reading only what was added since the
// last call.
class FileTail {
public:
    FileTail(std::string path, std::string marker) : path_(std::move(path)), marker_(std::move(marker)) {}

    long long count() {
        std::ifstream in(path_, std::ios::binary);
        if (!in) return count_;
        in.seekg(static_cast<std::streamoff>(offset_));
        const std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        offset_ += chunk.size();
        const std::string text = carry_ + chunk;
        for (auto at = text.find(marker_); at != std::string::npos; at = text.find(marker_, at + marker_.size())) {
            ++count_;
        }
        carry_ = text.substr(text.size() - std::min(text.size(), marker_.size() - 1));
        return count_;
    }

private:
    std::string path_;
    std::string marker_;
    std::size_t offset_ = 0;
    std::string carry_;
    long long count_ = 0;
};

// --- subjects --------------------------------------------------------------

struct Bench {
    const Options& o;
    XSession& x;
    Subject baseline;
    Subject panel;
};

// A started subject in a directory of its own, with the end-to-end tests'
// window layout as its imgui.ini and its standard output in a file.
struct Running {
    TempDir dir;
    std::unique_ptr<ChildProcess> process;
    Clock::time_point spawned;
    unsigned long window = 0;  // once it showed its first frame
    WindowGeometry origin;

    int pid() const { return process->pid(); }
    std::string stdout_path() const { return dir.file("stdout.txt"); }
    std::vector<std::uint32_t> pixels(XSession& x, PanelRegion r) const {
        return x.pixels(origin.x + r.x, origin.y + r.y, r.width, r.height);
    }
};

// A row across the middle of the window that is no longer all black (an X
// window never drawn shows the black root).
bool painted(XSession& x, unsigned long window) {
    const WindowGeometry g = x.geometry(window);
    if (!g.viewable) return false;
    const auto row = x.pixels(g.x, g.y + g.height / 2, g.width, 1);
    return std::any_of(row.begin(), row.end(), [](std::uint32_t p) { return p != 0; });
}

struct StartTimes {
    double listening_ms = -1;  // both ports; -1 for a subject that never listens
    double first_frame_ms = -1;
    double cpu_ms = -1;        // processor time of its threads until the first frame
};

// Polls the ports and the window every millisecond from the spawn on.
StartTimes watch_start(Running& run, const Subject& subject, XSession& x, bool listens) {
    StartTimes t;
    std::optional<unsigned long> window;
    while (t.first_frame_ms < 0 || (listens && t.listening_ms < 0)) {
        if (Clock::now() - run.spawned > start_limit) throw std::runtime_error(subject.name + " did not start");
        // The window first: its requests wait for a busy X server, and a
        // port that began listening meanwhile is then seen at once.
        if (t.first_frame_ms < 0) {
            if (!window) window = x.window_now(subject.title);
            if (window && painted(x, *window)) {
                t.first_frame_ms = ms_since(run.spawned);
                t.cpu_ms = std::chrono::duration<double, std::milli>(activity_of(run.pid()).cpu).count();
            }
        }
        if (listens && t.listening_ms < 0 && listening(bus_port) && listening(pair_port)) {
            t.listening_ms = ms_since(run.spawned);
        }
        if (auto code = run.process->wait_for(0ms)) {
            throw std::runtime_error(subject.name + " exited during start with code " + std::to_string(*code) + ": " +
                                     run.process->stderr_text());
        }
        std::this_thread::sleep_for(poll_period);
    }
    run.window = *window;
    run.origin = x.geometry(run.window);
    return t;
}

std::unique_ptr<Running> spawn(const Subject& subject, XSession& x, Placement placement, Vsync vsync = Vsync::refused) {
    if (listening(bus_port) || listening(pair_port)) {
        throw std::runtime_error("another process listens on port 31337 or 31338");
    }
    auto run = std::make_unique<Running>();
    std::filesystem::copy_file(PANEL_INI, run->dir.file("imgui.ini"));
    std::map<std::string, std::string> env{{"DISPLAY", x.display()}};
    use_display(vsync, env);
    run->process = placed(placement, [&] {
        run->spawned = Clock::now();
        return std::make_unique<ChildProcess>(ChildProcess::Options{
            {subject.binary}, env, run->dir.path(), run->stdout_path(), run->dir.file("stderr.txt")});
    });
    return run;
}

// A subject started and shown, then left to settle.
std::unique_ptr<Running> started(const Subject& subject, XSession& x, Vsync vsync = Vsync::refused) {
    auto run = spawn(subject, x, Placement::free, vsync);
    watch_start(*run, subject, x, false);
    std::this_thread::sleep_for(settle_time);
    return run;
}

// SIGTERM (SDL takes it as SDL_QUIT), SIGKILL after a few seconds.
void stop(ChildProcess& process) {
    process.signal(SIGTERM);
    if (!process.wait_for(5s)) process.signal(SIGKILL);
    process.wait_for(5s);
}

void stop(Running& run) {
    stop(*run.process);
    wait_until([] { return !listening(bus_port) && !listening(pair_port); }, 5s);
}

std::unique_ptr<ChildProcess> start_standin(const std::string& dir, std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{STANDIN_BINARY, "--quiet"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    auto standin = placed(Placement::free, [&] {
        return std::make_unique<ChildProcess>(ChildProcess::Options{argv, {}, dir, "", ""});
    });
    if (!wait_until([] { return established(bus_port) && established(pair_port); }, 10s)) {
        throw std::runtime_error("the stand-in did not connect");
    }
    return standin;
}

// A component dialled into the panel's bus, once the panel has taken it.
std::unique_ptr<Endpoint> attach_component() {
    auto component = std::make_unique<Endpoint>(std::string(wire::bus_address), EndpointKind::bus_dial);
    if (!component->connect() || !component->wait_for_peer(10s) ||
        !wait_until([] { return taken_connections(bus_port) >= 1; }, 10s)) {
        throw std::runtime_error("the panel did not take the bus connection");
    }
    return component;
}

// --- idle --------------------------------------------------------------------

enum class IdleCase { alone, quiet_standin, after_changes };

struct IdleFigures {
    double percent = 0;  // of one core, median over the rounds
    double wakeups = 0;  // context switches a second, median
};

IdleFigures measure_idle(const Subject& subject, IdleCase idle_case, Vsync vsync, Bench& b) {
    std::vector<double> percent, wakeups;
    for (int round = 0; round < b.o.rounds; ++round) {
        auto run = started(subject, b.x, vsync);
        std::unique_ptr<ChildProcess> standin;
        if (idle_case == IdleCase::quiet_standin) standin = start_standin(run->dir.path());
        if (idle_case == IdleCase::after_changes) {
            // A register and a few data bytes changed, as one step of a program does.
            auto component = attach_component();
            for (int i = 0; i < 4; ++i) {
                component->send(MessageKind::event, "write", Message{{"address", i}, {"value", 10 + i}},
                                "QZ3_MK.data_memory", "");
            }
            component->send(MessageKind::event, "write", Message{{"register_number", 1}, {"value", 7}},
                            "QZ3_MK.register_file", "");
            FileTail lines(run->stdout_path(), "\n");
            if (!wait_until([&] { return lines.count() >= 5; }, 10s)) throw std::runtime_error("changes not printed");
            std::this_thread::sleep_for(fade_time);
        }
        std::this_thread::sleep_for(settle_time);
        const auto cpu_a = activity_of(run->pid()).cpu;
        const long long switches_a = context_switches(run->pid());
        const auto a = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(b.o.window_seconds));
        const auto cpu_b = activity_of(run->pid()).cpu;
        const long long switches_b = context_switches(run->pid());
        const double seconds = std::chrono::duration<double>(Clock::now() - a).count();
        percent.push_back(100.0 * std::chrono::duration<double>(cpu_b - cpu_a).count() / seconds);
        wakeups.push_back(static_cast<double>(switches_b - switches_a) / seconds);
        if (standin) stop(*standin);
        stop(*run);
    }
    return {median(percent), median(wakeups)};
}

bool report_idle(Bench& b) {
    std::printf("Idle: processor time over %.1f s windows and wake-ups, medians of %d\n", b.o.window_seconds,
                b.o.rounds);
    bool met = true;
    for (Vsync vsync : displays) {
        std::printf("  %s\n  %-46s %10s %12s\n", display_name(vsync), "", "% of core", "wake-ups/s");
        auto row = [&](const std::string& name, const IdleFigures& f) {
            std::printf("  %-46s %9.2f%% %12.1f\n", name.c_str(), f.percent, f.wakeups);
            std::fflush(stdout);
            return f.percent;
        };
        row(b.baseline.name + " (baseline)", measure_idle(b.baseline, IdleCase::alone, vsync, b));
        const double worst = std::max(
            {row(b.panel.name + ", nothing attached", measure_idle(b.panel, IdleCase::alone, vsync, b)),
             row(b.panel.name + ", qz3-standin --quiet attached", measure_idle(b.panel, IdleCase::quiet_standin, vsync, b)),
             row(b.panel.name + ", after changes, their fades over", measure_idle(b.panel, IdleCase::after_changes, vsync, b))});
        met = met && worst < idle_goal_percent;
    }
    std::printf("  goal: under %.1f%% of a core in every case on both displays: %s\n\n", idle_goal_percent,
                met ? "met" : "NOT MET");
    return met;
}

// --- latency -----------------------------------------------------------------

struct LatencyFigures {
    double console_ms = -1;  // medians over the events
    double pixels_ms = -1;
    int lost = 0;            // events not printed or not shown within a second
};

LatencyFigures measure_latency(Vsync vsync, Bench& b) {
    auto run = started(b.panel, b.x, vsync);
    // A panel under Wine may show its window some seconds before it listens.
    if (!wait_until([] { return listening(bus_port); }, 20s)) throw std::runtime_error("the panel never listened");
    auto component = attach_component();
    std::this_thread::sleep_for(settle_time);
    std::vector<double> console, pixels;
    LatencyFigures f;
    FileTail lines(run->stdout_path(), "\n");
    for (int i = 0; i < b.o.events; ++i) {
        std::this_thread::sleep_for(event_spacing);
        const int address = i % 256;
        const int value = 1 + i / 256 + (i % 2) * 64;
        const auto before = run->pixels(b.x, panel_layout::data_memory);
        const long long printed_before = lines.count();
        const auto sent = Clock::now();
        component->send(MessageKind::event, "write", Message{{"address", address}, {"value", value}},
                        "QZ3_MK.data_memory", "");
        std::optional<double> printed, shown;
        while ((!printed || !shown) && Clock::now() - sent < 1s) {
            const double ms = ms_since(sent);
            if (!printed && lines.count() > printed_before) printed = ms;
            if (!shown && run->pixels(b.x, panel_layout::data_memory) != before) shown = ms;
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
    f.console_ms = median(console);
    f.pixels_ms = median(pixels);
    return f;
}

bool report_latency(Bench& b) {
    std::printf("Latency: an event sent to the idle panel, to its console line and to its pixels, medians of %d, ms\n",
                b.o.events);
    std::printf("  %-46s %10s %10s %6s\n", "", "console", "pixels", "lost");
    bool met = true;
    for (Vsync vsync : displays) {
        std::fflush(stdout);
        const LatencyFigures f = measure_latency(vsync, b);
        std::printf("  %-46s %10.1f %10.1f %6d\n", display_name(vsync), f.console_ms, f.pixels_ms, f.lost);
        met = met && f.lost == 0 && f.console_ms <= console_goal_ms && f.pixels_ms <= pixels_goal_ms;
    }
    std::printf("  goal: console line within %.0f ms and pixels within %.0f ms on both displays, none lost: %s\n\n",
                console_goal_ms, pixels_goal_ms, met ? "met" : "NOT MET");
    return met;
}

// --- input -------------------------------------------------------------------

// The distinct images a region shows while span passes, sampled every 10 ms.
std::size_t images_shown(Running& run, XSession& x, PanelRegion region, std::chrono::milliseconds span) {
    std::set<std::vector<std::uint32_t>> seen;
    const auto end = Clock::now() + span;
    while (Clock::now() < end) {
        seen.insert(run.pixels(x, region));
        std::this_thread::sleep_for(10ms);
    }
    return seen.size();
}

struct InputFigures {
    std::size_t blink_images = 0;
    std::size_t held_key_images = 0;
};

InputFigures measure_input(Vsync vsync, Bench& b) {
    using namespace panel_layout;
    auto run = started(b.panel, b.x, vsync);
    // The pointer leaves only once the click has shown: Dear ImGui reads
    // where the pointer is now, not where it was pressed.
    const auto click_and_wait = [&](int dx, int dy, PanelRegion shows) {
        const auto before = run->pixels(b.x, shows);
        b.x.click(run->origin.x + dx, run->origin.y + dy);
        if (!wait_until([&] { return run->pixels(b.x, shows) != before; }, 5s)) {
            throw std::runtime_error("a click in the panel never showed");
        }
    };
    const auto park = [&] {
        b.x.move(run->origin.x + idle_x, run->origin.y + idle_y);
        std::this_thread::sleep_for(settle_time);
    };
    InputFigures f;
    // A register field being edited, its cursor blinking with nothing else happening.
    click_and_wait(reg3_x, reg3_y, reg3_field);
    park();
    f.blink_images = images_shown(*run, b.x, reg3_field, blink_span);
    b.x.run("xdotool key Escape");
    // Right held in the hex editor: the selection moves byte after byte.
    click_and_wait(dm_byte0_x, dm_row0_y, data_memory);
    park();
    b.x.run("xdotool keydown Right");
    f.held_key_images = images_shown(*run, b.x, data_memory, held_span);
    b.x.run("xdotool keyup Right");
    stop(*run);
    return f;
}

bool report_input(Bench& b) {
    std::printf("Input: images an edited field's cursor shows in %.1f s, and Right held in the hex editor in %.1f s\n",
                std::chrono::duration<double>(blink_span).count(), std::chrono::duration<double>(held_span).count());
    std::printf("  %-46s %10s %10s\n", "", "cursor", "held key");
    bool met = true;
    for (Vsync vsync : displays) {
        std::fflush(stdout);
        const InputFigures f = measure_input(vsync, b);
        std::printf("  %-46s %10zu %10zu\n", display_name(vsync), f.blink_images, f.held_key_images);
        met = met && f.blink_images >= blink_goal_images && f.held_key_images >= held_goal_images;
    }
    std::printf("  goal: at least %zu cursor images and %zu held-key images on both displays: %s\n\n",
                blink_goal_images, held_goal_images, met ? "met" : "NOT MET");
    return met;
}

// --- start -------------------------------------------------------------------

bool report_start(Bench& b) {
    std::printf("Start: from the fork, medians of %d starts, ms\n", b.o.starts);
    std::fflush(stdout);
    const Subject* subjects[] = {&b.baseline, &b.panel};
    std::vector<double> listen[2], frame[2], cpu[2];
    // Alternating, so that a change in the machine's load falls on both.
    for (int round = 0; round < b.o.starts; ++round) {
        for (int k = 0; k < 2; ++k) {
            auto run = spawn(*subjects[k], b.x, Placement::pinned);
            const StartTimes t = watch_start(*run, *subjects[k], b.x, k == 1);
            listen[k].push_back(t.listening_ms);
            frame[k].push_back(t.first_frame_ms);
            cpu[k].push_back(t.cpu_ms);
            stop(*run);
        }
    }
    const double base_frame = median(frame[0]), base_cpu = median(cpu[0]);
    std::printf("  %-38s %10s %12s %8s %14s %8s\n", "", "listening", "first frame", "ratio", "CPU until it", "ratio");
    std::printf("  %-38s %10s %12.1f %8s %14.1f %8s\n", (b.baseline.name + " (baseline)").c_str(), "-", base_frame,
                "1.00", base_cpu, "1.00");
    const double ratio = median(frame[1]) / base_frame;
    std::printf("  %-38s %10.1f %12.1f %8.2f %14.1f %8.2f\n", b.panel.name.c_str(), median(listen[1]),
                median(frame[1]), ratio, median(cpu[1]), median(cpu[1]) / base_cpu);
    const bool met = ratio <= start_goal_ratio;
    std::printf("  goal: first frame within %.2f x the baseline's: %s\n\n", start_goal_ratio, met ? "met" : "NOT MET");
    return met;
}

// --- memory ------------------------------------------------------------------

struct Memory {
    long long hwm_kb = 0;
    long long rss_kb = 0;
};

Memory memory_of(int pid) { return {status_kb(pid, "VmHWM"), status_kb(pid, "VmRSS")}; }

bool report_memory(Bench& b) {
    std::printf("Memory: kB\n");
    std::fflush(stdout);
    Memory base;
    {
        auto run = started(b.baseline, b.x);
        base = memory_of(run->pid());
        stop(*run);
    }
    auto run = started(b.panel, b.x);
    const Memory at_start = memory_of(run->pid());

    // The stand-in floods as soon as the panel's bus is attached; every event
    // is one line of the panel's standard output.
    FileTail lines(run->stdout_path(), "\n");
    std::vector<std::string> extra{"--flood", std::to_string(b.o.flood)};
    if (b.o.rate > 0) extra.insert(extra.end(), {"--rate", std::to_string(b.o.rate)});
    const auto stream_start = Clock::now();
    auto standin = start_standin(run->dir.path(), extra);
    long long seen = 0;
    auto last_growth = Clock::now();
    while (seen < b.o.flood && Clock::now() - last_growth < 5s) {
        std::this_thread::sleep_for(100ms);
        const long long now_seen = lines.count();
        if (now_seen != seen) last_growth = Clock::now();
        seen = now_seen;
    }
    const double stream_seconds = std::chrono::duration<double>(last_growth - stream_start).count();
    std::this_thread::sleep_for(settle_time);
    const Memory after_stream = memory_of(run->pid());
    stop(*standin);

    // Every body of the stand-in's hostile table, up to the line after its last.
    FileTail hostile_end(run->stdout_path(), hostile_end_marker);
    standin = start_standin(run->dir.path(), {"--malformed"});
    const bool hostile_done = wait_until([&] { return hostile_end.count() > 0; }, 60s);
    std::this_thread::sleep_for(settle_time);
    const Memory after_hostile = memory_of(run->pid());

    // The four ping benchmarks, clicked in the "Main" window, against the stand-in.
    stop(*standin);
    standin = start_standin(run->dir.path());
    std::vector<std::string> pings;
    FileTail done(run->stdout_path(), "test done in: "), stopped(run->stdout_path(), "ping test stopped");
    for (std::size_t k = 0; k < std::size(ping_labels); ++k) {
        const long long before = done.count() + stopped.count();
        b.x.click(run->origin.x + panel_layout::run_test_0_x,
                  run->origin.y + panel_layout::run_test_0_y + static_cast<int>(k) * ping_button_pitch);
        const bool finished = wait_until([&] { return done.count() + stopped.count() > before; }, 120s);
        pings.push_back(std::string(ping_labels[k]) + (finished ? "" : ": no result within 120 s"));
    }
    std::this_thread::sleep_for(settle_time);
    const Memory after_pings = memory_of(run->pid());
    std::ifstream out(run->stdout_path());
    std::size_t k = 0;
    for (std::string line; std::getline(out, line) && k < pings.size();) {
        if (line.rfind("test done in: ", 0) == 0 || line.rfind("ping test stopped", 0) == 0) pings[k++] += ": " + line;
    }
    stop(*standin);
    stop(*run);

    std::printf("  %-44s %10s %10s %10s\n", "", "VmHWM", "VmRSS", "HWM ratio");
    auto row = [&](const std::string& name, const Memory& m) {
        std::printf("  %-44s %10lld %10lld %10.2f\n", name.c_str(), m.hwm_kb, m.rss_kb,
                    static_cast<double>(m.hwm_kb) / static_cast<double>(base.hwm_kb));
    };
    row(b.baseline.name + " after start (baseline)", base);
    row(b.panel.name + " after start", at_start);
    row("after a " + std::to_string(b.o.flood) + "-event stream", after_stream);
    row("after the stand-in's hostile bodies", after_hostile);
    row("after the four ping benchmarks", after_pings);
    std::printf("  stream: %lld of %lld events printed in %.1f s (%s)\n", seen, b.o.flood, stream_seconds,
                b.o.rate > 0 ? ("--rate " + std::to_string(b.o.rate)).c_str() : "unpaced");
    for (const auto& p : pings) std::printf("  %s\n", p.c_str());
    const long long hostile_growth = after_hostile.hwm_kb - after_stream.hwm_kb;
    const bool met = hostile_done && hostile_growth < hostile_goal_kb;
    std::printf("  goal: the hostile bodies %s, VmHWM growing by less than %lld kB (%+lld): %s\n\n",
                hostile_done ? "all handled" : "NOT all handled", hostile_goal_kb, hostile_growth,
                met ? "met" : "NOT MET");
    return met;
}

// --- main --------------------------------------------------------------------

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--rounds") o.rounds = std::stoi(value());
        else if (arg == "--window") o.window_seconds = std::stod(value());
        else if (arg == "--starts") o.starts = std::stoi(value());
        else if (arg == "--flood") o.flood = std::stoll(value());
        else if (arg == "--rate") o.rate = std::stoll(value());
        else if (arg == "--events") o.events = std::stoi(value());
        else if (arg == "--vedrik") o.vedrik = std::filesystem::absolute(value()).string();
        else if (arg == "--only") o.only = value();
        else throw std::runtime_error("unknown option " + arg);
    }
    const std::set<std::string> parts{"", "idle", "latency", "input", "start", "memory"};
    if (parts.count(o.only) == 0) throw std::runtime_error("--only takes idle, latency, input, start or memory");
    if (o.events < 1 || o.rounds < 1 || o.starts < 1 || o.window_seconds <= 0 || o.flood < 1) {
        throw std::runtime_error("bad option value");
    }
    return o;
}

int run(int argc, char** argv) {
    const Options o = parse(argc, argv);
    std::printf(private_network() ? "in a network namespace of its own\n"
                                  : "in the machine's network namespace: ports 31337 and 31338 must stay free\n");
    choose_processors();
    auto session = placed(Placement::pinned, [] { return std::make_unique<XSession>(); });
    Bench b{o, *session, {"empty_panel", EMPTY_PANEL_BINARY, "Empty panel"}, {"vedrik", o.vedrik, "Vedrik"}};
    std::printf("vedrik: %s\n\n", o.vedrik.c_str());
    bool met = true;
    if (o.runs("idle")) met = report_idle(b) && met;
    if (o.runs("latency")) met = report_latency(b) && met;
    if (o.runs("input")) met = report_input(b) && met;
    if (o.runs("start")) met = report_start(b) && met;
    if (o.runs("memory")) met = report_memory(b) && met;
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
