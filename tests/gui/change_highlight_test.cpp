// What a change looks like in the memory windows: the bytes an event gave a
// new value on the change colour, fading with the marks' steps, and no other
// byte; a byte the user typed, and the simulator's echo of it, on none. The
// "Highlight changes" switch and its line in the settings file.

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "frame.hpp"
#include "imgui_internal.h"
#include "support/headless_imgui.hpp"
#include "views/memory_view.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = ChangeMarks::Clock;

Message event(const char* origin, const char* sub_type, Message data) {
    return make_envelope(MessageKind::event, sub_type, data, origin, "");
}

// One memory view in a window pinned to the top left corner.
template <class View>
class MemoryWindow {
public:
    MemoryWindow(HeadlessImGui& ui, const char* name) : ui_(ui), view(0, name) {
        // Reads during a frame tell where each byte's hex cell was drawn.
        view.editor.read_fn = [this](const ImU8* bytes, std::size_t offset) {
            if (GImGui->CurrentWindow == grid() && drawn_.count(offset) == 0)
                drawn_[offset] = ImGui::GetCursorScreenPos();
            return bytes[offset];
        };
        ui_.set_draw([this] {
            ImGui::SetNextWindowPos(ImVec2(0, 0));
            ImGui::SetNextWindowSize(ImVec2(700, 700));
            view.draw();
        });
        frame();
        frame();
    }

    void frame() {
        drawn_.clear();
        ui_.frame();
    }

    ImGuiWindow* grid() const {
        const std::string prefix = view.name + "/##scrolling";
        for (ImGuiWindow* w : GImGui->Windows)
            if (std::strncmp(w->Name, prefix.c_str(), prefix.size()) == 0) return w;
        return nullptr;
    }

    // The colours of the filled rectangles that start at a byte's hex cell,
    // in the order drawn (the last frame's).
    std::vector<ImU32> fills_at(std::size_t offset) const {
        std::vector<ImU32> fills;
        const auto at = drawn_.find(offset);
        EXPECT_NE(at, drawn_.end()) << "byte " << offset << " not drawn";
        if (at == drawn_.end()) return fills;
        const ImDrawList* list = grid()->DrawList;
        for (int v = 0; v + 3 < list->VtxBuffer.Size; ++v) {
            const ImDrawVert* q = &list->VtxBuffer[v];
            const bool one_colour = q[1].col == q[0].col && q[2].col == q[0].col && q[3].col == q[0].col;
            if (one_colour && q[0].pos.x == at->second.x && q[0].pos.y == at->second.y &&
                q[2].pos.x - q[0].pos.x > ImGui::GetFontSize() / 2) {
                fills.push_back(q[0].col);
                v += 3;
            }
        }
        return fills;
    }

    // The bytes drawn on the change colour at any strength.
    std::vector<std::size_t> highlighted() const {
        std::vector<std::size_t> found;
        for (const auto& [offset, pos] : drawn_)
            for (ImU32 fill : fills_at(offset))
                if ((fill & ~IM_COL32_A_MASK) == (full_strength() & ~IM_COL32_A_MASK)) found.push_back(offset);
        return found;
    }

    static ImU32 full_strength() { return ImGui::ColorConvertFloat4ToU32(ChangeMarks::color); }

    HeadlessImGui& ui_;
    View view;

private:
    std::map<std::size_t, ImVec2> drawn_;
};

class ChangeHighlight : public testing::Test {
protected:
    HeadlessImGui ui;
    Clock::time_point t0 = Clock::now();
};

TEST_F(ChangeHighlight, ChangedBytesAreDrawnOnTheChangeColourAndFadeOut) {
    MemoryWindow<DataMemoryView> dm(ui, "data_memory");
    dm.view.memory[6] = 0x41;
    dm.view.changes.advance(t0);
    dm.view.handle_message(event("QZ3_MK.data_memory", "write", {{"address", 5}, {"value", 0x41}}));
    dm.view.handle_message(event("QZ3_MK.data_memory", "write", {{"address", 6}, {"value", 0x41}}));
    dm.frame();
    EXPECT_EQ(dm.highlighted(), std::vector<std::size_t>{5}) << "byte 6 was written the value it held";
    EXPECT_EQ(dm.fills_at(5), std::vector<ImU32>{dm.full_strength()}) << "strongest on arrival";
    EXPECT_NE(dm.full_strength(), dm.view.editor.highlight_color) << "told apart from range and preview";

    // Each step fainter, the same colour, until it is gone.
    ImU32 before = dm.full_strength();
    for (int step = 1; step < ChangeMarks::fade_steps; ++step) {
        dm.view.changes.advance(t0 + step * ChangeMarks::fade_step);
        dm.frame();
        const auto fills = dm.fills_at(5);
        ASSERT_EQ(fills.size(), 1u) << "step " << step;
        EXPECT_LT(fills[0] >> IM_COL32_A_SHIFT, before >> IM_COL32_A_SHIFT) << "step " << step;
        before = fills[0];
    }
    dm.view.changes.advance(t0 + ChangeMarks::fade_steps * ChangeMarks::fade_step);
    dm.frame();
    EXPECT_TRUE(dm.fills_at(5).empty()) << "drawn like byte 6 again";
    EXPECT_TRUE(dm.fills_at(6).empty());
}

