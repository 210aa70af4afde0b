#pragma once
// Notes, on standard error, for the mistakes that otherwise pass in silence:
// an event whose "origin" names no view (a misspelt component, a missing
// "QZ3_MK." prefix, a trailing space) or whose "message_sub_type" no view
// applies. Each distinct origin and sub-type is noted once, naming the ones
// the views take. Standard output still shows every envelope as received.
//
// Main thread only (the frame driver's dispatch).

#include <cstddef>
#include <optional>
#include <set>
#include <string>

#include "messaging/message.hpp"

class RoutingHints {
public:
    // Distinct origins, and distinct sub-types, noted at most: a peer that
    // sends a new name with every event gets this many lines and one more
    // that says the rest go unnoted.
    static constexpr std::size_t max_noted = 32;
    // Characters of a name shown in a note; longer names are cut, and two
    // names that agree this far count as one.
    static constexpr std::size_t max_shown = 80;

    // The note for one received message, without its newline, or nothing
    // when it goes to a view or was noted before. An origin of
    // "QZ3_MK.simulation_control" is known and never noted.
    std::optional<std::string> note(const Message& message);

private:
    // The names of one kind noted so far.
    struct Noted {
        std::set<std::string> names;
        bool full = false;
        // line the first time name is seen; once max_noted names are in,
        // the one line that says so (more is the kind, in the plural), then
        // nothing more.
        std::optional<std::string> first(const std::string& name, std::string line, const char* more);
    };
    Noted origins_;
    Noted sub_types_;
};
