#pragma once
// Paces the main loop in software when the driver refuses vsync (Xvfb,
// llvmpipe, remote desktops): without it the loop would draw as fast as it
// can and burn a core. With vsync granted the pacer does nothing.
//
// Main thread only.

#include <chrono>

class FramePacer {
public:
    // Refresh rate assumed when SDL does not know the display's.
    static constexpr int fallback_refresh_hz = 60;

    // enabled: the swap interval was refused; refresh_hz: the display's rate,
    // 0 or less when unknown.
    FramePacer(bool enabled, int refresh_hz);

    // Called once per frame after the buffer swap: sleeps out what is left of
    // the frame period. A frame that ran late starts the next period from now,
    // so a long frame (a benchmark) is not followed by a burst of fast ones.
    void wait_for_next_frame();

    bool enabled() const { return enabled_; }
    std::chrono::nanoseconds period() const { return period_; }

private:
    bool enabled_;
    std::chrono::nanoseconds period_;
    std::chrono::steady_clock::time_point next_;
};
