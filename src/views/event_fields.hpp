#pragma once
// Checked reading of the numbers in a received event's data, so that a view
// can check a whole event before it changes anything. Pure functions over
// values: safe on any thread.
//
// A JSON number counts as the integer it stands for: a fraction is cut off
// toward zero and a boolean counts as 0 or 1. What is not a number, or a
// number that fits no 64-bit integer (1e300, NaN, infinity), is refused.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "message.hpp"

// An integer read from an event. bits holds the value modulo 2^64, so the
// cast to a narrower unsigned type keeps its low bits the way the JSON
// library's own conversion does (300 gives 44 as 8 bits, -1 gives 255).
struct EventInteger {
    std::uint64_t bits = 0;
    bool negative = false;

    template <class Unsigned>
    Unsigned low_bits() const {
        return static_cast<Unsigned>(bits);
    }
    // True when the value is an index into a table of count entries.
    bool is_index_below(std::uint64_t count) const { return !negative && bits < count; }
    // The value as decimal text, for reports.
    std::string text() const;
};

// Reads value as an integer. On refusal returns nullopt and sets reason to a
// short text that starts with what (for example "\"value\" is not a number").
std::optional<EventInteger> read_event_integer(const Message& value, std::string_view what,
                                               std::string& reason);

// Reads the member key of the object data as an integer; a missing member is
// refused like a non-number. data must be an object (see require_event_object).
std::optional<EventInteger> read_event_member(const Message& data, std::string_view key,
                                              std::string& reason);

// True when data is a JSON object; otherwise sets reason.
bool require_event_object(const Message& data, std::string& reason);

// The key in double quotes, as reports name members: "\"start\"".
std::string quoted_key(std::string_view key);
