#include "register_file_view.hpp"

#include <cstdio>
#include <iostream>

#include "event_fields.hpp"
#include "imgui.h"
#include "wire_names.hpp"

namespace {

struct BaseButton {
    const char* label;
    int base;
};

constexpr std::array<BaseButton, 4> base_buttons{{{"BIN", 2}, {"OCT", 8}, {"DEC", 10}, {"HEX", 16}}};

const char* base_label(int base) {
    for (const BaseButton& button : base_buttons)
        if (button.base == base) return button.label;
    return "DEC";
}

int usable_base(int base) { return base == 2 || base == 8 || base == 16 ? base : 10; }

// The digit's value, or -1 when c is no digit of base.
int digit_value(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    return value < base ? value : -1;
}

bool is_white_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// JSON text for console lines; a string that is not valid UTF-8 is shown with
// replacement characters rather than ending the program.
std::string console_text(const Message& value) {
    return value.dump(-1, ' ', false, Message::error_handler_t::replace);
}

void report_refused_event(const std::string& sub_type, const std::string& reason) {
    std::cerr << "refused " << console_text(sub_type) << " event: " << reason << std::endl;
}

}  // namespace

RegisterFileView::RegisterFileView(Application* app_, std::uint8_t initial_value, std::string name_,
                                   int base_)
    : name(std::move(name_)), base(base_), app(app_) {
    registers.fill(initial_value);
    for (auto& text : texts) text = std::make_unique<char[]>(text_capacity);
    refresh_text(-1);
}

std::string RegisterFileView::format_value(std::uint8_t value, int base) {
    static constexpr char digits[] = "0123456789abcdef";
    const unsigned radix = static_cast<unsigned>(usable_base(base));
    std::string reversed;
    unsigned rest = value;
    do {
        reversed += digits[rest % radix];
        rest /= radix;
    } while (rest != 0);
    return std::string(reversed.rbegin(), reversed.rend());
}

std::optional<std::uint8_t> RegisterFileView::parse_text(const char* text, int base,
                                                         std::string* reason) {
    const int radix = usable_base(base);
    const char* at = text;
    while (is_white_space(*at)) ++at;
    const char* first_digit = at;
    unsigned value = 0;
    bool above_255 = false;
    for (int digit = digit_value(*at, radix); digit >= 0; digit = digit_value(*++at, radix)) {
        value = value * static_cast<unsigned>(radix) + static_cast<unsigned>(digit);
        if (value > 255) {
            above_255 = true;
            value = 255;  // keeps the sum bounded however many digits follow
        }
    }
    const char* why = nullptr;
    if (at == first_digit) why = "no digit of the base";
    else if (*at != '\0') why = "characters after the number";
    else if (above_255) why = "the number is above 255";
    if (why == nullptr) return static_cast<std::uint8_t>(value);
    if (reason != nullptr) *reason = why;
    return std::nullopt;
}

void RegisterFileView::refresh_text(int index) {
    const int first = index < 0 ? 0 : index;
    const int last = index < 0 ? register_count - 1 : index;
    for (int i = first; i <= last && i < register_count; ++i) {
        const std::string text = format_value(registers[i], base);
        std::snprintf(texts[i].get(), text_capacity, "%s", text.c_str());
    }
}

void RegisterFileView::draw() {
    ImGui::Begin(name.c_str());
    int sel_str_t = base;
    for (std::size_t b = 0; b < base_buttons.size(); ++b) {
        if (b > 0) ImGui::SameLine();
        ImGui::RadioButton(base_buttons[b].label, &sel_str_t, base_buttons[b].base);
    }
    for (int i = 0; i < register_count; ++i) {
        char label[16];
        std::snprintf(label, sizeof label, "REG %d", i);
        if (ImGui::InputText(label, texts[i].get(), text_capacity, ImGuiInputTextFlags_EnterReturnsTrue))
            enter_text(i);
    }
    if (sel_str_t != base) {
        base = sel_str_t;
        refresh_text(-1);
    }
    ImGui::End();
}

