#include "views/change_marks.hpp"

const ImVec4 ChangeMarks::color{1.0f, 0.60f, 0.0f, 0.60f};

ChangeMarks::ChangeMarks(std::size_t cells) : stamps_(cells, 0) {}

void ChangeMarks::advance(Clock::time_point now) {
    now_ = now;
    if (!fading() || now < step_start_ + fade_step) return;
    const auto steps = (now - step_start_) / fade_step;
    tick_ += steps;
    step_start_ += steps * fade_step;
}

ImU32 ChangeMarks::packed_color(std::size_t cell) const {
    const int at = level(cell);
    if (at == 0) return 0;
    ImVec4 c = color;
    c.w *= static_cast<float>(at) / fade_steps;
    return ImGui::ColorConvertFloat4ToU32(c);
}

std::optional<ChangeMarks::Clock::time_point> ChangeMarks::next_step() const {
    if (!fading()) return std::nullopt;
    return step_start_ + fade_step;
}

void ChangeMarks::set_enabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    if (!on) {
        // Every stamp so far is a full fade old.
        tick_ += fade_steps;
        last_mark_ = fade_steps_ago();
    }
}
