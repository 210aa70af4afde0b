#include "loop/frame_input.hpp"

#include <utility>

#include "imgui.h"

FrameInput::FrameInput(Poll poll) : poll_(std::move(poll)) {}

void FrameInput::start_frame() {
    frame_closed_ = false;
    key_changed_.fill(false);
    button_changed_.fill(false);
    button_pressed_.fill(false);
}

FrameInput::Change FrameInput::change_of(const SDL_Event& event) {
    Change c;
    switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        if (event.key.keysym.scancode >= 0 && event.key.keysym.scancode < SDL_NUM_SCANCODES) {
            c = {Change::Input::key, static_cast<int>(event.key.keysym.scancode), event.type == SDL_KEYDOWN};
        }
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (event.button.button < button_count) {
            c = {Change::Input::button, event.button.button, event.type == SDL_MOUSEBUTTONDOWN};
        }
        break;
    default:
        break;
    }
    return c;
}

bool& FrameInput::state_of(const Change& c) {
    return c.input == Change::Input::key ? key_down_[static_cast<std::size_t>(c.index)]
                                         : button_down_[static_cast<std::size_t>(c.index)];
}

bool& FrameInput::changed_in_frame(const Change& c) {
    return c.input == Change::Input::key ? key_changed_[static_cast<std::size_t>(c.index)]
                                         : button_changed_[static_cast<std::size_t>(c.index)];
}

bool FrameInput::next(SDL_Event& event) {
    if (frame_closed_) return false;
    if (held_) {
        event = *held_;
        held_.reset();
    } else if (!poll_(event)) {
        return false;
    }
    const Change c = change_of(event);
    if (c.input != Change::Input::none && state_of(c) != c.down) {
        if (changed_in_frame(c)) {
            // A second change of this key or button: it and what follows it
            // are the next frame's.
            held_ = event;
            frame_closed_ = true;
            return false;
        }
        changed_in_frame(c) = true;
        state_of(c) = c.down;
        if (c.input == Change::Input::button && c.down) button_pressed_[static_cast<std::size_t>(c.index)] = true;
    }
    return true;
}

void FrameInput::apply_mouse_buttons(ImGuiIO& io) const {
    if (!holding()) return;
    const auto down = [&](int sdl_button) {
        const auto b = static_cast<std::size_t>(sdl_button);
        return button_down_[b] || button_pressed_[b];
    };
    io.MouseDown[0] = down(SDL_BUTTON_LEFT);
    io.MouseDown[1] = down(SDL_BUTTON_RIGHT);
    io.MouseDown[2] = down(SDL_BUTTON_MIDDLE);
}

void FrameInput::apply_modifiers(const SDL_Event& event, ImGuiIO& io) {
    if (event.type != SDL_KEYDOWN && event.type != SDL_KEYUP) return;
    const Uint16 mod = event.key.keysym.mod;
    io.KeyShift = (mod & KMOD_SHIFT) != 0;
    io.KeyCtrl = (mod & KMOD_CTRL) != 0;
    io.KeyAlt = (mod & KMOD_ALT) != 0;
#ifdef _WIN32
    io.KeySuper = false;
#else
    io.KeySuper = (mod & KMOD_GUI) != 0;
#endif
}
