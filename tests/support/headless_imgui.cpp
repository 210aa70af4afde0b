#include "support/headless_imgui.hpp"

namespace {

// Key indices used in io.KeysDown: ImGuiKey_ values map to themselves.
constexpr int first_key = 0;

}  // namespace

HeadlessImGui::HeadlessImGui(ImVec2 display_size) : context_(ImGui::CreateContext()) {
    ImGui::SetCurrentContext(context_);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    io.DisplaySize = display_size;
    io.DeltaTime = 1.0f / 60.0f;
    for (int k = first_key; k < ImGuiKey_COUNT; ++k) io.KeyMap[k] = k;
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    ImGui::StyleColorsClassic();
}

HeadlessImGui::~HeadlessImGui() { ImGui::DestroyContext(context_); }

void HeadlessImGui::set_draw(std::function<void()> draw) { draw_ = std::move(draw); }

void HeadlessImGui::frame() {
    ImGui::SetCurrentContext(context_);
    ImGui::NewFrame();
    if (draw_) draw_();
    ImGui::Render();
}

void HeadlessImGui::frame(std::function<void()> draw) {
    set_draw(std::move(draw));
    frame();
}

void HeadlessImGui::frames(int n) {
    for (int i = 0; i < n; ++i) frame();
}

void HeadlessImGui::move_mouse(ImVec2 pos) {
    ImGui::GetIO().MousePos = pos;
    frame();
}

void HeadlessImGui::click(ImVec2 pos) {
    ImGuiIO& io = ImGui::GetIO();
    io.MousePos = pos;
    frame();
    io.MouseDown[0] = true;
    frame();
    io.MouseDown[0] = false;
    frame();
}

void HeadlessImGui::press(ImGuiKey key) {
    ImGuiIO& io = ImGui::GetIO();
    io.KeysDown[key] = true;
    frame();
    io.KeysDown[key] = false;
    frame();
}

void HeadlessImGui::type(const std::string& text, int frames_per_char) {
    ImGuiIO& io = ImGui::GetIO();
    for (char c : text) {
        io.AddInputCharacter(static_cast<unsigned char>(c));
        frames(frames_per_char);
    }
    frame();
}
