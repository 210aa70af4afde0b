#include "views/register_file_view.hpp"

#include <cstdio>
#include <iostream>

#include "imgui.h"
#include "messaging/mirror_event.hpp"
#include "messaging/wire_names.hpp"

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

// A field's background for a change at strength 0 to 1: the frame's own
// colour blended toward the change colour.
ImVec4 changed_background(float strength) {
    const ImVec4 from = ImGui::GetStyleColorVec4(ImGuiCol_FrameBg);
    const ImVec4 to = ChangeMarks::color;
    return ImVec4(from.x + (to.x - from.x) * strength, from.y + (to.y - from.y) * strength,
                  from.z + (to.z - from.z) * strength, from.w + (to.w - from.w) * strength);
}

bool is_white_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
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
        const float strength = changes.strength(static_cast<std::size_t>(i));
        if (strength > 0.0f) ImGui::PushStyleColor(ImGuiCol_FrameBg, changed_background(strength));
        const bool entered =
            ImGui::InputText(label, texts[i].get(), text_capacity, ImGuiInputTextFlags_EnterReturnsTrue);
        if (strength > 0.0f) ImGui::PopStyleColor();
        if (entered) enter_text(i);
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
        std::cerr << "refused REG " << index << " text " << compact_text(std::string(texts[index].get()), InvalidUtf8::replace)
                  << " in " << base_label(base) << ": " << reason << std::endl;
        refresh_text(index);
        return;
    }
    registers[index] = *value;
    changes.forget(static_cast<std::size_t>(index));
    Message data = Message::object();
    data[wire::key_register_number] = index;
    data[wire::key_value] = static_cast<unsigned>(*value);
    std::cerr << compact_text(data) << std::endl;
    app->hub.bus.send(MessageKind::command, std::string(wire::sub_write), data, name, "");
}

void RegisterFileView::handle_message(const Message& message) {
    static const Message missing;  // printed as null
    const auto sub_type = message.find(wire::key_message_sub_type);  // end() when message is no object
    std::cerr << compact_text(sub_type == message.end() ? missing : *sub_type, InvalidUtf8::replace) << std::endl;

    static_assert(register_file_mirror.cell_count == register_count);
    const MirrorEvent event = read_mirror_event(message, register_file_mirror);
    if (event.refused()) return report_refused_event(name, event);
    for (std::size_t k = 0; k < event.values.size(); ++k) {
        const std::size_t index = event.first + k;
        const auto value = static_cast<std::uint8_t>(event.values[k]);
        if (value != registers[index]) changes.mark(index);
        registers[index] = value;
    }
    if (event.kind == MirrorEvent::Kind::load) refresh_text(-1);
    else if (event.kind == MirrorEvent::Kind::write) refresh_text(static_cast<int>(event.first));
}
