// Endpoint and MessageHub over real nng sockets on 127.0.0.1, each test on
// free ports, with dialling endpoints as the peers.

#include "messaging/endpoint.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "messaging/application.hpp"
#include "support/child_process.hpp"
#include "support/loopback.hpp"

namespace {

using namespace std::chrono_literals;

bool accept_all(Message&) { return true; }

// Envelopes in the inbox now, counted by taking none.
std::size_t inbox_size(Endpoint& listener) {
    std::size_t count = 0;
    listener.take_if([&](Message&) {
        ++count;
        return false;
    });
    return count;
}

// Waits until the dialer is attached, then sends one probe and takes it from
// the listener's inbox: from then on the two are connected and the inbox is
// empty.
void wait_bus_connected(Endpoint& dialer, Endpoint& listener) {
    ASSERT_TRUE(dialer.wait_for_peer(5s)) << "bus dialer never connected";
    dialer.send(MessageKind::event, "probe", nullptr, "", "");
    ASSERT_TRUE(wait_until([&] { return !listener.take_if(accept_all).empty(); }, 5s)) << "the probe never arrived";
}

// A listening bus endpoint with its pump and a dialling peer.
class BusPair : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(listener.connect());
        listener.start_pump();
        ASSERT_TRUE(dialer.connect());
        wait_bus_connected(dialer, listener);
    }

    // Waits until the inbox holds at least n envelopes.
    bool inbox_reaches(std::list<Message>& collected, std::size_t n, std::chrono::milliseconds limit = 5s) {
        return wait_until(
            [&] {
                collected.splice(collected.end(), listener.take_if(accept_all));
                return collected.size() >= n;
            },
            limit);
    }

    ReservedPort port;  // a second connect listens there again
    std::string url = port.url();
    Endpoint listener{&url, EndpointKind::bus_listen};
    Endpoint dialer{url, EndpointKind::bus_dial};
};

TEST_F(BusPair, TakeIfReturnsArrivalOrderAndKeepsTheRest) {
    EXPECT_TRUE(listener.take_if(accept_all).empty());

    for (int i = 0; i < 6; ++i) dialer.send(MessageKind::event, "write", Message{{"value", i}}, "x", "");
    // Let all six arrive, then take only the even ones.
    ASSERT_TRUE(wait_until([&] { return inbox_size(listener) >= 6; }, 5s));
    auto even = listener.take_if([](Message& m) { return m["data"]["value"].get<int>() % 2 == 0; });
    ASSERT_EQ(even.size(), 3u);
    int expected = 0;
    for (auto& m : even) {
        EXPECT_EQ(m["data"]["value"], expected);
        expected += 2;
    }
    auto rest = listener.take_if(accept_all);
    ASSERT_EQ(rest.size(), 3u);
    expected = 1;
    for (auto& m : rest) {
        EXPECT_EQ(m["data"]["value"], expected);
        expected += 2;
    }
    EXPECT_TRUE(listener.take_if(accept_all).empty());
}

TEST_F(BusPair, AnEnvelopeArrivingDuringATakeWaitsForTheNext) {
    dialer.send(MessageKind::event, "write", Message{{"value", 1}}, "x", "");
    ASSERT_TRUE(wait_until([&] { return inbox_size(listener) >= 1; }, 5s));
    // While the take holds the inbox, a second envelope arrives: the pause
    // gives its completion the time to reach the lock (nothing can be waited
    // for here, the completion being held up by this very take).
    std::list<Message> first = listener.take_if([&](Message&) {
        dialer.send(MessageKind::event, "write", Message{{"value", 2}}, "x", "");
        std::this_thread::sleep_for(100ms);
        return true;
    });
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first.front()["data"]["value"], 1);
    std::list<Message> second;
    ASSERT_TRUE(inbox_reaches(second, 1));
    EXPECT_EQ(second.front()["data"]["value"], 2);
}

// A second connect while the pump runs closes the socket under the
// outstanding receive: its completion fails and is reported, and the pump
// goes on receiving on the new socket, where the dialer finds it again.
TEST_F(BusPair, AConnectAgainReportsTheFailedReceiveAndReceptionGoesOn) {
    testing::internal::CaptureStderr();
    const bool reconnected = listener.connect();
    std::list<Message> got;
    // The dialer redials by itself; what it sends before that is dropped.
    bool arrived = wait_until(
        [&] {
            dialer.send(MessageKind::event, "write", Message{{"value", 7}}, "x", "");
            return inbox_reaches(got, 1, 100ms);
        },
        5s);
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(reconnected);
    ASSERT_TRUE(arrived) << "nothing arrived after the second connect";
    EXPECT_EQ(got.front()["data"]["value"], 7);
    EXPECT_EQ(err, "Something went wrong\n");
}

