#pragma once
// The "Main" window: the step and load commands and the ping benchmark.
//
// Main thread only. Every command leaves on the hub's pair endpoint; the
// window keeps no state and changes no mirror itself (what the simulator does
// with a command comes back as events on the bus).

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "messaging/application.hpp"

namespace control_data {

// The test program that "Init IM" loads into instruction words 0 to 3.
inline constexpr std::array<std::int64_t, 4> test_program{69634, 73731, 12546, 327683};
// The pattern that "Init REG" loads into registers 0 to 9.
inline constexpr std::array<std::int64_t, 10> register_pattern{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
// First address of both loads.
inline constexpr std::int64_t load_start = 0;
// Number of integer zeros in the ping payload of each "run test" button.
inline constexpr std::array<int, 4> ping_payload_sizes{0, 100, 1000, 10000};
// Request-reply exchanges per benchmark.
inline constexpr int pings_per_test = 1000;
// Longest wait for one ping's reply: past it the benchmark stops and reports,
// so that a benchmark with no simulator connected does not freeze the panel.
inline constexpr std::chrono::milliseconds ping_reply_limit{3000};

}  // namespace control_data

class ControlPanel {
public:
    // Draws the window with its seven buttons; a clicked button's command is
    // sent (or its benchmark run) at once, inside this call.
    void draw(Application& app);
};

// Sends pings_per_test pings carrying payload_size zeros on the pair endpoint,
// one at a time, each waiting for one reply. Prints the payload, then
// "test done in: <ms>ms"; or, when a wait times out or the receive fails, one
// line saying how many exchanges completed and why, and returns at once.
void run_ping_test(Application& app, int payload_size,
                   std::chrono::milliseconds reply_limit = control_data::ping_reply_limit);

// The exchange the ping benchmark repeats on pair: the "ping" command to the
// simulation control carrying a payload, built and encoded once, then sent as
// the same bytes every time. Owner thread of pair.
class PingExchange {
public:
    PingExchange(Endpoint& pair, const Message& payload);

    // Sends the ping and waits at most reply_limit for the reply, which is
    // decoded and dropped. A failed wait throws NngError.
    void run(std::chrono::milliseconds reply_limit);

private:
    Endpoint& pair_;
    Message envelope_;  // for the report of a failed send
    std::vector<std::uint8_t> body_;
};
