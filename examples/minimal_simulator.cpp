// A minimal simulator for the Vedrik panel, to start your own from.
//
// The panel listens on two sockets and a simulator's components dial them:
//   bus   tcp://127.0.0.1:31337  events go out; the panel's register "write"
//                                commands come in
//   pair  tcp://127.0.0.1:31338  "step", "load" and "ping" commands come in;
//                                each "ping" wants exactly one reply
// Every nng message is one JSON envelope encoded as UBJSON.
//
// This program publishes a "load" and a "write" event from each of the three
// components whenever the panel attaches (again after a panel restart),
// answers every "ping", and prints every command it receives. It keeps no
// machine: a real simulator would apply the commands and publish the changes
// as events. Stop it with Ctrl+C.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <nng/nng.h>
#include <nng/protocol/bus0/bus.h>
#include <nng/protocol/pair0/pair.h>

using json = nlohmann::json;

namespace {

std::atomic<bool> stop{false};
std::atomic<bool> panel_attached{false};

void on_signal(int) { stop = true; }

// nng calls this on one of its threads when a connection to the panel is up.
void on_pipe_added(nng_pipe, nng_pipe_ev, void*) { panel_attached = true; }

// Dials url on a new socket; nng redials until the panel listens, and after
// it went away. Returns false (and prints why) when the address is unusable.
bool dial(nng_socket& socket, int (*open)(nng_socket*), const char* url) {
    int rv = open(&socket);
    if (rv == 0) rv = nng_socket_set_ms(socket, NNG_OPT_RECVTIMEO, 20);  // so that the loop below turns
    if (rv == 0) rv = nng_dial(socket, url, nullptr, NNG_FLAG_NONBLOCK);
    if (rv != 0) std::fprintf(stderr, "cannot dial %s: %s\n", url, nng_strerror(rv));
    return rv == 0;
}

// Sends one event: the envelope's five members, encoded as UBJSON, one message.
void send_event(nng_socket socket, const std::string& sub_type, const json& data, const std::string& origin) {
    const json envelope = {{"message_type", "event"}, {"message_sub_type", sub_type}, {"origin", origin},
                           {"destination", ""},       {"data", data}};
    const std::vector<std::uint8_t> body = json::to_ubjson(envelope);
    if (int rv = nng_send(socket, const_cast<std::uint8_t*>(body.data()), body.size(), 0); rv != 0) {
        std::fprintf(stderr, "send failed: %s\n", nng_strerror(rv));
    }
}

// Takes one envelope: waits up to the socket's receive timeout, or not at
// all with NNG_FLAG_NONBLOCK in flags.
bool receive(nng_socket socket, json& envelope, int flags) {
    void* body = nullptr;
    std::size_t size = 0;
    if (nng_recv(socket, &body, &size, NNG_FLAG_ALLOC | flags) != 0) return false;  // mostly nothing there
    const auto* bytes = static_cast<const std::uint8_t*>(body);
    bool ok = true;
    try {
        envelope = json::from_ubjson(bytes, bytes + size);
    } catch (const json::parse_error& e) {
        std::fprintf(stderr, "undecodable message: %s\n", e.what());
        ok = false;
    }
    nng_free(body, size);
    return ok;
}

void print(const char* socket, const json& envelope) {
    std::printf("%s < %s\n", socket, envelope.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
    std::fflush(stdout);
}

// What the panel shows: each component's "load" (from "start" on) and "write".
void publish_state(nng_socket bus) {
    send_event(bus, "load", {{"start", 0}, {"values", {0x00011002, 0x00012003}}}, "QZ3_MK.instruction_memory");
    send_event(bus, "write", {{"address", 2}, {"value", 0x00003102}}, "QZ3_MK.instruction_memory");
    send_event(bus, "load", {{"start", 0}, {"values", {10, 11, 12}}}, "QZ3_MK.register_file");
    send_event(bus, "write", {{"register_number", 3}, {"value", 42}}, "QZ3_MK.register_file");
    send_event(bus, "load", {{"start", 0}, {"values", {1, 2, 3, 4}}}, "QZ3_MK.data_memory");
    send_event(bus, "write", {{"address", 4}, {"value", 5}}, "QZ3_MK.data_memory");
}

}  // namespace

int main() {
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);

    nng_socket bus = NNG_SOCKET_INITIALIZER;
    nng_socket pair = NNG_SOCKET_INITIALIZER;
    if (!dial(bus, nng_bus0_open, "tcp://127.0.0.1:31337")) return 1;
    nng_pipe_notify(bus, NNG_PIPE_EV_ADD_POST, on_pipe_added, nullptr);
    if (!dial(pair, nng_pair0_open, "tcp://127.0.0.1:31338")) return 1;

    while (!stop) {
        // A bus drops what it sends while nobody is attached: publish once
        // the panel is there, after a moment for its end of the connection.
        if (panel_attached.exchange(false)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            publish_state(bus);
        }
        json command;
        // One loop serves both sockets; only the pair waits, so that a
        // benchmark's pings are answered at once.
        if (receive(pair, command, 0)) {
            if (command.value("message_sub_type", "") == "ping") {
                // The panel times 1000 of these and does not read the reply.
                std::printf("pair < ping with %zu values\n", command["data"].size());
                std::fflush(stdout);
                send_event(pair, "ping", nullptr, "QZ3_MK.simulation_control");
            } else {
                print("pair", command);
            }
        }
        if (receive(bus, command, NNG_FLAG_NONBLOCK) && command.value("message_type", "") == "command") {
            print("bus", command);
        }
    }
    nng_close(pair);
    nng_close(bus);
    return 0;
}
