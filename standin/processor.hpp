#pragma once
// The machine state of the stand-in simulator and its small instruction set.
// Plain data and pure operations: the owner serialises access (the stand-in
// holds one mutex around it, shared by its bus and pair threads).
//
// Instruction word, 32 bits:
//   bits  0-7   opcode
//   bits  8-11  B, a register number
//   bits 12-15  A, a register number
//   bits 16-23  K, an unsigned 8-bit constant
//   bits 24-31  unused
// Registers and data bytes are 8 bits; every sum and difference wraps mod 256,
// and every data address is taken mod 256. pc starts at 0, moves on by one
// word per step (wrapping at 256) and is set back to 0 by a load of the
// instruction memory.
//
//   0x00  NOP               nothing
//   0x01  LI   A, K         r[A] = K
//   0x02  ADDI A, B, K      r[A] = r[B] + K
//   0x03  STI  A, K         data[r[A]] = K
//   0x04  ST   A, B, K      data[r[B] + K] = r[A]
//   0x05  LD   A, B, K      r[A] = data[r[B] + K]
//   0x06  ADD  A, B         r[A] = r[A] + r[B]
//   0x07  SUB  A, B         r[A] = r[A] - r[B]
//   0x08  JNZ  A, K         if r[A] != 0 then pc = K (instead of pc + 1)
//   any other opcode        nothing, like NOP
//
// The panel's "Init IM" program, from a machine whose registers are all 0:
//   0x00011002  ADDI r1, r0, 1    r1 = 1
//   0x00012003  STI  r2, 1        data[0] = 1
//   0x00003102  ADDI r3, r1, 0    r3 = 1
//   0x00050003  STI  r0, 5        data[0] = 5
// (after "Init REG" it sets r3 = 1, data[2] = 1 and data[0] = 5).

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class Processor {
public:
    static constexpr int instruction_words = 256;
    static constexpr int register_count = 16;
    static constexpr int data_bytes = 256;

    enum class Component { instruction_memory, register_file, data_memory };

    // One register or data byte whose value a step changed.
    struct Change {
        Component component;  // register_file or data_memory
        int index;
        int value;
        bool operator==(const Change&) const = default;
    };

    // Stores values at first, first + 1, ... of the component, each cut to
    // its cell's low 32 or 8 bits, as the panel's mirrors store them.
    // Returns false, and stores nothing, when they do not all fit inside.
    bool load(Component component, std::size_t first, const std::vector<std::uint64_t>& values);

    // Executes the instruction at pc; returns the registers and data bytes
    // whose value changed, registers first, each in index order.
    std::vector<Change> step();

    int pc() const { return pc_; }
    std::uint32_t instruction(int address) const { return instructions_[address]; }
    std::uint8_t reg(int number) const { return registers_[number]; }
    std::uint8_t data(int address) const { return data_[address]; }
    // Cell index of the component, below its size.
    std::uint32_t cell(Component component, std::size_t index) const;

private:
    int pc_ = 0;
    std::array<std::uint32_t, instruction_words> instructions_{};
    std::array<std::uint8_t, register_count> registers_{};
    std::array<std::uint8_t, data_bytes> data_{};
};
