// qz3-standin as a child process, dialling plain listening endpoints on free
// ports: its redialling, the events its commands publish, its test modes and
// its options.

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "messaging/endpoint.hpp"
#include "messaging/message.hpp"
#include "standin/demo.hpp"
#include "standin/hostile_inputs.hpp"
#include "standin/processor.hpp"
#include "support/child_process.hpp"
#include "support/loopback.hpp"

namespace {

using namespace std::chrono_literals;

Message event(std::string sub_type, const Message& data, std::string origin) {
    return make_envelope(MessageKind::event, std::move(sub_type), data, std::move(origin), "");
}

Message register_write(int number, int value) {
    return event("write", {{"register_number", number}, {"value", value}}, "QZ3_MK.register_file");
}

// A console text with its lines ended by "\n" alone (a Windows program ends them with "\r\n").
std::string unix_lines(std::string text) {
    std::erase(text, '\r');
    return text;
}

Message data_write(int address, int value) {
    return event("write", {{"address", address}, {"value", value}}, "QZ3_MK.data_memory");
}

// Listening bus and pair endpoints in the panel's place, and the stand-in
// dialling them.
class StandinTest : public testing::Test {
protected:
    void listen() {
        bus.emplace(&bus_url, EndpointKind::bus_listen);
        pair.emplace(&pair_url, EndpointKind::pair_listen);
        ASSERT_TRUE(bus->connect());
        ASSERT_TRUE(pair->connect());
    }

    void start(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv{STANDIN_BINARY, "--bus", bus_url, "--pair", pair_url};
        argv.insert(argv.end(), extra.begin(), extra.end());
        standin = std::make_unique<ChildProcess>(
            ChildProcess::Options{argv, {}, "", dir.file("stdout"), dir.file("stderr")});
    }

    // Writes register 0 with 0 on the bus until the stand-in's event comes
    // back: then the bus is dialled, and the pair is dialled right with it.
    void wait_connected() {
        bool connected = wait_until(
            [this] {
                bus->send(MessageKind::command, "write", {{"register_number", 0}, {"value", 0}}, "register_file", "");
                try {
                    return bus->receive_within(100ms) == register_write(0, 0);
                } catch (const NngError&) {
                    return false;
                }
            },
            10s);
        ASSERT_TRUE(connected) << standin->stderr_text();
        // Drop the echoes of probes answered late.
        try {
            for (;;) bus->receive_within(200ms);
        } catch (const NngError&) {
        }
    }

    // The one-shot modes start 50 ms after the stand-in's bus connection is
    // up: probes as above until one is answered, so that the connection is up
    // here too. Events of the mode that came first are kept for
    // next_mode_event.
    void wait_connected_keeping_mode_events() {
        bool answered = wait_until(
            [this] {
                bus->send(MessageKind::command, "write", {{"register_number", 0}, {"value", 0}}, "register_file", "");
                try {
                    Message m = bus->receive_within(100ms);
                    if (m == register_write(0, 0)) return true;
                    pending.push_back(m);
                    return true;
                } catch (const NngError&) {
                    return false;
                }
            },
            10s);
        ASSERT_TRUE(answered) << standin->stderr_text();
    }

    // The next event that is not the echo of a probe.
    Message next_mode_event(std::chrono::milliseconds limit = 5s) {
        for (;;) {
            Message m;
            if (!pending.empty()) {
                m = pending.front();
                pending.erase(pending.begin());
            } else {
                m = bus->receive_within(limit);
            }
            if (m != register_write(0, 0)) return m;
        }
    }

    void command(std::string sub_type, const Message& data, std::string destination) {
        pair->send(MessageKind::command, std::move(sub_type), data, "", std::move(destination));
    }

    Message next_event() { return bus->receive_within(5s); }

    void expect_no_event() { EXPECT_THROW(bus->receive_within(300ms), NngError); }

    void ping_and_expect_reply() {
        command("ping", Message::array(), "QZ3_MK.simulation_control");
        Message reply = pair->receive_within(5s);
        EXPECT_EQ(reply.value("message_sub_type", ""), "ping");
        EXPECT_EQ(reply.value("origin", ""), "QZ3_MK.simulation_control");
    }

