#include "loop/frame_schedule.hpp"

#include <algorithm>
#include <cmath>

#include "imgui.h"
#include "imgui_internal.h"

namespace {

using Seconds = std::chrono::duration<double>;

// Dear ImGui draws an edited field's cursor while its blink timer is at most
// zero (just after a key, for 0.3 s) and then for 0.8 s of every 1.2 s. The
// time until the timer crosses the next of those edges.
double seconds_to_next_blink_edge(float cursor_anim) {
    constexpr double on = 0.8;
    constexpr double cycle = 1.2;
    if (cursor_anim <= 0.0f) return on - cursor_anim;
    const double phase = std::fmod(static_cast<double>(cursor_anim), cycle);
    return phase <= on ? on - phase : cycle - phase;
}

// A little past an edge, so that the frame at the deadline is on its far side.
constexpr Seconds past_edge{0.002};

}  // namespace

FrameSchedule::FrameSchedule(int refresh_hz)
    : period_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::nanoseconds(1'000'000'000LL / (refresh_hz > 0 ? refresh_hz : fallback_refresh_hz)))) {}

void FrameSchedule::frame_started(Clock::time_point now) { started_ = now; }

void FrameSchedule::frame_ended(Clock::time_point now, bool had_events, bool picture_changed,
                                std::optional<Clock::time_point> picture_due) {
    if (had_events) settle_left_ = settle_frames;
    else if (settle_left_ > 0) --settle_left_;

    // A frame that started late (a benchmark blocked it) is followed at once,
    // not by a burst of catching-up frames.
    next_.earliest = std::max(started_ + period_, now);
    std::optional<Clock::duration> within;
    if (settle_left_ > 0 || picture_changed) within = Clock::duration::zero();
    else within = imgui_needs_frame_within();

    if (!within) next_.latest.reset();
    else next_.latest = std::max(next_.earliest, now + *within);
    if (picture_due) {
        const auto due = std::max(next_.earliest, *picture_due + std::chrono::duration_cast<Clock::duration>(past_edge));
        next_.latest = next_.latest ? std::min(*next_.latest, due) : due;
    }
}

std::optional<FrameSchedule::Clock::duration> FrameSchedule::imgui_needs_frame_within() {
    const ImGuiContext& g = *ImGui::GetCurrentContext();
    const ImGuiIO& io = g.IO;
    constexpr auto every_refresh = Clock::duration::zero();

    if (std::any_of(std::begin(io.MouseDown), std::end(io.MouseDown), [](bool down) { return down; }))
        return every_refresh;
    // Held keys repeat by Dear ImGui's own clock, one step per frame.
    if (std::any_of(std::begin(io.KeysDown), std::end(io.KeysDown), [](bool down) { return down; }))
        return every_refresh;
    if (g.MovingWindow != nullptr || g.NavWindowingTarget != nullptr || g.DragDropActive) return every_refresh;

    std::optional<Seconds> within;
    if (g.ActiveId != 0) {
        // An edited text field changes only when its cursor blinks; any
        // other active item (a slider being dragged, a button held from the
        // keyboard) may change every frame.
        if (g.InputTextState.ID != g.ActiveId) return every_refresh;
        if (io.ConfigInputTextCursorBlink) within = Seconds(seconds_to_next_blink_edge(g.InputTextState.CursorAnim));
    }
    if (g.SettingsDirtyTimer > 0.0f) {
        const Seconds save(static_cast<double>(g.SettingsDirtyTimer));
        within = within ? std::min(*within, save) : save;
    }
    if (!within) return std::nullopt;
    return std::chrono::duration_cast<Clock::duration>(*within + past_edge);
}
