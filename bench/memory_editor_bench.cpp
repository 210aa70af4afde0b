// CPU time of one headless Dear ImGui frame that draws a MemoryEditor window,
// over 256 bytes (the baseline), 1 MiB and 64 MiB, measured in the same run.
// The list clipper limits the work to the visible lines, so the larger frames
// should cost the same as the baseline: the goal is 64 MiB within 5 %.
//
// Run: build/bench/memory_editor_bench   (prints the medians and the ratios)

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <string>
#include <vector>

#include "imgui.h"
#include "include/imgui_memory_editor.hpp"

namespace {

constexpr std::size_t baseline_size = 256;
constexpr std::size_t sizes[] = {baseline_size, std::size_t{1} << 20, std::size_t{64} << 20};
constexpr int rounds = 31;
constexpr int frames_per_round = 200;
constexpr int warmup_frames = 20;
constexpr double goal_ratio = 1.05;
// The window shows about ten lines, fewer than the baseline's sixteen, so all
// three sizes draw the same number of lines and all of them scroll.
constexpr float window_width = 800.0f;
constexpr float window_height = 220.0f;

// One Dear ImGui context without a renderer for the whole run.
class HeadlessContext {
public:
    HeadlessContext() : context_(ImGui::CreateContext()) {
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DisplaySize = ImVec2(1280, 720);
        io.DeltaTime = 1.0f / 60.0f;
        unsigned char* pixels = nullptr;
        int width = 0;
        int height = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    }
    ~HeadlessContext() { ImGui::DestroyContext(context_); }
    HeadlessContext(const HeadlessContext&) = delete;
    HeadlessContext& operator=(const HeadlessContext&) = delete;

private:
    ImGuiContext* context_;
};

void frame(MemoryEditor& editor, const char* title, std::vector<ImU8>& mem) {
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(0, 0), ImGuiCond_Always);
    ImGui::SetNextWindowSize(ImVec2(window_width, window_height), ImGuiCond_Always);
    editor.draw_window(title, mem.data(), mem.size(), 0);
    ImGui::Render();
}

// Thread CPU time, so that other processes on the machine count less.
double cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Subject {
    std::size_t size;
    std::vector<ImU8> mem;
    MemoryEditor editor;
    std::string title;
    std::vector<double> per_frame;  // seconds, one per round
};

}  // namespace

int main() {
    HeadlessContext context;
    std::vector<Subject> subjects(std::size(sizes));
    for (std::size_t k = 0; k < subjects.size(); ++k) {
        Subject& s = subjects[k];
        s.size = sizes[k];
        s.mem.resize(s.size);
        for (std::size_t b = 0; b < s.size; ++b) s.mem[b] = static_cast<ImU8>(b * 7);
        s.title = "Memory " + std::to_string(s.size);
    }
    // Lay the windows out and warm the caches.
    for (int k = 0; k < warmup_frames; ++k) {
        for (Subject& s : subjects) frame(s.editor, s.title.c_str(), s.mem);
    }
    // Rounds interleave the sizes, in a rotating order, so that drift in the
    // machine's load reaches all of them alike; the median drops outliers.
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < subjects.size(); ++k) {
            Subject& s = subjects[(k + static_cast<std::size_t>(round)) % subjects.size()];
            const double start = cpu_seconds();
            for (int f = 0; f < frames_per_round; ++f) frame(s.editor, s.title.c_str(), s.mem);
            s.per_frame.push_back((cpu_seconds() - start) / frames_per_round);
        }
    }

    const double base = median(subjects[0].per_frame);
    std::printf("median CPU time of one editor frame over %d rounds of %d frames, ratio to %zu bytes:\n", rounds,
                frames_per_round, baseline_size);
    double last_ratio = 0.0;
    for (const Subject& s : subjects) {
        const double m = median(s.per_frame);
        last_ratio = m / base;
        std::printf("  %10zu bytes: %8.2f us  ratio %.3f\n", s.size, m * 1e6, last_ratio);
    }
    const bool met = last_ratio <= goal_ratio;
    std::printf("goal (64 MiB within %.0f %% of 256 bytes): %s\n", (goal_ratio - 1.0) * 100.0, met ? "met" : "NOT met");
    return met ? 0 : 1;
}