    // The stand-in may dial before anyone listens, and listeners restart.
    ReservedPort bus_port, pair_port;
    std::string bus_url = bus_port.url();
    std::string pair_url = pair_port.url();
    std::optional<Endpoint> bus;
    std::optional<Endpoint> pair;
    TempDir dir;
    std::unique_ptr<ChildProcess> standin;
    std::vector<Message> pending;
};

TEST_F(StandinTest, RedialsUntilThePanelListensAndAfterItRestarts) {
    start();
    std::this_thread::sleep_for(500ms);  // several dial attempts fail meanwhile
    listen();
    wait_connected();
    ping_and_expect_reply();

    pair.reset();
    bus.reset();
    std::this_thread::sleep_for(300ms);
    listen();
    wait_connected();
    ping_and_expect_reply();
}

TEST_F(StandinTest, InstructionLoadAndStepsPublishTheirEvents) {
    listen();
    start();
    wait_connected();
    const Message program = {{"start", 0}, {"values", {69634, 73731, 12546, 327683}}};
    command("load", program, "QZ3_MK.instruction_memory");
    EXPECT_EQ(next_event(), event("load", program, "QZ3_MK.instruction_memory"));

    for (int i = 0; i < 4; ++i) command("step", nullptr, "QZ3_MK.simulation_control");
    for (const Message& expected : {register_write(1, 1), data_write(0, 1), register_write(3, 1), data_write(0, 5)}) {
        EXPECT_EQ(next_event(), expected);
    }
    expect_no_event();
}

TEST_F(StandinTest, RegisterLoadAndBusWriteAreAppliedAndPublished) {
    listen();
    start();
    wait_connected();
    const Message pattern = {{"start", 0}, {"values", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}}};
    command("load", pattern, "QZ3_MK.register_file");
    EXPECT_EQ(next_event(), event("load", pattern, "QZ3_MK.register_file"));

    bus->send(MessageKind::command, "write", {{"register_number", 3}, {"value", 200}}, "register_file", "");
    EXPECT_EQ(next_event(), register_write(3, 200));

    // ADDI r4, r3, 0 shows that the write reached the machine.
    command("load", {{"start", 0}, {"values", {0x4302}}}, "QZ3_MK.instruction_memory");
    next_event();
    command("step", nullptr, "QZ3_MK.simulation_control");
    EXPECT_EQ(next_event(), register_write(4, 200));
}

TEST_F(StandinTest, EachPingGetsExactlyOneReply) {
    listen();
    start({"--verbose"});
    wait_connected();
    Message big = Message::array();
    for (int i = 0; i < 10000; ++i) big.push_back(0);
    command("ping", Message::array(), "QZ3_MK.simulation_control");
    command("ping", big, "QZ3_MK.simulation_control");
    command("ping", Message::array(), "QZ3_MK.simulation_control");
    for (int i = 0; i < 3; ++i) EXPECT_NO_THROW(pair->receive_within(5s)) << "reply " << i;
    EXPECT_THROW(pair->receive_within(300ms), NngError) << "one reply too many";
    expect_no_event();
    EXPECT_NE(standin->stdout_text().find("pair > "), std::string::npos) << "--verbose shows what it sends";
}

