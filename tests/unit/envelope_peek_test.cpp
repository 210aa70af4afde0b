// The stand-in reads an envelope's type, sub-type and destination without
// decoding it. Whenever it answers, its answer must be the one a full decode
// gives; whenever it cannot tell, it must say so, never guess.

#include "standin/envelope_peek.hpp"

#include <gtest/gtest.h>

#include <random>

#include "messaging/message.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::optional<EnvelopeHeader> peek(const Bytes& b) { return peek_envelope(b.data(), b.size()); }

std::optional<std::string> string_member(const Message& m, const char* key) {
    if (!m.is_object() || !m.contains(key) || !m[key].is_string()) return std::nullopt;
    return m[key].get<std::string>();
}

// peek gave a header: decode must accept the body and agree on every member.
void expect_agrees_with_decode(const Bytes& body, const EnvelopeHeader& h) {
    Message m;
    ASSERT_NO_THROW(m = decode(body.data(), body.size()));
    EXPECT_EQ(h.message_type, string_member(m, "message_type"));
    EXPECT_EQ(h.message_sub_type, string_member(m, "message_sub_type"));
    EXPECT_EQ(h.destination, string_member(m, "destination"));
}

Message ping_payload(int n) {
    Message p = Message::array();
    for (int i = 0; i < n; ++i) p.push_back(0);
    return p;
}

TEST(EnvelopePeek, ReadsTheHeaderOfEnvelopesWhateverTheirData) {
    const Message datas[] = {
        nullptr,
        ping_payload(0),
        ping_payload(10000),
        {{"start", 0}, {"values", {1, 2, 3, 70000, -5, 1ULL << 40}}},
        {{"nested", {{"deep", {1.5, "text", true, false, nullptr, Message::object()}}}}},
        "a string with \"message_sub_type\" inside",
    };
    for (const Message& data : datas) {
        Bytes body = encode(make_envelope(MessageKind::command, "ping", data, "", "QZ3_MK.simulation_control"));
        auto h = peek(body);
        ASSERT_TRUE(h.has_value()) << data.dump();
        EXPECT_EQ(h->message_type, "command");
        EXPECT_EQ(h->message_sub_type, "ping");
        EXPECT_EQ(h->destination, "QZ3_MK.simulation_control");
        expect_agrees_with_decode(body, *h);
    }
}

TEST(EnvelopePeek, OptimisedContainersAreWalkedToo) {
    Message envelope = make_envelope(MessageKind::event, "write", {{"v", ping_payload(300)}}, "x", "");
    for (bool use_type : {false, true}) {
        Bytes body = Message::to_ubjson(envelope, /*use_size=*/true, use_type);
        auto h = peek(body);
        ASSERT_TRUE(h.has_value()) << "use_type " << use_type;
        expect_agrees_with_decode(body, *h);
        EXPECT_EQ(h->message_sub_type, "write");
    }
}

TEST(EnvelopePeek, MembersThatAreNoStringsAreMissing) {
    Message odd = make_envelope(MessageKind::command, "ping", nullptr, "", "");
    odd["message_sub_type"] = 7;
    odd.erase("destination");
    Bytes body = encode(odd);
    auto h = peek(body);
    ASSERT_TRUE(h.has_value());
    EXPECT_EQ(h->message_type, "command");
    EXPECT_FALSE(h->message_sub_type.has_value());
    EXPECT_FALSE(h->destination.has_value());
}

TEST(EnvelopePeek, BodiesItCannotVouchForGiveNothing) {
    Bytes valid = encode(make_envelope(MessageKind::command, "ping", ping_payload(3), "", ""));
    Bytes trailing = valid;
    trailing.push_back('Z');
    Bytes truncated(valid.begin(), valid.end() - 1);
    Bytes deep;
    deep.push_back('{');
    deep.insert(deep.end(), {'i', 4, 'd', 'a', 't', 'a'});
    for (int i = 0; i < 100; ++i) deep.push_back('[');
    for (int i = 0; i < 100; ++i) deep.push_back(']');
    deep.push_back('}');
    const Bytes cases[] = {
        {},
        {'Z'},                                                   // not an object
        encode(Message::array({1, 2})),                          // not an object
        trailing,
        truncated,
        deep,                                                    // deeper than decode takes
        {'{', 'i', 4, 'd', 'a', 't', 'a', '[', '#', 'l', 0x7F, 0xFF, 0xFF, 0xFF, '}'},  // a count above the bound
        {'{', 'i', 0xFF, 'Z', '}'},                               // a negative key length
        {'{', 'N', '}'},                                          // a no-op marker
        {'{', 'i', 1, 'a', 'H', 'i', 1, 'x', '}'},                // a high-precision number
        {'{', 'i', 1, 'a', 'C', 0xC3, '}'},                       // a character above ASCII
        {'{', 'i', 1, 'a', '[', '$', 'i', 'Z', '}'},              // a type without a count
    };
    for (const Bytes& body : cases) EXPECT_FALSE(peek(body).has_value()) << testing::PrintToString(body);
}

// Random damage to real envelopes: whatever peek accepts, decode accepts and
// reads the same way.
TEST(EnvelopePeek, NeverVouchesForABodyDecodeWouldRefuse) {
    std::mt19937 rng(12345);
    const Bytes originals[] = {
        encode(make_envelope(MessageKind::command, "ping", ping_payload(20), "", "QZ3_MK.simulation_control")),
        encode(make_envelope(MessageKind::command, "load", {{"start", 0}, {"values", {1, 300, -2}}}, "",
                             "QZ3_MK.register_file")),
        Message::to_ubjson(make_envelope(MessageKind::event, "write", {{"address", 3}, {"value", 4}}, "x", ""), true, true),
    };
    int vouched = 0;
    for (const Bytes& original : originals) {
        for (int round = 0; round < 3000; ++round) {
            Bytes body = original;
            int edits = 1 + static_cast<int>(rng() % 3);
            for (int e = 0; e < edits; ++e) {
                std::size_t at = rng() % body.size();
                switch (rng() % 3) {
                    case 0: body[at] = static_cast<std::uint8_t>(rng()); break;
                    case 1: body.erase(body.begin() + static_cast<long>(at)); break;
                    default: body.insert(body.begin() + static_cast<long>(at), static_cast<std::uint8_t>(rng())); break;
                }
                if (body.empty()) break;
            }
            auto h = peek(body);
            if (!h) continue;
            ++vouched;
            expect_agrees_with_decode(body, *h);
            if (testing::Test::HasFailure()) {
                ADD_FAILURE() << "body: " << testing::PrintToString(body);
                return;
            }
        }
    }
    EXPECT_GT(vouched, 0);  // the damage left some bodies whole enough to read
}

}  // namespace
