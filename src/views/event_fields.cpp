#include "event_fields.hpp"

#include <cmath>

namespace {

// 2^63 and 2^64 as doubles: the bounds of int64 and uint64 after truncation.
constexpr double two_pow_63 = 9223372036854775808.0;
constexpr double two_pow_64 = 18446744073709551616.0;

}  // namespace

std::string EventInteger::text() const {
    if (!negative) return std::to_string(bits);
    return std::to_string(static_cast<std::int64_t>(bits));
}

std::string quoted_key(std::string_view key) {
    std::string text = "\"";
    text += key;
    text += '"';
    return text;
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
        reason = std::string(what) + " " + value.dump() + " does not fit an integer";
        return std::nullopt;
    }
    default:
        reason = std::string(what) + " is not a number but " + value.type_name();
        return std::nullopt;
    }
}

std::optional<EventInteger> read_event_member(const Message& data, std::string_view key,
                                              std::string& reason) {
    const auto member = data.find(key);
    if (member == data.end()) {
        reason = quoted_key(key) + " is missing";
        return std::nullopt;
    }
    return read_event_integer(*member, quoted_key(key), reason);
}

bool require_event_object(const Message& data, std::string& reason) {
    if (data.is_object()) return true;
    reason = std::string("data is not an object but ") + data.type_name();
    return false;
}
