#pragma once
// Which cells of a mirror an event changed, and how far each one's highlight
// has faded. A change is drawn at full strength when it arrives and fades out
// in fade_steps steps of fade_step each; between steps the picture holds
// still, so a panel whose fades have ended needs no frames for them.
//
// The steps are counted on one clock per set of marks: it starts when a
// change arrives while no fade is under way, and every change that arrives
// while one is fades in step with it. A cell that changes again starts its
// fade again. Marking a cell is one comparison and one store (events of a
// fast stream pass through it); nothing is allocated after construction.
//
// Main thread only: the frame driver advances the clock at the top of each
// frame, the views mark cells while they apply that frame's events and read
// the levels while they draw.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "imgui.h"

class ChangeMarks {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr Clock::duration fade_step = std::chrono::milliseconds(500);
    static constexpr int fade_steps = 3;
    // A change at full strength: amber, apart from the selection's blue and
    // the memory editor's white range and preview boxes; light text stays
    // readable on it. Fainter levels scale its alpha.
    static const ImVec4 color;

    explicit ChangeMarks(std::size_t cells);

    // At the top of a frame: the time the frame's marks carry and its levels
    // are judged at.
    void advance(Clock::time_point now);

    // The cell's value changed in this frame (nothing while switched off).
    void mark(std::size_t cell) {
        if (enabled_) stamps_[cell] = stamp_now();
    }
    // The cell shows no change: the user set it.
    void forget(std::size_t cell) { stamps_[cell] = fade_steps_ago(); }

    // fade_steps when the cell changed in the current step, one less for
    // each step since, 0 once its fade has ended (or it never changed).
    int level(std::size_t cell) const {
        const Tick age = tick_ - stamps_[cell];
        return age < fade_steps ? fade_steps - static_cast<int>(age) : 0;
    }
    // The level as a fraction of full strength, 0 to 1.
    float strength(std::size_t cell) const { return static_cast<float>(level(cell)) / fade_steps; }
    // color at the cell's strength, packed; 0 when it shows no change.
    ImU32 packed_color(std::size_t cell) const;

    // When the next step is due, or none while no fade is under way.
    std::optional<Clock::time_point> next_step() const;

    // Off ends every fade at once and marks nothing until switched on again.
    void set_enabled(bool on);
    bool enabled() const { return enabled_; }

    std::size_t size() const { return stamps_.size(); }

private:
    using Tick = std::int64_t;

    bool fading() const { return tick_ - last_mark_ < fade_steps; }
    Tick fade_steps_ago() const { return tick_ - fade_steps; }
    Tick stamp_now() {
        // The first change after a quiet spell starts the steps' clock.
        if (!fading()) step_start_ = now_;
        return last_mark_ = tick_;
    }

    std::vector<Tick> stamps_;  // the step in which each cell last changed
    Tick tick_ = fade_steps;    // the current step
    Tick last_mark_ = 0;        // the step of the latest change
    Clock::time_point step_start_{};
    Clock::time_point now_{};
    bool enabled_ = true;
};
