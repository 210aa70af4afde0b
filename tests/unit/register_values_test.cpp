// The register file view without a window: the text forms of a value, the
// reading of typed texts, and the load and write events it applies or refuses.

#include "views/register_file_view.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "messaging/application.hpp"

namespace {

struct Formatted {
    std::uint8_t value;
    int base;
    const char* text;
};

class FormatValue : public testing::TestWithParam<Formatted> {};

TEST_P(FormatValue, DigitsOnlyWithoutLeadingZeros) {
    const Formatted& c = GetParam();
    EXPECT_EQ(RegisterFileView::format_value(c.value, c.base), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Bases, FormatValue,
    testing::Values(Formatted{0, 2, "0"}, Formatted{1, 2, "1"}, Formatted{10, 2, "1010"},
                    Formatted{128, 2, "10000000"}, Formatted{255, 2, "11111111"}, Formatted{0, 8, "0"},
                    Formatted{10, 8, "12"}, Formatted{255, 8, "377"}, Formatted{0, 10, "0"},
                    Formatted{10, 10, "10"}, Formatted{255, 10, "255"}, Formatted{0, 16, "0"},
                    Formatted{10, 16, "a"}, Formatted{255, 16, "ff"}));

TEST(FormatValue, EveryValueRoundTripsInEveryBase) {
    for (int base : {2, 8, 10, 16}) {
        for (int v = 0; v <= 255; ++v) {
            const auto value = static_cast<std::uint8_t>(v);
            const std::string text = RegisterFileView::format_value(value, base);
            ASSERT_LT(text.size(), RegisterFileView::text_capacity) << text;
            EXPECT_EQ(RegisterFileView::parse_text(text.c_str(), base), value) << base << " " << text;
        }
    }
}

struct Parsed {
    const char* text;
    int base;
    int value;  // -1: refused
    const char* reason;
};

class ParseText : public testing::TestWithParam<Parsed> {};

TEST_P(ParseText, ReadsOneWholeNumberOrSaysWhyNot) {
    const Parsed& c = GetParam();
    std::string reason;
    const auto value = RegisterFileView::parse_text(c.text, c.base, &reason);
    if (c.value < 0) {
        EXPECT_FALSE(value.has_value()) << int(*value);
        EXPECT_EQ(reason, c.reason);
    } else {
        ASSERT_TRUE(value.has_value()) << reason;
        EXPECT_EQ(*value, c.value);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseText,
    testing::Values(
        Parsed{"12", 16, 18, ""}, Parsed{"FF", 16, 255, ""}, Parsed{"fF", 16, 255, ""}, Parsed{"377", 8, 255, ""},
        Parsed{"11111111", 2, 255, ""}, Parsed{"007", 10, 7, ""}, Parsed{" \t42", 10, 42, ""},
        Parsed{"", 10, -1, "no digit of the base"}, Parsed{"   ", 10, -1, "no digit of the base"},
        Parsed{"abc", 10, -1, "no digit of the base"}, Parsed{"2", 2, -1, "no digit of the base"},
        Parsed{"8", 8, -1, "no digit of the base"}, Parsed{"-1", 10, -1, "no digit of the base"},
        Parsed{"+5", 10, -1, "no digit of the base"}, Parsed{"256", 10, -1, "the number is above 255"},
        Parsed{"100000000", 2, -1, "the number is above 255"}, Parsed{"400", 8, -1, "the number is above 255"},
        Parsed{"99999999999", 10, -1, "the number is above 255"},
        Parsed{"12x", 10, -1, "characters after the number"},
        Parsed{"12 ", 10, -1, "characters after the number"},
        Parsed{"0x1f", 16, -1, "characters after the number"},
        Parsed{"1012", 2, -1, "characters after the number"},
        Parsed{"999x", 10, -1, "characters after the number"}));

// A view whose Application never starts: its sends fail and are reported on
// standard output, which the event tests need not look at.
class RegisterEvents : public testing::Test {
protected:
    RegisterEvents() {
        for (int i = 0; i < 16; ++i) view.registers[i] = static_cast<std::uint8_t>(100 + i);
        view.refresh_text(-1);
    }

    // Applies message and returns what it wrote on standard error.
    std::string handle(const Message& message) {
        testing::internal::CaptureStderr();
        view.handle_message(message);
        return testing::internal::GetCapturedStderr();
    }

    static Message event(const char* sub_type, Message data) {
        return make_envelope(MessageKind::event, sub_type, data, "QZ3_MK.register_file", "");
    }

    std::string text(int i) const { return view.texts[i].get(); }

    // Puts a text into every field that only a refresh would replace.
    void scribble() {
        for (auto& t : view.texts) std::snprintf(t.get(), RegisterFileView::text_capacity, "typed");
    }

    Application app;
    RegisterFileView view{&app, 0, "register_file", 10};
};

TEST_F(RegisterEvents, StartsAtTheInitialValueInTheGivenBase) {
    RegisterFileView hex{&app, 255, "register_file", 16};
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(hex.registers[i], 255);
        EXPECT_STREQ(hex.texts[i].get(), "ff");
    }
}

TEST_F(RegisterEvents, WriteOf300Stores44AndRefreshesThatRegisterAlone) {
    scribble();
    EXPECT_EQ(handle(event("write", {{"register_number", 3}, {"value", 300}})), "\"write\"\n");
    EXPECT_EQ(view.registers[3], 44);
    EXPECT_EQ(text(3), "44");
    for (int i = 0; i < 16; ++i) {
        if (i == 3) continue;
        EXPECT_EQ(view.registers[i], 100 + i);
        EXPECT_EQ(text(i), "typed") << i;
    }
}

TEST_F(RegisterEvents, LoadAtStart14SetsTheLastTwoAndRefreshesAll) {
    scribble();
    EXPECT_EQ(handle(event("load", {{"start", 14}, {"values", {1, 2}}})), "\"load\"\n");
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(view.registers[i], 100 + i);
        EXPECT_EQ(text(i), std::to_string(100 + i));
    }
    EXPECT_EQ(view.registers[14], 1);
    EXPECT_EQ(view.registers[15], 2);
    EXPECT_EQ(text(14), "1");
    EXPECT_EQ(text(15), "2");
}

TEST_F(RegisterEvents, EmptyLoadAndLoadWithoutValuesOnlyRefresh) {
    for (const Message& data : {Message{{"start", 0}, {"values", Message::array()}}, Message{{"start", 0}},
                                Message{{"start", 99}, {"values", Message::array()}}}) {
        scribble();
        EXPECT_EQ(handle(event("load", data)), "\"load\"\n") << data;
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(view.registers[i], 100 + i);
            EXPECT_EQ(text(i), std::to_string(100 + i));
        }
    }
}