TEST_F(ChangeHighlight, EachChangedByteOfAnInstructionWordIsDrawnOnItsOwn) {
    MemoryWindow<InstructionMemoryView> im(ui, "instruction_memory");
    im.view.memory[1] = 0x11223344;
    im.view.changes.advance(t0);
    im.view.handle_message(event("QZ3_MK.instruction_memory", "write", {{"address", 1}, {"value", 0x11AA3344}}));
    im.frame();
    const std::size_t byte = 4 + (std::endian::native == std::endian::little ? 2 : 1);
    EXPECT_EQ(im.highlighted(), std::vector<std::size_t>{byte});
}

// A byte typed into the editor is the user's own change, and the simulator's
// echo of it writes the value the byte already holds.
TEST_F(ChangeHighlight, AByteTheUserTypedAndItsEchoShowNothing) {
    MemoryWindow<DataMemoryView> dm(ui, "data_memory");
    dm.view.changes.advance(t0);
    dm.view.handle_message(event("QZ3_MK.data_memory", "write", {{"address", 9}, {"value", 1}}));
    dm.frame();
    ASSERT_EQ(dm.highlighted(), std::vector<std::size_t>{9});

    // Typed over the byte while its change still shows, then its neighbour.
    dm.view.editor.editing_addr = dm.view.editor.preview_addr = 9;
    dm.view.editor.take_focus = true;
    dm.frame();
    dm.frame();
    ui.type("4142", 2);
    ui.press(ImGuiKey_Escape);
    ASSERT_EQ(dm.view.memory[9], 0x41);
    ASSERT_EQ(dm.view.memory[10], 0x42);
    dm.view.handle_message(event("QZ3_MK.data_memory", "write", {{"address", 9}, {"value", 0x41}}));
    dm.view.handle_message(event("QZ3_MK.data_memory", "write", {{"address", 10}, {"value", 0x42}}));
    dm.frame();
    EXPECT_TRUE(dm.highlighted().empty());
}

TEST_F(ChangeHighlight, TheSwitchIsOnByDefaultAndKeptInTheSettingsFile) {
    Application app;
    SettingsWindow settings(app);
    settings.install_settings_handler();
    settings.install_settings_handler();  // once is enough
    EXPECT_TRUE(settings.highlight_changes);

    // The window's check box, clicked like a user.
    ImVec2 box;
    ui.set_draw([&] {
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(300, 100));
        settings.draw();
        ImGuiWindow* window = ImGui::FindWindowByName("Settings");
        box = ImVec2(window->DC.CursorStartPos.x + 5, window->DC.CursorStartPos.y + 5);  // its first item
    });
    ui.frames(2);
    ui.click(box);
    EXPECT_FALSE(settings.highlight_changes);
    EXPECT_GT(GImGui->SettingsDirtyTimer, 0.0f) << "the toggle is saved";

    const std::string saved = ImGui::SaveIniSettingsToMemory();
    EXPECT_NE(saved.find("[Vedrik][Settings]\nHighlightChanges=0\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("[Window][Settings]"), std::string::npos) << "beside the window layout";

    // The next run reads it back; a file without the line keeps the default.
    struct Case {
        const char* file;
        bool on;
    };
    for (const Case& c : {Case{"[Vedrik][Settings]\nHighlightChanges=0\n", false},
                          Case{"[Vedrik][Settings]\nHighlightChanges=1\n", true},
                          Case{"[Window][Settings]\nPos=1,2\n", true}, Case{"[Vedrik][Other]\nHighlightChanges=0\n", true}}) {
        SCOPED_TRACE(c.file);
        HeadlessImGui next_run;
        SettingsWindow next(app);
        next.install_settings_handler();
        ImGui::LoadIniSettingsFromMemory(c.file);
        EXPECT_EQ(next.highlight_changes, c.on);
        ImGui::SetCurrentContext(ui.context());
    }
}

}  // namespace
