#pragma once
// The body of every frame: the panel's long-lived objects, the messages that
// arrived on the bus since the previous frame, and every window in a fixed
// order.
//
// Main thread only, between ImGui::NewFrame and ImGui::Render.

#include <chrono>
#include <optional>
#include <string>

#include "control_panel.hpp"
#include "messaging/application.hpp"
#include "messaging/message.hpp"
#include "routing_hints.hpp"
#include "views/memory_view.hpp"
#include "views/register_file_view.hpp"

// The "Settings" window: the panel's own settings, kept in Dear ImGui's
// settings file (imgui.ini) with the window layout, as
//   [Vedrik][Settings]
//   HighlightChanges=1
class SettingsWindow {
public:
    explicit SettingsWindow(Application& app_) : app(app_) {}
    SettingsWindow(const SettingsWindow&) = delete;
    SettingsWindow& operator=(const SettingsWindow&) = delete;

    // The "Highlight changes" switch; a toggle marks the settings for saving.
    void draw();

    // Lets the current Dear ImGui context read and write these settings.
    // Call it after the context's creation and before its first frame, when
    // the settings file is read; again on the same context, it only points
    // the handler at this window.
    // The window must outlive the context.
    void install_settings_handler();

    Application& app;
    // Registers and bytes that events change are highlighted.
    bool highlight_changes = true;
};

// The frame driver's predicate for Endpoint::take_if: takes every message.
bool accept_all(Message& message);

// The main menu bar with File > Quit, which sets done.
void draw_main_menu_bar(bool& done);

// The panel's long-lived objects, in the order they are built; members are
// destroyed in the reverse order (the data-memory view first, the
// Application with its hub last).
class Panel {
public:
    // The hub starts on the first frame with these addresses.
    Panel(std::string bus_address, std::string pair_address);
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    // One frame: on the first, points the endpoints at their addresses and
    // starts the hub; then prints and routes every message taken from the
    // bus, then draws the six windows.
    void frame(bool& done);
    // The same at a given time: the time a change highlighted in this frame
    // is stamped with and the highlights' fades are judged at.
    void frame(bool& done, std::chrono::steady_clock::time_point now);

    // When a highlight's fade next changes the picture by itself, or none
    // while no fade is under way.
    std::optional<std::chrono::steady_clock::time_point> next_fade_step() const;

    // Prints one received message as one line of compact JSON (invalid UTF-8
    // shown as U+FFFD; frame flushes the lines once it has dispatched them
    // all) and hands it to the view its "origin" names. A message
    // a view cannot apply is reported on standard error; the next goes on.
    // One that changes no view for its origin or sub-type is noted on
    // standard error the first time (routing_hints.hpp).
    void dispatch(const Message& message);

    Application app;
    RegisterFileView register_file;
    InstructionMemoryView instruction_memory;
    DataMemoryView data_memory;
    SettingsWindow settings;
    ControlPanel control;
    RoutingHints hints;

private:
    std::string bus_address_;
    std::string pair_address_;
    bool first_frame_ = true;
};

// The panel with the fixed addresses: built on the first call, it lives
// until the process exits.
Panel& panel();

// One frame of that panel.
void run_frame(bool& done);
