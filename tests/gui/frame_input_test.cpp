// FrameInput: which SDL events each frame takes, and what Dear ImGui then
// sees of keys pressed faster than the frames run.

#include "loop/frame_input.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "imgui_internal.h"
#include "support/headless_imgui.hpp"

namespace {

SDL_Event key(SDL_Scancode scancode, bool down, Uint16 mod = KMOD_NONE, bool repeat = false) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat ? 1 : 0;
    e.key.keysym.scancode = scancode;
    e.key.keysym.mod = mod;
    return e;
}

SDL_Event button(Uint8 which, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.button = which;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    return e;
}

SDL_Event text(const char* utf8) {
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    std::snprintf(e.text.text, sizeof(e.text.text), "%s", utf8);
    return e;
}

SDL_Event motion() {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    return e;
}

// A short name of an event, to compare whole frames at a glance.
std::string name_of(const SDL_Event& e) {
    switch (e.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        return std::string(SDL_GetScancodeName(e.key.keysym.scancode)) + (e.type == SDL_KEYDOWN ? "+" : "-");
    case SDL_MOUSEBUTTONDOWN:
        return "b" + std::to_string(e.button.button) + "+";
    case SDL_MOUSEBUTTONUP:
        return "b" + std::to_string(e.button.button) + "-";
    case SDL_TEXTINPUT:
        return std::string("'") + e.text.text + "'";
    case SDL_MOUSEMOTION:
        return "move";
    default:
        return "?";
    }
}

// SDL's queue, as FrameInput polls it.
struct Queue {
    std::deque<SDL_Event> events;
    FrameInput input{[this](SDL_Event& e) {
        if (events.empty()) return false;
        e = events.front();
        events.pop_front();
        return true;
    }};

    // The events of one frame, by name, separated by spaces.
    std::string frame() {
        input.start_frame();
        std::string names;
        SDL_Event e;
        while (input.next(e)) names += (names.empty() ? "" : " ") + name_of(e);
        return names;
    }
    // Frames until the queue is empty and nothing is held back.
    std::vector<std::string> frames() {
        std::vector<std::string> all;
        do all.push_back(frame());
        while (!events.empty() || input.holding());
        return all;
    }
};

