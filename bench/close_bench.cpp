// The panel closed while the stand-in floods its bus at full speed: how long
// from the close (WM_DELETE_WINDOW, a window manager's close button) to the
// end of the panel's process, and with which code, over many tries under Xvfb.
// The baseline, in tries that alternate with the panel's: empty_panel
// (bench/support/empty_panel.cpp, a bare SDL2 + OpenGL window with an empty
// Dear ImGui frame) closed the same way under the same flood, which a bare
// bus socket of this process takes in the panel's place and drops.
//
//   build/bench/close_bench [--tries N]      (N tries of each; default 50)
//
// It uses the panel's fixed ports 31337 and 31338: run it in a network
// namespace of its own, as the end-to-end tests are run:
//   unshare -rn sh -c 'ip link set lo up && build/bench/close_bench'
// Goal: every close exits with 0, and the panel's median close within 100 ms
// of the bare window's.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nng/nng.h>
#include <nng/protocol/bus0/bus.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "messaging/wire_names.hpp"
#include "support/child_process.hpp"
#include "support/x11/x_session.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double goal_ms = 100;  // the panel's median close above the bare window's, at most
constexpr auto exit_limit = 5s;  // past it a try counts as hung and the program is killed
// The flood is on once this much of it has arrived: the panel has printed
// 100 kB of it (about 900 events), or the bare tries' socket has taken as many.
constexpr std::uintmax_t flowing_bytes = 100000;
constexpr long flowing_events = 900;

struct Try {
    double ms = 0;
    int code = -1;  // -1: still running after exit_limit
};

// When the process pid has ended, read from a pidfd, within limit. Timed
// there rather than after waitpid: reaping is this process's own work (the
// kernel then clears the ended process's /proc entries, measured at up to
// 90 ms on a busy machine), and polling waitpid would add its period.
std::optional<Clock::time_point> wait_for_end(pid_t pid, std::chrono::milliseconds limit) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) throw std::runtime_error("pidfd_open failed");
    const auto deadline = Clock::now() + limit;
    pollfd ready{fd, POLLIN, 0};
    int n = 0;
    do {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        n = ::poll(&ready, 1, static_cast<int>(std::max<long long>(left, 0)));
    } while (n < 0 && errno == EINTR);
    const auto at = Clock::now();
    ::close(fd);
    if (n != 1) return std::nullopt;
    return at;
}

// The flood's receiver in the bare window's tries: a bus socket that listens
// on the panel's bus address and takes every message as it comes and drops
// it, with the panel's read-ahead queue.
class FloodSink {
public:
    FloodSink() {
        check(nng_bus0_open(&socket_), "nng_bus0_open");
        check(nng_socket_set_int(socket_, NNG_OPT_RECVBUF, 8192), "nng_socket_set_int");
        check(nng_socket_set_ms(socket_, NNG_OPT_RECVTIMEO, 100), "nng_socket_set_ms");
        check(nng_listen(socket_, std::string(wire::bus_address).c_str(), nullptr, 0), "nng_listen");
        drain_ = std::thread([this] {
            while (!stop_) {
                nng_msg* msg = nullptr;
                if (nng_recvmsg(socket_, &msg, 0) != 0) continue;
                nng_msg_free(msg);
                ++received_;
            }
        });
    }
    // Stop the flood's sender first: nng's close of a bus socket can hang
    // while a peer still streams into it.
    ~FloodSink() {
        stop_ = true;
        drain_.join();
        nng_close(socket_);
    }
    FloodSink(const FloodSink&) = delete;
    FloodSink& operator=(const FloodSink&) = delete;

    long received() const { return received_; }

private:
    static void check(int rv, const char* call) {
        if (rv != 0) throw std::runtime_error(std::string(call) + ": " + nng_strerror(rv));
    }
    nng_socket socket_ = NNG_SOCKET_INITIALIZER;
    std::atomic<bool> stop_{false};
    std::atomic<long> received_{0};
    std::thread drain_;
};

struct Subject {
    const char* name;
    const char* binary;
    const char* title;
    bool takes_the_flood;  // listens on the bus itself; otherwise a FloodSink does
};

