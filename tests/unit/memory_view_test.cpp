// The memory mirrors: load and write events applied whole, or refused whole
// with one line on standard error.

#include "views/memory_view.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <vector>

namespace {

Message event(const char* sub_type, Message data) {
    return make_envelope(MessageKind::event, sub_type, data, "QZ3_MK.data_memory", "");
}

TEST(MemoryView, StartsAtZeroAndAppliesLoadsAndWrites) {
    InstructionMemoryView im(0, "instruction_memory");
    DataMemoryView dm(0, "data_memory");
    for (auto w : im.memory) EXPECT_EQ(w, 0u);

    im.handle_message(event("load", {{"start", 0}, {"values", {69634, 73731}}}));
    EXPECT_EQ(im.memory[0], 0x00011002u);
    EXPECT_EQ(im.memory[1], 73731u);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(im.memory.data());
    if (std::endian::native == std::endian::little) {
        EXPECT_EQ(bytes[0], 0x02);
        EXPECT_EQ(bytes[1], 0x10);
        EXPECT_EQ(bytes[2], 0x01);
        EXPECT_EQ(bytes[3], 0x00);
    }

    im.handle_message(event("write", {{"address", 2}, {"value", -1}}));
    EXPECT_EQ(im.memory[2], 0xFFFFFFFFu);
    dm.handle_message(event("write", {{"address", 5}, {"value", 511}}));
    EXPECT_EQ(dm.memory[5], 255);
    // Kept from the JSON library's conversion: fractions cut off, booleans count.
    dm.handle_message(event("write", {{"address", 6.9}, {"value", true}}));
    EXPECT_EQ(dm.memory[6], 1);
    dm.handle_message(event("load", {{"start", 254}, {"values", {7.5, 8}}}));
    EXPECT_EQ(dm.memory[254], 7);
    EXPECT_EQ(dm.memory[255], 8);
}

TEST(MemoryView, IgnoresOtherSubTypesAndEmptyLoadsSilently) {
    DataMemoryView dm(0, "data_memory");
    testing::internal::CaptureStderr();
    dm.handle_message(event("step", nullptr));
    dm.handle_message(event("load", {{"start", 0}, {"values", Message::array()}}));
    dm.handle_message(event("load", {{"start", 0}}));
    dm.handle_message(Message{{"data", {{"address", 1}, {"value", 1}}}});
    dm.handle_message(Message(3));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    for (auto b : dm.memory) EXPECT_EQ(b, 0);
}

// Which bytes the editor shows highlighted after an event: the ones whose
// value it changed, each byte of a word on its own.
TEST(MemoryView, MarksEveryByteAnEventChangedAndNoOther) {
    InstructionMemoryView im(0, "instruction_memory");
    DataMemoryView dm(0, "data_memory");
    im.memory[1] = 0x11223344;
    dm.memory[3] = 7;
    const auto marked = [](const ChangeMarks& changes) {
        std::vector<std::size_t> at;
        for (std::size_t k = 0; k < changes.size(); ++k)
            if (changes.level(k) > 0) at.push_back(k);
        return at;
    };
    const auto byte_of_word = [](std::size_t word, unsigned significance) {
        return 4 * word + (std::endian::native == std::endian::little ? significance : 3 - significance);
    };

    // Word 1 keeps its high and low bytes; word 2 changes in its top byte alone.
    im.handle_message(event("load", {{"start", 1}, {"values", {0x11AA5544, 0xFF000000u}}}));
    std::vector<std::size_t> expected{byte_of_word(1, 1), byte_of_word(1, 2), byte_of_word(2, 3)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(marked(im.changes), expected);

    // A write or load of the value a cell already holds marks nothing.
    dm.handle_message(event("write", {{"address", 3}, {"value", 7}}));
    dm.handle_message(event("load", {{"start", 2}, {"values", {0, 7}}}));
    EXPECT_TRUE(marked(dm.changes).empty());
    dm.handle_message(event("load", {{"start", 2}, {"values", {0, 8, 1}}}));
    EXPECT_EQ(marked(dm.changes), (std::vector<std::size_t>{3, 4}));
    // A refused event marks nothing.
    testing::internal::CaptureStderr();
    dm.handle_message(event("load", {{"start", 0}, {"values", {9, nullptr}}}));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(marked(dm.changes), (std::vector<std::size_t>{3, 4}));
}

// The reasons are tabled with the reading of events (mirror_event_test);
// here, the view's own part: its line, under its name, for the refusals its
// size decides, and not a cell changed, not even before a bad value.
TEST(MemoryView, ARefusedEventChangesNoCellAndIsReportedUnderTheViewsName) {
    struct Case {
        Message event;
        const char* line;
    };
    const Case cases[] = {
        {event("write", {{"address", 256}, {"value", 1}}),
         "data_memory: \"write\" event not applied: \"address\" 256 is outside 0 to 255\n"},
        {event("load", {{"start", 255}, {"values", {1, 2}}}),
         "data_memory: \"load\" event not applied: \"values\" holds 2 values from \"start\" 255, past cell 255\n"},
        {event("load", {{"start", 0}, {"values", {1, 2, nullptr}}}),
         "data_memory: \"load\" event not applied: \"values\"[2] is not a number but null\n"},
    };
    for (const Case& c : cases) {
        DataMemoryView dm(0, "data_memory");
        dm.memory[0] = 9;
        testing::internal::CaptureStderr();
        dm.handle_message(c.event);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
        EXPECT_EQ(dm.memory[0], 9);
        for (std::size_t i = 1; i < dm.memory.size(); ++i) ASSERT_EQ(dm.memory[i], 0) << i;
    }
}

}  // namespace
