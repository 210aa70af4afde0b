// The register file window driven like a user: clicks on the base buttons,
// typing into the register fields, and the write command that Enter sends.

#include "views/register_file_view.hpp"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "imgui_internal.h"
#include "messaging/application.hpp"
#include "support/child_process.hpp"
#include "support/headless_imgui.hpp"
#include "support/loopback.hpp"

namespace {

using namespace std::chrono_literals;

const ImVec2 window_pos{0, 0};
const ImVec2 window_size{420, 640};
const std::array<const char*, 4> base_labels{"BIN", "OCT", "DEC", "HEX"};

// The view in a window pinned to the top left corner, so that item positions
// follow from the style. Every helper first checks that the mouse really is
// over the item it means to use.
class RegisterWindow : public testing::Test {
protected:
    RegisterWindow() {
        ui.set_draw([this] {
            ImGui::SetNextWindowPos(window_pos);
            ImGui::SetNextWindowSize(window_size);
            view.draw();
        });
        ui.frames(2);
    }

    // Top left of the window's first line of contents.
    static ImVec2 contents_origin() {
        const ImGuiStyle& style = ImGui::GetStyle();
        return ImVec2(window_pos.x + style.WindowPadding.x,
                      window_pos.y + ImGui::GetFrameHeight() + style.WindowPadding.y);
    }

    // The centre of the round mark of base button k (0 BIN to 3 HEX).
    static ImVec2 button_center(int k) {
        const ImGuiStyle& style = ImGui::GetStyle();
        const float square = ImGui::GetFrameHeight();
        ImVec2 at = contents_origin();
        for (int j = 0; j < k; ++j)
            at.x += square + style.ItemInnerSpacing.x + ImGui::CalcTextSize(base_labels[j]).x + style.ItemSpacing.x;
        return ImVec2(at.x + square / 2, at.y + square / 2);
    }

    // A point inside the text frame of field REG i.
    static ImVec2 field_point(int i) {
        const float line = ImGui::GetFrameHeight() + ImGui::GetStyle().ItemSpacing.y;
        const ImVec2 origin = contents_origin();
        return ImVec2(origin.x + 30, origin.y + line * static_cast<float>(i + 1) + ImGui::GetFrameHeight() / 2);
    }

    static int button_index(const std::string& label) {
        for (int k = 0; k < 4; ++k)
            if (label == base_labels[k]) return k;
        ADD_FAILURE() << "no base button " << label;
        return 0;
    }

    void expect_hovered(ImVec2 pos, const std::string& label) {
        ui.move_mouse(pos);
        ImGuiWindow* window = ImGui::FindWindowByName(view.name.c_str());
        ASSERT_NE(window, nullptr);
        ASSERT_EQ(ImGui::GetHoveredID(), window->GetIDNoKeepAlive(label.c_str())) << "not over " << label;
    }

    void click_base(const std::string& label) {
        const ImVec2 pos = button_center(button_index(label));
        expect_hovered(pos, label);
        ui.click(pos);
    }

    // Clicks field i, replaces its whole text with text and presses Enter.
    void enter(int i, const std::string& text) {
        const ImVec2 pos = field_point(i);
        expect_hovered(pos, "REG " + std::to_string(i));
        ui.click(pos);
        ImGuiIO& io = ImGui::GetIO();
        io.KeyCtrl = true;
        ui.press(ImGuiKey_A);
        io.KeyCtrl = false;
        ui.press(ImGuiKey_Backspace);
        ui.type(text);
        ui.press(ImGuiKey_Enter);
    }

    // Whether the mark of a selected radio button is painted on button k.
    static bool marked(int k) {
        const ImU32 mark = ImGui::GetColorU32(ImGuiCol_CheckMark);
        const ImVec2 center = button_center(k);
        const float radius = ImGui::GetFrameHeight() / 2;
        const ImDrawData* draw_data = ImGui::GetDrawData();
        for (int l = 0; l < draw_data->CmdListsCount; ++l) {
            for (const ImDrawVert& v : draw_data->CmdLists[l]->VtxBuffer) {
                if (v.col == mark && std::hypot(v.pos.x - center.x, v.pos.y - center.y) < radius) return true;
            }
        }
        return false;
    }

    void expect_only_marked(const std::string& label) {
        for (int k = 0; k < 4; ++k) EXPECT_EQ(marked(k), label == base_labels[k]) << base_labels[k];
    }

    std::string text(int i) const { return view.texts[i].get(); }

    void set_registers(const std::array<std::uint8_t, 16>& values) {
        view.registers = values;
        view.refresh_text(-1);
    }

