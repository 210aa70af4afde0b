#include "standin/processor.hpp"

namespace {

constexpr std::uint8_t wrap8(int v) { return static_cast<std::uint8_t>(v & 0xff); }

std::size_t size_of(Processor::Component component) {
    switch (component) {
        case Processor::Component::instruction_memory: return Processor::instruction_words;
        case Processor::Component::register_file: return Processor::register_count;
        case Processor::Component::data_memory: return Processor::data_bytes;
    }
    return 0;
}

}  // namespace

bool Processor::load(Component component, std::size_t first, const std::vector<std::uint64_t>& values) {
    const std::size_t size = size_of(component);
    if (first > size || values.size() > size - first) return false;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t at = first + i;
        switch (component) {
            case Component::instruction_memory: instructions_[at] = static_cast<std::uint32_t>(values[i]); break;
            case Component::register_file: registers_[at] = static_cast<std::uint8_t>(values[i]); break;
            case Component::data_memory: data_[at] = static_cast<std::uint8_t>(values[i]); break;
        }
    }
    if (component == Component::instruction_memory) pc_ = 0;
    return true;
}

std::uint32_t Processor::cell(Component component, std::size_t index) const {
    switch (component) {
        case Component::instruction_memory: return instructions_[index];
        case Component::register_file: return registers_[index];
        case Component::data_memory: return data_[index];
    }
    return 0;
}

std::vector<Processor::Change> Processor::step() {
    const auto registers_before = registers_;
    const auto data_before = data_;

    std::uint32_t word = instructions_[static_cast<std::size_t>(pc_)];
    auto opcode = word & 0xffu;
    auto b = static_cast<std::size_t>((word >> 8) & 0xfu);
    auto a = static_cast<std::size_t>((word >> 12) & 0xfu);
    int k = static_cast<int>((word >> 16) & 0xffu);
    int next_pc = (pc_ + 1) % instruction_words;
    auto& r = registers_;

    switch (opcode) {
        case 0x01: r[a] = wrap8(k); break;
        case 0x02: r[a] = wrap8(r[b] + k); break;
        case 0x03: data_[r[a]] = wrap8(k); break;
        case 0x04: data_[wrap8(r[b] + k)] = r[a]; break;
        case 0x05: r[a] = data_[wrap8(r[b] + k)]; break;
        case 0x06: r[a] = wrap8(r[a] + r[b]); break;
        case 0x07: r[a] = wrap8(r[a] - r[b]); break;
        case 0x08:
            if (r[a] != 0) next_pc = k;
            break;
        default: break;
    }
    pc_ = next_pc;

    std::vector<Change> changes;
    for (int i = 0; i < register_count; ++i) {
        if (registers_[i] != registers_before[i]) changes.push_back({Component::register_file, i, registers_[i]});
    }
    for (int i = 0; i < data_bytes; ++i) {
        if (data_[i] != data_before[i]) changes.push_back({Component::data_memory, i, data_[i]});
    }
    return changes;
}
