// A stream of "write" events from the stand-in simulator into the panel,
// beside the same stream into a bare nng bus0 receiver.
//
// Panel: the real frame driver (Panel::frame, which run_frame calls for the
// window) on a Dear ImGui context with no renderer, paced at 60 frames a
// second like the window, its arrivals waking it through the window's
// WakeSignal (SDL user events, drained every frame), listening on free ports (so that a running vedrik
// does not get in the way), with standard output (where it prints every
// message) going to a file. Every frame takes the inbox, prints and applies each event
// and draws all windows. Events are counted and checked for gaps afterwards
// from what was printed: the stand-in's event i carries address i % 256 and
// value (i / 256) % 256.
// Bare: a bus0 listener whose receive completion counts the message and
// starts the next receive, and does nothing else.
//
// For each side: qz3-standin --flood N at rising --rate values, then at full
// speed, in rounds. Printed per run: events received of N, the rate they
// arrived at (from the first to the last), and how many were lost. Then, per
// rate, the median arrival rates with the ratio panel / bare, and the losses
// of every round; the highest paced rate at which no round lost an event; the
// full-speed medians and their ratio. "cpu us" is the processor time this
// process spent per event received, all its threads together (the side not
// being measured sits idle meanwhile).
//
// Each side is pinned to a processor of its own: the receivers (this process)
// to processor 0, the stand-in to processor 1, as a simulator runs beside the
// panel. (On one shared core the stand-in's own sending, through nng's
// threads, tops out below 20000 events a second on these machines.)
//
//   build/bench/event_stream_bench [EVENTS [ROUNDS]]     (default 200000, 3)

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nng/nng.h>
#include <nng/protocol/bus0/bus.h>

#include <SDL.h>

#include "frame.hpp"
#include "imgui.h"
#include "loop/frame_schedule.hpp"
#include "loop/wake_signal.hpp"
#include "process_settings.hpp"
#include "support/loopback.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int default_events = 200000;
constexpr int default_rounds = 3;
constexpr int paced_rates[] = {20000, 40000, 60000, 80000, 100000, 150000};
constexpr int receiver_cpu = 0;
constexpr int sender_cpu = 1;
// A run ends this long after the last event arrived (or the stand-in said it
// was done and nothing more came).
constexpr auto quiet_end = 500ms;
constexpr auto run_limit = 60s;

FILE* report = stdout;  // the bench's own figures; the panel's output goes elsewhere


// A file's bytes from offset to its end.
std::string read_file(const std::string& path, off_t offset = 0) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(offset);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

