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

Message envelope(Message sub_type, Message data) {
    return Message{{"message_type", "event"}, {"message_sub_type", std::move(sub_type)},
                   {"origin", "QZ3_MK.data_memory"}, {"destination", ""}, {"data", std::move(data)}};
}

struct Reading {
    const char* name;
    Message envelope;
    MirrorEvent::Kind kind;
    std::size_t first;
    std::vector<std::uint64_t> values;
    const char* refusal;
    friend void PrintTo(const Reading& r, std::ostream* os) { *os << r.name; }
};

class MirrorEvents : public testing::TestWithParam<Reading> {};

TEST_P(MirrorEvents, GiveTheCheckedChangeOrOneReason) {
    const Reading& c = GetParam();
    const MirrorEvent event = read_mirror_event(c.envelope, memory_shape);
    EXPECT_EQ(event.kind, c.kind);
    EXPECT_EQ(event.refusal, c.refusal);
    EXPECT_EQ(event.values, c.values);
    if (!c.values.empty()) {
        EXPECT_EQ(event.first, c.first);
    }
}

using Kind = MirrorEvent::Kind;
using Values = std::vector<std::uint64_t>;

INSTANTIATE_TEST_SUITE_P(
    Envelopes, MirrorEvents,
    testing::Values(
        Reading{"not_an_object", Message(7), Kind::other, 0, {}, ""},
        Reading{"no_sub_type", Message{{"data", {{"address", 1}, {"value", 1}}}}, Kind::other, 0, {}, ""},
        Reading{"sub_type_not_a_string", envelope(7, {{"address", 1}, {"value", 1}}), Kind::other, 0, {}, ""},
        Reading{"other_sub_type", envelope("step", {{"address", 1}, {"value", 1}}), Kind::other, 0, {}, ""},
        Reading{"write", envelope("write", {{"address", 255}, {"value", -1}}), Kind::write, 255,
                Values{0xffffffffffffffffu}, ""},
        Reading{"load", envelope("load", {{"start", 254}, {"values", {7.5, true}}}), Kind::load, 254, Values{7, 1},
                ""},
        Reading{"load_without_values_changes_nothing", envelope("load", {{"start", 999}}), Kind::load, 0, {}, ""},
        Reading{"empty_load_at_any_start", envelope("load", {{"start", -5}, {"values", Message::array()}}),
                Kind::load, 0, {}, ""},
        Reading{"data_missing", Message{{"message_sub_type", "write"}}, Kind::write, 0, {},
                "data is not an object but null"},
        Reading{"data_an_array", envelope("load", {1, 2}), Kind::load, 0, {}, "data is not an object but array"},
        Reading{"member_missing", envelope("write", {{"address", 1}}), Kind::write, 0, {}, "\"value\" is missing"},
        Reading{"value_checked_before_index", envelope("write", {{"value", nullptr}}), Kind::write, 0, {},
                "\"value\" is not a number but null"},
        Reading{"negative_index", envelope("write", {{"address", -7}, {"value", 1}}), Kind::write, 0, {},
                "\"address\" -7 is outside 0 to 255"},
        Reading{"index_above_int64", envelope("write", {{"address", std::numeric_limits<std::uint64_t>::max()}, {"value", 1}}),
                Kind::write, 0, {}, "\"address\" 18446744073709551615 is outside 0 to 255"},
        Reading{"start_outside", envelope("load", {{"start", 256}, {"values", {1}}}), Kind::load, 0, {},
                "\"start\" 256 is outside 0 to 255"},
        Reading{"load_past_the_end_sets_none", envelope("load", {{"start", 255}, {"values", {1, 2}}}), Kind::load, 0,
                {}, "\"values\" holds 2 values from \"start\" 255, past cell 255"},
        Reading{"bad_element_sets_none", envelope("load", {{"start", 0}, {"values", {1, 2, "3"}}}), Kind::load, 0, {},
                "\"values\"[2] is not a number but string"}),
    [](const testing::TestParamInfo<Reading>& case_info) { return std::string(case_info.param.name); });

TEST(MirrorEvents, OneLineReportsARefusal) {
    MirrorEvent event = read_mirror_event(envelope("load", {{"values", {1}}}), memory_shape);
    testing::internal::CaptureStderr();
    report_refused_event("data_memory", event);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "data_memory: \"load\" event not applied: \"start\" is missing\n");
}

}  // namespace