TEST_F(BusPair, AnUndecodableBodyIsReportedAndDropped) {
    testing::internal::CaptureStdout();
    dialer.send_body({'[', '$', 'Z', '#', 'l', 0x05, 0xF5, 0xE1, 0x00});
    dialer.send(MessageKind::event, "write", Message{{"value", 3}}, "x", "");
    std::list<Message> got;
    bool arrived = inbox_reaches(got, 1);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(arrived);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got.front()["data"]["value"], 3);
    EXPECT_EQ(out.rfind("message: ", 0), 0u) << out;
    EXPECT_NE(out.find("\nexception id: 191\n"), std::string::npos) << out;
}

TEST(ArrivalNotice, EachEnvelopeInTheInboxIsAnnouncedAfterItCanBeTaken) {
    std::string url = any_loopback_port;
    Endpoint listener{&url, EndpointKind::bus_listen};
    std::atomic<int> notices{0};
    listener.set_arrival_notice([&] { ++notices; });
    ASSERT_TRUE(listener.connect());
    listener.start_pump();
    Endpoint dialer{listener.bound_url(), EndpointKind::bus_dial};
    ASSERT_TRUE(dialer.connect());
    wait_bus_connected(dialer, listener);
    notices = 0;

    testing::internal::CaptureStdout();
    dialer.send(MessageKind::event, "write", Message{{"value", 1}}, "x", "");
    dialer.send_body({'[', '$', 'Z', '#', 'l', 0x05, 0xF5, 0xE1, 0x00});  // refused: no notice
    dialer.send(MessageKind::event, "write", Message{{"value", 2}}, "x", "");
    dialer.send(MessageKind::event, "write", Message{{"value", 3}}, "x", "");
    bool announced = wait_until([&] { return notices.load() >= 3; }, 5s);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(announced) << notices.load();
    // Announced only once in the inbox: all three are there to take now.
    EXPECT_EQ(listener.take_if(accept_all).size(), 3u);
    // The refused body came before the last envelope and was not announced.
    EXPECT_EQ(notices.load(), 3);
}

TEST(PairEndpoint, ReceiveOfANonUbjsonBodyReportsAndGivesZero) {
    std::string url = any_loopback_port;
    Endpoint listener(&url, EndpointKind::pair_listen);
    ASSERT_TRUE(listener.connect());
    Endpoint dialer(listener.bound_url(), EndpointKind::pair_dial);
    ASSERT_TRUE(dialer.connect());
    dialer.send_body({'X', 'Y'});  // waits (bounded) for the connection
    testing::internal::CaptureStdout();
    Message m = listener.receive_within(5s);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(m.is_number_integer());
    EXPECT_EQ(m, 0);
    EXPECT_EQ(out.rfind("message: [json.exception.parse_error.", 0), 0u) << out;
    EXPECT_NE(out.find("\nexception id: "), std::string::npos);
}

TEST(PairEndpoint, ReceiveWithinTimesOutWithNngsError) {
    std::string url = any_loopback_port;
    Endpoint listener(&url, EndpointKind::pair_listen);
    ASSERT_TRUE(listener.connect());
    try {
        listener.receive_within(100ms);
        FAIL() << "a receive with nothing to receive returned";
    } catch (const NngError& e) {
        EXPECT_EQ(e.code(), NNG_ETIMEDOUT);
        EXPECT_STREQ(e.what(), "Timed out");
    }
}

TEST(PairEndpoint, ASendWithNoPeerIsReportedInsteadOfWaitingForever) {
    std::string url = any_loopback_port;
    Endpoint listener(&url, EndpointKind::pair_listen);
    ASSERT_TRUE(listener.connect());
    testing::internal::CaptureStdout();
    auto start = std::chrono::steady_clock::now();
    listener.send(MessageKind::command, "step", nullptr, "", "QZ3_MK.simulation_control");
    auto waited = std::chrono::steady_clock::now() - start;
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_LT(waited, 10s);
    EXPECT_EQ(out, "Sending of message: '" + pretty_text(make_envelope(MessageKind::command, "step", nullptr, "",
                                                                         "QZ3_MK.simulation_control")) +
                       "' failed!\n");
}