off_t file_size(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

// The stand-in flooding the bus at url; its notes go to err_path.
pid_t start_flood(const std::string& bus_url, const std::string& pair_url, int events, int rate,
                  const std::string& err_path) {
    std::vector<std::string> args{STANDIN_BINARY, "--bus", bus_url, "--pair", pair_url, "--flood",
                                  std::to_string(events)};
    if (rate > 0) {
        args.push_back("--rate");
        args.push_back(std::to_string(rate));
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        cpu_set_t cpus;
        CPU_ZERO(&cpus);
        CPU_SET(sender_cpu, &cpus);
        sched_setaffinity(0, sizeof cpus, &cpus);
        int null_fd = open("/dev/null", O_WRONLY);
        int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(null_fd, STDOUT_FILENO);
        dup2(err_fd, STDERR_FILENO);
        execv(STANDIN_BINARY, argv.data());
        _exit(127);
    }
    if (pid < 0) {
        std::fprintf(stderr, "event_stream_bench: cannot start %s\n", STANDIN_BINARY);
        std::exit(1);
    }
    return pid;
}

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

bool flood_done(const std::string& err_path) { return read_file(err_path).find("flood: published") != std::string::npos; }

// Processor time this process has used so far, all threads.
double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Run {
    double cpu_us_per_event = 0;  // this process's processor time per event received
    long received = 0;
    long lost = 0;          // events never seen (counted from the gaps, or from the total)
    double rate = 0;        // events per second from the first to the last arrival
};

// What a run's arrivals say: count, first and last arrival.
struct Arrivals {
    long count = 0;
    Clock::time_point first{};
    Clock::time_point last{};
};

void print_run(const char* side, int rate, int events, const Run& r) {
    std::fprintf(report, "%-6s %10s %10ld of %-8d %12.0f %8ld %10.1f\n", side,
                 rate > 0 ? std::to_string(rate).c_str() : "full", r.received, events, r.rate, r.lost,
                 r.cpu_us_per_event);
    std::fflush(report);
}

// ---- the bare receiver ----------------------------------------------------

struct BareReceiver {
    nng_socket socket = NNG_SOCKET_INITIALIZER;
    nng_aio* aio = nullptr;
    std::atomic<long> count{0};
    std::atomic<long long> first_ns{0};
    std::atomic<long long> last_ns{0};

    static void on_receive(void* arg) {
        auto* self = static_cast<BareReceiver*>(arg);
        if (nng_aio_result(self->aio) != 0) return;
        nng_msg_free(nng_aio_get_msg(self->aio));
        long long now = Clock::now().time_since_epoch().count();
        if (self->count.fetch_add(1, std::memory_order_relaxed) == 0) self->first_ns = now;
        self->last_ns.store(now, std::memory_order_relaxed);
        nng_recv_aio(self->socket, self->aio);
    }

    explicit BareReceiver(const std::string& url) {
        if (nng_bus0_open(&socket) != 0 || nng_socket_set_int(socket, NNG_OPT_RECVBUF, 8192) != 0 ||
            nng_listen(socket, url.c_str(), nullptr, 0) != 0 || nng_aio_alloc(&aio, on_receive, this) != 0) {
            std::fprintf(stderr, "event_stream_bench: bare receiver cannot listen on %s\n", url.c_str());
            std::exit(1);
        }
        nng_recv_aio(socket, aio);
    }
    ~BareReceiver() {
        nng_aio_stop(aio);
        nng_close(socket);
        nng_aio_free(aio);
    }

    Arrivals arrivals() const {
        Arrivals a;
        a.count = count.load();
        a.first = Clock::time_point(Clock::duration(first_ns.load()));
        a.last = Clock::time_point(Clock::duration(last_ns.load()));
        return a;
    }
    void reset() {
        count = 0;
        first_ns = 0;
        last_ns = 0;
    }
};

Run bare_run(BareReceiver& bare, const std::string& bus_url, const std::string& pair_url, int events, int rate,
             const std::string& err_path) {
    bare.reset();
    double cpu0 = cpu_seconds();
    pid_t standin = start_flood(bus_url, pair_url, events, rate, err_path);
    auto deadline = Clock::now() + run_limit;
    long seen = -1;
    auto last_change = Clock::now();
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
        long now_count = bare.count.load();
        if (now_count != seen) {
            seen = now_count;
            last_change = Clock::now();
        }
        if (now_count >= events) break;
        if (flood_done(err_path) && Clock::now() - last_change > quiet_end) break;
    }
    stop(standin);
    double cpu = cpu_seconds() - cpu0;
    Arrivals a = bare.arrivals();
    Run r;
    r.cpu_us_per_event = a.count > 0 ? cpu * 1e6 / static_cast<double>(a.count) : 0;
    r.received = a.count;
    r.lost = events - a.count;
    double seconds = std::chrono::duration<double>(a.last - a.first).count();
    r.rate = seconds > 0 ? static_cast<double>(a.count - 1) / seconds : 0;
    return r;
}

// ---- the panel --------------------------------------------------------------

// The panel's printed events from offset on: count, and gaps in the sequence.
struct Printed {
    long count = 0;
    long lost = 0;
};

Printed read_printed(const std::string& path, off_t offset) {
    std::string text = read_file(path, offset);
    Printed p;
    long previous = -1;
    std::size_t pos = 0;
    while ((pos = text.find("{\"data\":{\"address\":", pos)) != std::string::npos) {
        std::size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end - pos);
        pos = end;
        if (line.find("\"origin\":\"QZ3_MK.data_memory\"") == std::string::npos) continue;
        int address = std::atoi(line.c_str() + std::strlen("{\"data\":{\"address\":"));
        std::size_t v = line.find("\"value\":");
        if (v == std::string::npos) continue;
        int value = std::atoi(line.c_str() + v + std::strlen("\"value\":"));
        long seq = value * 256L + address;
        long step = previous < 0 ? seq + 1 : (seq - previous + 65536) % 65536;
        if (step == 0) step = 65536;
        p.lost += step - 1;
        previous = seq;
        ++p.count;
    }
    return p;
}

