#pragma once
// Wakes the frame loop from another thread when a message arrives: posts an
// SDL user event that ends the loop's wait. Posts are coalesced: after one,
// the next waits until the loop has called rearm, so a stream of thousands
// of messages a second posts at most one event per frame.
//
// notify may be called from any thread; the rest from the main thread.
// Shared between the loop and the endpoint's arrival notice, which can
// outlive SDL (the endpoints close at process exit): disable it before
// SDL_Quit and later notices post nothing.

#include <atomic>
#include <cstdint>
#include <mutex>

class WakeSignal {
public:
    // Registers the user event type with SDL.
    WakeSignal();

    // Any thread: posts the wake-up event unless one is already pending.
    void notify();
    // Main thread, once per frame before the inbox is taken: a notice after
    // this posts again.
    void rearm() { pending_.store(false); }
    // Main thread, before SDL is shut down: no event is posted after this.
    void disable();

    std::uint32_t event_type() const { return event_type_; }

private:
    std::uint32_t event_type_;
    std::atomic<bool> pending_{false};
    std::mutex mutex_;
    bool enabled_ = true;
};
