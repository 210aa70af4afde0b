#pragma once
// The mirror of one of the simulator's memories: 256 cells shown as bytes in
// a hex memory editor window. "load" and "write" events of the matching
// component are applied by handle_message; an edit in the editor changes only
// the mirror (the view sends nothing). Every byte that an event gave a new
// value is highlighted in the editor until its fade ends; a byte the user
// typed is not.
//
// Main thread only: the frame driver calls draw once per frame and
// handle_message for every envelope whose origin is this memory. The editor
// reads and writes memory in place, during draw, on the same thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "include/imgui_memory_editor.hpp"
#include "messaging/message.hpp"
#include "views/change_marks.hpp"

// Cell is std::uint32_t for the instruction memory (word k at editor
// addresses 4k to 4k+3, in the host's byte order) and std::uint8_t for the
// data memory.
template <class Cell>
class MemoryView {
public:
    static constexpr std::size_t cell_count = 256;

    // Cell 0 takes initial_value, the others 0; name is the window title.
    MemoryView(Cell initial_value, std::string name);
    MemoryView(const MemoryView&) = delete;
    MemoryView& operator=(const MemoryView&) = delete;

    // The editor's window over the whole mirror, base address 0.
    void draw();

    // Applies a "load" or "write" event whole, or refuses it whole with one
    // line on standard error; other sub-types are ignored. Marks each byte
    // whose value it changed.
    void handle_message(const Message& message);

    std::string name;
    std::array<Cell, cell_count> memory{};
    MemoryEditor editor;
    // One mark per byte as the editor shows them (a word's four bytes apart).
    ChangeMarks changes{sizeof(memory)};
};

using InstructionMemoryView = MemoryView<std::uint32_t>;
using DataMemoryView = MemoryView<std::uint8_t>;

extern template class MemoryView<std::uint32_t>;
extern template class MemoryView<std::uint8_t>;
