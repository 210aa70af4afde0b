// Reading integers out of received event data: what counts as which integer,
// and what is refused with which reason.

#include "event_fields.hpp"

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

class EventFieldsAccepted : public testing::TestWithParam<Accepted> {};

TEST_P(EventFieldsAccepted, ReadsTheIntegerTheNumberStandsFor) {
    const Accepted& c = GetParam();
    std::string reason;
    const auto read = read_event_integer(c.value, "\"value\"", reason);
    ASSERT_TRUE(read.has_value()) << reason;
    EXPECT_EQ(read->low_bits<std::uint8_t>(), c.low_8);
    EXPECT_EQ(read->low_bits<std::uint32_t>(), c.low_32);
    EXPECT_EQ(read->is_index_below(16), c.index_below_16);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, EventFieldsAccepted,
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

class EventFieldsRefused : public testing::TestWithParam<Refused> {};

TEST_P(EventFieldsRefused, GivesNothingAndSaysWhy) {
    const Refused& c = GetParam();
    std::string reason;
    EXPECT_FALSE(read_event_integer(c.value, "\"value\"", reason).has_value());
    EXPECT_EQ(reason, c.reason);
}

INSTANTIATE_TEST_SUITE_P(
    NonIntegers, EventFieldsRefused,
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

TEST(EventFields, MemberMissingOrPresent) {
    const Message data = {{"start", 14}};
    std::string reason;
    EXPECT_FALSE(read_event_member(data, "value", reason).has_value());
    EXPECT_EQ(reason, "\"value\" is missing");
    const auto start = read_event_member(data, "start", reason);
    ASSERT_TRUE(start.has_value());
    EXPECT_EQ(start->bits, 14u);
}

TEST(EventFields, DataMustBeAnObject) {
    std::string reason;
    EXPECT_TRUE(require_event_object(Message::object(), reason));
    EXPECT_FALSE(require_event_object(Message::array(), reason));
    EXPECT_EQ(reason, "data is not an object but array");
}

TEST(EventFields, TextOfNegativeAndLargeValues) {
    std::string reason;
    EXPECT_EQ(read_event_integer(-7, "x", reason)->text(), "-7");
    EXPECT_EQ(read_event_integer(std::numeric_limits<std::uint64_t>::max(), "x", reason)->text(),
              "18446744073709551615");
}

}  // namespace
