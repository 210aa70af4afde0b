#pragma once
// A Dear ImGui context with no renderer, for driving widgets frame by frame
// with injected mouse, keys and characters.
//
//   HeadlessImGui ui;
//   ImVec2 centre;
//   ui.frame([&] {                                // lays windows out
//       draw_something();
//       ImVec2 lo = ImGui::GetItemRectMin(), hi = ImGui::GetItemRectMax();
//       centre = ImVec2((lo.x + hi.x) / 2, (lo.y + hi.y) / 2);
//   });
//   ui.click(centre);                             // press, then release
//   ui.type("AB");  ui.press(ImGuiKey_Enter);
//
// Every input helper runs whole frames with the draw function given to
// set_draw (or the last one given to frame), because a click or a key is only
// seen across frames.

#include <functional>
#include <string>

#include "imgui.h"

class HeadlessImGui {
public:
    explicit HeadlessImGui(ImVec2 display_size = ImVec2(1280, 720));
    ~HeadlessImGui();
    HeadlessImGui(const HeadlessImGui&) = delete;
    HeadlessImGui& operator=(const HeadlessImGui&) = delete;

    // The draw function that every following frame runs.
    void set_draw(std::function<void()> draw);

    // Runs one frame: NewFrame, the draw function, Render.
    void frame();
    // Sets the draw function and runs one frame.
    void frame(std::function<void()> draw);
    // Runs n frames.
    void frames(int n);

    // Mouse: moves there for one frame, presses for one frame, releases for one.
    void move_mouse(ImVec2 pos);
    void click(ImVec2 pos);
    // Holds a key (ImGuiKey_ value) down for one frame, then up for one.
    void press(ImGuiKey key);
    // Types characters, each followed by frames_per_char frames, then one
    // more frame.
    void type(const std::string& text, int frames_per_char = 1);

    ImGuiContext* context() const { return context_; }

private:
    ImGuiContext* context_;
    std::function<void()> draw_;
};
