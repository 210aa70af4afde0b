// The header of an envelope read without decoding it (how the stand-in tells
// a ping from its header alone): it is given exactly when decode gives an
// object for the body, and then holds what that object holds, whatever the
// body's data, form or damage.

#include "messaging/message.hpp"

#include <gtest/gtest.h>

#include <random>

#include "standin/hostile_inputs.hpp"

void PrintTo(const EnvelopeHeader& h, std::ostream* os) {
    auto text = [](const std::optional<std::string>& member) { return member ? "\"" + *member + "\"" : "none"; };
    *os << "{type " << text(h.message_type) << ", sub-type " << text(h.message_sub_type) << ", destination "
        << text(h.destination) << "}";
}

namespace {

using Bytes = std::vector<std::uint8_t>;

std::optional<EnvelopeHeader> header_of(const Bytes& b) { return read_envelope_header(b.data(), b.size()); }

// What decode makes of the body, as a header.
std::optional<EnvelopeHeader> decoded_header(const Bytes& body) {
    Message m;
    try {
        m = decode(body.data(), body.size());
    } catch (const nlohmann::json::parse_error&) {
        return std::nullopt;
    }
    if (!m.is_object()) return std::nullopt;
    auto member = [&](const char* key) -> std::optional<std::string> {
        auto it = m.find(key);
        if (it == m.end() || !it->is_string()) return std::nullopt;
        return it->get<std::string>();
    };
    return EnvelopeHeader{member("message_type"), member("message_sub_type"), member("destination")};
}

Message ping_payload(int n) {
    Message p = Message::array();
    for (int i = 0; i < n; ++i) p.push_back(0);
    return p;
}

TEST(EnvelopeHeader, ReadsTheHeaderWhateverTheDataAndTheContainerForm) {
    const Message datas[] = {
        nullptr,
        ping_payload(0),
        ping_payload(10000),
        {{"start", 0}, {"values", {1, 2, 3, 70000, -5, 1ULL << 40}}},
        {{"nested", {{"deep", {1.5, "text", true, false, nullptr, Message::object()}}}}},
        "a string with \"message_sub_type\" inside",
        // Members of the header's names deeper down are not the header's.
        {{"message_type", "event"}, {"message_sub_type", "write"}, {"destination", {{"destination", "x"}}}},
    };
    const EnvelopeHeader expected{"command", "ping", "QZ3_MK.simulation_control"};
    // Members of the header's names deeper down, after the header's own.
    const Message later = {{"message_type", "event"}, {"message_sub_type", {{"message_sub_type", "write"}}}};
    for (std::size_t d = 0; d < std::size(datas); ++d) {
        Message envelope = make_envelope(MessageKind::command, "ping", datas[d], "", "QZ3_MK.simulation_control");
        Message extended = envelope;
        extended["zz"] = later;
        for (const Message& e : {envelope, extended}) {
            for (auto [use_size, use_type] : {std::pair{false, false}, {true, false}, {true, true}}) {
                const Bytes body = Message::to_ubjson(e, use_size, use_type);
                EXPECT_EQ(header_of(body), expected) << "data " << d << (e.contains("zz") ? " with zz" : "")
                                                     << " use_size " << use_size << " use_type " << use_type;
            }
        }
    }
}

TEST(EnvelopeHeader, MembersThatAreNoStringsAreMissing) {
    Message odd = make_envelope(MessageKind::command, "ping", nullptr, "", "");
    odd["message_sub_type"] = 7;
    odd["destination"] = {{"message_sub_type", "ping"}};
    odd.erase("message_type");
    EXPECT_EQ(header_of(encode(odd)), (EnvelopeHeader{std::nullopt, std::nullopt, std::nullopt}));

    // A member named twice is its last value, as in the decoded object.
    const Bytes twice{'{', 'i', 16, 'm', 'e', 's', 's', 'a', 'g', 'e', '_', 's', 'u', 'b', '_', 't', 'y', 'p', 'e',
                      'S', 'i', 4, 'p', 'i', 'n', 'g',
                      'i', 16, 'm', 'e', 's', 's', 'a', 'g', 'e', '_', 's', 'u', 'b', '_', 't', 'y', 'p', 'e',
                      'i', 7, '}'};
    ASSERT_TRUE(header_of(twice).has_value());
    EXPECT_EQ(header_of(twice), decoded_header(twice));
    EXPECT_FALSE(header_of(twice)->message_sub_type.has_value());
}

TEST(EnvelopeHeader, BodiesDecodeRefusesOrThatHoldNoObjectGiveNone) {
    const Bytes valid = encode(make_envelope(MessageKind::command, "ping", ping_payload(3), "", ""));
    Bytes trailing = valid;
    trailing.push_back('Z');
    const Bytes truncated(valid.begin(), valid.end() - 1);
    Bytes deep{'{', 'i', 4, 'd', 'a', 't', 'a'};
    deep.insert(deep.end(), 100, '[');
    deep.insert(deep.end(), 100, ']');
    deep.push_back('}');
    Bytes many_values{'{', 'i', 4, 'd', 'a', 't', 'a', '['};
    for (std::size_t i = 0; i <= decode_max_values; ++i) many_values.insert(many_values.end(), {'i', 0});
    many_values.insert(many_values.end(), {']', '}'});
    const Bytes cases[] = {
        {},
        {'Z'},                            // not an object
        encode(Message::array({1, 2})),  // not an object
        encode(Message::array({make_envelope(MessageKind::command, "ping", nullptr, "", "")})),  // nor this
        trailing,
        truncated,
        deep,                                                                           // deeper than decode takes
        {'{', 'i', 4, 'd', 'a', 't', 'a', '[', '#', 'l', 0x7F, 0xFF, 0xFF, 0xFF, '}'},  // a count above the bound
        many_values,                                                                    // more values than decode takes
        {'{', 'i', 1, 'a', '[', '$', 'i', 'Z', '}'},                                    // a type without a count
        {'{', 'i', 1, 'a', 'X', '}'},                                                   // an unknown marker
    };
    for (const Bytes& body : cases) {
        EXPECT_FALSE(header_of(body).has_value()) << testing::PrintToString(body);
        EXPECT_FALSE(decoded_header(body).has_value()) << testing::PrintToString(body);
    }
}

// The stand-in's table of what a simulator under development may send, and
// forms the library reads leniently or not at all.
TEST(EnvelopeHeader, HostileAndOddBodiesAreReadAsDecodeReadsThem) {
    for (const HostileInput& entry : hostile_inputs()) {
        EXPECT_EQ(header_of(entry.body), decoded_header(entry.body)) << entry.name;
    }
    const Bytes odd[] = {
        {'{', 'i', 0xFF, 'Z', '}'},                    // a negative key length: the key ""
        {'{', 'N', '}'},                                // a no-op marker
        {'{', 'i', 1, 'a', 'N', 'Z', '}'},              // a no-op before a value
        {'{', 'i', 1, 'a', 'H', 'i', 1, '7', '}'},      // a high-precision number
        {'{', 'i', 1, 'a', 'H', 'i', 1, 'x', '}'},      // one that is no number
        {'{', 'i', 1, 'a', 'C', 0xC3, '}'},             // a character above ASCII
    };
    for (const Bytes& body : odd) EXPECT_EQ(header_of(body), decoded_header(body)) << testing::PrintToString(body);
}

// Random damage to real envelopes, plain and optimised: the header is given
// for exactly the bodies decode gives an object for, and agrees with it.
TEST(EnvelopeHeader, DamagedBodiesAreReadAsDecodeReadsThem) {
    std::mt19937 rng(12345);
    const Bytes originals[] = {
        encode(make_envelope(MessageKind::command, "ping", ping_payload(20), "", "QZ3_MK.simulation_control")),
        encode(make_envelope(MessageKind::command, "load", {{"start", 0}, {"values", {1, 300, -2}}}, "",
                             "QZ3_MK.register_file")),
        Message::to_ubjson(make_envelope(MessageKind::event, "write", {{"address", 3}, {"value", 4}}, "x", ""), true, true),
    };
    int read = 0;
    for (const Bytes& original : originals) {
        for (int round = 0; round < 3000; ++round) {
            Bytes body = original;
            int edits = 1 + static_cast<int>(rng() % 3);
            for (int e = 0; e < edits && !body.empty(); ++e) {
                std::size_t at = rng() % body.size();
                switch (rng() % 3) {
                    case 0: body[at] = static_cast<std::uint8_t>(rng()); break;
                    case 1: body.erase(body.begin() + static_cast<long>(at)); break;
                    default: body.insert(body.begin() + static_cast<long>(at), static_cast<std::uint8_t>(rng())); break;
                }
            }
            const std::optional<EnvelopeHeader> header = header_of(body);
            ASSERT_EQ(header, decoded_header(body)) << "body: " << testing::PrintToString(body);
            if (header) ++read;
        }
    }
    EXPECT_GT(read, 0);  // the damage left some bodies whole enough to read
}

}  // namespace