TEST(FrameInput, EachFrameTakesOneChangeOfAKeyOrButtonAndKeepsTheOrder) {
    struct Case {
        const char* name;
        std::vector<SDL_Event> events;
        std::vector<std::string> frames;
    };
    const SDL_Scancode a = SDL_SCANCODE_A, b = SDL_SCANCODE_B, bs = SDL_SCANCODE_BACKSPACE;
    const Case cases[] = {
        {"three BackSpaces",
         {key(bs, true), key(bs, false), key(bs, true), key(bs, false), key(bs, true), key(bs, false)},
         {"Backspace+", "Backspace-", "Backspace+", "Backspace-", "Backspace+", "Backspace-"}},
        {"two keys typed over each other, with their text",
         {key(a, true), text("a"), key(b, true), text("b"), key(a, false), key(b, false)},
         {"A+ 'a' B+ 'b'", "A- B-"}},
        {"what follows a held event waits behind it",
         {key(a, true), key(a, false), text("x"), motion(), key(b, true)},
         {"A+", "A- 'x' move B+"}},
        {"the repeats of a held key change nothing",
         {key(a, true), text("a"), key(a, true, KMOD_NONE, true), text("a"), key(a, true, KMOD_NONE, true), text("a")},
         {"A+ 'a' A+ 'a' A+ 'a'"}},
        {"a double click",
         {button(SDL_BUTTON_LEFT, true), button(SDL_BUTTON_LEFT, false), button(SDL_BUTTON_LEFT, true),
          button(SDL_BUTTON_LEFT, false)},
         {"b1+", "b1-", "b1+", "b1-"}},
        {"two buttons and a key, each once",
         {button(SDL_BUTTON_LEFT, true), button(SDL_BUTTON_RIGHT, true), key(a, true), button(SDL_BUTTON_LEFT, false)},
         {"b1+ b3+ A+", "b1-"}},
        {"a whole text event", {text("DEADBEEF"), text("\xC3\xA9")}, {"'DEADBEEF' '\xC3\xA9'"}},
        {"nothing", {}, {""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Queue q;
        q.events.assign(c.events.begin(), c.events.end());
        EXPECT_EQ(q.frames(), c.frames);
    }
}

// What Dear ImGui sees, fed the way the main loop feeds it: the back end
// writes each key's state (here, by scancode) and reads the mouse buttons
// from SDL, whose state already counts the events that wait.
struct Fed {
    HeadlessImGui ui;
    Queue q;
    std::array<bool, 3> sdl_buttons{};  // SDL's mouse state: every event counted

    Fed() {
        ImGuiIO& io = ImGui::GetIO();
        io.KeyMap[ImGuiKey_Backspace] = SDL_SCANCODE_BACKSPACE;
        io.KeyMap[ImGuiKey_V] = SDL_SCANCODE_V;
    }

    void push(const SDL_Event& e) {
        q.events.push_back(e);
        if (e.type == SDL_MOUSEBUTTONDOWN || e.type == SDL_MOUSEBUTTONUP) {
            sdl_buttons[e.button.button == SDL_BUTTON_LEFT ? 0 : 1] = e.type == SDL_MOUSEBUTTONDOWN;
        }
    }

    // One frame of the main loop, with the back end's part done by hand.
    void frame() {
        ImGuiIO& io = ImGui::GetIO();
        q.input.start_frame();
        bool pressed = false;
        SDL_Event e;
        while (q.input.next(e)) {
            if (e.type == SDL_KEYDOWN || e.type == SDL_KEYUP) {
                io.KeysDown[e.key.keysym.scancode] = e.type == SDL_KEYDOWN;
                io.KeyCtrl = false;  // SDL's modifiers now: Ctrl is up by the end
            }
            if (e.type == SDL_TEXTINPUT) io.AddInputCharactersUTF8(e.text.text);
            if (e.type == SDL_MOUSEBUTTONDOWN) pressed = true;
            FrameInput::apply_modifiers(e, io);
        }
        io.MouseDown[0] = pressed || sdl_buttons[0];
        q.input.apply_mouse_buttons(io);
        ui.frame();
    }
};

// Three BackSpaces typed within one frame delete three characters, and a
// click twice over within one frame is two clicks.
TEST(FrameInput, DearImGuiSeesEveryPressAndRelease) {
    Fed fed;
    char field[16] = "abcdef";
    int clicks = 0;
    ImVec2 button_centre, field_centre;
    fed.ui.set_draw([&] {
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::Begin("w");
        ImGui::InputText("##f", field, sizeof(field));
        field_centre = ImVec2((ImGui::GetItemRectMin().x + ImGui::GetItemRectMax().x) / 2,
                              (ImGui::GetItemRectMin().y + ImGui::GetItemRectMax().y) / 2);
        if (ImGui::Button("button", ImVec2(60, 20))) ++clicks;
        button_centre = ImVec2((ImGui::GetItemRectMin().x + ImGui::GetItemRectMax().x) / 2,
                               (ImGui::GetItemRectMin().y + ImGui::GetItemRectMax().y) / 2);
        ImGui::End();
    });
    fed.ui.frames(2);
    ImGui::GetIO().MousePos = button_centre;
    for (bool down : {true, false, true, false}) fed.push(button(SDL_BUTTON_LEFT, down));
    while (!fed.q.events.empty() || fed.q.input.holding()) fed.frame();
    fed.frame();
    EXPECT_EQ(clicks, 2);

    // Into the field, cursor at its end.
    fed.ui.click(field_centre);
    fed.ui.press(ImGuiKey_End);
    ASSERT_NE(GImGui->ActiveId, 0u);
    for (int i = 0; i < 3; ++i) {
        fed.push(key(SDL_SCANCODE_BACKSPACE, true));
        fed.push(key(SDL_SCANCODE_BACKSPACE, false));
    }
    while (!fed.q.events.empty() || fed.q.input.holding()) fed.frame();
    fed.frame();
    EXPECT_STREQ(field, "abc");
}

// Ctrl pressed, V pressed and released, Ctrl released, all in one frame's
// events: the back end reads Ctrl from SDL as up by then; the events say it
// was down when V went down.
TEST(FrameInput, ModifiersAreThoseOfTheKeyEvent) {
    Fed fed;
    bool ctrl_v = false;
    fed.ui.set_draw([&] {
        if (ImGui::GetIO().KeyCtrl && ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_V))) ctrl_v = true;
    });
    fed.push(key(SDL_SCANCODE_LCTRL, true, KMOD_LCTRL));
    fed.push(key(SDL_SCANCODE_V, true, KMOD_LCTRL));
    fed.push(key(SDL_SCANCODE_V, false, KMOD_LCTRL));
    fed.push(key(SDL_SCANCODE_LCTRL, false, KMOD_NONE));
    while (!fed.q.events.empty() || fed.q.input.holding()) fed.frame();
    EXPECT_TRUE(ctrl_v);
}

}  // namespace
