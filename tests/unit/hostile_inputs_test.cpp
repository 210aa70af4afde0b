// The stand-in's table of hostile bodies through the panel's whole receive
// path (decode with its report, then the frame driver's printing and
// routing), one body at a time into one panel, as a stream would: each is
// reported exactly once and changes exactly the cells its entry names.

#include "standin/hostile_inputs.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <iostream>
#include <set>

#include "frame.hpp"

namespace {

struct Mirrors {
    std::array<std::uint8_t, 16> registers;
    std::array<std::uint32_t, 256> instructions;
    std::array<std::uint8_t, 256> data;

    explicit Mirrors(const Panel& p)
        : registers(p.register_file.registers), instructions(p.instruction_memory.memory), data(p.data_memory.memory) {}

    std::uint32_t cell(Mirror m, std::size_t i) const {
        switch (m) {
        case Mirror::register_file: return registers.at(i);
        case Mirror::instruction_memory: return instructions.at(i);
        case Mirror::data_memory: return data.at(i);
        case Mirror::none: break;
        }
        return 0;
    }

    std::size_t size(Mirror m) const {
        return m == Mirror::register_file ? registers.size() : m == Mirror::none ? 0 : data.size();
    }
};

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Lines in which a view says it refused an event.
std::size_t refusals_in(const std::string& err) {
    return count_of(err, "\" event not applied: ");
}

TEST(HostileInputs, EachIsReportedOnceAndChangesOnlyTheCellsItValidlyAddresses) {
    Panel panel("tcp://127.0.0.1:1", "tcp://127.0.0.1:2");
    const std::vector<HostileInput> table = hostile_inputs();
    std::set<std::string> names;
    for (const HostileInput& entry : table) {
        SCOPED_TRACE(entry.name);
        EXPECT_TRUE(names.insert(entry.name).second) << "two entries share the name";
        const Mirrors before(panel);

        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        std::optional<Message> message = decode_received(entry.body.data(), entry.body.size());
        if (message) panel.dispatch(*message);
        std::cout.flush();
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();

        if (entry.outcome == HostileInput::Outcome::undecodable) {
            ASSERT_FALSE(message.has_value());
            EXPECT_EQ(count_of(out, "message: [json.exception.parse_error."), 1u) << out;
            EXPECT_EQ(count_of(out, "\nexception id: "), 1u) << out;
            if (entry.refusal_id != 0) {
                EXPECT_NE(out.find("\nexception id: " + std::to_string(entry.refusal_id) + "\n"), std::string::npos)
                    << out;
            }
            EXPECT_EQ(err, "");
        } else {
            ASSERT_TRUE(message.has_value());
            EXPECT_EQ(out, compact_text(*message, InvalidUtf8::replace) + "\n");
            EXPECT_EQ(refusals_in(err), entry.outcome == HostileInput::Outcome::refused ? 1u : 0u) << err;
            EXPECT_EQ(count_of(err, "not applied: [json.exception"), 0u) << err;
        }

        const Mirrors after(panel);
        for (Mirror m : {Mirror::register_file, Mirror::instruction_memory, Mirror::data_memory}) {
            for (std::size_t i = 0; i < after.size(m); ++i) {
                std::uint32_t expected = before.cell(m, i);
                if (m == entry.mirror && i >= entry.first && i < entry.first + entry.values.size()) {
                    expected = entry.values[i - entry.first];
                }
                ASSERT_EQ(after.cell(m, i), expected) << "mirror " << static_cast<int>(m) << " cell " << i;
            }
        }
        for (int i = 0; i < RegisterFileView::register_count; ++i) {
            EXPECT_STREQ(panel.register_file.texts[i].get(),
                         RegisterFileView::format_value(panel.register_file.registers[i], panel.register_file.base).c_str());
        }
    }
}

TEST(HostileInputs, AppliedEntriesAddressCellsOfTheirOwnInsideTheMirror) {
    std::set<std::pair<Mirror, std::size_t>> cells;
    std::size_t applied = 0;
    for (const HostileInput& entry : hostile_inputs()) {
        if (entry.outcome != HostileInput::Outcome::applied) continue;
        ++applied;
        const std::size_t size = entry.mirror == Mirror::register_file ? 15 : 256;
        for (std::size_t k = 0; k < entry.values.size(); ++k) {
            EXPECT_LT(entry.first + k, size) << entry.name;
            EXPECT_TRUE(cells.insert({entry.mirror, entry.first + k}).second) << entry.name << " reuses a cell";
            EXPECT_NE(entry.values[k], 0u) << entry.name << ": a zero would not show as a change";
        }
    }
    EXPECT_GT(applied, 0u);
}

}  // namespace