// Loads and writes are read by the panel's rules for the same events: a
// number is the integer it stands for, cut to its cell, and what is published
// is what the cells now hold, which a panel then shows as sent.
TEST_F(StandinTest, LoadsAndWritesAreCutToTheirCellsAsThePanelCutsThem) {
    listen();
    start({"--quiet"});
    wait_connected();
    command("load", {{"start", 0}, {"values", {nullptr}}}, "QZ3_MK.data_memory");  // refused, and not noted
    command("load", {{"start", 12.7}, {"values", {1.9, 300, -1, true}}}, "QZ3_MK.register_file");
    EXPECT_EQ(next_event(), event("load", {{"start", 12}, {"values", {1, 44, 255, 1}}}, "QZ3_MK.register_file"));
    command("load", {{"start", 0}, {"values", {0x100000007LL, -2.5}}}, "QZ3_MK.instruction_memory");
    EXPECT_EQ(next_event(), event("load", {{"start", 0}, {"values", {7, 0xfffffffeu}}}, "QZ3_MK.instruction_memory"));
    bus->send(MessageKind::command, "write", {{"register_number", 2.5}, {"value", 513}}, "register_file", "");
    EXPECT_EQ(next_event(), register_write(2, 1));
    // ADD r13, r2 (r13 = 44 + 1) shows that the machine holds those values.
    command("load", {{"start", 2}, {"values", {0xd206}}}, "QZ3_MK.instruction_memory");
    next_event();
    command("step", nullptr, "QZ3_MK.simulation_control");
    command("step", nullptr, "QZ3_MK.simulation_control");
    command("step", nullptr, "QZ3_MK.simulation_control");
    EXPECT_EQ(next_event(), register_write(13, 45));
    expect_no_event();
    EXPECT_EQ(standin->stderr_text(), "") << "--quiet";
}

TEST_F(StandinTest, CommandsThatDoNotFitChangeNothingAndPublishNothing) {
    listen();
    start();
    wait_connected();
    struct Bad {
        const char* sub_type;
        Message data;
        const char* destination;
        const char* note;  // on standard error, after "qz3-standin: "
    };
    const std::vector<Bad> bad{
        {"load", {{"start", 15}, {"values", {1, 2}}}, "QZ3_MK.register_file",
         "ignored load for 'QZ3_MK.register_file': \"values\" holds 2 values from \"start\" 15, past register 15"},
        {"load", {{"start", 0}, {"values", {"1"}}}, "QZ3_MK.data_memory",
         "ignored load for 'QZ3_MK.data_memory': \"values\"[0] is not a number but string"},
        {"load", {{"start", 0}, {"values", "1"}}, "QZ3_MK.instruction_memory",
         "ignored load for 'QZ3_MK.instruction_memory': \"values\" is not an array but string"},
        {"load", {{"values", {1}}}, "QZ3_MK.instruction_memory",
         "ignored load for 'QZ3_MK.instruction_memory': \"start\" is missing"},
        {"load", {{"start", 0}, {"values", {1}}}, "QZ3_MK.simulation_control",
         "ignored load for 'QZ3_MK.simulation_control': no such component"},
        {"jump", nullptr, "QZ3_MK.simulation_control", nullptr},
    };
    for (const Bad& b : bad) command(b.sub_type, b.data, b.destination);
    bus->send(MessageKind::command, "write", {{"register_number", 16}, {"value", 1}}, "register_file", "");
    bus->send(MessageKind::command, "write", {{"register_number", 1}, {"value", 1e300}}, "register_file", "");
    bus->send(MessageKind::command, "write", "3", "register_file", "");
    // The next event is that of this last, good write: nothing came before it.
    bus->send(MessageKind::command, "write", {{"register_number", 2}, {"value", 7}}, "register_file", "");
    EXPECT_EQ(next_event(), register_write(2, 7));
    // And the bad loads left register 15 at 0: SUB r15, r15 changes nothing.
    command("load", {{"start", 0}, {"values", {0xff07}}}, "QZ3_MK.instruction_memory");
    next_event();
    command("step", nullptr, "QZ3_MK.simulation_control");
    expect_no_event();
    const std::string err = unix_lines(standin->stderr_text());
    for (const Bad& b : bad) {
        if (b.note) {
            EXPECT_NE(err.find(std::string("qz3-standin: ") + b.note + "\n"), std::string::npos) << b.note;
        }
    }
    for (const char* note : {"ignored register write: \"register_number\" 16 is outside 0 to 15",
                             "ignored register write: \"value\" 1e+300 does not fit an integer",
                             "ignored register write: data is not an object but string"}) {
        EXPECT_NE(err.find(std::string("qz3-standin: ") + note + "\n"), std::string::npos) << note;
    }
}

