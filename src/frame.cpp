#include "frame.hpp"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

#include "imgui.h"
#include "imgui_internal.h"
#include "messaging/wire_names.hpp"

namespace {

constexpr const char* settings_type = "Vedrik";
constexpr const char* settings_entry = "Settings";

void* settings_read_open(ImGuiContext*, ImGuiSettingsHandler* handler, const char* name) {
    return std::strcmp(name, settings_entry) == 0 ? handler->UserData : nullptr;
}

void settings_read_line(ImGuiContext*, ImGuiSettingsHandler*, void* entry, const char* line) {
    auto* window = static_cast<SettingsWindow*>(entry);
    int on = 0;
    if (std::sscanf(line, "HighlightChanges=%d", &on) == 1) window->highlight_changes = on != 0;
}

void settings_write_all(ImGuiContext*, ImGuiSettingsHandler* handler, ImGuiTextBuffer* out) {
    const auto* window = static_cast<const SettingsWindow*>(handler->UserData);
    out->appendf("[%s][%s]\nHighlightChanges=%d\n\n", settings_type, settings_entry,
                 window->highlight_changes ? 1 : 0);
}

}  // namespace

void SettingsWindow::draw() {
    ImGui::Begin("Settings", nullptr, 0);
    if (ImGui::Checkbox("Highlight changes", &highlight_changes)) ImGui::MarkIniSettingsDirty();
    ImGui::End();
}

void SettingsWindow::install_settings_handler() {
    if (ImGuiSettingsHandler* installed = ImGui::FindSettingsHandler(settings_type)) {
        installed->UserData = this;
        return;
    }
    ImGuiSettingsHandler handler;
    handler.TypeName = settings_type;
    handler.TypeHash = ImHashStr(settings_type);
    handler.ReadOpenFn = settings_read_open;
    handler.ReadLineFn = settings_read_line;
    handler.WriteAllFn = settings_write_all;
    handler.UserData = this;
    ImGui::GetCurrentContext()->SettingsHandlers.push_back(handler);
}

bool accept_all(Message&) { return true; }

void draw_main_menu_bar(bool& done) {
    if (!ImGui::BeginMainMenuBar()) return;
    if (ImGui::BeginMenu("File", true)) {
        if (ImGui::MenuItem("Quit", nullptr, false, true)) done = true;
        ImGui::EndMenu();
    }
    ImGui::EndMainMenuBar();
}

Panel::Panel(std::string bus_address, std::string pair_address)
    : register_file(&app, 0, std::string(wire::local_register_file), 10),
      instruction_memory(0, std::string(wire::local_instruction_memory)),
      data_memory(0, std::string(wire::local_data_memory)),
      settings(app),
      bus_address_(std::move(bus_address)),
      pair_address_(std::move(pair_address)) {}

void Panel::dispatch(const Message& message) {
    // One write for the whole line: a decode failure reported from the
    // receiving thread never lands inside it.
    std::string line = compact_text(message, InvalidUtf8::replace);
    line += '\n';
    std::cout << line;
    if (const auto hint = hints.note(message)) std::cerr << *hint << std::endl;

    if (!message.is_object()) return;
    const auto origin = message.find(wire::key_origin);
    if (origin == message.end() || !origin->is_string()) return;
    const auto& name = origin->get_ref<const std::string&>();
    try {
        if (name == wire::instruction_memory) instruction_memory.handle_message(message);
        else if (name == wire::data_memory) data_memory.handle_message(message);
        else if (name == wire::register_file) register_file.handle_message(message);
    } catch (const nlohmann::json::exception& e) {
        std::cerr << "message from " << name << " not applied: " << e.what() << std::endl;
    }
}

void Panel::frame(bool& done) { frame(done, std::chrono::steady_clock::now()); }

void Panel::frame(bool& done, std::chrono::steady_clock::time_point now) {
    for (ChangeMarks* changes : {&register_file.changes, &instruction_memory.changes, &data_memory.changes}) {
        changes->set_enabled(settings.highlight_changes);
        changes->advance(now);
    }
    if (first_frame_) {
        app.bus_url = bus_address_;
        app.pair_url = pair_address_;
        app.hub.start();
        first_frame_ = false;
    }

    // One flush for the frame's messages, not one write per message: a fast
    // stream would otherwise cost a system call per event.
    for (const Message& message : app.hub.bus.take_if(accept_all)) dispatch(message);
    std::cout.flush();

    draw_main_menu_bar(done);
    control.draw(app);
    register_file.draw();
    instruction_memory.draw();
    data_memory.draw();
    settings.draw();
}

std::optional<std::chrono::steady_clock::time_point> Panel::next_fade_step() const {
    std::optional<std::chrono::steady_clock::time_point> next;
    for (const ChangeMarks* changes : {&register_file.changes, &instruction_memory.changes, &data_memory.changes}) {
        const auto step = changes->next_step();
        if (step && (!next || *step < *next)) next = step;
    }
    return next;
}

Panel& panel() {
    // Destroyed at process exit, after main returns.
    static const auto the_panel =
        std::make_unique<Panel>(std::string(wire::bus_address), std::string(wire::pair_address));
    return *the_panel;
}

void run_frame(bool& done) { panel().frame(done); }
