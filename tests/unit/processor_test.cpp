// The stand-in's machine: its instruction set, what a step reports as
// changed, and loads that do not fit or whose values are wider than a cell.

#include "standin/processor.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using C = Processor::Component;
using Changes = std::vector<Processor::Change>;

Processor::Change reg(int i, int v) { return {C::register_file, i, v}; }
Processor::Change mem(int i, int v) { return {C::data_memory, i, v}; }

// The panel's "Init IM" program.
const std::vector<std::uint64_t> test_program{69634, 73731, 12546, 327683};

std::uint32_t word(int op, int a, int b, int k) {
    return static_cast<std::uint32_t>(op | (b << 8) | (a << 12) | (k << 16));
}

TEST(Processor, TestProgramFromResetChangesRegistersAndData) {
    Processor p;
    ASSERT_TRUE(p.load(C::instruction_memory, 0, test_program));
    const std::vector<Changes> expected{{reg(1, 1)}, {mem(0, 1)}, {reg(3, 1)}, {mem(0, 5)}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(p.step(), expected[i]) << "step " << i + 1;
    }
    EXPECT_EQ(p.pc(), 4);
}

TEST(Processor, TestProgramAfterRegisterPattern) {
    Processor p;
    ASSERT_TRUE(p.load(C::register_file, 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    ASSERT_TRUE(p.load(C::instruction_memory, 0, test_program));
    const std::vector<Changes> expected{{}, {mem(2, 1)}, {reg(3, 1)}, {mem(0, 5)}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(p.step(), expected[i]) << "step " << i + 1;
    }
}

struct OpCase {
    const char* name;
    std::uint32_t instruction;
    std::vector<std::uint64_t> registers;  // r0, r1, ... before the step
    Changes changes;
    int pc_after;
};

class Instruction : public testing::TestWithParam<OpCase> {};

TEST_P(Instruction, ChangesExactlyWhatItShould) {
    const OpCase& c = GetParam();
    Processor p;
    ASSERT_TRUE(p.load(C::instruction_memory, 0, {c.instruction}));
    ASSERT_TRUE(p.load(C::register_file, 0, c.registers));
    ASSERT_TRUE(p.load(C::data_memory, 0, {0, 0, 0, 0, 0, 0, 0, 44}));
    EXPECT_EQ(p.step(), c.changes);
    EXPECT_EQ(p.pc(), c.pc_after);
}

INSTANTIATE_TEST_SUITE_P(
    Set, Instruction,
    testing::Values(OpCase{"nop", word(0x00, 1, 2, 3), {0, 9, 9}, {}, 1},
                    OpCase{"li", word(0x01, 4, 0, 200), {}, {reg(4, 200)}, 1},
                    OpCase{"addi_wraps", word(0x02, 1, 2, 10), {0, 0, 250}, {reg(1, 4)}, 1},
                    OpCase{"sti", word(0x03, 1, 0, 77), {0, 9}, {mem(9, 77)}, 1},
                    OpCase{"st_address_wraps", word(0x04, 1, 2, 10), {0, 33, 250}, {mem(4, 33)}, 1},
                    OpCase{"ld", word(0x05, 3, 1, 5), {0, 2}, {reg(3, 44)}, 1},
                    OpCase{"add", word(0x06, 1, 2, 0), {0, 200, 100}, {reg(1, 44)}, 1},
                    OpCase{"sub_wraps", word(0x07, 1, 2, 0), {0, 1, 2}, {reg(1, 255)}, 1},
                    OpCase{"jnz_taken", word(0x08, 1, 0, 42), {0, 1}, {}, 42},
                    OpCase{"jnz_not_taken", word(0x08, 1, 0, 42), {0, 0}, {}, 1},
                    OpCase{"unknown_opcode_is_nop", word(0xee, 1, 1, 1), {0, 5}, {}, 1},
                    OpCase{"unused_high_byte_ignored", 0xff000000u | word(0x01, 2, 0, 7), {}, {reg(2, 7)}, 1}),
    [](const testing::TestParamInfo<OpCase>& case_info) { return std::string(case_info.param.name); });

TEST(Processor, PcWrapsAndLoadOfInstructionsResetsIt) {
    Processor p;
    for (int i = 0; i < Processor::instruction_words - 1; ++i) p.step();
    EXPECT_EQ(p.pc(), 255);
    p.step();
    EXPECT_EQ(p.pc(), 0);
    p.step();
    ASSERT_TRUE(p.load(C::instruction_memory, 10, {1}));
    EXPECT_EQ(p.pc(), 0);
    ASSERT_TRUE(p.load(C::register_file, 0, {1}));
    p.step();
    ASSERT_TRUE(p.load(C::data_memory, 0, {1}));
    EXPECT_EQ(p.pc(), 1) << "only an instruction load resets pc";
}

struct LoadCase {
    const char* name;
    C component;
    std::size_t first;
    std::vector<std::uint64_t> values;
    bool applies;
    std::vector<std::uint32_t> stored;  // cells first, first + 1, ... when it applies
    friend void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }
};

class Load : public testing::TestWithParam<LoadCase> {};

TEST_P(Load, StoresEachValueCutToItsCellOrNothing) {
    const LoadCase& c = GetParam();
    Processor p;
    EXPECT_EQ(p.load(c.component, c.first, c.values), c.applies);
    const std::size_t size = c.component == C::register_file ? Processor::register_count : 256;
    for (std::size_t i = 0; i < size; ++i) {
        const bool loaded = c.applies && i >= c.first && i - c.first < c.stored.size();
        ASSERT_EQ(p.cell(c.component, i), loaded ? c.stored[i - c.first] : 0u) << "index " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, Load,
    testing::Values(LoadCase{"registers_to_the_last", C::register_file, 14, {1, 255}, true, {1, 255}},
                    LoadCase{"registers_past_the_end", C::register_file, 15, {1, 2}, false, {}},
                    LoadCase{"register_keeps_low_8_bits", C::register_file, 0, {1, 300}, true, {1, 44}},
                    LoadCase{"minus_one_is_all_ones", C::data_memory, 0, {~std::uint64_t{0}}, true, {255}},
                    LoadCase{"first_past_the_end", C::data_memory, 257, {}, false, {}},
                    LoadCase{"empty_at_the_end", C::data_memory, 256, {}, true, {}},
                    LoadCase{"full_32_bit_word", C::instruction_memory, 255, {0xffffffffu}, true, {0xffffffffu}},
                    LoadCase{"word_keeps_low_32_bits", C::instruction_memory, 0, {0x100000007u}, true, {7}}),
    [](const testing::TestParamInfo<LoadCase>& case_info) { return std::string(case_info.param.name); });

}  // namespace
