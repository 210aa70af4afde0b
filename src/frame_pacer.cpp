#include "frame_pacer.hpp"

#include <thread>

FramePacer::FramePacer(bool enabled, int refresh_hz)
    : enabled_(enabled),
      period_(std::chrono::nanoseconds(1'000'000'000LL / (refresh_hz > 0 ? refresh_hz : fallback_refresh_hz))),
      next_(std::chrono::steady_clock::now() + period_) {}

void FramePacer::wait_for_next_frame() {
    if (!enabled_) return;
    auto now = std::chrono::steady_clock::now();
    if (now < next_) {
        std::this_thread::sleep_until(next_);
        next_ += period_;
    } else {
        next_ = now + period_;
    }
}
