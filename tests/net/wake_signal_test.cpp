// The wake-up of the frame loop: one SDL event per wait however many
// messages arrive, none lost between a frame's take of the inbox and the
// next wait, none after SDL is gone; and a real arrival on the bus ends an
// SDL wait.

#include "loop/wake_signal.hpp"

#include <gtest/gtest.h>

#include <SDL.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "frame.hpp"
#include "messaging/endpoint.hpp"
#include "support/loopback.hpp"

namespace {

using namespace std::chrono_literals;

class WakeSignalTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(SDL_Init(SDL_INIT_EVENTS), 0) << SDL_GetError(); }
    void TearDown() override { SDL_Quit(); }

    // Takes every queued event; how many were wake-ups.
    int drain(const WakeSignal& wake) {
        int count = 0;
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (event.type == wake.event_type()) ++count;
        }
        return count;
    }

    // Waits in SDL until a wake-up is taken from the queue, passing over
    // other events; false after limit.
    static bool wait_for_wake_up(const WakeSignal& wake, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        SDL_Event event;
        for (;;) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return false;
            if (SDL_WaitEventTimeout(&event, static_cast<int>(left)) == 1 && event.type == wake.event_type()) {
                return true;
            }
        }
    }
};

TEST_F(WakeSignalTest, ManyNoticesFromManyThreadsPostOneEventPerRearm) {
    WakeSignal wake;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) wake.notify();
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(drain(wake), 1);

    wake.notify();
    EXPECT_EQ(drain(wake), 0) << "not rearmed: the loop has not taken the inbox since";
    wake.rearm();
    wake.notify();
    wake.notify();
    EXPECT_EQ(drain(wake), 1);

    wake.rearm();
    wake.disable();
    wake.notify();
    EXPECT_EQ(drain(wake), 0) << "disabled before SDL shuts down";
}

TEST_F(WakeSignalTest, AMessageFromThePeerEndsTheLoopsWaitForEvents) {
    const std::string url = any_loopback_port;
    Endpoint bus(&url, EndpointKind::bus_listen);
    auto wake = std::make_shared<WakeSignal>();
    bus.set_arrival_notice([wake] { wake->notify(); });
    ASSERT_TRUE(bus.connect());
    bus.start_pump();
    Endpoint peer(bus.bound_url(), EndpointKind::bus_dial);
    ASSERT_TRUE(peer.connect());
    ASSERT_TRUE(peer.wait_for_peer(5s));

    const auto take_all = [&] { return bus.take_if(accept_all).size(); };
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        // A frame: rearm, take the inbox; then the loop waits.
        wake->rearm();
        EXPECT_EQ(take_all(), 0u);
        std::thread sender([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(i % 3));
            peer.send(MessageKind::event, "write", Message{{"address", i}, {"value", 1}}, "QZ3_MK.data_memory", "");
        });
        // The system's own events (Windows posts some) may end a wait too:
        // the wait is for the wake-up.
        const bool woken = wait_for_wake_up(*wake, 5s);
        sender.join();
        ASSERT_TRUE(woken) << "the arrival did not end the wait";
        EXPECT_EQ(drain(*wake), 0) << "one wake-up per rearm";
        EXPECT_EQ(take_all(), 1u) << "the message is in the inbox when its wake-up comes";
    }
    wake->disable();
}

}  // namespace
