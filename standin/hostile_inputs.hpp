#pragma once
// The stand-in's table of hostile bodies: what a simulator under development
// may put on the bus, each with what the panel must make of it. The stand-in
// publishes them in --malformed mode; the tests check the panel against the
// same table.
//
// Every body that decodes is one envelope or one non-envelope value; every
// one that changes a mirror cell changes a cell no other entry touches, so
// the expected mirror after the whole table does not depend on the order.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class Mirror { none, register_file, instruction_memory, data_memory };

struct HostileInput {
    enum class Outcome {
        undecodable,  // refused by decode: one "message: ...\nexception id: N" report
        ignored,      // printed; no view applies it and none reports it
        refused,      // printed; its view refuses it whole with one line
        applied,      // printed; its view applies it to the cells below
    };

    std::string name;  // what the entry is, for test reports
    std::vector<std::uint8_t> body;
    Outcome outcome = Outcome::undecodable;
    // undecodable: the parse_error id, when the entry is there for one of
    // decode's own bounds; 0 for any.
    int refusal_id = 0;
    // applied: cells first, first + 1, ... of mirror take these values.
    Mirror mirror = Mirror::none;
    std::size_t first = 0;
    std::vector<std::uint32_t> values;
};

std::vector<HostileInput> hostile_inputs();