    // The colour of the field's background: the last one-coloured rectangle
    // (drawn over the window's) under a point of its text frame where no
    // text is, in the last frame drawn.
    ImU32 field_fill(int i) const {
        const ImVec2 p = field_point(i);
        const ImDrawList* list = ImGui::FindWindowByName(view.name.c_str())->DrawList;
        ImU32 fill = 0;
        for (int v = 0; v + 3 < list->VtxBuffer.Size; ++v) {
            const ImDrawVert* q = &list->VtxBuffer[v];
            if (q[1].col != q[0].col || q[2].col != q[0].col || q[3].col != q[0].col) continue;
            if (p.x >= q[0].pos.x && p.x <= q[2].pos.x && p.y >= q[0].pos.y && p.y <= q[2].pos.y) fill = q[0].col;
            v += 3;
        }
        EXPECT_NE(fill, 0u) << "no background under field " << i;
        return fill;
    }

    // Registers drawn on another background than an unchanged field's.
    std::vector<int> highlighted() const {
        const ImU32 plain = ImGui::GetColorU32(ImGuiCol_FrameBg);
        std::vector<int> found;
        for (int i = 0; i < 16; ++i)
            if (field_fill(i) != plain) found.push_back(i);
        return found;
    }

    void apply(const char* sub_type, Message data) {
        testing::internal::CaptureStderr();
        view.handle_message(make_envelope(MessageKind::event, sub_type, data, "QZ3_MK.register_file", ""));
        testing::internal::GetCapturedStderr();
    }

