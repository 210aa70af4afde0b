// When the frame loop runs its next frame: at the next refresh while
// something can change the window, at the next blink of an edited field's
// cursor, and otherwise only when an event comes; never sooner than one
// refresh after the last frame started.

#include "loop/frame_schedule.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "imgui_internal.h"
#include "support/headless_imgui.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = FrameSchedule::Clock;

constexpr auto period = std::chrono::nanoseconds(1'000'000'000LL / 60);

class FrameScheduleTest : public testing::Test {
protected:
    FrameScheduleTest() {
        ui.set_draw([this] {
            ImGui::SetNextWindowPos(ImVec2(10, 10));
            ImGui::SetNextWindowSize(ImVec2(300, 200));
            ImGui::Begin("w");
            ImGui::InputText("field", text, sizeof text);
            field_centre = centre();
            ImGui::Button("button");
            button_centre = centre();
            button_hovered = ImGui::IsItemHovered();
            ImGui::End();
        });
        ui.frames(3);
    }

    static ImVec2 centre() {
        ImVec2 lo = ImGui::GetItemRectMin(), hi = ImGui::GetItemRectMax();
        return ImVec2((lo.x + hi.x) / 2, (lo.y + hi.y) / 2);
    }

    // One frame at time now, run and judged as the loop does.
    FrameSchedule::Next frame(Clock::time_point start, bool had_events = false, bool changed = false) {
        schedule.frame_started(start);
        ui.frame();
        schedule.frame_ended(start + 1ms, had_events, changed);
        return schedule.next();
    }

    // The time until the next frame must run, or none when it waits for an event.
    static std::optional<Clock::duration> due_in(const FrameSchedule::Next& next, Clock::time_point ended) {
        if (!next.latest) return std::nullopt;
        return *next.latest - ended;
    }

    HeadlessImGui ui;
    FrameSchedule schedule{60};
    char text[16] = "12";
    ImVec2 field_centre, button_centre;
    bool button_hovered = false;
    Clock::time_point t0 = Clock::now();
};

TEST_F(FrameScheduleTest, AnIdlePanelWaitsForAnEventAndAnEventBuysSettleFramesAtTheRefreshRate) {
    auto next = frame(t0);
    EXPECT_FALSE(next.latest.has_value()) << "nothing can change: wait for an event";

    auto start = t0 + 1s;
    next = frame(start, /*had_events=*/true);
    for (int i = 0; i < FrameSchedule::settle_frames; ++i) {
        ASSERT_TRUE(next.latest.has_value()) << "settle frame " << i;
        EXPECT_EQ(next.earliest, start + period) << "never faster than the refresh";
        EXPECT_EQ(*next.latest, next.earliest) << "due at the next refresh";
        start = next.earliest;
        next = frame(start);
    }
    EXPECT_FALSE(next.latest.has_value());
}

TEST_F(FrameScheduleTest, TheFramesAfterAPointerMoveShowTheHoverHighlight) {
    ImGui::GetIO().MousePos = button_centre;  // what the pointer's motion event did
    auto start = t0;
    auto next = frame(start, /*had_events=*/true);
    int frames = 1;
    while (next.latest && frames < 10) {
        start = *next.latest;
        next = frame(start);
        ++frames;
    }
    EXPECT_TRUE(button_hovered) << "in the last frame before the loop waits";
    EXPECT_FALSE(next.latest.has_value());
}

TEST_F(FrameScheduleTest, AChangedPictureIsFollowedByOneMoreFrame) {
    auto next = frame(t0, false, /*changed=*/true);
    ASSERT_TRUE(next.latest.has_value());
    EXPECT_EQ(*next.latest, t0 + period);
    EXPECT_FALSE(frame(t0 + period).latest.has_value());
}

TEST_F(FrameScheduleTest, AFrameThatRanLateIsFollowedAtOnceNotByACatchUpBurst) {
    schedule.frame_started(t0);
    ui.frame();
    const auto ended = t0 + 200ms;  // a benchmark blocked it
    schedule.frame_ended(ended, true, true);
    EXPECT_EQ(schedule.next().earliest, ended);
}

TEST_F(FrameScheduleTest, APictureDueToChangeByItselfGetsAFrameThenNotBefore) {
    schedule.frame_started(t0);
    ui.frame();
    schedule.frame_ended(t0, false, false, t0 + 500ms);
    auto due = due_in(schedule.next(), t0);
    ASSERT_TRUE(due.has_value());
    EXPECT_GE(*due, 500ms);
    EXPECT_LT(*due, 510ms);

    schedule.frame_ended(t0, false, false, t0 - 1s);
    EXPECT_EQ(schedule.next().latest, schedule.next().earliest) << "overdue: at the next refresh, not sooner";
    schedule.frame_ended(t0, /*had_events=*/true, false, t0 + 500ms);
    EXPECT_EQ(schedule.next().latest, schedule.next().earliest) << "the sooner of the two";
}

// What Dear ImGui itself needs between events.
TEST_F(FrameScheduleTest, HeldButtonsAndKeysAndActiveItemsNeedEveryRefresh) {
    ImGuiIO& io = ImGui::GetIO();
    struct Case {
        const char* what;
        std::function<void()> hold;
        std::function<void()> release;
    };
    const Case cases[] = {
        {"mouse button held over nothing", [&] { io.MousePos = ImVec2(600, 600); io.MouseDown[1] = true; },
         [&] { io.MouseDown[1] = false; }},
        {"button held down", [&] { io.MousePos = button_centre; io.MouseDown[0] = true; },
         [&] { io.MouseDown[0] = false; }},
        {"arrow key held", [&] { io.KeysDown[ImGuiKey_RightArrow] = true; },
         [&] { io.KeysDown[ImGuiKey_RightArrow] = false; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.hold();
        ui.frame();
        auto next = frame(t0);
        ASSERT_TRUE(next.latest.has_value());
        EXPECT_EQ(*next.latest, next.earliest);
        c.release();
        ui.frames(2);
        EXPECT_FALSE(frame(t0 + 1s).latest.has_value()) << "released";
    }
}

TEST_F(FrameScheduleTest, AnEditedFieldWakesAtEachBlinkOfItsCursorOnly) {
    ui.click(field_centre);
    ASSERT_NE(ImGui::GetCurrentContext()->ActiveId, 0u);
    ImGuiInputTextState& state = ImGui::GetCurrentContext()->InputTextState;

    // (blink timer after the frame, time to the edge where the cursor shows or hides)
    const std::pair<float, double> edges[] = {
        {-0.3f, 1.1},  // just typed: shown for 0.3 s more, then the 0.8 s of the first cycle
        {0.1f, 0.7},   // shown until 0.8
        {1.0f, 0.2},   // hidden until 1.2
        {2.5f, 0.7},   // second cycle, 0.1 into it
    };
    for (auto [anim, seconds] : edges) {
        SCOPED_TRACE(anim);
        schedule.frame_started(t0);
        ui.frame();
        state.CursorAnim = anim;
        schedule.frame_ended(t0, false, false);
        auto due = due_in(schedule.next(), t0);
        ASSERT_TRUE(due.has_value());
        EXPECT_GT(*due, std::chrono::duration<double>(seconds));
        EXPECT_LT(*due, std::chrono::duration<double>(seconds) + 10ms);
    }

    ImGui::GetIO().ConfigInputTextCursorBlink = false;
    EXPECT_FALSE(frame(t0).latest.has_value()) << "a cursor that does not blink needs no frames";
}

TEST_F(FrameScheduleTest, SettingsDueToBeSavedWakeTheLoopWhenDue) {
    ImGui::MarkIniSettingsDirty();
    ImGui::GetCurrentContext()->SettingsDirtyTimer = 3.0f;
    schedule.frame_started(t0);
    schedule.frame_ended(t0, false, false);
    auto due = due_in(schedule.next(), t0);
    ASSERT_TRUE(due.has_value());
    EXPECT_GE(*due, 3s);
    EXPECT_LT(*due, 3s + 10ms);
}

}  // namespace