TEST_F(StandinTest, PacedFloodArrivesWholeAndInSequence) {
    listen();
    start({"--flood", "300", "--rate=1000"});
    wait_connected_keeping_mode_events();
    for (int i = 0; i < 300; ++i) {
        Message m = next_mode_event();
        ASSERT_EQ(m, data_write(i % 256, i / 256)) << "event " << i;
    }
    EXPECT_TRUE(wait_until([this] { return standin->stderr_text().find("flood: published 300 events") != std::string::npos; },
                           5s))
        << standin->stderr_text();
}

// As fast as it can publish, the stand-in still waits for nng to write its
// messages out, so the bus drops none of them. Fewer than the receiver's
// 8192-message queue, so that a slow receiver loses nothing either.
TEST_F(StandinTest, AFullSpeedFloodArrivesWholeAndInOrder) {
    listen();
    start({"--flood", "3000", "--rate", "0"});
    wait_connected_keeping_mode_events();
    for (int i = 0; i < 3000; ++i) {
        Message m = next_mode_event();
        ASSERT_EQ(m, data_write(i % 256, i / 256)) << "event " << i;
    }
}

TEST_F(StandinTest, MalformedModePublishesTheHostileTableInOrderThenItsMarker) {
    const std::vector<HostileInput> table = hostile_inputs();
    listen();
    testing::internal::CaptureStdout();  // the decode-failure reports
    start({"--malformed"});
    wait_connected_keeping_mode_events();
    std::vector<Message> received;
    while (received.empty() || received.back() != register_write(15, 15)) {
        received.push_back(next_mode_event());
        ASSERT_LE(received.size(), table.size() + 1);
    }
    std::string reports = testing::internal::GetCapturedStdout();
    ASSERT_EQ(received.size(), table.size() + 1);
    auto text = [](const Message& m) { return compact_text(m, InvalidUtf8::replace); };
    std::size_t undecodable = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const HostileInput& entry = table[i];
        if (entry.outcome == HostileInput::Outcome::undecodable) {
            ++undecodable;
            EXPECT_EQ(received[i], Message(0)) << entry.name;  // what receive gives for a body it cannot decode
        } else {
            EXPECT_EQ(text(received[i]), text(decode(entry.body.data(), entry.body.size()))) << entry.name;
        }
    }
    std::size_t reported = 0;
    for (std::size_t at = reports.find("exception id: "); at != std::string::npos; at = reports.find("exception id: ", at + 1)) {
        ++reported;
    }
    EXPECT_EQ(reported, undecodable);
}

TEST_F(StandinTest, IgnorePingsAnswersNoPingButEverythingElse) {
    listen();
    start({"--ignore-pings"});
    wait_connected();
    command("ping", Message::array({0, 0}), "QZ3_MK.simulation_control");
    EXPECT_THROW(pair->receive_within(500ms), NngError);
    command("load", {{"start", 4}, {"values", {9}}}, "QZ3_MK.register_file");
    EXPECT_EQ(next_event(), event("load", {{"start", 4}, {"values", {9}}}, "QZ3_MK.register_file"));
}

// The demo against a machine of the test's own that starts the same way: the
// stand-in must publish exactly that machine's changes, step by step, while
// it still answers the panel's commands, and load again for a panel that
// comes back.
TEST_F(StandinTest, DemoLoadsItsProgramForEachPanelAndPublishesEveryStep) {
    const Message program = {{"start", 0}, {"values", demo::program()}};
    const Message registers = {{"start", 0}, {"values", demo::registers()}};
    const Message zeros = {{"start", 0}, {"values", std::vector<int>(256, 0)}};
    auto expect_loads = [&] {
        EXPECT_EQ(next_event(), event("load", program, "QZ3_MK.instruction_memory"));
        EXPECT_EQ(next_event(), event("load", registers, "QZ3_MK.register_file"));
        EXPECT_EQ(next_event(), event("load", zeros, "QZ3_MK.data_memory"));
    };
    listen();
    start({"--demo", "--rate", "200"});
    expect_loads();

    Processor model;
    model.load(Processor::Component::instruction_memory, 0, demo::program());
    model.load(Processor::Component::register_file, 0, demo::registers());
    std::set<int> data_written;
    for (int i = 0; i < 40; ++i) {
        for (const Processor::Change& c : model.step()) {
            if (c.component == Processor::Component::register_file) {
                ASSERT_EQ(next_event(), register_write(c.index, c.value)) << "step " << i;
            } else {
                ASSERT_EQ(next_event(), data_write(c.index, c.value)) << "step " << i;
                data_written.insert(c.index);
            }
        }
    }
    EXPECT_GE(data_written.size(), 10u) << "the data memory fills as it runs";

    // Commands while it runs: a ping is answered, a register write (of a
    // register the program leaves alone) comes back among the steps.
    ping_and_expect_reply();
    bus->send(MessageKind::command, "write", {{"register_number", 9}, {"value", 77}}, "register_file", "");
    bool echoed = wait_until([this] { return next_event() == register_write(9, 77); }, 5s);
    EXPECT_TRUE(echoed);

    pair.reset();
    bus.reset();
    std::this_thread::sleep_for(300ms);
    listen();
    expect_loads();
}

