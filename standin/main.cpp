// qz3-standin: a stand-in for the QZ3_MK processor simulator, so that the
// panel can be used and tested without the real one.
//
// It dials the panel's bus and pair sockets with endpoints, whose nng
// dialer keeps redialling until the panel listens and again whenever the
// panel goes away and comes back (a restart), and keeps the state of the
// instruction memory (256 words of 32 bits), the register file (16 registers
// of 8 bits) and the data memory (256 bytes), and keeps this contract:
//
//   pair  "ping" command         exactly one reply on pair: an event "ping"
//                                from QZ3_MK.simulation_control, data null
//   pair  "step" command         executes one instruction (the instruction set
//                                is described in processor.hpp) and publishes
//                                one bus "write" event for every register and
//                                data byte that changed
//   pair  "load" command to      applies {"start", "values"} and publishes a
//         QZ3_MK.instruction_memory, "load" event of what it stored on the
//         QZ3_MK.register_file   bus with that component as origin; a load
//         or QZ3_MK.data_memory  of the instruction memory sets pc back to 0
//   bus   "write" command        applies {"register_number", "value"} and
//                                publishes a "write" event of what it stored
//                                from QZ3_MK.register_file
//
// The data of a load or write is read by the panel's own rules for the same
// event (mirror_event.hpp), so that the machine holds what a panel shows: a
// number counts as the integer it stands for (a fraction cut toward zero),
// cut to its cell's low 8 or 32 bits, and what a panel would refuse is
// refused. A command that does not fit (unknown sub-type or destination,
// data a panel would refuse) changes nothing, publishes nothing and is noted
// on standard error.
//
// Test modes. A bus drops what it sends while no peer is attached; so the
// one-shot modes (--malformed, --flood) start once the bus connection is up
// and settle_time more, for the panel's end of it to attach:
//   --malformed   publishes the table of hostile bodies in hostile_inputs.hpp
//                 (bodies that are not bounded UBJSON, values that are no
//                 envelope, envelopes whose fields are missing, of the wrong
//                 type or out of range, invalid UTF-8 in every string), then
//                 one valid "write" event from QZ3_MK.register_file setting
//                 register 15 to 15, which marks the batch's end.
//   --ignore-pings  answers no "ping" at all: a simulator that hangs.
//   --demo        loads a small program whenever a panel attaches and runs it
//                 a few steps a second (demo.hpp), the commands served as ever.
//   --flood N     publishes N "write" events from QZ3_MK.data_memory; event i
//                 (0 to N-1) carries address i % 256 and value (i / 256) % 256,
//                 so a receiver recovers i mod 65536 as value * 256 + address
//                 and sees a loss as a gap. --rate paces them; after a
//                 hold-up the flood catches up, yielding the processor every
//                 few events.
// The bus drops what overflows its 16-message queue per peer, and on a busy
// machine nng's sending threads fall that far behind a publisher: the
// one-shot modes hold back while nng has more than a few of their messages
// still to write into the connection (SendBacklog). nng tells a bus publisher
// nothing of that queue, and a pace alone holds only while the machine is
// idle; a pair link would push back, but the panel takes events on its bus
// only. So the count of what nng has written is the one signal: the
// kernel's on Linux, nng's pipe statistics on Windows.
//
// Threads: the main thread dials, runs the test modes and waits for SIGINT or
// SIGTERM; one thread serves pair and one serves bus. The Processor is shared
// by the two serving threads under machine_mutex, held while a command is
// applied and its events are published, so that events leave in the order
// of the changes.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include "messaging/endpoint.hpp"
#include "messaging/message.hpp"
#include "messaging/mirror_event.hpp"
#include "messaging/wire_names.hpp"
#include "process_settings.hpp"
#include "standin/demo.hpp"
#include "standin/hostile_inputs.hpp"
#include "standin/processor.hpp"
#include "standin/send_backlog.hpp"

