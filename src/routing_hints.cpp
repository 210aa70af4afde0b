#include "routing_hints.hpp"

#include "messaging/wire_names.hpp"

namespace {

// How a name is shown: compact JSON (quoted, escaped, so that a trailing
// space or a wrong case shows), cut at a character boundary.
std::string shown(const Message& value) {
    std::string text = compact_text(value, InvalidUtf8::replace);
    if (text.size() <= RoutingHints::max_shown) return text;
    std::size_t cut = RoutingHints::max_shown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
    return text + "...";
}

const std::string views_text = "the views take \"" + std::string(wire::instruction_memory) + "\", \"" +
                               std::string(wire::data_memory) + "\" and \"" + std::string(wire::register_file) +
                               "\"";
const std::string sub_types_text =
    "the views apply \"" + std::string(wire::sub_load) + "\" and \"" + std::string(wire::sub_write) + "\"";

}  // namespace

std::optional<std::string> RoutingHints::Noted::first(const std::string& name, std::string line, const char* more) {
    if (full || names.count(name) != 0) return std::nullopt;
    if (names.size() >= max_noted) {
        full = true;
        return std::string("hint: further ") + more + " are not noted";
    }
    names.insert(name);
    return line;
}

std::optional<std::string> RoutingHints::note(const Message& message) {
    const bool envelope = message.is_object();
    const auto origin = envelope ? message.find(wire::key_origin) : message.end();
    const bool has_origin = envelope && origin != message.end();
    const std::string* origin_name =
        has_origin && origin->is_string() ? &origin->get_ref<const std::string&>() : nullptr;
    const bool to_view = origin_name != nullptr &&
                         (*origin_name == wire::instruction_memory || *origin_name == wire::data_memory ||
                          *origin_name == wire::register_file);

    if (!to_view) {
        if (origin_name != nullptr && *origin_name == wire::simulation_control) return std::nullopt;
        if (origins_.full) return std::nullopt;
        if (!has_origin) {
            return origins_.first("", "hint: an envelope without \"origin\" changes no view; " + views_text,
                                  "origins that name no view");
        }
        const std::string name = shown(*origin);
        return origins_.first(
            name, "hint: origin " + name + " names no view, so its events change nothing; " + views_text,
            "origins that name no view");
    }

    const auto sub_type = message.find(wire::key_message_sub_type);
    const bool has_sub_type = sub_type != message.end();
    if (has_sub_type && sub_type->is_string()) {
        const auto& sub = sub_type->get_ref<const std::string&>();
        if (sub == wire::sub_load || sub == wire::sub_write) return std::nullopt;
    }
    if (sub_types_.full) return std::nullopt;
    const std::string from = " (from \"" + *origin_name + "\")";
    if (!has_sub_type) {
        return sub_types_.first(
            "", "hint: an envelope without \"message_sub_type\"" + from + " changes no view; " + sub_types_text,
            "sub-types that no view applies");
    }
    const std::string name = shown(*sub_type);
    return sub_types_.first(name, "hint: \"message_sub_type\" " + name + from + " changes no view; " + sub_types_text,
                            "sub-types that no view applies");
}
