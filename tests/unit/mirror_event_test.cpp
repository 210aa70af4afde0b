// Reading received events for a mirror: what counts as which integer, which
// cells a load or write event changes, and what is refused with which reason.

#include "messaging/mirror_event.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct Accepted {
    const char* name;
    Message value;
    std::uint8_t low_8;
    std::uint32_t low_32;
    bool index_below_16;
};

class EventIntegerAccepted : public testing::TestWithParam<Accepted> {};

TEST_P(EventIntegerAccepted, ReadsTheIntegerTheNumberStandsFor) {
    const Accepted& c = GetParam();
    std::string reason;
    const auto read = read_event_integer(c.value, "\"value\"", reason);
    ASSERT_TRUE(read.has_value()) << reason;
    EXPECT_EQ(static_cast<std::uint8_t>(read->bits), c.low_8);
    EXPECT_EQ(static_cast<std::uint32_t>(read->bits), c.low_32);
    EXPECT_EQ(read->is_index_below(16), c.index_below_16);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, EventIntegerAccepted,
    testing::Values(
        Accepted{"zero", 0, 0, 0, true}, Accepted{"fifteen", 15, 15, 15, true},
        Accepted{"sixteen", 16, 16, 16, false}, Accepted{"three_hundred_keeps_low_bits", 300, 44, 300, false},
        Accepted{"minus_one", -1, 255, 0xffffffffu, false},
        Accepted{"unsigned_above_int64", std::numeric_limits<std::uint64_t>::max(), 255, 0xffffffffu, false},
        Accepted{"fraction_cut_off", 3.9, 3, 3, true},
        Accepted{"negative_fraction_cut_toward_zero", -3.9, 253, 0xfffffffdu, false},
        Accepted{"minus_a_half_is_zero", -0.5, 0, 0, true},
        Accepted{"float_above_int64_fits_uint64", 1e19, 0, static_cast<std::uint32_t>(10000000000000000000ull), false},
        Accepted{"true_is_one", true, 1, 1, true}, Accepted{"false_is_zero", false, 0, 0, true}),
    [](const testing::TestParamInfo<Accepted>& case_info) { return std::string(case_info.param.name); });

struct Refused {
    const char* name;
    Message value;
    const char* reason;
};

class EventIntegerRefused : public testing::TestWithParam<Refused> {};

TEST_P(EventIntegerRefused, GivesNothingAndSaysWhy) {
    const Refused& c = GetParam();
    std::string reason;
    EXPECT_FALSE(read_event_integer(c.value, "\"value\"", reason).has_value());
    EXPECT_EQ(reason, c.reason);
}

INSTANTIATE_TEST_SUITE_P(
    NonIntegers, EventIntegerRefused,
    testing::Values(
        Refused{"string", "7", "\"value\" is not a number but string"},
        Refused{"null", nullptr, "\"value\" is not a number but null"},
        Refused{"array", Message::array({1}), "\"value\" is not a number but array"},
        Refused{"object", Message::object(), "\"value\" is not a number but object"},
        Refused{"too_large", 1e300, "\"value\" 1e+300 does not fit an integer"},
        Refused{"too_small", -1e20, "\"value\" -1e+20 does not fit an integer"},
        Refused{"two_pow_64", 18446744073709551616.0, "\"value\" 1.8446744073709552e+19 does not fit an integer"},
        Refused{"nan", std::nan(""), "\"value\" is not a finite number"},
        Refused{"infinity", std::numeric_limits<double>::infinity(), "\"value\" is not a finite number"}),
    [](const testing::TestParamInfo<Refused>& case_info) { return std::string(case_info.param.name); });

constexpr MirrorShape memory_shape{256, "address", "cell"};
constexpr MirrorShape register_shape{16, "register_number", "register"};

Message envelope(Message sub_type, Message data) {
    return Message{{"message_type", "event"}, {"message_sub_type", std::move(sub_type)},
                   {"origin", "QZ3_MK.data_memory"}, {"destination", ""}, {"data", std::move(data)}};
}

