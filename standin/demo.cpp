#include "standin/demo.hpp"

#include <thread>

namespace demo {

namespace {

// How often the demo looks for a panel while none is attached.
constexpr std::chrono::milliseconds attach_poll{100};
// A panel's end of the bus connection attaches a moment after the stand-in's.
constexpr std::chrono::milliseconds settle_time{50};

enum Opcode : std::uint64_t { op_add_immediate = 0x02, op_store = 0x04, op_add = 0x06, op_jump_not_zero = 0x08 };

// An instruction word (the layout in processor.hpp).
constexpr std::uint64_t word(Opcode op, unsigned a, unsigned b, unsigned k) {
    return op | (std::uint64_t{b} << 8) | (std::uint64_t{a} << 12) | (std::uint64_t{k} << 16);
}

}  // namespace

std::vector<std::uint64_t> program() {
    return {
        word(op_store, 2, 4, 0),          // data[r4] = r2
        word(op_add, 1, 2, 0),            // r1 += r2
        word(op_store, 1, 4, 1),          // data[r4 + 1] = r1
        word(op_add, 2, 1, 0),            // r2 += r1
        word(op_add_immediate, 4, 4, 2),  // r4 += 2
        word(op_jump_not_zero, 15, 0, 0)  // back to 0
    };
}

std::vector<std::uint64_t> registers() {
    std::vector<std::uint64_t> r(Processor::register_count, 0);
    r[2] = 1;
    r[15] = 1;
    return r;
}

void run(const std::atomic<bool>& stop, const Actions& actions, int steps_per_second) {
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::seconds(1)) /
                        (steps_per_second > 0 ? steps_per_second : default_steps_per_second);
    while (!stop) {
        if (!actions.panel_attached(attach_poll)) continue;
        std::this_thread::sleep_for(settle_time);
        actions.load(Processor::Component::instruction_memory, program());
        actions.load(Processor::Component::register_file, registers());
        actions.load(Processor::Component::data_memory, std::vector<std::uint64_t>(Processor::data_bytes, 0));
        auto next = std::chrono::steady_clock::now() + period;
        while (!stop && actions.panel_attached(std::chrono::milliseconds(0))) {
            std::this_thread::sleep_until(next);
            next += period;
            if (!stop) actions.step();
        }
    }
}

}  // namespace demo
