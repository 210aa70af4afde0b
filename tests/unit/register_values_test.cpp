// The register file view without a window: the text forms of a value, the
// reading of typed texts, and the load and write events it applies or refuses.

#include "views/register_file_view.hpp"

#include <gtest/gtest.h>

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
                    Formatted{10, 16, "a"}, Formatted{255, 16, "ff"}),
    [](const testing::TestParamInfo<Formatted>& case_info) {
        return std::to_string(case_info.param.value) + "_in_base_" + std::to_string(case_info.param.base);
    });

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
    const char* name;
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
        Parsed{"hex_12", "12", 16, 18, ""}, Parsed{"hex_upper_case", "FF", 16, 255, ""},
        Parsed{"hex_mixed_case", "fF", 16, 255, ""}, Parsed{"octal_377", "377", 8, 255, ""},
        Parsed{"eight_binary_digits", "11111111", 2, 255, ""}, Parsed{"leading_zeros", "007", 10, 7, ""},
        Parsed{"leading_white_space", " \t42", 10, 42, ""},
        Parsed{"empty", "", 10, -1, "no digit of the base"}, Parsed{"only_spaces", "   ", 10, -1, "no digit of the base"},
        Parsed{"letters_in_decimal", "abc", 10, -1, "no digit of the base"},
        Parsed{"two_in_binary", "2", 2, -1, "no digit of the base"},
        Parsed{"eight_in_octal", "8", 8, -1, "no digit of the base"},
        Parsed{"minus_sign", "-1", 10, -1, "no digit of the base"},
        Parsed{"plus_sign", "+5", 10, -1, "no digit of the base"},
        Parsed{"decimal_256", "256", 10, -1, "the number is above 255"},
        Parsed{"nine_binary_digits", "100000000", 2, -1, "the number is above 255"},
        Parsed{"octal_400", "400", 8, -1, "the number is above 255"},
        Parsed{"eleven_decimal_digits", "99999999999", 10, -1, "the number is above 255"},
        Parsed{"letter_after", "12x", 10, -1, "characters after the number"},
        Parsed{"space_after", "12 ", 10, -1, "characters after the number"},
        Parsed{"hex_prefix", "0x1f", 16, -1, "characters after the number"},
        Parsed{"two_after_binary_digits", "1012", 2, -1, "characters after the number"},
        Parsed{"letter_after_a_number_above_255", "999x", 10, -1, "characters after the number"}),
    [](const testing::TestParamInfo<Parsed>& case_info) { return std::string(case_info.param.name); });

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

// The reasons are tabled with the reading of events (mirror_event_test);
// here, the view's own part: the sub-type line, then its line under its name
// for the refusals its sixteen registers decide, and not a register or text
// changed, not even before a bad value.
TEST_F(RegisterEvents, ARefusedEventChangesNothingAndIsReportedUnderTheViewsName) {
    struct Case {
        Message message;
        const char* lines;
    };
    const Case cases[] = {
        {event("write", {{"register_number", 16}, {"value", 7}}),
         "\"write\"\nregister_file: \"write\" event not applied: \"register_number\" 16 is outside 0 to 15\n"},
        {event("load", {{"start", 15}, {"values", {1, 2}}}),
         "\"load\"\nregister_file: \"load\" event not applied: \"values\" holds 2 values from \"start\" 15, past "
         "register 15\n"},
        {event("load", {{"start", 0}, {"values", {1, 2, nullptr}}}),
         "\"load\"\nregister_file: \"load\" event not applied: \"values\"[2] is not a number but null\n"},
    };
    for (const Case& c : cases) {
        scribble();
        EXPECT_EQ(handle(c.message), c.lines);
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(view.registers[i], 100 + i) << i;
            EXPECT_EQ(text(i), "typed") << i;
        }
    }
}

}  // namespace
