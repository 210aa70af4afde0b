#include "memory_view.hpp"

#include "mirror_event.hpp"
#include "wire_names.hpp"

template <class Cell>
MemoryView<Cell>::MemoryView(Cell initial_value, std::string name_) : name(std::move(name_)) {
    memory[0] = initial_value;
}

template <class Cell>
void MemoryView<Cell>::draw() {
    editor.draw_window(name.c_str(), reinterpret_cast<ImU8*>(memory.data()), sizeof(memory), 0);
}

template <class Cell>
void MemoryView<Cell>::handle_message(const Message& message) {
    static constexpr MirrorShape shape{cell_count, wire::key_address, "cell"};
    const MirrorEvent event = read_mirror_event(message, shape);
    if (event.refused()) return report_refused_event(name, event);
    for (std::size_t k = 0; k < event.values.size(); ++k) memory[event.first + k] = static_cast<Cell>(event.values[k]);
}

template class MemoryView<std::uint32_t>;
template class MemoryView<std::uint8_t>;