const Subject panel_subject{"vedrik", VEDRIK_BINARY, "Vedrik", true};
const Subject bare_subject{"empty_panel (baseline)", EMPTY_PANEL_BINARY, "Empty panel", false};

Try one_try(XSession& x, const Subject& subject, int k) {
    const std::string what = std::string(subject.name) + " try " + std::to_string(k);
    TempDir dir;
    std::filesystem::copy_file(PANEL_INI, dir.file("imgui.ini"));
    std::optional<FloodSink> sink;
    if (!subject.takes_the_flood) sink.emplace();
    ChildProcess program({{subject.binary}, {{"DISPLAY", x.display()}}, dir.path(), dir.file("stdout.txt"), ""});
    if (!x.find_window(subject.title, 20s)) throw std::runtime_error("no window in " + what);
    auto window = *x.find_window(subject.title, 1s);
    ChildProcess standin({{STANDIN_BINARY, "--quiet", "--flood", "1000000000"}, {}, dir.path(), "", ""});
    const bool flowing = wait_until(
        [&] {
            if (sink) return sink->received() >= flowing_events;
            return std::filesystem::exists(dir.file("stdout.txt")) &&
                   std::filesystem::file_size(dir.file("stdout.txt")) > flowing_bytes;
        },
        20s);
    if (!flowing) throw std::runtime_error("the stream never started in " + what);
    const auto closed = Clock::now();
    if (!x.close_window(window)) throw std::runtime_error("close failed in " + what);
    const std::optional<Clock::time_point> ended = wait_for_end(program.pid(), exit_limit);
    std::optional<int> code = program.wait_for(1s);
    Try t;
    t.ms = std::chrono::duration<double, std::milli>((ended ? *ended : Clock::now()) - closed).count();
    t.code = ended && code ? *code : -1;
    standin.signal(SIGTERM);
    standin.wait_for(5s);
    return t;
}

struct Summary {
    int exit_zero = 0;
    double fastest = 0, median = 0, slowest = 0;
};

Summary summarize(const std::vector<Try>& tries) {
    std::vector<double> ms;
    Summary s;
    for (const Try& t : tries) {
        ms.push_back(t.ms);
        s.exit_zero += t.code == 0;
    }
    std::sort(ms.begin(), ms.end());
    s.fastest = ms.front();
    s.median = ms[ms.size() / 2];
    s.slowest = ms.back();
    return s;
}

int run(int argc, char** argv) {
    int tries = 50;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--tries" && i + 1 < argc) tries = std::stoi(argv[++i]);
        else throw std::runtime_error("usage: close_bench [--tries N]");
    }
    if (tries < 1) throw std::runtime_error("--tries must be at least 1");
    XSession x;
    std::vector<Try> panel_tries, bare_tries;
    for (int k = 0; k < tries; ++k) {
        panel_tries.push_back(one_try(x, panel_subject, k));
        bare_tries.push_back(one_try(x, bare_subject, k));
    }
    const Summary panel = summarize(panel_tries);
    const Summary bare = summarize(bare_tries);
    std::printf("Close under a full-speed flood: %d tries of each, alternating\n", tries);
    std::printf("  %-24s %12s %32s\n", "", "exit code 0", "exit after close, ms");
    std::printf("  %-24s %12s %32s\n", "", "", "fastest / median / slowest");
    for (const auto& [name, s] : {std::pair{bare_subject.name, bare}, std::pair{panel_subject.name, panel}}) {
        std::printf("  %-24s %5d of %-4d %12.1f / %6.1f / %6.1f\n", name, s.exit_zero, tries, s.fastest, s.median,
                    s.slowest);
    }
    const double above = panel.median - bare.median;
    const bool met = panel.exit_zero == tries && bare.exit_zero == tries && above <= goal_ms;
    std::printf("  median: vedrik %.1f ms, baseline %.1f ms, difference %.1f ms, ratio %.2f\n", panel.median,
                bare.median, above, panel.median / bare.median);
    std::printf("  goal: every close exits 0, and the median within %.0f ms of the baseline's: %s\n", goal_ms,
                met ? "met" : "NOT MET");
    return met ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "close_bench: %s\n", e.what());
        return 2;
    }
}