TEST_F(RegisterEvents, OtherSubTypesArePrintedAndChangeNothing) {
    struct Case {
        Message message;
        const char* line;
    };
    const Case cases[] = {
        {event("step", {{"register_number", 3}, {"value", 1}}), "\"step\"\n"},
        {Message{{"data", {{"register_number", 3}, {"value", 1}}}}, "null\n"},
        {Message{{"message_sub_type", 7}, {"data", {{"register_number", 3}, {"value", 1}}}}, "7\n"},
        {Message(0), "null\n"},
    };
    for (const Case& c : cases) {
        scribble();
        EXPECT_EQ(handle(c.message), c.line) << c.message;
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(view.registers[i], 100 + i);
            EXPECT_EQ(text(i), "typed");
        }
    }
}

TEST_F(RegisterEvents, NumbersAreCutToIntegersAndBooleansCount) {
    handle(event("write", {{"register_number", 3.9}, {"value", true}}));
    EXPECT_EQ(view.registers[3], 1);
    handle(event("write", {{"register_number", 4}, {"value", -1}}));
    EXPECT_EQ(view.registers[4], 255);
    handle(event("load", {{"start", 0.5}, {"values", {263, 2.75, false}}}));
    EXPECT_EQ(view.registers[0], 7);
    EXPECT_EQ(view.registers[1], 2);
    EXPECT_EQ(view.registers[2], 0);
}

struct RefusedEvent {
    const char* name;
    const char* sub_type;
    Message data;
    const char* line;  // the line after the sub-type line
};

class RefusedEvents : public RegisterEvents, public testing::WithParamInterface<RefusedEvent> {};

