#pragma once
// Reads the few string members of an envelope that decide how it is handled
// (its type, sub-type and destination) straight from its UBJSON body, stepping
// over everything else, "data" above all, without building any of it. The
// stand-in answers a ping from these alone: a ping's payload is never read,
// and decoding 10000 values only to drop them would cost more than the
// exchange the ping measures.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct EnvelopeHeader {
    // Empty when the member is missing or is not a string.
    std::optional<std::string> message_type;
    std::optional<std::string> message_sub_type;
    std::optional<std::string> destination;
};

// The header of body when body is exactly one well-formed UBJSON object and
// nothing after it; nullopt otherwise. Stays within the bounds decode() keeps
// (nesting, declared counts, number of values), so a hostile body costs no
// more than its length.
std::optional<EnvelopeHeader> peek_envelope(const std::uint8_t* body, std::size_t length);
