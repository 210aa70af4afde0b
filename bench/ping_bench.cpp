// The panel's ping exchange beside a bare nng pair0 exchange of the same sizes.
//
// Panel: PingExchange::run, the exchange the "run test" buttons repeat (the
// "ping" command with N integer zeros, encoded once per run and sent as the
// same bytes each time, then Endpoint::receive_within of the reply), against
// qz3-standin, which answers a ping from its header without decoding the
// payload. Bare: nng_sendmsg of a body as long as that ping envelope and
// nng_recvmsg of a body as long as the reply, against an echo peer that looks
// at nothing. JSON: the library's own decode of the reply (from_ubjson), timed
// alone: the one piece of JSON work left in an exchange. All run in the same
// process, interleaved in blocks, for N = 0, 100, 1000 and 10000; each prints
// medians in microseconds, the ratio panel / bare, and the ratio
// panel / (bare + JSON): 1.00 means the panel adds nothing of its own to what
// nng and the JSON library cost.
//
// Goal: payload 0 at most 1.10 x (bare + JSON).
//
// The process tunes its allocator as vedrik does (keep_freed_memory_for_reuse).
//
// The benchmark pins itself (and so the peers it starts) to processor 0: a
// wake-up that crosses processors costs more than the exchange itself on a
// small virtual machine, and figures that cross vary from run to run.
//
//   build/bench/ping_bench [EXCHANGES]     (default 2000 per size and side)
//
// This is the baseline measurement, so it calls nng directly for the bare side.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nng/nng.h>
#include <nng/protocol/pair0/pair.h>

#include "control_panel.hpp"
#include "messaging/endpoint.hpp"
#include "messaging/message.hpp"
#include "messaging/wire_names.hpp"
#include "process_settings.hpp"
#include "support/loopback.hpp"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int payload_sizes[] = {0, 100, 1000, 10000};
constexpr int default_exchanges = 2000;
constexpr int warmup_exchanges = 100;
constexpr int block = 100;  // exchanges per side before switching to the other
constexpr int pinned_cpu = 0;
constexpr double goal_ratio = 1.10;  // payload 0: panel / (bare + JSON)

void die(const char* what, int rv) {
    std::fprintf(stderr, "ping_bench: %s: %s\n", what, nng_strerror(rv));
    std::exit(1);
}

