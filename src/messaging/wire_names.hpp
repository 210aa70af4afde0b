#pragma once
// Every name that crosses the wire: component names, sub-types, data keys and
// the panel's two listening addresses. Nothing else in the program spells them.

#include <string_view>

namespace wire {

// Addresses the panel listens on; the simulator's components dial them.
inline constexpr std::string_view bus_address = "tcp://127.0.0.1:31337";
inline constexpr std::string_view pair_address = "tcp://127.0.0.1:31338";

// The simulator's components.
inline constexpr std::string_view simulation_control = "QZ3_MK.simulation_control";
inline constexpr std::string_view instruction_memory = "QZ3_MK.instruction_memory";
inline constexpr std::string_view data_memory = "QZ3_MK.data_memory";
inline constexpr std::string_view register_file = "QZ3_MK.register_file";

// The panel's own local names.
inline constexpr std::string_view local_register_file = "register_file";
inline constexpr std::string_view local_instruction_memory = "instruction_memory";
inline constexpr std::string_view local_data_memory = "data_memory";

// Envelope keys.
inline constexpr std::string_view key_message_type = "message_type";
inline constexpr std::string_view key_message_sub_type = "message_sub_type";
inline constexpr std::string_view key_origin = "origin";
inline constexpr std::string_view key_destination = "destination";
inline constexpr std::string_view key_data = "data";

// Message types.
inline constexpr std::string_view type_command = "command";
inline constexpr std::string_view type_event = "event";

// Sub-types.
inline constexpr std::string_view sub_step = "step";
inline constexpr std::string_view sub_load = "load";
inline constexpr std::string_view sub_write = "write";
inline constexpr std::string_view sub_ping = "ping";

// Data keys.
inline constexpr std::string_view key_start = "start";
inline constexpr std::string_view key_values = "values";
inline constexpr std::string_view key_register_number = "register_number";
inline constexpr std::string_view key_value = "value";
inline constexpr std::string_view key_address = "address";

}  // namespace wire