using Kind = MirrorEvent::Kind;
using Values = std::vector<std::uint64_t>;

struct Reading {
    const char* name;
    Message envelope;
    Kind kind;
    std::size_t first;
    Values values;
    friend void PrintTo(const Reading& r, std::ostream* os) { *os << r.name; }
};

class MirrorEvents : public testing::TestWithParam<Reading> {};

TEST_P(MirrorEvents, GiveTheCheckedChange) {
    const Reading& c = GetParam();
    const MirrorEvent event = read_mirror_event(c.envelope, memory_shape);
    EXPECT_EQ(event.kind, c.kind);
    EXPECT_EQ(event.refusal, "");
    EXPECT_EQ(event.values, c.values);
    if (!c.values.empty()) {
        EXPECT_EQ(event.first, c.first);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Envelopes, MirrorEvents,
    testing::Values(
        Reading{"not_an_object", Message(7), Kind::other, 0, {}},
        Reading{"no_sub_type", Message{{"data", {{"address", 1}, {"value", 1}}}}, Kind::other, 0, {}},
        Reading{"sub_type_not_a_string", envelope(7, {{"address", 1}, {"value", 1}}), Kind::other, 0, {}},
        Reading{"other_sub_type", envelope("step", {{"address", 1}, {"value", 1}}), Kind::other, 0, {}},
        Reading{"write", envelope("write", {{"address", 255}, {"value", -1}}), Kind::write, 255,
                Values{0xffffffffffffffffu}},
        Reading{"load", envelope("load", {{"start", 254}, {"values", {7.5, true}}}), Kind::load, 254, Values{7, 1}},
        Reading{"load_without_values_changes_nothing", envelope("load", {{"start", 999}}), Kind::load, 0, {}},
        Reading{"empty_load_at_any_start", envelope("load", {{"start", -5}, {"values", Message::array()}}),
                Kind::load, 0, {}}),
    [](const testing::TestParamInfo<Reading>& case_info) { return std::string(case_info.param.name); });

// Every reason a "load" or "write" event is refused for, in one table: the
// views report these texts under their own names and change nothing.
struct Refusal {
    const char* name;
    const MirrorShape* shape;
    Message envelope;
    const char* reason;
    friend void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }
};

class RefusedEvents : public testing::TestWithParam<Refusal> {};

TEST_P(RefusedEvents, AreRefusedWholeForOneReason) {
    const Refusal& c = GetParam();
    const MirrorEvent event = read_mirror_event(c.envelope, *c.shape);
    EXPECT_EQ(event.kind, c.envelope.value("message_sub_type", "") == "load" ? Kind::load : Kind::write);
    EXPECT_EQ(event.refusal, c.reason);
    EXPECT_TRUE(event.values.empty());
}

const MirrorShape* const cells = &memory_shape;
const MirrorShape* const registers = &register_shape;

