#include "messaging/mirror_event.hpp"

#include <cmath>
#include <iostream>

#include "messaging/wire_names.hpp"

namespace {

// 2^63 and 2^64 as doubles: the bounds of int64 and uint64 after truncation.
constexpr double two_pow_63 = 9223372036854775808.0;
constexpr double two_pow_64 = 18446744073709551616.0;

// The key in double quotes, as reports name members: "\"start\"".
std::string quoted_key(std::string_view key) {
    std::string text = "\"";
    text += key;
    text += '"';
    return text;
}

// The member key of the object data as an integer; a missing member is
// refused like a non-number.
std::optional<EventInteger> read_member(const Message& data, std::string_view key, std::string& reason) {
    const auto member = data.find(key);
    if (member == data.end()) {
        reason = quoted_key(key) + " is missing";
        return std::nullopt;
    }
    return read_event_integer(*member, quoted_key(key), reason);
}

std::string outside_text(std::string_view key, const EventInteger& index, const MirrorShape& shape) {
    return quoted_key(key) + " " + index.text() + " is outside 0 to " + std::to_string(shape.cell_count - 1);
}

// A write: "value", then the cell named by shape.index_key. Returns the
// reason of a refusal, empty when event holds the change.
std::string read_write(const Message& data, const MirrorShape& shape, MirrorEvent& event) {
    std::string reason;
    const std::optional<EventInteger> value = read_member(data, wire::key_value, reason);
    if (!value) return reason;
    const std::optional<EventInteger> index = read_member(data, shape.index_key, reason);
    if (!index) return reason;
    if (!index->is_index_below(shape.cell_count)) return outside_text(shape.index_key, *index, shape);
    event.first = static_cast<std::size_t>(index->bits);
    event.values.push_back(value->bits);
    return {};
}

// A load: "start", then "values" from it on. Returns the reason of a
// refusal, empty when event holds the change.
std::string read_load(const Message& data, const MirrorShape& shape, MirrorEvent& event) {
    std::string reason;
    const std::optional<EventInteger> start = read_member(data, wire::key_start, reason);
    if (!start) return reason;
    const auto found = data.find(wire::key_values);
    if (found == data.end()) return {};
    const Message& values = *found;
    if (!values.is_array()) return quoted_key(wire::key_values) + " is not an array but " + values.type_name();
    if (values.empty()) return {};
    if (!start->is_index_below(shape.cell_count)) return outside_text(wire::key_start, *start, shape);
    if (start->bits + values.size() > shape.cell_count) {
        return quoted_key(wire::key_values) + " holds " + std::to_string(values.size()) + " values from " +
               quoted_key(wire::key_start) + " " + start->text() + ", past " + std::string(shape.cell_word) + " " +
               std::to_string(shape.cell_count - 1);
    }
    event.values.reserve(values.size());
    for (std::size_t k = 0; k < values.size(); ++k) {
        const std::string what = quoted_key(wire::key_values) + "[" + std::to_string(k) + "]";
        const std::optional<EventInteger> value = read_event_integer(values[k], what, reason);
        if (!value) return reason;
        event.values.push_back(value->bits);
    }
    event.first = static_cast<std::size_t>(start->bits);
    return {};
}

}  // namespace

std::string EventInteger::text() const {
    if (!negative) return std::to_string(bits);
    return std::to_string(static_cast<std::int64_t>(bits));
}

std::optional<EventInteger> read_event_integer(const Message& value, std::string_view what,
                                               std::string& reason) {
    EventInteger result;
    switch (value.type()) {
    case Message::value_t::boolean:
        result.bits = value.get<bool>() ? 1 : 0;
        return result;
    case Message::value_t::number_unsigned:
        result.bits = value.get<std::uint64_t>();
        return result;
    case Message::value_t::number_integer: {
        const auto signed_value = value.get<std::int64_t>();
        result.bits = static_cast<std::uint64_t>(signed_value);
        result.negative = signed_value < 0;
        return result;
    }
    case Message::value_t::number_float: {
        const double number = value.get<double>();
        if (!std::isfinite(number)) {
            reason = std::string(what) + " is not a finite number";
            return std::nullopt;
        }
        const double whole = std::trunc(number);
        if (whole >= -two_pow_63 && whole < two_pow_63) {
            const auto signed_value = static_cast<std::int64_t>(whole);
            result.bits = static_cast<std::uint64_t>(signed_value);
            result.negative = signed_value < 0;
            return result;
        }
        if (whole >= 0.0 && whole < two_pow_64) {
            result.bits = static_cast<std::uint64_t>(whole);
            return result;
        }
        reason = std::string(what) + " " + compact_text(value) + " does not fit an integer";
        return std::nullopt;
    }
    default:
        reason = std::string(what) + " is not a number but " + value.type_name();
        return std::nullopt;
    }
}

std::string_view MirrorEvent::sub_type() const {
    switch (kind) {
    case Kind::load:
        return wire::sub_load;
    case Kind::write:
        return wire::sub_write;
    case Kind::other:
        break;
    }
    return {};
}

MirrorEvent read_mirror_event(const Message& envelope, const MirrorShape& shape) {
    MirrorEvent event;
    if (!envelope.is_object()) return event;
    const auto sub_type = envelope.find(wire::key_message_sub_type);
    if (sub_type == envelope.end() || !sub_type->is_string()) return event;
    const auto& name = sub_type->get_ref<const std::string&>();
    if (name == wire::sub_load) event.kind = MirrorEvent::Kind::load;
    else if (name == wire::sub_write) event.kind = MirrorEvent::Kind::write;
    else return event;

    static const Message no_data;
    const auto found = envelope.find(wire::key_data);
    const Message& data = found == envelope.end() ? no_data : *found;
    if (!data.is_object()) {
        event.refusal = std::string("data is not an object but ") + data.type_name();
        return event;
    }
    event.refusal = event.kind == MirrorEvent::Kind::load ? read_load(data, shape, event)
                                                          : read_write(data, shape, event);
    if (event.refused()) event.values.clear();
    return event;
}

void report_refused_event(std::string_view mirror_name, const MirrorEvent& event) {
    std::cerr << mirror_name << ": \"" << event.sub_type() << "\" event not applied: " << event.refusal << std::endl;
}
