// Whether a frame is drawn: the same draw data twice is skipped, and every
// kind of difference that changes pixels (a glyph with the same vertex count,
// a colour, the display size, a callback, lost window contents) is drawn.

#include "loop/redraw_check.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "support/headless_imgui.hpp"

namespace {

class RedrawCheckTest : public testing::Test {
protected:
    // One frame of a window showing text and a button; returns whether it
    // has to be drawn.
    bool frame() {
        ui.frame([this] {
            ImGui::SetNextWindowPos(ImVec2(10, 10));
            ImGui::SetNextWindowSize(ImVec2(200, 100));
            ImGui::Begin("w");
            ImGui::TextUnformatted(text);
            ImGui::Button("button");
            if (with_callback) ImGui::GetWindowDrawList()->AddCallback([](const ImDrawList*, const ImDrawCmd*) {}, nullptr);
            ImGui::End();
        });
        return check.needed(*ImGui::GetDrawData());
    }

    // Runs frames until the window's layout settles (the first frames of a
    // new window differ: it appears, then is sized).
    void settle() {
        for (int i = 0; i < 5; ++i) frame();
    }

    HeadlessImGui ui;
    RedrawCheck check;
    const char* text = "value 0";
    bool with_callback = false;
};

TEST_F(RedrawCheckTest, TheFirstFrameIsDrawnAndAnUnchangedOneIsNot) {
    EXPECT_TRUE(frame());
    settle();
    EXPECT_FALSE(frame());
    EXPECT_FALSE(frame());
}

TEST_F(RedrawCheckTest, EveryChangeThatMovesPixelsIsDrawnOnceThenSkipped) {
    struct Case {
        const char* name;
        std::function<void()> change;
    };
    const Case cases[] = {
        // Same length: same vertex and index counts, only the glyphs' texture
        // coordinates differ.
        {"one digit", [this] { text = "value 1"; }},
        // Hovering the button changes only vertex colours.
        {"hover", [] { ImGui::GetIO().MousePos = ImVec2(40, 56); }},
        {"display size", [] { ImGui::GetIO().DisplaySize = ImVec2(1000, 600); }},
        {"invalidate", [this] { check.invalidate(); }},
    };
    settle();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.change();
        EXPECT_TRUE(frame());
        settle();
        EXPECT_FALSE(frame());
    }
}

TEST_F(RedrawCheckTest, AFrameWithAUserCallbackIsAlwaysDrawn) {
    with_callback = true;
    settle();
    EXPECT_TRUE(frame());
    EXPECT_TRUE(frame());
    with_callback = false;
    EXPECT_TRUE(frame());
    settle();
    EXPECT_FALSE(frame());
}

}  // namespace
