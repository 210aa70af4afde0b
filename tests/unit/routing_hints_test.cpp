// The notes on standard error for events that change no view: which origins
// and sub-types are noted, in what words, once each, and how far a peer that
// sends a new name every time can make them go.

#include "routing_hints.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string views =
    R"(the views take "QZ3_MK.instruction_memory", "QZ3_MK.data_memory" and "QZ3_MK.register_file")";
const std::string sub_types = R"(the views apply "load" and "write")";

Message event(const Message& origin, const Message& sub_type) {
    return Message{{"data", {{"address", 1}, {"value", 2}}},
                   {"destination", ""},
                   {"message_sub_type", sub_type},
                   {"message_type", "event"},
                   {"origin", origin}};
}

Message without(Message envelope, const char* key) {
    envelope.erase(key);
    return envelope;
}

struct Case {
    const char* name;
    Message message;
    std::string note;  // empty: none
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }

class FirstNote : public testing::TestWithParam<Case> {};

TEST_P(FirstNote, NamesWhatChangesNoViewAndWhatTheViewsTake) {
    RoutingHints hints;
    const auto note = hints.note(GetParam().message);
    EXPECT_EQ(note.value_or(""), GetParam().note);
}

INSTANTIATE_TEST_SUITE_P(
    Envelopes, FirstNote,
    testing::Values(
        Case{"register_write", event("QZ3_MK.register_file", "write"), ""},
        Case{"memory_load", event("QZ3_MK.data_memory", "load"), ""},
        Case{"instruction_load", event("QZ3_MK.instruction_memory", "load"), ""},
        Case{"simulation_control_is_known", event("QZ3_MK.simulation_control", "ping"), ""},
        Case{"no_prefix", event("register_file", "write"),
             R"(hint: origin "register_file" names no view, so its events change nothing; )" + views},
        Case{"wrong_case", event("qz3_mk.register_file", "write"),
             R"(hint: origin "qz3_mk.register_file" names no view, so its events change nothing; )" + views},
        Case{"trailing_space", event("QZ3_MK.data_memory ", "write"),
             R"(hint: origin "QZ3_MK.data_memory " names no view, so its events change nothing; )" + views},
        Case{"number", event(5, "write"), "hint: origin 5 names no view, so its events change nothing; " + views},
        Case{"no_origin", without(event("", "write"), "origin"),
             R"(hint: an envelope without "origin" changes no view; )" + views},
        Case{"no_envelope", Message::array({1, 2}), R"(hint: an envelope without "origin" changes no view; )" + views},
        Case{"misspelt_sub_type", event("QZ3_MK.register_file", "wirte"),
             R"(hint: "message_sub_type" "wirte" (from "QZ3_MK.register_file") changes no view; )" + sub_types},
        Case{"sub_type_case", event("QZ3_MK.data_memory", "Write"),
             R"(hint: "message_sub_type" "Write" (from "QZ3_MK.data_memory") changes no view; )" + sub_types},
        Case{"sub_type_number", event("QZ3_MK.data_memory", 1),
             R"(hint: "message_sub_type" 1 (from "QZ3_MK.data_memory") changes no view; )" + sub_types},
        Case{"no_sub_type", without(event("QZ3_MK.instruction_memory", "load"), "message_sub_type"),
             R"(hint: an envelope without "message_sub_type" (from "QZ3_MK.instruction_memory") changes no view; )" +
                 sub_types}),
    [](const testing::TestParamInfo<Case>& case_info) { return std::string(case_info.param.name); });

TEST(RoutingHints, EachOriginAndEachSubTypeIsNotedOnce) {
    RoutingHints hints;
    EXPECT_TRUE(hints.note(event("register_file", "write")));
    EXPECT_FALSE(hints.note(event("register_file", "load")));
    EXPECT_TRUE(hints.note(event("data_memory", "write"))) << "another origin";
    EXPECT_TRUE(hints.note(without(event("", "write"), "origin")));
    EXPECT_FALSE(hints.note(Message(7))) << "no origin, noted before";

    EXPECT_TRUE(hints.note(event("QZ3_MK.register_file", "wirte")));
    EXPECT_FALSE(hints.note(event("QZ3_MK.data_memory", "wirte"))) << "the sub-type, whatever its origin";
    EXPECT_TRUE(hints.note(event("QZ3_MK.data_memory", "step")));
}

TEST(RoutingHints, APeerSendingNewNamesGetsABoundedNumberOfLines) {
    RoutingHints hints;
    for (std::size_t i = 0; i < RoutingHints::max_noted; ++i) {
        EXPECT_TRUE(hints.note(event("component " + std::to_string(i), "write"))) << i;
    }
    EXPECT_EQ(hints.note(event("one more", "write")).value_or(""),
              "hint: further origins that name no view are not noted");
    EXPECT_FALSE(hints.note(event("and another", "write")));
    EXPECT_FALSE(hints.note(event("component 0", "write")));
    // Sub-types are counted apart.
    EXPECT_TRUE(hints.note(event("QZ3_MK.register_file", "wirte")));
}

TEST(RoutingHints, LongAndInvalidNamesAreCutAtACharacterAndShownReplaced) {
    RoutingHints hints;
    const std::string long_name = std::string(1 << 20, 'a');
    // Two-byte characters after the opening quote: the cut falls inside one.
    std::string accented;
    for (int i = 0; i < 100; ++i) accented += "\xC3\xA9";
    for (const std::string& name : {long_name, accented}) {
        const auto note = hints.note(event(name, "write"));
        ASSERT_TRUE(note);
        EXPECT_LT(note->size(), 300u);
        const auto cut = note->find("...");
        ASSERT_NE(cut, std::string::npos) << *note;
        EXPECT_NO_THROW(compact_text(Message(note->substr(0, cut)))) << "whole characters only";
    }
    EXPECT_FALSE(hints.note(event(long_name + "b", "write"))) << "agrees with a noted name as far as shown";

    const auto replaced = hints.note(event("x\xFFy", "write"));
    ASSERT_TRUE(replaced);
    EXPECT_NE(replaced->find("\"x\xEF\xBF\xBDy\""), std::string::npos) << *replaced;
}

}  // namespace
