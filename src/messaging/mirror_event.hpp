#pragma once
// The one reading of a received "load" or "write" event for a mirror: either
// the checked change (which cells take which values) or the one reason it is
// refused, so that a view applies an event whole or not at all. Pure
// functions over values, apart from the report: safe on any thread.
//
// A JSON number counts as the integer it stands for: a fraction is cut off
// toward zero and a boolean counts as 0 or 1. What is not a number, or a
// number that fits no 64-bit integer (1e300, NaN, infinity), is refused.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/message.hpp"
#include "messaging/wire_names.hpp"

// An integer read from an event. bits holds the value modulo 2^64, so the
// cast to a narrower unsigned type keeps its low bits the way the JSON
// library's own conversion does (300 gives 44 as 8 bits, -1 gives 255).
struct EventInteger {
    std::uint64_t bits = 0;
    bool negative = false;

    // True when the value is an index into a table of count entries.
    bool is_index_below(std::uint64_t count) const { return !negative && bits < count; }
    // The value as decimal text, for reports.
    std::string text() const;
};

// Reads value as an integer. On refusal returns nullopt and sets reason to a
// short text that starts with what (for example "\"value\" is not a number").
std::optional<EventInteger> read_event_integer(const Message& value, std::string_view what,
                                               std::string& reason);

// The mirror an event is read for: its number of cells, the data key a
// "write" event names its cell by, and what reports call one cell.
struct MirrorShape {
    std::size_t cell_count;
    std::string_view index_key;  // "register_number", "address"
    std::string_view cell_word;  // "register", "cell"
};

// The panel's mirrors: its register file, and its two memories of 256 cells
// (32-bit instruction words, data bytes). The stand-in simulator reads the
// commands that change its own components by the same shapes.
inline constexpr MirrorShape register_file_mirror{16, wire::key_register_number, "register"};
inline constexpr MirrorShape memory_mirror{256, wire::key_address, "cell"};

// What one envelope asks of a mirror.
struct MirrorEvent {
    enum class Kind { other, load, write };

    // other: not a "load" or "write" event (or no envelope); nothing to do.
    Kind kind = Kind::other;
    // values[k] goes to cell first + k, all inside the mirror. Each holds the
    // number's low 64 bits: a cast to the cell type keeps its low bits.
    std::size_t first = 0;
    std::vector<std::uint64_t> values;
    // Not empty: the "load" or "write" event is refused whole, for this
    // reason, and values is empty.
    std::string refusal;

    bool refused() const { return !refusal.empty(); }
    // "load" or "write"; empty for other.
    std::string_view sub_type() const;
};

// Reads envelope as a change to a mirror of shape. A "load" without "values"
// or with an empty one changes no cell, whatever its "start" (still read).
MirrorEvent read_mirror_event(const Message& envelope, const MirrorShape& shape);

// The one line for a refused event, on standard error, flushed:
//   <mirror_name>: "<sub-type>" event not applied: <reason>
void report_refused_event(std::string_view mirror_name, const MirrorEvent& event);