    // Never started: a send fails and is reported on standard output, which
    // shows whether a send was made.
    Application app;
    RegisterFileView view{&app, 0, "register_file", 10};
    HeadlessImGui ui;
};

TEST_F(RegisterWindow, StartsWithEveryFieldZeroAndDecSelected) {
    EXPECT_EQ(view.base, 10);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(text(i), "0") << i;
    expect_only_marked("DEC");
}

TEST_F(RegisterWindow, EachBaseShows255And10Whole) {
    struct Case {
        const char* button;
        int base;
        const char* of_255;
        const char* of_10;
    };
    set_registers({255, 10});
    for (const Case& c : {Case{"OCT", 8, "377", "12"}, Case{"HEX", 16, "ff", "a"}, Case{"BIN", 2, "11111111", "1010"},
                          Case{"DEC", 10, "255", "10"}}) {
        click_base(c.button);
        EXPECT_EQ(view.base, c.base);
        EXPECT_EQ(text(0), c.of_255) << c.button;
        EXPECT_EQ(text(1), c.of_10) << c.button;
        ui.frame();  // the click's own frame painted the buttons before it
        expect_only_marked(c.button);
    }
}

TEST_F(RegisterWindow, ClickOnHexReformatsAllSixteenAtTheEndOfThatFrame) {
    std::array<std::uint8_t, 16> values{};
    for (int i = 0; i < 16; ++i) values[i] = static_cast<std::uint8_t>(i * 17);
    set_registers(values);

    const ImVec2 pos = button_center(button_index("HEX"));
    expect_hovered(pos, "HEX");
    ImGuiIO& io = ImGui::GetIO();
    io.MouseDown[0] = true;
    ui.frame();
    for (int i = 0; i < 16; ++i) EXPECT_EQ(text(i), std::to_string(i * 17)) << i;
    io.MouseDown[0] = false;
    ui.frame();  // the release: the button reports its click here
    EXPECT_EQ(view.base, 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(text(i), RegisterFileView::format_value(values[i], 16)) << i;
    EXPECT_EQ(text(15), "ff");
}

TEST_F(RegisterWindow, ClickOnTheSelectedButtonChangesNothing) {
    for (auto& t : view.texts) std::snprintf(t.get(), RegisterFileView::text_capacity, "typed");
    click_base("DEC");
    EXPECT_EQ(view.base, 10);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(text(i), "typed") << i;
    expect_only_marked("DEC");
}

struct Typed {
    const char* name;
    const char* button;
    const char* text;
    int value;         // the register afterwards
    const char* line;  // all of standard error
};

class TypedInput : public RegisterWindow, public testing::WithParamInterface<Typed> {};

TEST_P(TypedInput, StoresAndSendsOrRefusesAndShowsTheRegisterAgain) {
    const Typed& c = GetParam();
    set_registers({0, 0, 0, 7});
    click_base(c.button);
    const std::string shown_before = text(3);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    enter(3, c.text);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(err, c.line);
    EXPECT_EQ(view.registers[3], c.value);
    const bool refused = std::string(c.line).rfind("refused", 0) == 0;
    if (refused) {
        EXPECT_EQ(text(3), shown_before);
        EXPECT_EQ(out, "") << "a refused text must send nothing";
    } else {
        EXPECT_EQ(text(3), c.text) << "the field keeps what was typed";
        EXPECT_NE(out.find("Sending of message: '"), std::string::npos) << "the write was not sent";
    }
    for (int i = 0; i < 16; ++i) {
        if (i == 3) continue;
        EXPECT_EQ(view.registers[i], 0) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TypedInput,
    testing::Values(
        Typed{"hex_12", "HEX", "12", 18, "{\"register_number\":3,\"value\":18}\n"},
        Typed{"leading_space", "DEC", "  42", 42, "{\"register_number\":3,\"value\":42}\n"},
        Typed{"eight_binary_digits", "BIN", "11111111", 255, "{\"register_number\":3,\"value\":255}\n"},
        Typed{"empty", "DEC", "", 7, "refused REG 3 text \"\" in DEC: no digit of the base\n"},
        Typed{"letters", "DEC", "abc", 7, "refused REG 3 text \"abc\" in DEC: no digit of the base\n"},
        Typed{"binary_two", "BIN", "2", 7, "refused REG 3 text \"2\" in BIN: no digit of the base\n"},
        Typed{"above_255", "DEC", "256", 7, "refused REG 3 text \"256\" in DEC: the number is above 255\n"},
        Typed{"nine_binary_digits", "BIN", "100000000", 7,
              "refused REG 3 text \"100000000\" in BIN: the number is above 255\n"},
        Typed{"hex_above_255", "HEX", "1ff", 7, "refused REG 3 text \"1ff\" in HEX: the number is above 255\n"},
        Typed{"trailing_letter", "OCT", "12x", 7, "refused REG 3 text \"12x\" in OCT: characters after the number\n"}),
    [](const testing::TestParamInfo<Typed>& case_info) { return std::string(case_info.param.name); });

// A register whose value an event changed stands out until its fade ends.
TEST_F(RegisterWindow, ChangedRegistersAreDrawnOnAHighlightedBackgroundThatFades) {
    using Clock = ChangeMarks::Clock;
    set_registers({0, 0, 0, 0, 0, 0, 0, 7});
    const Clock::time_point t0 = Clock::now();
    view.changes.advance(t0);
    apply("write", {{"register_number", 3}, {"value", 5}});
    apply("write", {{"register_number", 4}, {"value", 0}});          // the value it held
    apply("load", {{"start", 6}, {"values", {0, 7, 9}}});             // only 8 changes
    ui.move_mouse(ImVec2(window_size.x + 50, 5));                     // hovering nothing
    EXPECT_EQ(highlighted(), (std::vector<int>{3, 8}));
    EXPECT_EQ(field_fill(3), ImGui::ColorConvertFloat4ToU32(ChangeMarks::color)) << "full strength on arrival";
    EXPECT_EQ(text(3), "5") << "the value is still drawn";

    view.changes.advance(t0 + ChangeMarks::fade_step);
    ui.frame();
    EXPECT_EQ(highlighted(), (std::vector<int>{3, 8}));
    EXPECT_NE(field_fill(3), ImGui::ColorConvertFloat4ToU32(ChangeMarks::color)) << "fainter after a step";

    view.changes.advance(t0 + ChangeMarks::fade_steps * ChangeMarks::fade_step);
    ui.frame();
    EXPECT_TRUE(highlighted().empty()) << "the fade is over";
}

// A register the user entered is the user's own change, and the
// simulator's echo writes the value it already holds.
TEST_F(RegisterWindow, ARegisterTheUserEnteredAndItsEchoShowNoHighlight) {
    view.changes.advance(ChangeMarks::Clock::now());
    apply("write", {{"register_number", 3}, {"value", 5}});
    ui.frame();
    ASSERT_EQ(highlighted(), std::vector<int>{3});
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    enter(3, "42");  // while its change still shows
    testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(view.registers[3], 42);
    apply("write", {{"register_number", 3}, {"value", 42}});
    ui.move_mouse(ImVec2(window_size.x + 50, 5));
    EXPECT_TRUE(highlighted().empty());
}

// The write command as a simulator component sees it on the bus.
class RegisterWindowOnTheBus : public RegisterWindow {
protected:
    RegisterWindowOnTheBus() {
        app.bus_url = any_loopback_port;
        app.pair_url = any_loopback_port;
        app.hub.start();
        peer_url = app.hub.bus.bound_url();
        peer.connect();
        // A bus message goes only to the pipes already attached: wait until
        // the panel has heard the peer, so that the peer hears the panel.
        connected = wait_until(
            [&] {
                peer.send(MessageKind::event, "hello", nullptr, "test_peer", "");
                return !app.hub.bus.take_if([](Message&) { return true; }).empty();
            },
            5000ms);
    }

    std::string peer_url;
    Endpoint peer{&peer_url, EndpointKind::bus_dial};
    bool connected = false;
};

TEST_F(RegisterWindowOnTheBus, EnterSendsTheExactWriteEnvelope) {
    ASSERT_TRUE(connected);
    click_base("HEX");
    testing::internal::CaptureStderr();
    enter(3, "12");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "{\"register_number\":3,\"value\":18}\n");
    EXPECT_EQ(view.registers[3], 18);
    EXPECT_EQ(text(3), "12");

    const Message received = peer.receive_within(5000ms);
    const Message expected = make_envelope(MessageKind::command, "write", {{"register_number", 3}, {"value", 18}},
                                           "register_file", "");
    EXPECT_EQ(received, expected);
    EXPECT_EQ(encode(received), encode(expected));
    EXPECT_EQ(compact_text(received),
              "{\"data\":{\"register_number\":3,\"value\":18},\"destination\":\"\",\"message_sub_type\":\"write\","
              "\"message_type\":\"command\",\"origin\":\"register_file\"}");
}

}  // namespace