// The bare peer, in a child forked before the parent touched nng (nng does
// not survive a fork): reads the address to dial from the pipe, then answers
// every message with a body of reply_size bytes.
[[noreturn]] void echo_peer(int address_pipe, std::size_t reply_size) {
    char buffer[128] = {};
    std::size_t length = 0;
    while (length + 1 < sizeof buffer) {
        ssize_t n = read(address_pipe, buffer + length, sizeof buffer - 1 - length);
        if (n <= 0) break;
        length += static_cast<std::size_t>(n);
    }
    close(address_pipe);
    const std::string url(buffer, length);
    nng_socket s;
    if (int rv = nng_pair0_open(&s); rv != 0) die("nng_pair0_open", rv);
    while (nng_dial(s, url.c_str(), nullptr, 0) != 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (;;) {
        nng_msg* in = nullptr;
        if (nng_recvmsg(s, &in, 0) != 0) _exit(0);
        nng_msg_free(in);
        nng_msg* out = nullptr;
        if (nng_msg_alloc(&out, reply_size) != 0) _exit(1);
        if (nng_sendmsg(s, out, 0) != 0) nng_msg_free(out);
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    keep_freed_memory_for_reuse();
    int exchanges = argc > 1 ? std::atoi(argv[1]) : default_exchanges;
    if (exchanges < block) exchanges = block;

    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(pinned_cpu, &cpus);
    bool pinned = sched_setaffinity(0, sizeof cpus, &cpus) == 0;

    const std::string destination(wire::simulation_control);
    const std::vector<std::uint8_t> reply =
        encode(make_envelope(MessageKind::event, std::string(wire::sub_ping), nullptr, destination, ""));
    const std::size_t reply_size = reply.size();

    int address_pipe[2];
    if (pipe(address_pipe) != 0) return 1;
    pid_t echo = fork();
    if (echo == 0) {
        close(address_pipe[1]);
        echo_peer(address_pipe[0], reply_size);
    }
    close(address_pipe[0]);

    // The peers are told their addresses before anyone listens there.
    const ReservedPort bus_port, pair_port, bare_port;
    const std::string bus_url = bus_port.url();
    const std::string pair_url = pair_port.url();
    const std::string bare_url = bare_port.url();
    if (write(address_pipe[1], bare_url.data(), bare_url.size()) != static_cast<ssize_t>(bare_url.size())) return 1;
    close(address_pipe[1]);

    std::vector<std::string> args{STANDIN_BINARY, "--quiet", "--bus", bus_url, "--pair", pair_url};
    std::vector<char*> cargs;
    for (auto& a : args) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    pid_t standin = 0;
    if (posix_spawn(&standin, STANDIN_BINARY, nullptr, nullptr, cargs.data(), environ) != 0) {
        std::fprintf(stderr, "ping_bench: cannot start %s\n", STANDIN_BINARY);
        kill(echo, SIGKILL);
        return 1;
    }

    {
        Endpoint bus(&bus_url, EndpointKind::bus_listen);
        Endpoint pair(&pair_url, EndpointKind::pair_listen);
        if (!bus.connect() || !pair.connect()) return 1;

        nng_socket bare;
        if (int rv = nng_pair0_open(&bare); rv != 0) die("nng_pair0_open", rv);
        if (int rv = nng_listen(bare, bare_url.c_str(), nullptr, 0); rv != 0) die("nng_listen", rv);

        std::printf("ping exchange, microseconds per exchange (median of %d), %s\n", exchanges,
                    pinned ? "pinned to processor 0" : "NOT pinned (sched_setaffinity failed)");
        std::printf("%8s %11s %10s %10s %10s %8s %13s\n", "payload", "body bytes", "panel us", "bare us", "JSON us",
                    "p/bare", "p/(bare+JSON)");

        double empty_ratio = 0;
        for (int size : payload_sizes) {
            Message payload = Message::array();
            for (int i = 0; i < size; ++i) payload.push_back(0);
            const std::vector<std::uint8_t> body =
                encode(make_envelope(MessageKind::command, std::string(wire::sub_ping), payload, "", destination));

            PingExchange ping(pair, payload);
            auto panel_exchange = [&] { ping.run(control_data::ping_reply_limit); };
            auto json_work = [&] {
                Message answer = Message::from_ubjson(reply.data(), reply.data() + reply.size(), /*strict=*/true);
                if (answer.is_null()) std::abort();
            };
            auto bare_exchange = [&] {
                nng_msg* out = nullptr;
                if (int rv = nng_msg_alloc(&out, body.size()); rv != 0) die("nng_msg_alloc", rv);
                std::memcpy(nng_msg_body(out), body.data(), body.size());
                if (int rv = nng_sendmsg(bare, out, 0); rv != 0) die("nng_sendmsg", rv);
                nng_msg* in = nullptr;
                if (int rv = nng_recvmsg(bare, &in, 0); rv != 0) die("nng_recvmsg", rv);
                nng_msg_free(in);
            };

            for (int i = 0; i < warmup_exchanges; ++i) {
                panel_exchange();
                bare_exchange();
                json_work();
            }
            std::vector<double> panel_us;
            std::vector<double> bare_us;
            std::vector<double> json_us;
            auto timed = [](auto& exchange, std::vector<double>& into) {
                for (int i = 0; i < block; ++i) {
                    auto t0 = Clock::now();
                    exchange();
                    into.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
                }
            };
            for (int done = 0; done < exchanges; done += block) {
                timed(panel_exchange, panel_us);
                timed(bare_exchange, bare_us);
                timed(json_work, json_us);
            }
            double p = median(panel_us);
            double b = median(bare_us);
            double j = median(json_us);
            std::printf("%8d %11zu %10.1f %10.1f %10.1f %8.2f %13.2f\n", size, body.size(), p, b, j, p / b,
                        p / (b + j));
            std::fflush(stdout);
            if (size == 0) empty_ratio = p / (b + j);
        }
        nng_close(bare);
        std::printf("goal: payload 0 at most %.2f x (bare + JSON): %.2f, %s\n", goal_ratio, empty_ratio,
                    empty_ratio <= goal_ratio ? "met" : "NOT MET");
    }

    kill(standin, SIGTERM);
    kill(echo, SIGKILL);
    waitpid(standin, nullptr, 0);
    waitpid(echo, nullptr, 0);
    return 0;
}
