// The envelope and its exact UBJSON bytes, strict decoding and the console texts.

#include "messaging/message.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messaging/wire_names.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Appends the bytes of a text, without a marker or length.
void put(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }

// A key or string length below 128, as the encoder writes it: 'i' and the length.
void put_key(Bytes& b, const std::string& key) {
    b.push_back('i');
    b.push_back(static_cast<std::uint8_t>(key.size()));
    put(b, key);
}

void put_string(Bytes& b, const std::string& value) {
    b.push_back('S');
    put_key(b, value);
}

Message step_command() {
    return make_envelope(MessageKind::command, "step", nullptr, "", std::string(wire::simulation_control));
}

TEST(Envelope, StepCommandIsExactly110Bytes) {
    Bytes expected{'{'};
    put_key(expected, "data");
    expected.push_back('Z');
    put_key(expected, "destination");
    put_string(expected, "QZ3_MK.simulation_control");
    put_key(expected, "message_sub_type");
    put_string(expected, "step");
    put_key(expected, "message_type");
    put_string(expected, "command");
    put_key(expected, "origin");
    put_string(expected, "");
    expected.push_back('}');

    Bytes actual = encode(step_command());
    ASSERT_EQ(actual.size(), 110u);
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(decode(actual.data(), actual.size()), step_command());
}

TEST(Envelope, MemberInsertionOrderDoesNotChangeTheBytes) {
    Message reversed = Message::object();
    reversed["origin"] = "";
    reversed["message_type"] = "command";
    reversed["message_sub_type"] = "step";
    reversed["destination"] = "QZ3_MK.simulation_control";
    reversed["data"] = nullptr;
    EXPECT_EQ(encode(reversed), encode(step_command()));
}

TEST(Envelope, KindChoosesTheMessageType) {
    EXPECT_EQ(make_envelope(MessageKind::command, "x", nullptr, "", "")["message_type"], "command");
    EXPECT_EQ(make_envelope(MessageKind::event, "x", nullptr, "", "")["message_type"], "event");
    EXPECT_EQ(make_envelope(static_cast<MessageKind>(7), "x", nullptr, "", "")["message_type"], "event");
}

// The encoding of single values: the first integer type that holds them, and the
// short forms of the empty origin, null data and an empty array.
struct ValueCase {
    const char* name;
    Message value;
    Bytes bytes;
    friend void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }
};