TEST(StandinOptions, HelpListsEveryOption) {
    TempDir dir;
    ChildProcess p({{STANDIN_BINARY, "--help"}, {}, "", dir.file("out"), dir.file("err")});
    ASSERT_EQ(p.wait_for(5s), 0);
    for (const char* option : {"--bus", "--pair", "--flood", "--rate", "--malformed", "--ignore-pings", "--demo", "--quiet",
                               "--verbose", "--help"}) {
        EXPECT_NE(p.stdout_text().find(option), std::string::npos) << option;
    }
}

TEST(StandinOptions, AnAddressThatCannotBeDialledEndsWithCode1) {
    TempDir dir;
    ChildProcess p({{STANDIN_BINARY, "--bus", "no-such-transport://x"}, {}, "", dir.file("out"), dir.file("err")});
    ASSERT_EQ(p.wait_for(5s), 1);
    EXPECT_NE(p.stderr_text().find("Unable to establish socket connection: "), std::string::npos);
}

struct BadOptionCase {
    const char* name;
    std::vector<std::string> args;
    const char* error;  // the first line on standard error, after "qz3-standin: "
};

class BadOption : public testing::TestWithParam<BadOptionCase> {};

TEST_P(BadOption, ExitsWithCode2AndSaysWhy) {
    TempDir dir;
    std::vector<std::string> argv{STANDIN_BINARY};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    ChildProcess p({argv, {}, "", dir.file("out"), dir.file("err")});
    ASSERT_EQ(p.wait_for(5s), 2);
    EXPECT_EQ(unix_lines(p.stderr_text()), std::string("qz3-standin: ") + GetParam().error + "\nTry 'qz3-standin --help'.\n");
}

INSTANTIATE_TEST_SUITE_P(
    Options, BadOption,
    testing::Values(BadOptionCase{"unknown", {"--bogus"}, "unknown option '--bogus'"},
                    BadOptionCase{"unknown_after_good_ones", {"--demo", "--bogus=1", "--help"}, "unknown option '--bogus=1'"},
                    BadOptionCase{"short", {"-x"}, "unknown option '-x'"},
                    BadOptionCase{"not_an_option", {"--quiet", "flood"}, "unknown option 'flood'"},
                    BadOptionCase{"value_missing", {"--flood"}, "option '--flood' needs a value"},
                    BadOptionCase{"value_not_a_number", {"--flood", "ten"},
                                  "option '--flood' needs a whole number >= 0, not 'ten'"},
                    BadOptionCase{"value_negative", {"--rate", "-1"}, "option '--rate' needs a whole number >= 0, not '-1'"},
                    BadOptionCase{"value_after_equals", {"--rate=1x"}, "option '--rate' needs a whole number >= 0, not '1x'"},
                    BadOptionCase{"flag_given_a_value", {"--demo=yes"}, "unknown option '--demo=yes'"},
                    BadOptionCase{"quiet_and_verbose", {"--quiet", "--verbose"}, "--quiet and --verbose exclude each other"}),
    [](const testing::TestParamInfo<BadOptionCase>& case_info) { return std::string(case_info.param.name); });

}  // namespace
