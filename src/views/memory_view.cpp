#include "memory_view.hpp"

#include <iostream>
#include <optional>
#include <vector>

#include "event_fields.hpp"
#include "wire_names.hpp"

template <class Cell>
MemoryView<Cell>::MemoryView(Cell initial_value, std::string name_) : name(std::move(name_)) {
    memory[0] = initial_value;
}

template <class Cell>
void MemoryView<Cell>::draw() {
    editor.draw_window(name.c_str(), reinterpret_cast<ImU8*>(memory.data()), sizeof(memory), 0);
}

template <class Cell>
void MemoryView<Cell>::handle_message(const Message& message) {
    if (!message.is_object()) return;
    const auto sub_type = message.find(wire::key_message_sub_type);
    if (sub_type == message.end() || !sub_type->is_string()) return;
    static const Message no_data;
    const auto data = message.find(wire::key_data);
    const Message& payload = data == message.end() ? no_data : *data;
    if (*sub_type == wire::sub_load) apply_load(payload);
    else if (*sub_type == wire::sub_write) apply_write(payload);
}

template <class Cell>
void MemoryView<Cell>::report_refused(const char* sub_type, const std::string& reason) const {
    std::cerr << name << ": \"" << sub_type << "\" event not applied: " << reason << std::endl;
}

template <class Cell>
void MemoryView<Cell>::apply_write(const Message& data) {
    std::string reason;
    if (!require_event_object(data, reason)) return report_refused("write", reason);
    const std::optional<EventInteger> value = read_event_member(data, wire::key_value, reason);
    if (!value) return report_refused("write", reason);
    const std::optional<EventInteger> address = read_event_member(data, wire::key_address, reason);
    if (!address) return report_refused("write", reason);
    if (!address->is_index_below(cell_count))
        return report_refused("write", quoted_key(wire::key_address) + " " + address->text() + " is outside 0 to 255");
    memory[address->bits] = value->template low_bits<Cell>();
}

template <class Cell>
void MemoryView<Cell>::apply_load(const Message& data) {
    std::string reason;
    if (!require_event_object(data, reason)) return report_refused("load", reason);
    const std::optional<EventInteger> start = read_event_member(data, wire::key_start, reason);
    if (!start) return report_refused("load", reason);
    // A load without "values" loads nothing, like an empty one.
    const auto found = data.find(wire::key_values);
    if (found == data.end()) return;
    const Message& values = *found;
    if (!values.is_array())
        return report_refused("load", quoted_key(wire::key_values) + " is not an array but " + values.type_name());
    if (values.empty()) return;
    if (!start->is_index_below(cell_count))
        return report_refused("load", quoted_key(wire::key_start) + " " + start->text() + " is outside 0 to 255");
    if (start->bits + values.size() > cell_count)
        return report_refused("load", quoted_key(wire::key_values) + " holds " + std::to_string(values.size()) +
                                          " values from " + quoted_key(wire::key_start) + " " + start->text() +
                                          ", past cell 255");
    std::array<Cell, cell_count> loaded{};
    for (std::size_t k = 0; k < values.size(); ++k) {
        const std::optional<EventInteger> value =
            read_event_integer(values[k], quoted_key(wire::key_values) + "[" + std::to_string(k) + "]", reason);
        if (!value) return report_refused("load", reason);
        loaded[k] = value->template low_bits<Cell>();
    }
    for (std::size_t k = 0; k < values.size(); ++k) memory[start->bits + k] = loaded[k];
}

template class MemoryView<std::uint32_t>;
template class MemoryView<std::uint8_t>;
