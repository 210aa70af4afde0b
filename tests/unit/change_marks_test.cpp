// The marks of changed cells: full strength when a change arrives, a few
// steps fainter, then gone; the steps' deadlines the frame loop wakes for,
// and none once every fade has ended.

#include "views/change_marks.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = ChangeMarks::Clock;

constexpr auto step = ChangeMarks::fade_step;
constexpr int full = ChangeMarks::fade_steps;

TEST(ChangeMarks, AChangeFadesInStepsAndThenAsksForNoMoreFrames) {
    ChangeMarks marks(4);
    const Clock::time_point t0 = Clock::now();
    marks.advance(t0);
    EXPECT_EQ(marks.next_step(), std::nullopt) << "nothing changed yet";
    marks.mark(2);

    struct Case {
        Clock::duration after;
        int level;
    };
    // Level by time since the change: it holds still between steps.
    const Case cases[] = {{0ms, full}, {step - 1ms, full}, {step, full - 1}, {2 * step - 1ms, full - 1},
                          {2 * step, full - 2}, {full * step - 1ms, 1}, {full * step, 0}, {10 * step, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::chrono::duration<double>(c.after).count());
        marks.advance(t0 + c.after);
        EXPECT_EQ(marks.level(2), c.level);
        EXPECT_EQ(marks.level(1), 0) << "an unchanged cell";
        if (c.level > 0) {
            ASSERT_TRUE(marks.next_step().has_value());
            EXPECT_EQ(*marks.next_step(), t0 + (full - c.level + 1) * step);
        } else {
            EXPECT_EQ(marks.next_step(), std::nullopt) << "the fade is over: the loop may wait";
        }
    }
    EXPECT_EQ(marks.packed_color(2), 0u);

    // A change after a quiet spell starts the steps' clock afresh.
    const Clock::time_point t1 = t0 + 1h + 123ms;
    marks.advance(t1);
    marks.mark(0);
    EXPECT_EQ(marks.level(0), full);
    EXPECT_EQ(marks.level(2), 0);
    EXPECT_EQ(*marks.next_step(), t1 + step);
}

TEST(ChangeMarks, ChangesDuringAFadeKeepItsStepsAndAChangedCellStartsAgain) {
    ChangeMarks marks(4);
    const Clock::time_point t0 = Clock::now();
    marks.advance(t0);
    marks.mark(0);
    marks.mark(1);
    marks.advance(t0 + step + 100ms);
    marks.mark(1);  // changed again
    marks.mark(3);
    EXPECT_EQ(marks.level(0), full - 1);
    EXPECT_EQ(marks.level(1), full);
    EXPECT_EQ(marks.level(3), full);
    EXPECT_EQ(*marks.next_step(), t0 + 2 * step) << "one clock for the whole set";
    // Colours: full strength is the change colour, each step fainter.
    EXPECT_EQ(marks.packed_color(1), ImGui::ColorConvertFloat4ToU32(ChangeMarks::color));
    EXPECT_LT(marks.packed_color(0) >> IM_COL32_A_SHIFT, marks.packed_color(1) >> IM_COL32_A_SHIFT);

    marks.advance(t0 + full * step);
    EXPECT_EQ(marks.level(0), 0);
    EXPECT_EQ(marks.level(1), 1);
    marks.advance(t0 + (full + 1) * step);
    EXPECT_EQ(marks.level(1), 0);
    EXPECT_EQ(marks.next_step(), std::nullopt);
}

TEST(ChangeMarks, ForgottenCellsAndMarksSwitchedOffShowNothing) {
    ChangeMarks marks(4);
    const Clock::time_point t0 = Clock::now();
    marks.advance(t0);
    marks.mark(0);
    marks.mark(1);
    marks.forget(0);
    EXPECT_EQ(marks.level(0), 0) << "the user set it";
    EXPECT_EQ(marks.level(1), full);

    marks.set_enabled(false);
    EXPECT_EQ(marks.level(1), 0) << "switching off ends the fades at once";
    EXPECT_EQ(marks.next_step(), std::nullopt);
    marks.mark(2);
    EXPECT_EQ(marks.level(2), 0);
    EXPECT_EQ(marks.next_step(), std::nullopt);

    marks.set_enabled(true);
    EXPECT_EQ(marks.level(1), 0) << "switching on again brings no old change back";
    marks.mark(2);
    EXPECT_EQ(marks.level(2), full);
}

}  // namespace
