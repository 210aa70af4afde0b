// Hostile bodies: decode refuses them while it reads, before they exhaust the
// stack or the memory, with a parse error of its own.

#include "messaging/message.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

int refusal_id(const Bytes& body) {
    try {
        decode(body.data(), body.size());
    } catch (const nlohmann::json::parse_error& e) {
        return e.id;
    }
    return 0;
}

Bytes typed_null_array(std::uint8_t count_marker, std::vector<std::uint8_t> count_bytes) {
    Bytes b{'[', '$', 'Z', '#', count_marker};
    for (std::uint8_t byte : count_bytes) b.push_back(byte);
    return b;
}

TEST(DecodeBounds, DeepNestingIsRefusedWithoutOverflowingTheStack) {
    Bytes deep(30000, '[');
    deep.insert(deep.end(), 30000, ']');
    EXPECT_EQ(refusal_id(deep), decode_refused_depth);

    Bytes allowed(decode_max_depth, '[');
    allowed.insert(allowed.end(), decode_max_depth, ']');
    EXPECT_NO_THROW(decode(allowed.data(), allowed.size()));
}

TEST(DecodeBounds, HugeDeclaredCountsAreRefusedAtOnce) {
    // 10^8 nulls in 13 bytes, and 2^40 nulls.
    EXPECT_EQ(refusal_id(typed_null_array('l', {0x05, 0xF5, 0xE1, 0x00})), decode_refused_count);
    EXPECT_EQ(refusal_id(typed_null_array('L', {0, 0, 0x01, 0, 0, 0, 0, 0})), decode_refused_count);
    Bytes counted_object{'{', '#', 'l', 0x7F, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(refusal_id(counted_object), decode_refused_count);
}

// Found by the receive fuzzer: 141 bytes of nested typed arrays declaring
// 23387 booleans each, about a million values, cost a quarter of a second to
// build and print when the bounds were 2^20.
TEST(DecodeBounds, TypedArraysOfAFewBytesDeclaringAMillionValuesAreRefused) {
    Bytes many_counts{'['};
    for (int i = 0; i < 45; ++i) many_counts.insert(many_counts.end(), {'[', '$', 'T', '#', 'I', 0x5B, 0x5B});
    EXPECT_EQ(refusal_id(many_counts), decode_refused_count);

    // Counts each within the bound add up to more values than a body may hold.
    Bytes within{'['};
    const auto count = static_cast<std::uint16_t>(decode_max_count);
    for (std::size_t i = 0; i * decode_max_count <= decode_max_values; ++i) {
        within.insert(within.end(), {'[', '$', 'T', '#', 'I', static_cast<std::uint8_t>(count >> 8),
                                     static_cast<std::uint8_t>(count & 0xFF)});
    }
    EXPECT_EQ(refusal_id(within), decode_refused_values);
}

TEST(DecodeBounds, TooManyValuesInAllAreRefused) {
    Bytes many{'['};
    many.insert(many.end(), decode_max_values + 1, 'Z');
    many.push_back(']');
    EXPECT_EQ(refusal_id(many), decode_refused_values);
}

TEST(DecodeBounds, ARefusalIsReportedLikeAnyUndecodableBody) {
    Bytes body = typed_null_array('l', {0x05, 0xF5, 0xE1, 0x00});
    try {
        decode(body.data(), body.size());
        FAIL();
    } catch (const nlohmann::json::parse_error& e) {
        testing::internal::CaptureStdout();
        report_decode_failure(e);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("message: "), std::string::npos);
        EXPECT_NE(out.find("declared count"), std::string::npos);
        EXPECT_NE(out.find("\nexception id: 191\n"), std::string::npos);
    }
}

TEST(DecodeBounds, TheLargestPingAndACountedArrayDecodeWithinTheBounds) {
    Message ping = make_envelope(MessageKind::command, "ping", Message::array(), "", "QZ3_MK.simulation_control");
    for (int i = 0; i < 10000; ++i) ping["data"].push_back(0);
    Bytes body = encode(ping);
    EXPECT_EQ(decode(body.data(), body.size()), ping);
    // A typed, counted array of small integers, as another encoder writes it.
    Bytes typed{'[', '$', 'i', '#', 'i', 3, 1, 2, 3};
    EXPECT_EQ(decode(typed.data(), typed.size()), Message({1, 2, 3}));
}

TEST(DecodeBounds, InvalidUtf8DecodesAndIsLeftToThePrinter) {
    Bytes body{'S', 'i', 2, 0xFF, 0xFE};
    Message m = decode(body.data(), body.size());
    EXPECT_EQ(m.get<std::string>(), "\xFF\xFE");
}

}  // namespace