INSTANTIATE_TEST_SUITE_P(
    Reasons, RefusedEvents,
    testing::Values(
        // The data object.
        Refusal{"data_missing", cells, Message{{"message_sub_type", "write"}}, "data is not an object but null"},
        Refusal{"data_null", registers, envelope("load", nullptr), "data is not an object but null"},
        Refusal{"data_an_array", cells, envelope("load", {1, 2}), "data is not an object but array"},
        // A write: "value", then the cell it names.
        Refusal{"value_missing", cells, envelope("write", {{"address", 1}}), "\"value\" is missing"},
        Refusal{"value_checked_before_index", cells, envelope("write", {{"value", nullptr}}),
                "\"value\" is not a number but null"},
        Refusal{"value_a_string", registers, envelope("write", {{"register_number", 3}, {"value", "7"}}),
                "\"value\" is not a number but string"},
        Refusal{"value_too_large", cells, envelope("write", {{"address", 1}, {"value", 1e300}}),
                "\"value\" 1e+300 does not fit an integer"},
        Refusal{"value_nan", registers, envelope("write", {{"register_number", 3}, {"value", std::nan("")}}),
                "\"value\" is not a finite number"},
        Refusal{"address_missing", cells, envelope("write", {{"value", 1}}), "\"address\" is missing"},
        Refusal{"register_number_missing", registers, envelope("write", {{"value", 1}}),
                "\"register_number\" is missing"},
        Refusal{"register_number_null", registers, envelope("write", {{"register_number", nullptr}, {"value", 7}}),
                "\"register_number\" is not a number but null"},
        Refusal{"address_negative", cells, envelope("write", {{"address", -7}, {"value", 1}}),
                "\"address\" -7 is outside 0 to 255"},
        Refusal{"address_256", cells, envelope("write", {{"address", 256}, {"value", 1}}),
                "\"address\" 256 is outside 0 to 255"},
        Refusal{"address_above_int64",
                cells, envelope("write", {{"address", std::numeric_limits<std::uint64_t>::max()}, {"value", 1}}),
                "\"address\" 18446744073709551615 is outside 0 to 255"},
        Refusal{"register_minus_1", registers, envelope("write", {{"register_number", -1}, {"value", 7}}),
                "\"register_number\" -1 is outside 0 to 15"},
        Refusal{"register_16", registers, envelope("write", {{"register_number", 16}, {"value", 7}}),
                "\"register_number\" 16 is outside 0 to 15"},
        // A load: "start", then "values" from it on.
        Refusal{"start_missing", cells, envelope("load", {{"values", {1}}}), "\"start\" is missing"},
        Refusal{"start_a_string", registers, envelope("load", {{"start", "0"}, {"values", {1}}}),
                "\"start\" is not a number but string"},
        Refusal{"values_a_number", cells, envelope("load", {{"start", 0}, {"values", 5}}),
                "\"values\" is not an array but number"},
        Refusal{"values_an_object", registers, envelope("load", {{"start", 0}, {"values", {{"a", 1}}}}),
                "\"values\" is not an array but object"},
        Refusal{"start_negative", registers, envelope("load", {{"start", -1}, {"values", {1}}}),
                "\"start\" -1 is outside 0 to 15"},
        Refusal{"start_past_the_last_cell", cells, envelope("load", {{"start", 256}, {"values", {1}}}),
                "\"start\" 256 is outside 0 to 255"},
        Refusal{"start_past_the_last_register", registers, envelope("load", {{"start", 16}, {"values", {1}}}),
                "\"start\" 16 is outside 0 to 15"},
        Refusal{"load_past_the_last_cell", cells, envelope("load", {{"start", 255}, {"values", {1, 2}}}),
                "\"values\" holds 2 values from \"start\" 255, past cell 255"},
        Refusal{"load_past_the_last_register", registers, envelope("load", {{"start", 15}, {"values", {1, 2}}}),
                "\"values\" holds 2 values from \"start\" 15, past register 15"},
        Refusal{"seventeen_registers", registers,
                envelope("load", {{"start", 0}, {"values", Message(std::vector<int>(17, 1))}}),
                "\"values\" holds 17 values from \"start\" 0, past register 15"},
        Refusal{"element_null", cells, envelope("load", {{"start", 0}, {"values", {1, nullptr}}}),
                "\"values\"[1] is not a number but null"},
        Refusal{"element_a_string", cells, envelope("load", {{"start", 0}, {"values", {1, 2, "3"}}}),
                "\"values\"[2] is not a number but string"},
        Refusal{"element_too_small", registers, envelope("load", {{"start", 0}, {"values", {1, 2, -1e300}}}),
                "\"values\"[2] -1e+300 does not fit an integer"}),
    [](const testing::TestParamInfo<Refusal>& case_info) { return std::string(case_info.param.name); });

TEST(MirrorEvents, OneLineReportsARefusal) {
    MirrorEvent event = read_mirror_event(envelope("load", {{"values", {1}}}), memory_shape);
    testing::internal::CaptureStderr();
    report_refused_event("data_memory", event);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "data_memory: \"load\" event not applied: \"start\" is missing\n");
}

}  // namespace