class ValueEncoding : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueEncoding, EncodesToExactBytesAndBack) {
    const ValueCase& c = GetParam();
    Bytes actual = encode(c.value);
    EXPECT_EQ(actual, c.bytes);
    EXPECT_EQ(decode(actual.data(), actual.size()), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Markers, ValueEncoding,
    ::testing::Values(ValueCase{"value_100_is_int8", 100, {'i', 100}},
                      ValueCase{"value_200_is_uint8", 200, {'U', 200}},
                      ValueCase{"value_300_is_int16", 300, {'I', 0x01, 0x2C}},
                      ValueCase{"value_69634_is_int32_big_endian", 69634, {'l', 0x00, 0x01, 0x10, 0x02}},
                      ValueCase{"negative_one_is_int8", -1, {'i', 0xFF}},
                      ValueCase{"empty_origin", "", {'S', 'i', 0}},
                      ValueCase{"null_data", nullptr, {'Z'}},
                      ValueCase{"empty_array", Message::array(), {'[', ']'}},
                      ValueCase{"write_data", Message{{"register_number", 3}, {"value", 200}},
                                {'{', 'i', 15, 'r', 'e', 'g', 'i', 's', 't', 'e', 'r', '_', 'n', 'u', 'm', 'b', 'e',
                                 'r', 'i', 3, 'i', 5, 'v', 'a', 'l', 'u', 'e', 'U', 200, '}'}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Envelope, TenThousandZeroPingTakesTwoBytesPerZero) {
    Message payload = Message::array();
    for (int i = 0; i < 10000; ++i) payload.push_back(0);
    Bytes data = encode(payload);
    ASSERT_EQ(data.size(), 2u + 2u * 10000u);
    EXPECT_EQ(data.front(), '[');
    EXPECT_EQ(data.back(), ']');
    EXPECT_EQ(data[1], 'i');
    EXPECT_EQ(data[2], 0);

    Message ping = make_envelope(MessageKind::command, "ping", payload, "", std::string(wire::simulation_control));
    Message zero_ping = make_envelope(MessageKind::command, "ping", Message::array(), "",
                                      std::string(wire::simulation_control));
    EXPECT_EQ(encode(ping).size(), encode(zero_ping).size() + 2u * 10000u);
}

// Endpoint::send encodes the envelope without building it: the bytes must be
// those of the built one, whatever the data and however long the strings.
TEST(Envelope, EncodingWithoutBuildingGivesTheSameBytes) {
    Message payload = Message::array();
    for (int i = 0; i < 300; ++i) payload.push_back(i * 1000 - 7);
    const Message datas[] = {nullptr, Message::array(), payload, {{"start", 0}, {"values", {1, 2}}}, "text", 3.5, true};
    const std::string long_name(300, 'x');
    Bytes out{1, 2, 3};  // replaced, not appended to
    for (const Message& data : datas) {
        for (MessageKind kind : {MessageKind::event, MessageKind::command}) {
            encode_envelope_into(kind, "write", data, long_name, "QZ3_MK.register_file", out);
            EXPECT_EQ(out, encode(make_envelope(kind, "write", data, long_name, "QZ3_MK.register_file"))) << data.dump();
        }
    }
}

TEST(Decode, RefusesATrailingByteAndAnEmptyBody) {
    Bytes body = encode(step_command());
    body.push_back('Z');
    EXPECT_THROW(decode(body.data(), body.size()), nlohmann::json::parse_error);
    Bytes empty;
    EXPECT_THROW(decode(empty.data(), 0), nlohmann::json::parse_error);
    Bytes truncated = encode(step_command());
    truncated.pop_back();
    EXPECT_THROW(decode(truncated.data(), truncated.size()), nlohmann::json::parse_error);
}

// Another encoder may write small unsigned values as 'U' and use counted and
// typed containers; they decode to the same envelope.
TEST(Decode, AcceptsOtherEncodersForms) {
    Message expected = make_envelope(MessageKind::event, "load", Message{{"start", 0}, {"values", {1, 2}}}, "",
                                     std::string(wire::register_file));
    Bytes counted{'{', '#', 'U', 5};
    put_key(counted, "data");
    counted.insert(counted.end(), {'{', '#', 'U', 2});
    put_key(counted, "start");
    counted.insert(counted.end(), {'U', 0});
    put_key(counted, "values");
    counted.insert(counted.end(), {'[', '$', 'U', '#', 'U', 2, 1, 2});
    put_key(counted, "destination");
    put_string(counted, "QZ3_MK.register_file");
    put_key(counted, "message_sub_type");
    counted.insert(counted.end(), {'S', 'U', 4});
    put(counted, "load");
    put_key(counted, "message_type");
    put_string(counted, "event");
    put_key(counted, "origin");
    put_string(counted, "");
    // A counted object has no closing '}'.

    Message decoded = decode(counted.data(), counted.size());
    EXPECT_EQ(decoded, expected);
    EXPECT_EQ(encode(decoded), encode(expected));
}

TEST(Text, CompactListsMembersInKeyOrder) {
    EXPECT_EQ(compact_text(step_command()),
              R"({"data":null,"destination":"QZ3_MK.simulation_control","message_sub_type":"step",)"
              R"("message_type":"command","origin":""})");
    EXPECT_EQ(compact_text(Message{{"value", 18}, {"register_number", 3}}), R"({"register_number":3,"value":18})");
    EXPECT_EQ(compact_text(Message("\xC3\xA9")), "\"\xC3\xA9\"");  // written as it is, not escaped
}

TEST(Text, PrettyIndentsByFour) {
    Message m = make_envelope(MessageKind::command, "load", Message{{"start", 0}, {"values", {1, 2}}}, "",
                              std::string(wire::register_file));
    m["extra"] = Message::object();
    EXPECT_EQ(pretty_text(m),
              "{\n"
              "    \"data\": {\n"
              "        \"start\": 0,\n"
              "        \"values\": [\n"
              "            1,\n"
              "            2\n"
              "        ]\n"
              "    },\n"
              "    \"destination\": \"QZ3_MK.register_file\",\n"
              "    \"extra\": {},\n"
              "    \"message_sub_type\": \"load\",\n"
              "    \"message_type\": \"command\",\n"
              "    \"origin\": \"\"\n"
              "}");
}

TEST(Text, InvalidUtf8ThrowsOrIsReplacedOnRequest) {
    EXPECT_THROW(compact_text(Message("\xFF")), nlohmann::json::type_error);
    // Received values: each bad byte is shown as U+FFFD, valid text as it is.
    EXPECT_EQ(compact_text(Message{{"o", "x\xFFy\xC3\xA9"}}, InvalidUtf8::replace),
              "{\"o\":\"x\xEF\xBF\xBDy\xC3\xA9\"}");
}

TEST(Reports, SendFailureAndDecodeFailureTexts) {
    testing::internal::CaptureStdout();
    report_send_failure(Message{{"a", 1}});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Sending of message: '{\n    \"a\": 1\n}' failed!\n");

    Bytes bad{'X'};
    try {
        decode(bad.data(), bad.size());
        FAIL() << "decode accepted a bad body";
    } catch (const nlohmann::json::parse_error& e) {
        testing::internal::CaptureStdout();
        report_decode_failure(e);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string("message: ") + e.what() + "\nexception id: " + std::to_string(e.id) + "\n");
    }
}

}  // namespace