void RegisterFileView::enter_text(int index) {
    std::string reason;
    const std::optional<std::uint8_t> value = parse_text(texts[index].get(), base, &reason);
    if (!value) {
        std::cerr << "refused REG " << index << " text " << console_text(std::string(texts[index].get()))
                  << " in " << base_label(base) << ": " << reason << std::endl;
        refresh_text(index);
        return;
    }
    registers[index] = *value;
    Message data = Message::object();
    data[wire::key_register_number] = index;
    data[wire::key_value] = static_cast<unsigned>(*value);
    std::cerr << compact_text(data) << std::endl;
    app->hub.bus.send(MessageKind::command, std::string(wire::sub_write), data, name, "");
}

void RegisterFileView::handle_message(const Message& message) {
    Message sub_type;  // null when missing
    Message data;
    if (message.is_object()) {
        if (auto found = message.find(wire::key_message_sub_type); found != message.end()) sub_type = *found;
        if (auto found = message.find(wire::key_data); found != message.end()) data = *found;
    }
    std::cerr << console_text(sub_type) << std::endl;
    if (sub_type == wire::sub_load) apply_load(data);
    else if (sub_type == wire::sub_write) apply_write(data);
}

void RegisterFileView::apply_write(const Message& data) {
    std::string reason;
    std::optional<EventInteger> value;
    std::optional<EventInteger> number;
    if (require_event_object(data, reason) && (value = read_event_member(data, wire::key_value, reason)) &&
        (number = read_event_member(data, wire::key_register_number, reason))) {
        if (!number->is_index_below(register_count)) {
            reason = quoted_key(wire::key_register_number) + " " + number->text() + " is outside 0 to 15";
            number.reset();
        }
    }
    if (!value || !number) {
        report_refused_event(std::string(wire::sub_write), reason);
        return;
    }
    const auto index = static_cast<int>(number->bits);
    registers[index] = value->low_bits<std::uint8_t>();
    refresh_text(index);
}

void RegisterFileView::apply_load(const Message& data) {
    const std::string refused_sub_type(wire::sub_load);
    std::string reason;
    if (!require_event_object(data, reason)) return report_refused_event(refused_sub_type, reason);
    const std::optional<EventInteger> start = read_event_member(data, wire::key_start, reason);
    if (!start) return report_refused_event(refused_sub_type, reason);

    // A load without "values" loads nothing, like an empty one.
    const auto found = data.find(wire::key_values);
    const Message values = found == data.end() ? Message::array() : *found;
    if (!values.is_array()) {
        reason = quoted_key(wire::key_values) + " is not an array but " + values.type_name();
        return report_refused_event(refused_sub_type, reason);
    }
    std::array<std::uint8_t, register_count> loaded{};
    if (!values.empty()) {
        if (!start->is_index_below(register_count)) {
            reason = quoted_key(wire::key_start) + " " + start->text() + " is outside 0 to 15";
            return report_refused_event(refused_sub_type, reason);
        }
        if (start->bits + values.size() > register_count) {
            reason = quoted_key(wire::key_values) + " holds " + std::to_string(values.size()) +
                     " values from " + quoted_key(wire::key_start) + " " + start->text() +
                     ", past register 15";
            return report_refused_event(refused_sub_type, reason);
        }
        for (std::size_t k = 0; k < values.size(); ++k) {
            const std::string what = quoted_key(wire::key_values) + "[" + std::to_string(k) + "]";
            const std::optional<EventInteger> value = read_event_integer(values[k], what, reason);
            if (!value) return report_refused_event(refused_sub_type, reason);
            loaded[k] = value->low_bits<std::uint8_t>();
        }
    }
    for (std::size_t k = 0; k < values.size(); ++k) registers[start->bits + k] = loaded[k];
    refresh_text(-1);
}