namespace {

// Longest single wait for a message, so that the threads see a stop request.
constexpr std::chrono::milliseconds receive_poll{100};
// Pause after the first peer attaches, before a one-shot mode publishes.
constexpr std::chrono::milliseconds settle_time{50};
// Events a paced flood that fell behind sends in a row before it yields.
constexpr long long catch_up_burst = 8;
// What nng adds to each message on a TCP connection: its length.
constexpr std::uint64_t nng_length_bytes = 8;
// Most bytes a one-shot mode lets nng hold before it writes them into the
// connection: well inside the bus's 16-message queue per peer.
constexpr std::uint64_t backlog_limit_bytes = 8 * 140;
// Pause while nng catches up.
constexpr std::chrono::microseconds backlog_poll{50};
// Pause between two malformed bodies.
constexpr std::chrono::milliseconds malformed_pause{1};
// Pause after a receive that failed other than by timing out.
constexpr std::chrono::milliseconds failure_pause{100};

constexpr const char* usage_text =
    "Usage: qz3-standin [OPTION]...\n"
    "Stand-in for the QZ3_MK processor simulator: dials the panel's bus and pair\n"
    "sockets, keeps an instruction memory, a register file and a data memory, and\n"
    "answers the panel's ping, step, load and write commands.\n"
    "\n"
    "  --bus URL          bus address to dial (default tcp://127.0.0.1:31337)\n"
    "  --pair URL         pair address to dial (default tcp://127.0.0.1:31338)\n"
    "  --flood N          publish N data-memory \"write\" events; event i has\n"
    "                     address i%256 and value (i/256)%256\n"
    "  --rate PER_SECOND  pace of --flood; 0 (the default) is as fast as possible\n"
    "  --malformed        publish a table of hostile bodies, then a \"write\" of\n"
    "                     register 15 = 15 that ends the batch\n"
    "                     (--flood and --malformed start 50 ms after the bus\n"
    "                     connection to the panel is up)\n"
    "  --ignore-pings     never answer a \"ping\" (a simulator that hangs)\n"
    "  --demo             load a small program and run it, 5 steps a second\n"
    "                     (--rate sets another pace)\n"
    "  --quiet            write nothing on standard error once started\n"
    "  --verbose          write every envelope received and sent on standard output\n"
    "  --help             show this text and exit\n"
    "\n"
    "Stops on SIGINT or SIGTERM with exit code 0; a bad option exits with code 2,\n"
    "an address that cannot be dialled with code 1.\n";

struct Options {
    std::string bus_url{wire::bus_address};
    std::string pair_url{wire::pair_address};
    long long flood = 0;
    long long rate = 0;
    bool malformed = false;
    bool ignore_pings = false;
    bool demo = false;
    bool quiet = false;
    bool verbose = false;
    bool help = false;
};

std::optional<long long> parse_count(const std::string& text) {
    if (text.empty() || text.size() > 12) return std::nullopt;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// Fills options from argv; returns an error text, empty when all is well.
// Options are read up to the first argument that is none ("--" ends them
// too); a value is the next argument or follows "=".
std::string parse_options(int argc, char** argv, Options& options) {
    enum : int { bus = 1, pair, flood, rate, malformed, ignore_pings, demo, quiet, verbose, help };
    static const option long_options[] = {
        {"bus", required_argument, nullptr, bus},
        {"pair", required_argument, nullptr, pair},
        {"flood", required_argument, nullptr, flood},
        {"rate", required_argument, nullptr, rate},
        {"malformed", no_argument, nullptr, malformed},
        {"ignore-pings", no_argument, nullptr, ignore_pings},
        {"demo", no_argument, nullptr, demo},
        {"quiet", no_argument, nullptr, quiet},
        {"verbose", no_argument, nullptr, verbose},
        {"help", no_argument, nullptr, help},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;  // errors are reported by the caller, in the stand-in's words
    for (;;) {
        const int at = optind;  // the argument getopt_long reads next
        int index = 0;
        // "+": no reordering, so the first bad argument is the one reported;
        // ":": a missing value is told apart from an unknown option.
        const int opt = getopt_long(argc, argv, "+:", long_options, &index);
        if (opt == -1) break;
        const std::string name = std::string("--") + long_options[index].name;
        auto count = [&](long long& out) -> std::string {
            auto n = parse_count(optarg);
            if (!n) return "option '" + name + "' needs a whole number >= 0, not '" + optarg + "'";
            out = *n;
            return {};
        };
        std::string err;
        switch (opt) {
            case bus: options.bus_url = optarg; break;
            case pair: options.pair_url = optarg; break;
            case flood: err = count(options.flood); break;
            case rate: err = count(options.rate); break;
            case malformed: options.malformed = true; break;
            case ignore_pings: options.ignore_pings = true; break;
            case demo: options.demo = true; break;
            case quiet: options.quiet = true; break;
            case verbose: options.verbose = true; break;
            case help: options.help = true; break;
            // MinGW's getopt_long gives ':' for a flag given a value too ("--demo=1").
            case ':':
                if (std::string_view(argv[at]).find('=') == std::string_view::npos) {
                    err = "option '" + std::string(argv[at]) + "' needs a value";
                    break;
                }
                [[fallthrough]];
            default: err = "unknown option '" + std::string(argv[at]) + "'"; break;
        }
        if (!err.empty()) return err;
    }
    if (optind < argc) return "unknown option '" + std::string(argv[optind]) + "'";
    if (options.quiet && options.verbose) return "--quiet and --verbose exclude each other";
    return {};
}

std::atomic<bool> stop_requested{false};

extern "C" void on_stop_signal(int) {
    if (stop_requested.exchange(true)) _exit(1);  // a second signal: leave at once
}

// A text for the console even when the envelope holds invalid UTF-8.
std::string printable(const Message& m) {
    try {
        return compact_text(m);
    } catch (const nlohmann::json::type_error&) {
        return "(not printable: invalid UTF-8)";
    }
}

// The string member key of an object, or nullptr.
const std::string* string_member(const Message& m, std::string_view key) {
    if (!m.is_object()) return nullptr;
    auto it = m.find(key);
    if (it == m.end() || !it->is_string()) return nullptr;
    return it->get_ptr<const std::string*>();
}

std::optional<Processor::Component> component_named(const std::string& name) {
    if (name == wire::instruction_memory) return Processor::Component::instruction_memory;
    if (name == wire::register_file) return Processor::Component::register_file;
    if (name == wire::data_memory) return Processor::Component::data_memory;
    return std::nullopt;
}

std::string_view name_of(Processor::Component component) {
    switch (component) {
        case Processor::Component::instruction_memory: return wire::instruction_memory;
        case Processor::Component::register_file: return wire::register_file;
        case Processor::Component::data_memory: return wire::data_memory;
    }
    return {};
}

// Fastest pace of the demo, steps a second.
constexpr long long demo_max_rate = 1000;

class Standin {
public:
    explicit Standin(const Options& options)
        : options_(options),
          bus_(&options_.bus_url, EndpointKind::bus_dial),
          pair_(&options_.pair_url, EndpointKind::pair_dial) {}

    int run() {
        // The dialers retry by themselves; a failure here is an address nng
        // cannot dial at all, and retrying would not help.
        if (!bus_.connect() || !pair_.connect()) return 1;
        note("dialling " + options_.bus_url + " (bus) and " + options_.pair_url + " (pair)");

        std::thread pair_thread([this] { serve_pair(); });
        std::thread bus_thread([this] { serve(bus_, [this](const Message& m) { on_bus(m); }, "bus"); });
        // A bus drops what it publishes while no panel is attached: the
        // one-shot modes wait for it.
        if (options_.malformed || options_.flood > 0) {
            while (!stop_requested && !bus_.wait_for_peer(receive_poll)) {
            }
            // The panel's side attaches its end of the pipe a moment later.
            std::this_thread::sleep_for(settle_time);
        }
        if (options_.malformed) send_malformed();
        if (options_.flood > 0) flood();
        if (options_.demo) run_demo();
        while (!stop_requested) std::this_thread::sleep_for(receive_poll);
        pair_thread.join();
        bus_thread.join();
        return 0;
    }

private:
    template <class Handler>
    void serve(Endpoint& endpoint, Handler handle, const char* name) {
        while (!stop_requested) {
            Message m;
            try {
                m = endpoint.receive_within(receive_poll);
            } catch (const NngError& e) {
                if (e.code() != NNG_ETIMEDOUT) {
                    note(std::string("receive on ") + name + " failed: " + e.what());
                    std::this_thread::sleep_for(failure_pause);
                }
                continue;
            }
            if (options_.verbose) trace(std::string(name) + " < " + printable(m));
            handle(m);
        }
    }

    // Pair bodies: a ping is answered from its header alone (its payload is
    // never read, and decoding it would cost more than the exchange the
    // panel times); everything else is decoded and handled by on_pair.
    void serve_pair() {
        while (!stop_requested) {
            try {
                pair_.receive_body_within(receive_poll, [this](const std::uint8_t* body, std::size_t length) {
                    if (!options_.verbose && is_ping(body, length)) {
                        if (!options_.ignore_pings) answer_ping();
                        return;
                    }
                    Message m;
                    try {
                        m = decode(body, length);
                    } catch (const nlohmann::json::parse_error& e) {
                        report_decode_failure(e);
                        m = 0;
                    }
                    if (options_.verbose) trace("pair < " + printable(m));
                    on_pair(m);
                });
            } catch (const NngError& e) {
                if (e.code() != NNG_ETIMEDOUT) {
                    note(std::string("receive on pair failed: ") + e.what());
                    std::this_thread::sleep_for(failure_pause);
                }
            }
        }
    }

    static bool is_ping(const std::uint8_t* body, std::size_t length) {
        std::optional<EnvelopeHeader> header = read_envelope_header(body, length);
        return header && header->message_type == wire::type_command && header->message_sub_type == wire::sub_ping;
    }

    // The reply is the same every time: encoded once.
    void answer_ping() {
        try {
            pair_.send_body(ping_reply_);
        } catch (const NngError& e) {
            note(std::string("ping reply not sent: ") + e.what());
        }
    }

    void on_pair(const Message& m) {
        const std::string* sub = string_member(m, wire::key_message_sub_type);
        const std::string* type = string_member(m, wire::key_message_type);
        if (!sub || !type || *type != wire::type_command) {
            note("ignored on pair: " + printable(m));
            return;
        }
        if (*sub == wire::sub_ping) {
            // The reply goes out before anything else; its content is never read.
            if (options_.ignore_pings) return;
            if (options_.verbose) send_pair(wire::sub_ping, nullptr);
            else answer_ping();
            return;
        }
        const std::string* destination = string_member(m, wire::key_destination);
        if (*sub == wire::sub_step) {
            step();
            return;
        }
        if (*sub == wire::sub_load && destination) {
            load(*destination, m);
            return;
        }
        note("ignored on pair: " + printable(m));
    }

    void step() {
        std::lock_guard<std::mutex> lock(machine_mutex_);
        for (const Processor::Change& c : machine_.step()) {
            if (c.component == Processor::Component::register_file) {
                publish(wire::sub_write, wire::register_file,
                        {{wire::key_register_number, c.index}, {wire::key_value, c.value}});
            } else {
                publish(wire::sub_write, wire::data_memory, {{wire::key_address, c.index}, {wire::key_value, c.value}});
            }
        }
    }

    void run_demo() {
        demo::Actions actions{
            [this](Processor::Component component, const std::vector<std::uint64_t>& values) {
                std::lock_guard<std::mutex> lock(machine_mutex_);
                if (!machine_.load(component, 0, values)) {
                    note("demo load not applied: " + std::to_string(values.size()) + " values do not fit");
                    return;
                }
                publish(wire::sub_load, name_of(component), {{wire::key_start, 0}, {wire::key_values, values}});
            },
            [this] { step(); },
            [this](std::chrono::milliseconds limit) { return bus_.wait_for_peer(limit); },
        };
        demo::run(stop_requested, actions, static_cast<int>(std::min(options_.rate, demo_max_rate)));
    }

    // A "load" command is read as the panel reads a "load" event from the
    // component it names: what the panel would refuse is refused, and what
    // it would cut to its cells (fractions, bits above the cell's width) is
    // cut the same way.
    void load(const std::string& destination, const Message& command) {
        auto component = component_named(destination);
        if (!component) {
            note("ignored load for '" + destination + "': no such component");
            return;
        }
        const MirrorEvent change = read_mirror_event(command, mirror_of(*component));
        if (change.refused()) {
            note("ignored load for '" + destination + "': " + change.refusal);
            return;
        }
        std::lock_guard<std::mutex> lock(machine_mutex_);
        apply(*component, change);
    }

    void on_bus(const Message& m) {
        const std::string* sub = string_member(m, wire::key_message_sub_type);
        const std::string* type = string_member(m, wire::key_message_type);
        const std::string* destination = string_member(m, wire::key_destination);
        if (!sub || !type || *type != wire::type_command) return;  // others' events are not ours
        if (*sub != wire::sub_write || !destination ||
            !(destination->empty() || *destination == wire::register_file)) {
            note("ignored on bus: " + printable(m));
            return;
        }
        // Read as the panel reads a "write" event of the register file.
        const MirrorEvent change = read_mirror_event(m, register_file_mirror);
        if (change.refused()) {
            note("ignored register write: " + change.refusal);
            return;
        }
        std::lock_guard<std::mutex> lock(machine_mutex_);
        apply(Processor::Component::register_file, change);
    }

    static const MirrorShape& mirror_of(Processor::Component component) {
        static_assert(register_file_mirror.cell_count == Processor::register_count);
        static_assert(memory_mirror.cell_count == Processor::instruction_words);
        static_assert(memory_mirror.cell_count == Processor::data_bytes);
        return component == Processor::Component::register_file ? register_file_mirror : memory_mirror;
    }

    // Stores a change read by the panel's rules and publishes it as the cells
    // now hold it. Under machine_mutex_.
    void apply(Processor::Component component, const MirrorEvent& change) {
        machine_.load(component, change.first, change.values);  // inside: the shapes are the machine's
        std::vector<std::uint32_t> stored;
        for (std::size_t k = 0; k < change.values.size(); ++k) stored.push_back(machine_.cell(component, change.first + k));
        if (change.kind == MirrorEvent::Kind::load) {
            publish(wire::sub_load, name_of(component), {{wire::key_start, change.first}, {wire::key_values, stored}});
        } else {
            publish(wire::sub_write, name_of(component),
                    {{mirror_of(component).index_key, change.first}, {wire::key_value, stored.front()}});
        }
    }

    void publish(std::string_view sub, std::string_view origin, const Message& data) {
        if (options_.verbose) {
            trace("bus > " + printable(make_envelope(MessageKind::event, std::string(sub), data, std::string(origin), "")));
        }
        bus_.send(MessageKind::event, std::string(sub), data, std::string(origin), "");
    }

    void send_pair(std::string_view sub, const Message& data) {
        if (options_.verbose) {
            trace("pair > " + printable(make_envelope(MessageKind::event, std::string(sub), data,
                                                      std::string(wire::simulation_control), "")));
        }
        pair_.send(MessageKind::event, std::string(sub), data, std::string(wire::simulation_control), "");
    }

    // The hostile table, one body a millisecond (a burst would overflow the
    // bus's per-peer send queue), then the end marker.
    void send_malformed() {
        const std::vector<HostileInput> table = hostile_inputs();
        SendBacklog backlog(bus_port());
        for (const HostileInput& entry : table) {
            wait_for_nng(backlog);
            try {
                bus_.send_body(entry.body);
                backlog.published(nng_length_bytes + entry.body.size());
            } catch (const NngError& e) {
                note("malformed body '" + entry.name + "' not sent: " + e.what());
            }
            std::this_thread::sleep_for(malformed_pause);
        }
        std::lock_guard<std::mutex> lock(machine_mutex_);
        machine_.load(Processor::Component::register_file, 15, {15});
        publish(wire::sub_write, wire::register_file, {{wire::key_register_number, 15}, {wire::key_value, 15}});
        note("sent " + std::to_string(table.size()) + " malformed bodies and the end marker");
    }

    void flood() {
        // Every event has the same size: addresses and values take one byte each.
        const std::uint64_t event_bytes =
            nng_length_bytes + encode(make_envelope(MessageKind::event, std::string(wire::sub_write),
                                                    {{wire::key_address, 0}, {wire::key_value, 0}},
                                                    std::string(wire::data_memory), ""))
                                   .size();
        SendBacklog backlog(bus_port());
        auto start = std::chrono::steady_clock::now();
        long long sent = 0;
        long long unpaused = 0;  // sends in a row without a sleep
        for (; sent < options_.flood && !stop_requested; ++sent) {
            if (options_.rate > 0) {
                auto scheduled = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                             std::chrono::nanoseconds(sent * 1'000'000'000LL / options_.rate));
                if (std::chrono::steady_clock::now() < scheduled) {
                    std::this_thread::sleep_until(scheduled);
                    unpaused = 0;
                } else if (++unpaused % catch_up_burst == 0) {
                    // Behind: catching up, but letting nng's sending threads
                    // take the queue before it overflows.
                    std::this_thread::yield();
                }
            }
            wait_for_nng(backlog);
            int address = static_cast<int>(sent % 256);
            int value = static_cast<int>((sent / 256) % 256);
            std::lock_guard<std::mutex> lock(machine_mutex_);
            machine_.load(Processor::Component::data_memory, static_cast<std::size_t>(address),
                          {static_cast<std::uint64_t>(value)});
            publish(wire::sub_write, wire::data_memory, {{wire::key_address, address}, {wire::key_value, value}});
            backlog.published(event_bytes);
        }
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        note("flood: published " + std::to_string(sent) + " events in " + std::to_string(ms.count()) + " ms");
    }

    // Holds the publisher back while nng has more than a few of its messages
    // still to write into the connection.
    static void wait_for_nng(SendBacklog& backlog) {
        while (!stop_requested) {
            std::optional<std::uint64_t> behind = backlog.bytes();
            if (!behind || *behind <= backlog_limit_bytes) return;
            std::this_thread::sleep_for(backlog_poll);
        }
    }

    // The port of the bus address, for SendBacklog; 0 (no connection ever
    // matches) when the address is not TCP.
    int bus_port() const {
        const std::string& url = options_.bus_url;
        if (url.rfind("tcp://", 0) != 0) return 0;
        const std::size_t colon = url.rfind(':');
        auto port = parse_count(url.substr(colon + 1));
        return port && *port > 0 && *port < 65536 ? static_cast<int>(*port) : 0;
    }

    void note(const std::string& line) {
        if (options_.quiet) return;
        std::lock_guard<std::mutex> lock(console_mutex_);
        std::cerr << "qz3-standin: " << line << std::endl;
    }

    void trace(const std::string& line) {
        std::lock_guard<std::mutex> lock(console_mutex_);
        std::cout << line << std::endl;
    }

    Options options_;
    Endpoint bus_;
    Endpoint pair_;
    const std::vector<std::uint8_t> ping_reply_ = encode(make_envelope(
        MessageKind::event, std::string(wire::sub_ping), nullptr, std::string(wire::simulation_control), ""));
    std::mutex machine_mutex_;  // guards machine_; held while its events are published
    Processor machine_;
    std::mutex console_mutex_;  // keeps the two threads' lines whole
};

}  // namespace

int main(int argc, char** argv) {
    keep_freed_memory_for_reuse();
    Options options;
    if (std::string err = parse_options(argc, argv, options); !err.empty()) {
        std::cerr << "qz3-standin: " << err << "\nTry 'qz3-standin --help'." << std::endl;
        return 2;
    }
    if (options.help) {
        std::cout << usage_text;
        return 0;
    }
    std::signal(SIGINT, on_stop_signal);
    std::signal(SIGTERM, on_stop_signal);
    if (options.quiet) {
        // The endpoints report each failed dial on standard error; quiet means none of it.
#ifdef _WIN32
        int null_fd = open("NUL", O_WRONLY);
#else
        int null_fd = open("/dev/null", O_WRONLY);
#endif
        if (null_fd >= 0) {
            dup2(null_fd, STDERR_FILENO);
            close(null_fd);
        }
    }
    Standin standin(options);
    return standin.run();
}
