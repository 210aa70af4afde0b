#pragma once
// The stand-in's demo (--demo): a small program that runs slowly enough to
// watch, so that a panel just started shows a machine at work.
//
// Each time a panel attaches to the bus (at the start, and again after it
// went away and came back), the demo loads the program into the instruction
// memory, the starting values into the register file and zeros into the data
// memory, so that the new panel's mirrors match the machine; then it executes
// one instruction per tick for as long as a panel stays attached. The panel's
// own commands go on being served meanwhile by the stand-in's other threads.
//
// The program writes the Fibonacci numbers, mod 256, to data memory from
// address 0 on, two per pass of its loop, and starts over at address 0 after
// 256 of them:
//   0  ST   r2, r4, 0   data[r4] = r2
//   1  ADD  r1, r2      r1 = r1 + r2
//   2  ST   r1, r4, 1   data[r4 + 1] = r1
//   3  ADD  r2, r1      r2 = r2 + r1
//   4  ADDI r4, r4, 2   r4 = r4 + 2
//   5  JNZ  r15, 0      always (r15 holds 1): back to 0
// starting from r1 = 0, r2 = 1, r4 = 0, r15 = 1.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "standin/processor.hpp"

namespace demo {

// Ticks a second unless the command line asks for another pace.
inline constexpr int default_steps_per_second = 5;

// The instruction words, from address 0.
std::vector<std::uint64_t> program();
// Register 0 to 15 at the start.
std::vector<std::uint64_t> registers();

// What the demo does to the machine, provided by the stand-in; each call
// applies the change and publishes its events.
struct Actions {
    // Stores values from index 0 of the component and publishes the "load".
    std::function<void(Processor::Component, const std::vector<std::uint64_t>&)> load;
    // Executes one instruction and publishes a "write" per change.
    std::function<void()> step;
    // Waits at most limit for a panel on the bus; true when one is attached.
    std::function<bool(std::chrono::milliseconds)> panel_attached;
};

// Runs the demo until stop is set: loads the machine whenever a panel
// attaches, then steps steps_per_second times a second while it stays.
void run(const std::atomic<bool>& stop, const Actions& actions, int steps_per_second);

}  // namespace demo
