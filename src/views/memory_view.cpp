#include "views/memory_view.hpp"

#include <bit>

#include "messaging/mirror_event.hpp"

namespace {

// The shift that brings byte b of a cell in memory (host order) to the low
// eight bits of its value.
template <class Cell>
constexpr std::size_t host_byte_shift(std::size_t b) {
    return 8 * (std::endian::native == std::endian::little ? b : sizeof(Cell) - 1 - b);
}

}  // namespace

template <class Cell>
MemoryView<Cell>::MemoryView(Cell initial_value, std::string name_) : name(std::move(name_)) {
    memory[0] = initial_value;
    editor.highlight_fn = [this](const ImU8*, std::size_t offset) { return changes.level(offset) > 0; };
    editor.highlight_color_fn = [this](const ImU8*, std::size_t offset) { return changes.packed_color(offset); };
    // A byte the user typed is the user's own change: it shows none.
    editor.write_fn = [this](ImU8* bytes, std::size_t offset, ImU8 value) {
        bytes[offset] = value;
        changes.forget(offset);
    };
}

template <class Cell>
void MemoryView<Cell>::draw() {
    editor.draw_window(name.c_str(), reinterpret_cast<ImU8*>(memory.data()), sizeof(memory), 0);
}

template <class Cell>
void MemoryView<Cell>::handle_message(const Message& message) {
    static_assert(memory_mirror.cell_count == cell_count);
    const MirrorEvent event = read_mirror_event(message, memory_mirror);
    if (event.refused()) return report_refused_event(name, event);
    for (std::size_t k = 0; k < event.values.size(); ++k) {
        const std::size_t cell = event.first + k;
        const Cell value = static_cast<Cell>(event.values[k]);
        if (value == memory[cell]) continue;
        // The bytes of the cell as the editor shows them, in the host's order.
        for (std::size_t b = 0; b < sizeof(Cell); ++b) {
            const unsigned shift = static_cast<unsigned>(host_byte_shift<Cell>(b));
            if (((value ^ memory[cell]) >> shift) & 0xFFu) changes.mark(cell * sizeof(Cell) + b);
        }
        memory[cell] = value;
    }
}

template class MemoryView<std::uint32_t>;
template class MemoryView<std::uint8_t>;