class HeadlessPanel {
public:
    HeadlessPanel(std::string bus_url, std::string pair_url)
        : schedule_(60), panel_(std::make_unique<Panel>(std::move(bus_url), std::move(pair_url))) {
        SDL_Init(SDL_INIT_EVENTS);
        wake_ = std::make_shared<WakeSignal>();
        panel_->app.hub.bus.set_arrival_notice([wake = wake_] { wake->notify(); });
        ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.DisplaySize = ImVec2(1280, 720);
        io.IniFilename = nullptr;
        unsigned char* pixels = nullptr;
        int w = 0, h = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
    }
    ~HeadlessPanel() {
        wake_->disable();
        panel_.reset();
        SDL_Quit();
        ImGui::DestroyContext();
    }

    void frame() {
        ImGuiIO& io = ImGui::GetIO();
        io.DeltaTime = 1.0f / 60.0f;
        schedule_.frame_started(FrameSchedule::Clock::now());
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
        }
        wake_->rearm();
        ImGui::NewFrame();
        bool done = false;
        panel_->frame(done);
        ImGui::Render();
        // Paced as the window's loop paces a stream: one frame a refresh.
        schedule_.frame_ended(FrameSchedule::Clock::now(), true, true);
        std::this_thread::sleep_until(schedule_.next().earliest);
    }

private:
    FrameSchedule schedule_;
    std::shared_ptr<WakeSignal> wake_;
    std::unique_ptr<Panel> panel_;
};

