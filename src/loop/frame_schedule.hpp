#pragma once
// Decides when the frame loop runs its next frame, so that an idle panel
// costs nothing: a frame runs only when something can change the window.
//
//   - an SDL event (input, window events, the wake-up of a message arrival)
//     is followed by settle_frames frames, the ones Dear ImGui needs to
//     settle hover, popups and window moves;
//   - a frame whose picture changed is followed by one more, until the
//     picture holds still;
//   - a picture due to change by itself (the next step of a fading
//     highlight) gets a frame at that time;
//   - Dear ImGui asks for frames itself: every refresh while a mouse button
//     or a key is held or an item other than a text field is active, and at
//     each blink of an edited text field's cursor and when its settings are
//     due to be saved (imgui_needs_frame_within);
//   - nothing else: the loop waits for an event.
//
// Frames never run faster than the display refresh: the next one never
// starts before one refresh period after the last one started. With vsync
// granted the buffer swap already waits that long for a drawn frame; a frame
// that is not drawn, and every frame when vsync is refused, waits by time.
// The one exception is the main loop's own: while input waits for the next
// frame (frame_input.hpp), that frame runs at once, without a wait.
//
// Main thread only.

#include <chrono>
#include <optional>

class FrameSchedule {
public:
    using Clock = std::chrono::steady_clock;

    // Refresh rate assumed when SDL does not know the display's.
    static constexpr int fallback_refresh_hz = 60;
    // Frames run after an event whatever else happens.
    static constexpr int settle_frames = 3;

    // refresh_hz: the display's rate, 0 or less when unknown.
    explicit FrameSchedule(int refresh_hz);

    // At the top of each frame, before its events are handled.
    void frame_started(Clock::time_point now);
    // After the frame was rendered (and drawn, if it was), with the current
    // Dear ImGui context of that frame. had_events: the frame handled at
    // least one SDL event; picture_changed: its draw data differs from the
    // previous frame's; picture_due: when the picture changes by itself
    // next, if it will.
    void frame_ended(Clock::time_point now, bool had_events, bool picture_changed,
                     std::optional<Clock::time_point> picture_due = std::nullopt);

    // When the next frame runs: never before earliest; at latest even when no
    // event comes; with no latest, only when an event comes. latest equal to
    // earliest means the next frame is due at the next refresh.
    struct Next {
        Clock::time_point earliest;
        std::optional<Clock::time_point> latest;
    };
    Next next() const { return next_; }

    // How soon the current Dear ImGui context needs a frame of its own,
    // judged after a frame: zero when at the next refresh, no value when
    // never (until input comes).
    static std::optional<Clock::duration> imgui_needs_frame_within();

private:
    Clock::duration period_;
    Clock::time_point started_{};
    int settle_left_ = 0;
    Next next_{};
};