TEST_P(RefusedEvents, LeaveEveryRegisterAndTextAlone) {
    const RefusedEvent& c = GetParam();
    scribble();
    const std::string quoted = std::string("\"") + c.sub_type + "\"";
    EXPECT_EQ(handle(event(c.sub_type, c.data)), quoted + "\n" + c.line + "\n");
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(view.registers[i], 100 + i) << i;
        EXPECT_EQ(text(i), "typed") << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Events, RefusedEvents,
    testing::Values(
        RefusedEvent{"write_data_null", "write", nullptr, "register_file: \"write\" event not applied: data is not an object but null"},
        RefusedEvent{"write_data_array", "write", Message::array({3, 1}),
                     "register_file: \"write\" event not applied: data is not an object but array"},
        RefusedEvent{"write_without_value", "write", {{"register_number", 3}},
                     "register_file: \"write\" event not applied: \"value\" is missing"},
        RefusedEvent{"write_without_register_number", "write", {{"value", 1}},
                     "register_file: \"write\" event not applied: \"register_number\" is missing"},
        RefusedEvent{"write_value_string", "write", {{"register_number", 3}, {"value", "7"}},
                     "register_file: \"write\" event not applied: \"value\" is not a number but string"},
        RefusedEvent{"write_register_number_null", "write", {{"register_number", nullptr}, {"value", 7}},
                     "register_file: \"write\" event not applied: \"register_number\" is not a number but null"},
        RefusedEvent{"write_value_too_large", "write", {{"register_number", 3}, {"value", 1e300}},
                     "register_file: \"write\" event not applied: \"value\" 1e+300 does not fit an integer"},
        RefusedEvent{"write_value_nan", "write", {{"register_number", 3}, {"value", std::nan("")}},
                     "register_file: \"write\" event not applied: \"value\" is not a finite number"},
        RefusedEvent{"write_register_16", "write", {{"register_number", 16}, {"value", 7}},
                     "register_file: \"write\" event not applied: \"register_number\" 16 is outside 0 to 15"},
        RefusedEvent{"write_register_minus_1", "write", {{"register_number", -1}, {"value", 7}},
                     "register_file: \"write\" event not applied: \"register_number\" -1 is outside 0 to 15"},
        RefusedEvent{"load_data_null", "load", nullptr, "register_file: \"load\" event not applied: data is not an object but null"},
        RefusedEvent{"load_without_start", "load", {{"values", {1}}},
                     "register_file: \"load\" event not applied: \"start\" is missing"},
        RefusedEvent{"load_start_string", "load", {{"start", "0"}, {"values", {1}}},
                     "register_file: \"load\" event not applied: \"start\" is not a number but string"},
        RefusedEvent{"load_values_string", "load", {{"start", 0}, {"values", "abc"}},
                     "register_file: \"load\" event not applied: \"values\" is not an array but string"},
        RefusedEvent{"load_values_object", "load", {{"start", 0}, {"values", {{"a", 1}}}},
                     "register_file: \"load\" event not applied: \"values\" is not an array but object"},
        RefusedEvent{"load_start_minus_1", "load", {{"start", -1}, {"values", {1}}},
                     "register_file: \"load\" event not applied: \"start\" -1 is outside 0 to 15"},
        RefusedEvent{"load_start_16", "load", {{"start", 16}, {"values", {1}}},
                     "register_file: \"load\" event not applied: \"start\" 16 is outside 0 to 15"},
        RefusedEvent{"load_past_register_15", "load", {{"start", 15}, {"values", {1, 2}}},
                     "register_file: \"load\" event not applied: \"values\" holds 2 values from \"start\" 15, past register 15"},
        RefusedEvent{"load_seventeen_values", "load", {{"start", 0}, {"values", Message(std::vector<int>(17, 1))}},
                     "register_file: \"load\" event not applied: \"values\" holds 17 values from \"start\" 0, past register 15"},
        RefusedEvent{"load_value_null", "load", {{"start", 0}, {"values", {1, nullptr}}},
                     "register_file: \"load\" event not applied: \"values\"[1] is not a number but null"},
        RefusedEvent{"load_value_too_large", "load", {{"start", 0}, {"values", {1, 2, -1e300}}},
                     "register_file: \"load\" event not applied: \"values\"[2] -1e+300 does not fit an integer"}),
    [](const testing::TestParamInfo<RefusedEvent>& case_info) { return std::string(case_info.param.name); });

}  // namespace