Run panel_run(HeadlessPanel& panel, const std::string& bus_url, const std::string& out_path,
              const std::string& pair_dummy, int events, int rate, const std::string& err_path) {
    std::fflush(stdout);
    off_t offset = file_size(out_path);
    double cpu0 = cpu_seconds();
    pid_t standin = start_flood(bus_url, pair_dummy, events, rate, err_path);
    auto deadline = Clock::now() + run_limit;
    off_t seen = -1;
    auto last_change = Clock::now();
    std::optional<Clock::time_point> first;
    Clock::time_point last{};
    while (Clock::now() < deadline) {
        panel.frame();
        std::fflush(stdout);
        off_t size = file_size(out_path);
        if (size != seen) {
            if (seen >= 0 && !first) first = Clock::now();
            if (seen >= 0) last = Clock::now();
            seen = size;
            last_change = Clock::now();
        }
        if (flood_done(err_path) && Clock::now() - last_change > quiet_end) break;
    }
    stop(standin);
    double cpu = cpu_seconds() - cpu0;
    Printed p = read_printed(out_path, offset);
    Run r;
    r.received = p.count;
    r.cpu_us_per_event = p.count > 0 ? cpu * 1e6 / static_cast<double>(p.count) : 0;
    r.lost = p.lost + (events - p.count - p.lost);  // gaps, and whatever never came at the end
    double seconds = first ? std::chrono::duration<double>(last - *first).count() : 0;
    r.rate = seconds > 0 ? static_cast<double>(p.count) / seconds : 0;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    keep_freed_memory_for_reuse();
    int events = argc > 1 ? std::atoi(argv[1]) : default_events;
    if (events < 1000) events = 1000;
    int rounds = argc > 2 ? std::atoi(argv[2]) : default_rounds;
    if (rounds < 1) rounds = 1;

    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(receiver_cpu, &cpus);
    bool pinned = sched_setaffinity(0, sizeof cpus, &cpus) == 0;

    char dir_template[] = "/tmp/event_stream_bench.XXXXXX";
    const std::string dir = mkdtemp(dir_template);
    const std::string out_path = dir + "/panel-stdout.txt";
    const std::string err_path = dir + "/standin-stderr.txt";

    // The panel prints every message on standard output: into a file, and
    // the figures onto what standard output was.
    report = fdopen(dup(STDOUT_FILENO), "w");
    int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::fflush(stdout);
    dup2(out_fd, STDOUT_FILENO);
    close(out_fd);

    std::fprintf(report, "event stream of %d \"write\" events, %d rounds, %s\n", events, rounds,
                 pinned ? "receivers pinned to processor 0, the stand-in to processor 1"
                        : "NOT pinned (sched_setaffinity failed)");
    std::fprintf(report, "%-6s %10s %22s %12s %8s %10s\n", "side", "rate/s", "received", "arrived/s", "lost",
                 "cpu us/ev");

    // Held for the whole run: the stand-ins dial these while their listeners
    // start; nobody listens on the first.
    const ReservedPort nowhere_port, bare_port, panel_bus_port;
    const std::string nowhere = nowhere_port.url();  // the stand-in's pair dial
    const std::string bare_url = bare_port.url();
    const std::string panel_bus = panel_bus_port.url();
    BareReceiver bare(bare_url);
    HeadlessPanel panel(panel_bus, any_loopback_port);
    panel.frame();  // the first frame starts the hub: the panel listens from here on

    std::vector<int> rates(std::begin(paced_rates), std::end(paced_rates));
    rates.push_back(0);  // full speed
    std::map<int, std::vector<Run>> bare_runs, panel_runs;
    // Rounds, and within a round the two sides one after the other at each
    // rate, so that a slow spell of the machine falls on both.
    for (int round = 0; round < rounds; ++round) {
        for (int rate : rates) {
            Run b = bare_run(bare, bare_url, nowhere, events, rate, err_path);
            print_run("bare", rate, events, b);
            bare_runs[rate].push_back(b);
            Run p = panel_run(panel, panel_bus, out_path, nowhere, events, rate, err_path);
            print_run("panel", rate, events, p);
            panel_runs[rate].push_back(p);
        }
    }

    auto median_rate = [](std::vector<Run> runs) {
        std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.rate < b.rate; });
        return runs[runs.size() / 2].rate;
    };
    auto median_cpu = [](std::vector<Run> runs) {
        std::sort(runs.begin(), runs.end(),
                  [](const Run& a, const Run& b) { return a.cpu_us_per_event < b.cpu_us_per_event; });
        return runs[runs.size() / 2].cpu_us_per_event;
    };
    auto losses = [](const std::vector<Run>& runs) {
        std::string text;
        for (const Run& r : runs) text += (text.empty() ? "" : "/") + std::to_string(r.lost);
        return text;
    };
    auto highest_whole = [&](std::map<int, std::vector<Run>>& runs) {
        int best = 0;
        for (int rate : paced_rates) {
            for (const Run& r : runs[rate])
                if (r.lost != 0) return best;
            best = rate;
        }
        return best;
    };

    std::fprintf(report, "\nmedians over %d rounds; lost per round\n", rounds);
    std::fprintf(report, "%8s | %10s %16s %7s | %10s %16s %7s | %7s\n", "rate/s", "bare ev/s", "bare lost",
                 "cpu us", "panel ev/s", "panel lost", "cpu us", "p/bare");
    for (int rate : rates) {
        double b = median_rate(bare_runs[rate]);
        double p = median_rate(panel_runs[rate]);
        std::fprintf(report, "%8s | %10.0f %16s %7.1f | %10.0f %16s %7.1f | %7.2f\n",
                     rate > 0 ? std::to_string(rate).c_str() : "full", b, losses(bare_runs[rate]).c_str(),
                     median_cpu(bare_runs[rate]), p, losses(panel_runs[rate]).c_str(), median_cpu(panel_runs[rate]),
                     b > 0 ? p / b : 0.0);
    }
    double bare_full = median_rate(bare_runs[0]);
    double panel_full = median_rate(panel_runs[0]);
    std::fprintf(report, "\nhighest paced rate with no loss in any round: panel %d/s, bare %d/s\n",
                 highest_whole(panel_runs), highest_whole(bare_runs));
    std::fprintf(report, "full speed: panel %.0f/s, bare %.0f/s, ratio %.2f\n", panel_full, bare_full,
                 bare_full > 0 ? panel_full / bare_full : 0.0);
    std::fflush(report);
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    rmdir(dir.c_str());
    // The panel's endpoints close with the process.
    std::_Exit(0);
}
