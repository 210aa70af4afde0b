#pragma once
// The envelope every message carries, its UBJSON wire form and its console texts.
// Pure functions over values: safe on any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// A JSON value; as an envelope, an object with message_type, message_sub_type,
// origin, destination and data. Objects keep their members in key order.
using Message = nlohmann::json;

// Chooses the envelope's message_type: command (1) gives "command", any other
// value gives "event".
enum class MessageKind : int { event = 0, command = 1 };

// Builds the five-member envelope.
Message make_envelope(MessageKind kind, std::string sub_type, const Message& data,
                      std::string origin, std::string destination);

// UBJSON in its plain container form (no '#' counts, no '$' types).
std::vector<std::uint8_t> encode(const Message& message);
// encode(make_envelope(kind, sub_type, data, origin, destination)) into out,
// byte for byte, without copying data into an envelope first.
void encode_envelope_into(MessageKind kind, std::string sub_type, const Message& data, std::string origin,
                          std::string destination, std::vector<std::uint8_t>& out);

// Bounds of what decode accepts from a peer. A real envelope is a few levels
// deep; the largest ping carries 10000 values. A body of nine bytes can
// declare a counted container, and every value costs memory to build and
// time to print: the bounds stay close to the largest real envelope
// (16384 values take about 256 kB, and their line about 80 kB).
inline constexpr int decode_max_depth = 64;
inline constexpr std::size_t decode_max_count = std::size_t{1} << 14;   // one declared container count
inline constexpr std::size_t decode_max_values = std::size_t{1} << 14;  // values in one body

// The parse_error ids of the bodies decode refuses for their bounds.
inline constexpr int decode_refused_depth = 190;
inline constexpr int decode_refused_count = 191;
inline constexpr int decode_refused_values = 192;

// Strict UBJSON decode of one complete value that ends exactly at the end of
// the body, in one bounded pass: nesting deeper than decode_max_depth, a
// declared count above decode_max_count, or more than decode_max_values values
// are refused before anything large is built. Gives what from_ubjson gives;
// throws nlohmann::json::parse_error for anything it does not accept.
Message decode(const std::uint8_t* body, std::size_t length);

// The members of an envelope that decide how it is handled.
struct EnvelopeHeader {
    // nullopt when the member is missing or is not a string.
    std::optional<std::string> message_type;
    std::optional<std::string> message_sub_type;
    std::optional<std::string> destination;

    bool operator==(const EnvelopeHeader&) const = default;
};

// The header of body when decode would give an object for it, read with the
// same parser and bounds but without building any value: a ping's payload,
// for one, costs a pass over its bytes. nullopt when decode would refuse the
// body or give no object.
std::optional<EnvelopeHeader> read_envelope_header(const std::uint8_t* body, std::size_t length);

// What a console text does with a string that is not valid UTF-8.
enum class InvalidUtf8 {
    raise,    // throws the library's type_error 316
    replace,  // shows each bad byte as U+FFFD: for received values, which must not end the program
};

// Console texts: compact (no whitespace), the text every console line of JSON
// is written in, and pretty (indent 4), for the send-failure report; members
// in key order, non-ASCII characters as they are.
std::string compact_text(const Message& message, InvalidUtf8 invalid = InvalidUtf8::raise);
std::string pretty_text(const Message& message);

// "Sending of message: '<pretty>' failed!" on standard output, flushed.
void report_send_failure(const Message& envelope);
// "message: <text>\nexception id: <id>" on standard output, flushed, in one
// write, so that it never splits another thread's line.
void report_decode_failure(const nlohmann::json::exception& error);

// What a receiving endpoint does with each body: decode, or report why not
// (report_decode_failure) and give nullopt.
std::optional<Message> decode_received(const std::uint8_t* body, std::size_t length);
