#pragma once
// The mirror of the simulator's register file: sixteen 8-bit registers shown
// as sixteen editable text fields in one display base (BIN, OCT, DEC, HEX).
// Enter in a field stores the value and sends a "write" command on the bus;
// "load" and "write" events of the simulator's register file are applied by
// handle_message, and a register whose value one changed is drawn on a
// highlighted background until its fade ends; one the user entered is not.
//
// Main thread only: the frame driver calls draw once per frame and
// handle_message for every envelope whose origin is the register file. The
// view holds no lock; its sends on bus run beside the bus receive pump, which
// never touches the view.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "messaging/application.hpp"
#include "messaging/message.hpp"
#include "views/change_marks.hpp"

class RegisterFileView {
public:
    static constexpr int register_count = 16;
    // Every text buffer's size, terminator included. The field may use all of
    // it: eight binary digits, with room for leading white space.
    static constexpr std::size_t text_capacity = 12;

    // app is not owned and must outlive the view; it is only used to send on
    // app->hub.bus.
    RegisterFileView(Application* app, std::uint8_t initial_value, std::string name, int base);
    RegisterFileView(const RegisterFileView&) = delete;
    RegisterFileView& operator=(const RegisterFileView&) = delete;

    // The window titled name: four base buttons and one field per register.
    void draw();

    // Prints the sub-type on standard error, then applies a "load" or "write"
    // event whole, or refuses it whole with one line on standard error.
    void handle_message(const Message& message);

    // Re-formats text index from its register in the current base; -1 does
    // all sixteen.
    void refresh_text(int index);

    // The value in base 2, 8, 10 or 16: digits only, lower-case letters, no
    // prefix, sign or leading zeros ("0" for 0). Any other base counts as 10.
    static std::string format_value(std::uint8_t value, int base);

    // Reads an unsigned number in base after any leading white space. A text
    // with no digit of the base, characters after the number, or a number
    // above 255 gives nullopt, with the reason in *reason when given.
    static std::optional<std::uint8_t> parse_text(const char* text, int base,
                                                  std::string* reason = nullptr);

    std::string name;
    std::array<std::uint8_t, register_count> registers{};
    // Each buffer is text_capacity bytes, always NUL-terminated.
    std::array<std::unique_ptr<char[]>, register_count> texts;
    int base;
    Application* app;
    ChangeMarks changes{register_count};

private:
    // Enter in field index: store the parsed text and send the write command,
    // or refuse it and show the register again.
    void enter_text(int index);
};