// The inbox keeps everything that arrives while nobody takes, in order. A
// pair link is used because it pushes back on the sender: a bus sender drops
// whatever its own queue cannot hold when it is starved of the processor,
// which would hide the listener's behaviour behind the sender's.
TEST(PairEndpoint, EnvelopesSentWhileNobodyTakesAllArriveInOrder) {
    std::string url = any_loopback_port;
    Endpoint listener(&url, EndpointKind::pair_listen);
    ASSERT_TRUE(listener.connect());
    Endpoint dialer(listener.bound_url(), EndpointKind::pair_dial);
    listener.start_pump();
    ASSERT_TRUE(dialer.connect());
    ASSERT_TRUE(dialer.wait_for_peer(5s));
    constexpr int count = 3000;
    for (int i = 0; i < count; ++i)
        dialer.send(MessageKind::event, "write", Message{{"address", 0}, {"value", i}}, "QZ3_MK.data_memory", "");
    std::list<Message> all;
    bool complete = wait_until(
        [&] {
            all.splice(all.end(), listener.take_if(accept_all));
            return all.size() >= count;
        },
        10s);
    ASSERT_TRUE(complete) << "only " << all.size() << " of " << count << " arrived";
    int expected = 0;
    for (auto& m : all) {
        ASSERT_EQ(m["data"]["value"], expected) << "gap or reordering";
        ++expected;
    }
}

TEST(Connect, APortInUseIsReportedAndTheOtherEndpointStillWorks) {
    std::string holder_url = any_loopback_port;
    Endpoint holder(&holder_url, EndpointKind::bus_listen);
    ASSERT_TRUE(holder.connect());

    Application app;
    app.bus_url = holder.bound_url();
    app.pair_url = any_loopback_port;
    testing::internal::CaptureStderr();
    app.hub.start();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Unable to establish socket connection: Address in use\n");
    EXPECT_EQ(app.hub.bus.bound_url(), "");

    std::string pair_url = app.hub.pair.bound_url();
    Endpoint peer(&pair_url, EndpointKind::pair_dial);
    ASSERT_TRUE(peer.connect());
    peer.send(MessageKind::event, "pong", nullptr, "QZ3_MK.simulation_control", "");
    EXPECT_EQ(app.hub.pair.receive_within(5s)["message_sub_type"], "pong");
}

TEST(Connect, AnUnknownKindReportsInvalidSocketType) {
    std::string url = any_loopback_port;
    Endpoint odd(&url, static_cast<EndpointKind>(7));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(odd.connect());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid socket type\n");
    // No socket: a send fails and is reported, it does not crash.
    testing::internal::CaptureStdout();
    odd.send(MessageKind::command, "step", nullptr, "", "");
    EXPECT_NE(testing::internal::GetCapturedStdout().find("failed!"), std::string::npos);
}

// Many lives of a pumping endpoint under a sender that never pauses: the
// destructor must stop the pump and the receive without a race, a
// use-after-free or a hang (run under the thread and address sanitizers).
// The destructor leaves a close that nng hangs in to the process exit after
// Endpoint::close_limit; a slow machine may take longer than that to get
// there, a hang takes for ever.
TEST(Shutdown, ManyCyclesUnderAFastSender) {
    constexpr auto hang = 10s;
    int cycles_with_traffic = 0;
    constexpr int cycles = 8;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        // A port of each cycle's own: the socket of a close left hanging keeps its port.
        ReservedPort port;
        std::string url = port.url();
        auto listener = std::make_unique<Endpoint>(&url, EndpointKind::bus_listen);
        ASSERT_TRUE(listener->connect());
        listener->start_pump();
        Endpoint sender(&url, EndpointKind::bus_dial);
        ASSERT_TRUE(sender.connect());
        std::atomic<bool> sending{true};
        std::thread flood([&] {
            int i = 0;
            while (sending) sender.send(MessageKind::event, "write", Message{{"value", i++}}, "x", "");
        });
        // Destroyed mid-stream, once the stream is there.
        if (wait_until([&] { return !listener->take_if(accept_all).empty(); }, 5s)) ++cycles_with_traffic;
        auto t0 = std::chrono::steady_clock::now();
        listener.reset();
        auto destroy = std::chrono::steady_clock::now() - t0;
        EXPECT_LT(destroy, Endpoint::close_limit + hang) << "cycle " << cycle;
        sending = false;
        flood.join();
    }
    EXPECT_GT(cycles_with_traffic, 0);
}

}  // namespace
