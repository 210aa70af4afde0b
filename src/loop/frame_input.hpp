#pragma once
// Hands a frame the SDL events that Dear ImGui can see as they happened.
//
// Dear ImGui 1.86 keeps the state of keys and mouse buttons, not their
// events: a key pressed and released within one frame is never seen as
// pressed, and one pressed, released and pressed again is seen as pressed
// once. So a frame takes at most one change of each key (by scancode) and of
// each mouse button. The event that would change one of them a second time
// waits for the next frame, and so does everything after it, so that the
// order of the events is kept. Events that change no key or button state
// (text input, motion, the wheel, window events, the repeats of a held key)
// never hold a frame's events back, and a text input event is always handed
// on whole.
//
// The main loop runs the next frame at once while events are held back
// (holding()), and sets the mouse buttons and modifier keys that Dear ImGui
// sees from the events handed on (apply_mouse_buttons, apply_modifiers): the
// SDL back end reads their state from SDL, which already counts the events
// that wait.
//
// Main thread only.

#include <array>
#include <functional>
#include <optional>

#include <SDL.h>

struct ImGuiIO;

class FrameInput {
public:
    // Takes the next event out of SDL's queue; false when it is empty.
    using Poll = std::function<bool(SDL_Event&)>;

    // poll: SDL_PollEvent, or a test's own queue.
    explicit FrameInput(Poll poll);

    // At the top of each frame, before its events are taken.
    void start_frame();
    // The next event of this frame, in the order they came; false when the
    // frame has no more (SDL's queue is empty, or the next event waits for
    // the next frame).
    bool next(SDL_Event& event);
    // An event waits for the next frame.
    bool holding() const { return held_.has_value(); }

    // After the platform back end's NewFrame: while events wait, each of the
    // three buttons Dear ImGui knows is down when the events handed on so far
    // leave it down or pressed it in this frame.
    void apply_mouse_buttons(ImGuiIO& io) const;
    // After the back end has taken a key event: the modifiers as they were
    // when the key went down or up. The back end reads SDL's modifiers now,
    // which already count the events that wait (Ctrl pressed, V pressed and
    // released, Ctrl released, in one frame, is Ctrl+V).
    static void apply_modifiers(const SDL_Event& event, ImGuiIO& io);

private:
    static constexpr int button_count = 8;  // SDL numbers buttons from 1

    struct Change {
        enum class Input { none, key, button } input = Input::none;
        int index = 0;
        bool down = false;
    };
    static Change change_of(const SDL_Event& event);
    // The state one change leaves, and whether it changed it this frame.
    bool& state_of(const Change& c);
    bool& changed_in_frame(const Change& c);

    Poll poll_;
    std::optional<SDL_Event> held_;
    bool frame_closed_ = false;
    std::array<bool, SDL_NUM_SCANCODES> key_down_{};
    std::array<bool, SDL_NUM_SCANCODES> key_changed_{};
    std::array<bool, button_count> button_down_{};
    std::array<bool, button_count> button_changed_{};
    std::array<bool, button_count> button_pressed_{};  // went down in this frame
};
