#include "loop/wake_signal.hpp"

#include <SDL.h>

WakeSignal::WakeSignal() : event_type_(SDL_RegisterEvents(1)) {}

void WakeSignal::notify() {
    if (pending_.exchange(true)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!enabled_ || event_type_ == static_cast<std::uint32_t>(-1)) return;
    SDL_Event event{};
    event.type = event_type_;
    SDL_PushEvent(&event);
}

void WakeSignal::disable() {
    std::lock_guard<std::mutex> lock(mutex_);
    enabled_ = false;
}
