// MemoryEditor driven headless: layout, clicks, keys and typed digits on a
// small byte array, what the grid shows (as logged text and as draw-list
// geometry), the options line and the data preview.

#include "include/imgui_memory_editor.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "imgui_internal.h"
#include "support/headless_imgui.hpp"

namespace {

constexpr std::size_t none = MemoryEditor::none;
constexpr const char* title = "Memory";

// Text that LogFinish hands to the clipboard.
std::string clipboard_text;
void capture_clipboard(void*, const char* text) { clipboard_text = text; }
// Text that Ctrl+V pastes.
std::string paste_text;
const char* paste_source(void*) { return paste_text.c_str(); }

// One editor window over the test's own bytes, drawn on every frame, in a
// Dear ImGui context of its own.
//
// Where the grid put each byte is read from an earlier frame, not worked out
// again: the harness reads the bytes for the editor (read_fn), and the grid
// reads a byte for its hex cell just before drawing it, with Dear ImGui's
// cursor where the cell goes. The ASCII column's per-line button is the last
// item when the line's first character is read.
struct Harness {
    HeadlessImGui ui;
    MemoryEditor editor;
    std::vector<ImU8> mem = std::vector<ImU8>(256, 0);
    std::size_t base = 0;
    // Where the bytes come from, when a test gives its own; mem otherwise.
    MemoryEditor::ReadFn source;
    // Drawn before and after the editor's window, when set.
    std::function<void()> draw_before, after;

    struct Seen {
        int frame = -1;
        ImVec2 pos;
    };
    std::map<std::size_t, Seen> hex_cells;                       // top left, by offset
    std::map<std::size_t, std::pair<ImVec2, ImVec2>> ascii_rows;  // button rectangle, by line

    // Without recording, the editor reads the bytes in place.
    explicit Harness(bool record_cells = true) {
        ImGui::GetIO().SetClipboardTextFn = capture_clipboard;
        ImGui::GetIO().GetClipboardTextFn = paste_source;
        ui.set_draw([this] { draw(); });
        if (record_cells) {
            editor.read_fn = [this](const ImU8* bytes, std::size_t offset) {
                record(offset);
                return source ? source(bytes, offset) : mem[offset];
            };
        }
    }
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    void draw() {
        if (draw_before) draw_before();
        ImGui::SetNextWindowPos(ImVec2(0, 0), ImGuiCond_Once);
        ImGui::SetNextWindowSize(ImVec2(1000, 400), ImGuiCond_Once);
        editor.draw_window(title, mem.data(), mem.size(), base);
        if (after) after();
    }

    void record(std::size_t offset) {
        // The preview line reads too, and so does format_preview outside a frame.
        if (GImGui->CurrentWindow == nullptr || GImGui->CurrentWindow != grid()) return;
        const int frame = ImGui::GetFrameCount();
        Seen& cell = hex_cells[offset];
        if (cell.frame != frame) cell = Seen{frame, ImGui::GetCursorScreenPos()};
        const std::size_t cols = static_cast<std::size_t>(editor.cols);
        if (offset % cols == 0) {
            ImGui::PushID(static_cast<int>(offset / cols));
            const ImGuiID button = ImGui::GetID("ascii");
            ImGui::PopID();
            if (ImGui::GetItemID() == button) {
                ascii_rows[offset / cols] = {ImGui::GetItemRectMin(), ImGui::GetItemRectMax()};
            }
        }
    }

    // Frame 0 only lays the window out.
    void settle() { ui.frames(2); }

    // Valid after a frame: the layout uses the font and style of the context.
    MemoryEditorLayout layout() const {
        MemoryEditorLayout s;
        editor.compute_layout(s, mem.size(), base);
        return s;
    }

    static ImGuiWindow* window() { return ImGui::FindWindowByName(title); }

    // The scrolling child that holds the grid.
    static ImGuiWindow* grid() {
        const std::string prefix = std::string(title) + "/##scrolling";
        for (ImGuiWindow* w : GImGui->Windows) {
            if (std::strncmp(w->Name, prefix.c_str(), prefix.size()) == 0) return w;
        }
        return nullptr;
    }

    // Top left of a byte's hex cell, as drawn in the last frame that showed it.
    ImVec2 cell_pos(std::size_t offset) const {
        const auto it = hex_cells.find(offset);
        EXPECT_NE(it, hex_cells.end()) << "byte " << offset << " was not drawn";
        return it == hex_cells.end() ? ImVec2() : it->second.pos;
    }

    // The middle of a byte's two digits.
    ImVec2 hex_cell(std::size_t offset) const {
        const ImVec2 digits = ImGui::CalcTextSize("00");
        const ImVec2 pos = cell_pos(offset);
        return ImVec2(pos.x + digits.x / 2, pos.y + digits.y / 2);
    }

    // A line's ASCII column, as drawn in the last frame that showed it.
    std::pair<ImVec2, ImVec2> ascii_row(std::size_t line) const {
        const auto it = ascii_rows.find(line);
        EXPECT_NE(it, ascii_rows.end()) << "line " << line << " has no ASCII column";
        return it == ascii_rows.end() ? std::pair<ImVec2, ImVec2>() : it->second;
    }

    // The middle of a byte's character in the ASCII column.
    ImVec2 ascii_cell(std::size_t offset) const {
        const auto cols = static_cast<std::size_t>(editor.cols);
        const auto [lo, hi] = ascii_row(offset / cols);
        const float glyph = (hi.x - lo.x) / static_cast<float>(cols);
        return ImVec2(lo.x + glyph * (static_cast<float>(offset % cols) + 0.5f), (lo.y + hi.y) / 2);
    }

    // Clicks a byte and gives its field the frame in which focus lands.
    void select(std::size_t offset) {
        ui.click(hex_cell(offset));
        ui.frame();
    }

    // The text that one frame shows, as Dear ImGui's logging writes it.
    std::string shown_text() {
        ImGui::NewFrame();
        ImGui::LogToClipboard();
        draw();
        ImGui::LogFinish();
        ImGui::Render();
        return clipboard_text;
    }

    // The logged line that starts with `label`, or "" if none does. The log
    // puts one space between the items of a line: "00: " and "AB " log as
    // "00:  AB ".
    std::string line_starting(const std::string& label) {
        const std::string text = shown_text();
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(at, end - at);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind(label, 0) == 0) return line;
            at = end + 1;
        }
        return "";
    }

    static bool text_field_active() {
        return GImGui->ActiveId != 0 && GImGui->InputTextState.ID == GImGui->ActiveId;
    }

    // Rectangles filled in a colour in the grid's draw list, as (min, max).
    static std::vector<std::pair<ImVec2, ImVec2>> filled_rects(ImU32 color) {
        std::vector<std::pair<ImVec2, ImVec2>> rects;
        const ImDrawList* list = grid()->DrawList;
        // A filled rectangle without rounding is four vertices of one colour.
        for (int v = 0; v + 3 < list->VtxBuffer.Size; ++v) {
            const ImDrawVert* q = &list->VtxBuffer[v];
            if (q[0].col != color || q[1].col != color || q[2].col != color || q[3].col != color) continue;
            rects.emplace_back(q[0].pos, q[2].pos);
            v += 3;
        }
        std::sort(rects.begin(), rects.end(), [](const auto& a, const auto& b) { return a.first.x < b.first.x; });
        return rects;
    }

    // Colours of the vertices painted in a horizontal span of the grid.
    static std::vector<ImU32> colors_between(float x0, float x1, float y0, float y1) {
        std::vector<ImU32> colors;
        const ImDrawList* list = grid()->DrawList;
        for (const ImDrawVert& v : list->VtxBuffer) {
            if (v.pos.x >= x0 && v.pos.x <= x1 && v.pos.y >= y0 && v.pos.y <= y1) colors.push_back(v.col);
        }
        return colors;
    }

    // Focuses the window by its title bar and tabs into the goto field, the
    // only text field of the window outside the grid; types there and
    // gives the byte it selects the frames in which its focus lands.
    void type_goto(const std::string& hex) {
        ImGuiWindow* w = window();
        ui.click(ImVec2(w->Pos.x + 60, w->Pos.y + 5));
        ui.press(ImGuiKey_Tab);
        ASSERT_TRUE(text_field_active());
        ui.type(hex);
        ui.press(ImGuiKey_Enter);
        ui.frame();
    }
};

class EditorTest : public ::testing::Test, public Harness {};

// --- layout -----------------------------------------------------------------

TEST(MemoryEditorLayout, AddressDigitsFollowTheLastAddress) {
    struct Case {
        std::size_t size;
        std::size_t base;
        int digits;
        const char* first_line;
    };
    const Case cases[] = {
        {256, 0, 2, "00:  00 "},
        {1024, 0, 3, "000:  00 "},
        {256, 0x1000, 4, "1000:  00 "},
        {1, 0, 0, "0:  00 "},  // no digits to pad: the label is "0: "
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        Harness h;
        h.mem.assign(c.size, 0);
        h.base = c.base;
        h.settle();
        EXPECT_EQ(h.layout().digit_count, c.digits);
        const std::string label = std::string(c.first_line).substr(0, std::strlen(c.first_line) - 4);
        EXPECT_EQ(h.line_starting(label).substr(0, std::strlen(c.first_line)), c.first_line);
    }
}

TEST_F(EditorTest, AsciiColumnStartsAfterTheGroupGaps) {
    settle();
    // ProggyClean: "F" is 7 pixels, so a glyph is 8, a cell 20 and a gap 5.
    MemoryEditorLayout s = layout();
    ASSERT_EQ(s.glyph_width, 8.0f);
    EXPECT_EQ(s.hex_start, 32.0f);
    EXPECT_EQ(s.hex_end, 32.0f + 16 * 20.0f);
    EXPECT_EQ(s.ascii_start, s.hex_end + 8.0f + 2 * 5.0f);
    EXPECT_EQ(s.ascii_end, s.ascii_start + 16 * 8.0f);
    // The cells as drawn: a gap after every group of 8.
    EXPECT_EQ(cell_pos(0x10).x - grid()->Pos.x, 32.0f);
    EXPECT_EQ(cell_pos(0x11).x - cell_pos(0x10).x, 20.0f);
    EXPECT_EQ(cell_pos(0x18).x - cell_pos(0x17).x, 20.0f + 5.0f);
    EXPECT_EQ(ascii_row(1).first.x - grid()->Pos.x, s.ascii_start);

    editor.mid_cols = 0;
    s = layout();
    EXPECT_EQ(s.ascii_start, s.hex_end + 8.0f);

    editor.show_ascii = false;
    s = layout();
    EXPECT_EQ(s.ascii_start, s.hex_end);
    EXPECT_EQ(s.ascii_end, s.hex_end);
}

TEST_F(EditorTest, ColumnsBelowOneAreDrawnAndStoredAsOne) {
    mem = {0x11, 0x22, 0x33};
    for (int cols : {0, -3}) {
        editor.cols = cols;
        settle();
        EXPECT_EQ(editor.cols, 1);
        EXPECT_EQ(line_starting("1: "), "1:  22 ");
        EXPECT_EQ(line_starting("2: "), "2:  33 ");
    }
}

// --- editing ----------------------------------------------------------------

TEST_F(EditorTest, ClickSelectsTheByteWithItsFieldFocused) {
    mem[0x25] = 0x9C;
    settle();
    select(0x25);
    EXPECT_EQ(editor.editing_addr, 0x25u);
    EXPECT_EQ(editor.preview_addr, 0x25u);
    EXPECT_TRUE(text_field_active());
    EXPECT_STREQ(editor.addr_input_buf, "25");
    EXPECT_STREQ(editor.data_input_buf, "9C");
}

TEST_F(EditorTest, TwoDigitsWriteTheByteAndMoveOn) {
    settle();
    select(5);
    ui.type("AB");
    EXPECT_EQ(mem[5], 0xAB);
    EXPECT_EQ(mem[6], 0x00);
    EXPECT_EQ(editor.editing_addr, 6u);
    ui.frame();
    EXPECT_TRUE(text_field_active());
    EXPECT_STREQ(editor.addr_input_buf, "06");
}

TEST_F(EditorTest, OneDigitAndEnterWritesTheByte) {
    mem[5] = 0xEE;
    settle();
    select(5);
    ui.type("7");
    ui.press(ImGuiKey_Enter);
    EXPECT_EQ(mem[5], 0x07);
    EXPECT_EQ(editor.editing_addr, 6u);
}

TEST_F(EditorTest, ArrowKeyAfterOneDigitMovesWithoutWriting) {
    mem[5] = 0xEE;
    settle();
    select(5);
    ui.type("3");
    ui.press(ImGuiKey_RightArrow);
    ui.frame();
    EXPECT_EQ(mem[5], 0xEE);
    EXPECT_EQ(editor.editing_addr, 6u);
    ui.type("44");
    EXPECT_EQ(mem[6], 0x44);
    EXPECT_EQ(mem[5], 0xEE);
}

// Two digits put in the field by typing or pasting commit the byte; a cursor
// merely moved to the end of the pair puts nothing in and commits nothing.
TEST(MemoryEditorEditing, TwoDigitsPutInCommitACursorMovedThereDoesNot) {
    struct Case {
        const char* name;
        std::function<void(Harness&)> act;
        bool commits;
    };
    const Case cases[] = {
        {"typed", [](Harness& h) { h.ui.type("AB"); }, true},
        {"pasted",
         [](Harness& h) {
             paste_text = "AB";
             ImGui::GetIO().KeyCtrl = true;
             h.ui.press(ImGuiKey_V);
             ImGui::GetIO().KeyCtrl = false;
         },
         true},
        {"End key", [](Harness& h) { h.ui.press(ImGuiKey_End); }, false},
        {"click at the end of the field",
         [](Harness& h) {
             const ImVec2 c = h.hex_cell(5);
             h.ui.click(ImVec2(h.cell_pos(5).x + ImGui::CalcTextSize("00").x - 1, c.y));
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.mem[5] = 0x11;
        h.settle();
        h.select(5);
        c.act(h);
        h.ui.frames(2);
        if (c.commits) {
            EXPECT_EQ(h.mem[5], 0xAB);
            EXPECT_EQ(h.editor.editing_addr, 6u);
        } else {
            EXPECT_EQ(h.mem[5], 0x11);
            EXPECT_EQ(h.editor.editing_addr, 5u);
        }
        EXPECT_EQ(h.mem[6], 0x00);
        EXPECT_TRUE(h.text_field_active());
    }
}

// Puts the characters of text into the input queue chars_per_frame at a
// time, a frame after each group, then one more frame.
void type_in_groups(Harness& h, const std::string& text, std::size_t chars_per_frame) {
    for (std::size_t at = 0; at < text.size(); at += chars_per_frame) {
        for (const char c : text.substr(at, chars_per_frame)) ImGui::GetIO().AddInputCharacter(c);
        h.ui.frame();
    }
    h.ui.frame();
}

// Each digit lands in order, however fast it follows the one before and
// however many arrive in one frame: a byte takes two digits and the rest go
// on to the bytes after it. The next byte's field takes the focus two frames
// after a commit, and what is typed meanwhile is kept for it.
TEST(MemoryEditorEditing, FastTypingAcrossBytesLosesNoDigit) {
    struct Case {
        std::size_t chars_per_frame;
        int frames_per_group;
    };
    for (const Case c : {Case{1, 1}, Case{1, 2}, Case{1, 3}, Case{2, 1}, Case{3, 1}, Case{4, 1}, Case{8, 1}}) {
        SCOPED_TRACE(testing::Message() << c.chars_per_frame << " characters every " << c.frames_per_group
                                        << " frames");
        Harness h;
        h.settle();
        h.select(5);
        const std::string text = "DEADBEEF";
        for (std::size_t at = 0; at < text.size(); at += c.chars_per_frame) {
            for (const char ch : text.substr(at, c.chars_per_frame)) ImGui::GetIO().AddInputCharacter(ch);
            h.ui.frames(c.frames_per_group);
        }
        h.ui.frames(3);
        const std::vector<ImU8> expected = {0x00, 0xDE, 0xAD, 0xBE, 0xEF, 0x00};
        EXPECT_EQ(std::vector<ImU8>(h.mem.begin() + 4, h.mem.begin() + 10), expected);
        EXPECT_EQ(h.editor.editing_addr, 9u);
        EXPECT_EQ(h.editor.preview_addr, 9u);
        EXPECT_TRUE(h.text_field_active());
        EXPECT_STREQ(h.editor.addr_input_buf, "09");
        EXPECT_STREQ(h.editor.data_input_buf, "00");
    }
}

// An odd digit at the end of a burst is the start of the next byte, and
// Enter writes it as a byte of its own; typing stops at the last byte.
TEST(MemoryEditorEditing, DigitsPastAByteGoOnToTheNextBytesUpToTheEnd) {
    struct Case {
        const char* name;
        std::size_t from;
        std::string text;
        bool enter;
        std::vector<ImU8> expected;  // bytes from..from+3 (those that exist)
        std::size_t editing;
    };
    const Case cases[] = {
        {"three digits then one", 5, "ABC", false, {0xAB, 0x00, 0x00, 0x00}, 6},
        {"three digits and Enter", 5, "ABC\r", true, {0xAB, 0x0C, 0x00, 0x00}, 7},
        {"past the last byte", 254, "11223344", false, {0x11, 0x22}, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t per_frame : {std::size_t{1}, c.text.size()}) {
            SCOPED_TRACE(testing::Message() << per_frame << " characters per frame");
            Harness h;
            h.settle();
            h.select(c.from);
            std::string digits = c.text;
            if (c.enter) digits.pop_back();
            type_in_groups(h, digits, per_frame);
            if (c.enter) h.ui.press(ImGuiKey_Enter);
            h.ui.frames(3);
            const std::size_t end = std::min<std::size_t>(c.from + 4, 256);
            EXPECT_EQ(std::vector<ImU8>(h.mem.begin() + static_cast<long>(c.from), h.mem.begin() + static_cast<long>(end)),
                      c.expected);
            EXPECT_EQ(std::count(h.mem.begin(), h.mem.end(), 0),
                      256 - std::count_if(c.expected.begin(), c.expected.end(), [](ImU8 b) { return b != 0; }));
            EXPECT_EQ(h.editor.editing_addr, c.editing);
            if (c.editing == 6) {
                // The odd digit waits in the next byte's field.
                EXPECT_STREQ(h.editor.data_input_buf, "C");
                h.ui.type("D");
                h.ui.frames(2);
                EXPECT_EQ(h.mem[6], 0xCD);
            }
        }
    }
}

// An arrow key, Enter or a click right after a commit acts on the byte that
// editing moved on to, with the digits typed for it so far.
TEST(MemoryEditorEditing, KeysRightAfterACommitActOnTheNextByte) {
    struct Case {
        const char* name;
        std::function<void(Harness&)> act;
        ImU8 byte6;
        std::size_t editing;
    };
    const Case cases[] = {
        {"a digit, then Right: the digit is discarded",
         [](Harness& h) {
             h.ui.type("AB7", 1);
             h.ui.press(ImGuiKey_RightArrow);
         },
         0x00, 7},
        {"a digit, then Enter: the digit is written",
         [](Harness& h) {
             h.ui.type("AB7", 1);
             h.ui.press(ImGuiKey_Enter);
         },
         0x07, 7},
        {"Down at once", [](Harness& h) {
             h.ui.type("AB", 1);
             h.ui.press(ImGuiKey_DownArrow);
         },
         0x00, 0x16},
        {"a digit, then a click on another byte",
         [](Harness& h) {
             h.ui.type("AB7", 1);
             h.ui.click(h.hex_cell(0x40));
         },
         0x00, 0x40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.settle();
        h.select(5);
        c.act(h);
        h.ui.frames(2);
        EXPECT_EQ(h.mem[5], 0xAB);
        EXPECT_EQ(h.mem[6], c.byte6);
        EXPECT_EQ(std::count(h.mem.begin(), h.mem.end(), 0), 256 - 1 - (c.byte6 != 0 ? 1 : 0));
        EXPECT_EQ(h.editor.editing_addr, c.editing);
        EXPECT_TRUE(h.text_field_active());
    }
}

// A click in any frame of the focus hand-over after a commit, the frame in
// which the next byte's field takes the focus included, selects the byte
// clicked.
TEST(MemoryEditorEditing, AClickInTheFramesAfterACommitSelectsItsByte) {
    for (int frames_between = 0; frames_between < 4; ++frames_between) {
        SCOPED_TRACE(testing::Message() << frames_between << " frames from the commit to the press");
        Harness h;
        h.settle();
        h.select(5);
        ImGuiIO& io = ImGui::GetIO();
        io.MousePos = h.hex_cell(0x40);
        io.AddInputCharacter('A');
        io.AddInputCharacter('B');
        h.ui.frame();  // the commit
        ASSERT_EQ(h.mem[5], 0xAB);
        h.ui.frames(frames_between);
        io.MouseDown[0] = true;
        h.ui.frame();
        io.MouseDown[0] = false;
        h.ui.frames(3);
        EXPECT_EQ(h.editor.editing_addr, 0x40u);
        EXPECT_TRUE(h.text_field_active());
        EXPECT_STREQ(h.editor.addr_input_buf, "40");
    }
}

// A click on a menu drawn before the editor, as the panel's menu bar is, in
// any frame after a commit or an arrow key moved the selection: the menu
// opens and stays open, and editing ends, as for any click elsewhere.
TEST(MemoryEditorEditing, AClickOnAMenuRightAfterTheSelectionMovedOpensIt) {
    struct Case {
        const char* name;
        std::function<void(Harness&)> move;
    };
    const Case cases[] = {
        {"a commit", [](Harness&) {
             ImGui::GetIO().AddInputCharacter('A');
             ImGui::GetIO().AddInputCharacter('B');
         }},
        {"an arrow key", [](Harness&) { ImGui::GetIO().KeysDown[ImGuiKey_RightArrow] = true; }},
    };
    for (const Case& c : cases) {
        for (int frames_between = 0; frames_between < 4; ++frames_between) {
            SCOPED_TRACE(testing::Message() << c.name << ", " << frames_between << " frames to the press");
            Harness h;
            ImVec2 file;
            bool menu_open = false;
            h.draw_before = [&] {
                menu_open = false;
                ImGui::SetNextWindowPos(ImVec2(0, 450));
                ImGui::Begin("Menus", nullptr, ImGuiWindowFlags_MenuBar);
                if (ImGui::BeginMenuBar()) {
                    if (ImGui::BeginMenu("File")) {
                        menu_open = true;
                        ImGui::MenuItem("Quit");
                        ImGui::EndMenu();
                    }
                    file = ImVec2((ImGui::GetItemRectMin().x + ImGui::GetItemRectMax().x) / 2,
                                  (ImGui::GetItemRectMin().y + ImGui::GetItemRectMax().y) / 2);
                    ImGui::EndMenuBar();
                }
                ImGui::End();
            };
            h.settle();
            h.select(5);
            ImGuiIO& io = ImGui::GetIO();
            io.MousePos = file;
            c.move(h);
            h.ui.frame();
            io.KeysDown[ImGuiKey_RightArrow] = false;
            ASSERT_EQ(h.editor.editing_addr, 6u);
            h.ui.frames(frames_between);
            io.MouseDown[0] = true;
            h.ui.frame();
            io.MouseDown[0] = false;
            h.ui.frames(4);
            EXPECT_TRUE(menu_open);
            EXPECT_EQ(h.editor.editing_addr, none);
        }
    }
}

// A commit whose next byte is off screen hands the focus to a field that is
// not drawn; digits typed afterwards into another field are that field's.
TEST_F(EditorTest, HandOverToAByteOffScreenTakesNoDigitsFromOtherFields) {
    mem.assign(4096, 0);
    char other[8] = "";
    ImVec2 other_pos;
    after = [&] {
        ImGui::SetNextWindowPos(ImVec2(0, 500), ImGuiCond_Once);
        ImGui::Begin("Other");
        ImGui::InputText("##other", other, sizeof(other));
        other_pos = ImGui::GetItemRectMin();
        ImGui::End();
    };
    settle();
    const float line_height = layout().line_height;
    const float chrome = window()->Size.y - grid()->Size.y;
    ImGui::SetWindowSize(title, ImVec2(window()->Size.x, chrome + 20 * line_height));
    ui.frames(2);
    select(19 * 16 + 15);  // the last byte on screen
    ui.type("AB");
    ASSERT_EQ(mem[19 * 16 + 15], 0xAB);
    ASSERT_EQ(editor.editing_addr, 20u * 16);

    ui.frames(4);
    ui.click(ImVec2(other_pos.x + 4, other_pos.y + 4));
    ui.type("12");
    EXPECT_STREQ(other, "12");
    EXPECT_EQ(mem[20 * 16], 0x00);
}

// The grid scrolls by the lines moved when the keyboard takes the editing
// position within two lines of the visible edge, and only then; the lines
// that count are those on screen, also while the edited line is scrolled away.
TEST(MemoryEditorKeys, ScrollFollowsNearTheVisibleEdgeOnly) {
    struct Case {
        std::size_t from_line;
        ImGuiKey key;
        std::size_t to_line;
        int lines_scrolled;
    };
    // The view shows lines 100 to 119.
    const Case cases[] = {
        {2, ImGuiKey_DownArrow, 3, 0},      // above the view
        {200, ImGuiKey_UpArrow, 199, 0},    // below the view
        {102, ImGuiKey_UpArrow, 101, -1},   // into the top two lines
        {103, ImGuiKey_UpArrow, 102, 0},
        {117, ImGuiKey_DownArrow, 118, 1},  // into the bottom two lines
        {116, ImGuiKey_DownArrow, 117, 0},
        {118, ImGuiKey_LeftArrow, 118, 0},  // same line
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "from line " << c.from_line << " key " << c.key);
        Harness h;
        h.mem.assign(4096, 0);
        h.settle();
        const float line_height = h.layout().line_height;
        const float chrome = h.window()->Size.y - h.grid()->Size.y;
        ImGui::SetWindowSize(title, ImVec2(h.window()->Size.x, chrome + 20 * line_height));
        auto scroll_to_line = [&](std::size_t line) {
            ImGui::SetScrollY(h.grid(), static_cast<float>(line) * line_height);
            h.ui.frames(2);
        };
        const std::size_t from = c.from_line * 16 + 5;
        scroll_to_line(c.from_line > 5 ? c.from_line - 5 : 0);
        h.select(from);
        scroll_to_line(100);
        ASSERT_EQ(h.grid()->Size.y, 20 * line_height);
        ASSERT_EQ(h.grid()->Scroll.y, 100 * line_height);
        ASSERT_EQ(h.editor.editing_addr, from);
        ASSERT_TRUE(h.text_field_active());

        h.ui.press(c.key);
        h.ui.frame();
        EXPECT_EQ(h.editor.editing_addr / 16, c.to_line);
        EXPECT_EQ(h.grid()->Scroll.y, static_cast<float>(100 + c.lines_scrolled) * line_height);
    }
}

TEST(MemoryEditorKeys, ArrowKeysMoveInsideTheRangeOnly) {
    struct Case {
        std::size_t size;
        std::size_t from;
        ImGuiKey key;
        std::size_t to;
    };
    const Case cases[] = {
        {256, 0x25, ImGuiKey_UpArrow, 0x15},    {256, 0x25, ImGuiKey_DownArrow, 0x35},
        {256, 0x25, ImGuiKey_LeftArrow, 0x24},  {256, 0x25, ImGuiKey_RightArrow, 0x26},
        {256, 0x05, ImGuiKey_UpArrow, 0x05},    {256, 0x00, ImGuiKey_LeftArrow, 0x00},
        {256, 0xFF, ImGuiKey_RightArrow, 0xFF}, {256, 0xF5, ImGuiKey_DownArrow, 0xF5},
        {8, 0x02, ImGuiKey_DownArrow, 0x02},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size << " from " << c.from << " key " << c.key);
        Harness h;
        h.mem.assign(c.size, 0x5A);
        h.settle();
        h.select(c.from);
        ASSERT_EQ(h.editor.editing_addr, c.from);
        h.ui.press(c.key);
        h.ui.frame();
        EXPECT_EQ(h.editor.editing_addr, c.to);
        EXPECT_EQ(h.editor.preview_addr, c.to);
        EXPECT_TRUE(h.text_field_active());
        EXPECT_EQ(std::count(h.mem.begin(), h.mem.end(), 0x5A), static_cast<long>(c.size));
    }
}

TEST_F(EditorTest, CommittingTheLastByteEndsEditing) {
    settle();
    select(0xFF);
    ui.type("12");
    EXPECT_EQ(mem[0xFF], 0x12);
    ui.frame();
    EXPECT_EQ(editor.editing_addr, none);
    EXPECT_EQ(editor.preview_addr, none);
    EXPECT_FALSE(text_field_active());
}

TEST_F(EditorTest, ReadOnlyRefusesHexClicksAndAsciiClicksOnlyPreview) {
    editor.read_only = true;
    settle();
    select(0x12);
    EXPECT_EQ(editor.editing_addr, none);
    EXPECT_EQ(editor.preview_addr, none);

    ui.click(ascii_cell(0x13));
    ui.frame();
    EXPECT_EQ(editor.editing_addr, none);
    EXPECT_EQ(editor.preview_addr, 0x13u);
    EXPECT_FALSE(text_field_active());
}

TEST_F(EditorTest, AsciiClickSelectsTheByteUnderTheMouse) {
    settle();
    ui.click(ascii_cell(0x1B));
    ui.frames(2);
    EXPECT_EQ(editor.editing_addr, 0x1Bu);
    EXPECT_TRUE(text_field_active());
}

TEST_F(EditorTest, HooksReplaceReadingAndWriting) {
    // The bytes passed stay untouched: everything goes through the hooks.
    std::vector<ImU8> shadow(256);
    for (std::size_t k = 0; k < shadow.size(); ++k) shadow[k] = static_cast<ImU8>(k ^ 0xA0);
    std::vector<std::pair<std::size_t, ImU8>> writes;
    const ImU8* passed = mem.data();
    source = [&](const ImU8* bytes, std::size_t offset) {
        EXPECT_EQ(bytes, passed);
        return shadow[offset];
    };
    editor.write_fn = [&](ImU8* bytes, std::size_t offset, ImU8 value) {
        EXPECT_EQ(bytes, passed);
        writes.emplace_back(offset, value);
    };
    settle();
    EXPECT_EQ(line_starting("10: ").substr(0, 12), "10:  B0  B1 ");

    select(0x10);
    EXPECT_STREQ(editor.data_input_buf, "B0");
    ui.type("C4");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], std::make_pair(std::size_t{0x10}, ImU8{0xC4}));
    EXPECT_EQ(std::count(mem.begin(), mem.end(), 0), 256);

    char buf[32];
    editor.format_preview(0x10, mem.data(), mem.size(), ImGuiDataType_U16, PreviewFormat::hex, buf, sizeof(buf));
    EXPECT_STREQ(buf, "0xb1b0");
}

// --- paste ------------------------------------------------------------------

// Ctrl+V on a selected byte writes the clipboard's hex text from there on,
// white space anywhere, and selects the byte after the last one written;
// anything else writes nothing and says why on standard error.
TEST(MemoryEditorPaste, WritesHexTextFromTheSelectedByte) {
    struct Case {
        const char* clipboard;
        std::size_t from;
        std::vector<ImU8> expected;  // bytes from..from+4 (those that exist)
        std::size_t selected;
        const char* report;  // standard error
    };
    const Case cases[] = {
        {"DEADBEEF", 5, {0xDE, 0xAD, 0xBE, 0xEF, 0x00}, 9, ""},
        {"de ad be ef", 5, {0xDE, 0xAD, 0xBE, 0xEF, 0x00}, 9, ""},
        {"  DE\tAD\r\nBE\nEF\n", 5, {0xDE, 0xAD, 0xBE, 0xEF, 0x00}, 9, ""},
        {"0102030405", 253, {0x01, 0x02, 0x03}, none, ""},
        {"DEADBEE", 5, {0x11, 0x00, 0x00, 0x00, 0x00}, 5,
         "Memory: paste not applied: the clipboard text holds 7 hex digits, not whole bytes\n"},
        {"0xDEAD", 5, {0x11, 0x00, 0x00, 0x00, 0x00}, 5,
         "Memory: paste not applied: character 2 of the clipboard text is not a hex digit or white space\n"},
        {"DE,AD", 5, {0x11, 0x00, 0x00, 0x00, 0x00}, 5,
         "Memory: paste not applied: character 3 of the clipboard text is not a hex digit or white space\n"},
        {" \n", 5, {0x11, 0x00, 0x00, 0x00, 0x00}, 5,
         "Memory: paste not applied: the clipboard text holds 0 hex digits, not whole bytes\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clipboard);
        Harness h;
        h.mem[c.from] = 0x11;
        std::vector<std::pair<std::size_t, ImU8>> writes;
        h.editor.write_fn = [&](ImU8* bytes, std::size_t offset, ImU8 value) {
            writes.emplace_back(offset, value);
            bytes[offset] = value;
        };
        h.settle();
        h.select(c.from);
        paste_text = c.clipboard;
        testing::internal::CaptureStderr();
        ImGui::GetIO().KeyCtrl = true;
        h.ui.press(ImGuiKey_V);
        ImGui::GetIO().KeyCtrl = false;
        h.ui.frames(2);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.report);
        const std::size_t end = std::min<std::size_t>(c.from + 5, 256);
        EXPECT_EQ(std::vector<ImU8>(h.mem.begin() + static_cast<long>(c.from), h.mem.begin() + static_cast<long>(end)),
                  c.expected);
        // Every byte went through the write hook, once.
        EXPECT_EQ(writes.size(), *c.report != '\0' ? 0u : (c.selected == none ? 256 : c.selected) - c.from);
        EXPECT_EQ(h.editor.editing_addr, c.selected);
        if (c.selected != none) {
            EXPECT_EQ(h.editor.preview_addr, c.selected);
            EXPECT_TRUE(h.text_field_active());
        }
    }
}

// --- display ----------------------------------------------------------------

TEST(MemoryEditorDisplay, HexCellText) {
    struct Case {
        ImU8 byte;
        bool hexii;
        bool grey;
        const char* shown;
    };
    const Case cases[] = {
        {0x41, true, true, ".A "},   {0x00, true, true, "   "},  {0x00, true, false, "   "},
        {0xFF, true, true, "## "},   {0xFF, true, false, "FF "}, {0x80, true, true, "80 "},
        {0x00, false, true, "00 "},  {0x41, false, true, "41 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int{c.byte} << " hexii " << c.hexii << " grey " << c.grey);
        Harness h(false);  // the editor reads the bytes in place
        h.mem.assign(16, 0x20);
        h.mem[0] = c.byte;
        h.editor.show_hexii = c.hexii;
        h.editor.grey_out_zeroes = c.grey;
        h.settle();
        EXPECT_EQ(h.line_starting("0: ").substr(0, 7), std::string("0:  ") + c.shown);
    }
}

TEST_F(EditorTest, LowerCaseHex) {
    mem.assign(16, 0);
    mem[1] = 0xAB;
    base = 0xABC0;
    editor.uppercase_hex = false;
    editor.grey_out_zeroes = false;
    settle();
    EXPECT_EQ(line_starting("abc0: ").substr(0, 14), "abc0:  00  ab ");
    EXPECT_NE(shown_text().find("Range abc0..abcf"), std::string::npos);
}

TEST_F(EditorTest, AsciiColumnGreysTheFullStopAndShowsDel) {
    mem.assign(16, 0x41);
    mem[0] = 0x2E;
    mem[1] = 0x7F;
    mem[2] = 0x00;
    settle();
    const auto [lo, hi] = ascii_row(0);
    const float glyph = (hi.x - lo.x) / 16;
    const ImU32 disabled = ImGui::GetColorU32(ImGuiCol_TextDisabled);
    const ImU32 text = ImGui::GetColorU32(ImGuiCol_Text);
    auto colors_of_char = [&](int n) {
        const float x0 = lo.x + glyph * static_cast<float>(n) + 0.5f;
        return colors_between(x0, x0 + glyph - 1.0f, lo.y, hi.y);
    };
    auto all_in = [](const std::vector<ImU32>& colors, ImU32 color) {
        return !colors.empty() && std::all_of(colors.begin(), colors.end(), [&](ImU32 c) { return c == color; });
    };
    EXPECT_TRUE(all_in(colors_of_char(0), disabled));  // 0x2E: a full stop, greyed like the others
    EXPECT_TRUE(all_in(colors_of_char(2), disabled));  // 0x00
    EXPECT_TRUE(all_in(colors_of_char(3), text));      // 0x41
    // 0x7F is drawn as itself, a glyph that this font leaves blank: no dot.
    const std::vector<ImU32> del = colors_of_char(1);
    EXPECT_EQ(std::count(del.begin(), del.end(), disabled), 0);
}

TEST_F(EditorTest, HighlightRangeIsOneBandAcrossTheGroupGap) {
    editor.highlight_color = 0x7A123456;
    editor.highlight_min = 4;
    editor.highlight_max = 12;
    settle();
    const MemoryEditorLayout s = layout();
    const auto rects = filled_rects(editor.highlight_color);
    ASSERT_EQ(rects.size(), 8u);
    EXPECT_EQ(rects.front().first.x, cell_pos(4).x);
    for (std::size_t k = 0; k + 1 < rects.size(); ++k) EXPECT_EQ(rects[k].second.x, rects[k + 1].first.x);
    EXPECT_EQ(rects.back().second.x, cell_pos(11).x + 2 * s.glyph_width);
    EXPECT_EQ(rects.front().second.y - rects.front().first.y, s.line_height);
}

TEST_F(EditorTest, PreviewHighlightIsOneBoxPerByte) {
    editor.highlight_color = 0x7A123456;
    editor.show_data_preview = true;
    editor.preview_addr = 0;
    settle();
    const MemoryEditorLayout s = layout();
    const auto rects = filled_rects(editor.highlight_color);
    ASSERT_EQ(rects.size(), 4u);
    for (std::size_t k = 0; k < rects.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(rects[k].first.x, cell_pos(k).x);
        EXPECT_EQ(rects[k].second.x - rects[k].first.x, 2 * s.glyph_width);
    }
}

TEST_F(EditorTest, HighlightFunctionJoinsItsRun) {
    editor.highlight_color = 0x7A123456;
    editor.highlight_fn = [](const ImU8*, std::size_t offset) { return offset == 20 || offset == 21; };
    settle();
    const auto rects = filled_rects(editor.highlight_color);
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_EQ(rects[0].second.x, rects[1].first.x);
}

// The address texts and the goto field write and read a size-width value:
// the text that "%0*IX" writes and "%IX" reads in the Windows C library,
// which the Windows build checks against that library itself. An address
// above 32 bits is shown and taken whole.
TEST(MemoryEditorLayout, AddressesAreSizeWidthAsTheWindowsIModifier) {
    const std::size_t base = std::size_t{0x123456789A} << 8;
    struct Case {
        bool uppercase;
        const char* windows_format;  // of the line label
        const char* label;
        const char* typed;  // into the goto field, then shown there
    };
    const Case cases[] = {
        {true, "%0*IX: ", "123456789A00: ", "123456789A10"},
        {false, "%0*Ix: ", "123456789a00: ", "123456789a10"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
#ifdef _WIN32
        char reference[32];
        _snprintf(reference, sizeof reference, c.windows_format, 12, base);
        EXPECT_STREQ(reference, c.label);
        std::size_t parsed = 0;
        const char* windows_scan = "%IX";  // a literal only pedantic ISO C++ would refuse
        ASSERT_EQ(__ms_sscanf(c.typed, windows_scan, &parsed), 1);
        EXPECT_EQ(parsed, base + 0x10);
#endif
        Harness h;
        h.base = base;
        h.editor.uppercase_hex = c.uppercase;
        h.settle();
        EXPECT_EQ(h.layout().digit_count, 12);
        EXPECT_EQ(h.line_starting(c.label).substr(0, std::strlen(c.label) + 3), std::string(c.label) + " 00");
        h.type_goto(c.typed);
        EXPECT_EQ(h.editor.editing_addr, 0x10u);
        EXPECT_STREQ(h.editor.addr_input_buf, c.typed);
    }
}

TEST_F(EditorTest, HighlightFunctionsOwnColourLiesUnderTheRangeAndThePreview) {
    constexpr ImU32 own = 0x7A00FF00;
    editor.highlight_color = 0x7A123456;
    editor.highlight_fn = [](const ImU8*, std::size_t offset) { return offset == 20 || offset == 21; };
    editor.highlight_color_fn = [&](const ImU8*, std::size_t offset) { return own + static_cast<ImU32>(offset); };
    editor.highlight_min = 21;
    editor.highlight_max = 22;
    settle();
    const auto first = filled_rects(own + 20);
    const auto second = filled_rects(own + 21);
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(first[0].first.x, cell_pos(20).x);
    EXPECT_EQ(first[0].second.x, second[0].first.x) << "still one band";
    const auto range = filled_rects(editor.highlight_color);
    ASSERT_EQ(range.size(), 1u) << "byte 21 is in the range too; byte 20 is not";
    EXPECT_EQ(range[0].first.x, second[0].first.x);
    const ImDrawList* list = grid()->DrawList;
    const auto index_of = [&](ImU32 color) {
        for (int v = 0; v < list->VtxBuffer.Size; ++v)
            if (list->VtxBuffer[v].col == color) return v;
        return -1;
    };
    EXPECT_LT(index_of(own + 21), index_of(editor.highlight_color)) << "the range's box is drawn over it";
}

// --- options line -----------------------------------------------------------

TEST(MemoryEditorGoto, SelectsTheAddressAndCentresItsLine) {
    struct Case {
        std::size_t size;
        std::size_t base;
        const char* typed;
        std::size_t offset;
        const char* shown;
    };
    const Case cases[] = {
        {256, 0, "10", 0x10, "10"},
        {4096, 0, "800", 0x800, "800"},
        {256, 0x1000, "1010", 0x10, "1010"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        Harness h;
        h.mem.assign(c.size, 0);
        h.base = c.base;
        h.editor.highlight_min = 1;
        h.editor.highlight_max = 3;
        h.settle();
        h.type_goto(c.typed);
        EXPECT_EQ(h.editor.editing_addr, c.offset);
        EXPECT_EQ(h.editor.preview_addr, c.offset);
        EXPECT_EQ(h.editor.highlight_min, none);
        EXPECT_EQ(h.editor.highlight_max, none);
        EXPECT_TRUE(h.text_field_active());
        EXPECT_STREQ(h.editor.addr_input_buf, c.shown);

        // The target line's top sits in the middle of the view, or the view
        // stays at the top when the line is too close to it.
        ImGuiWindow* g = h.grid();
        const float line_y = static_cast<float>(c.offset / 16) * h.layout().line_height;
        const float middle = g->InnerRect.GetHeight() / 2;
        if (line_y < middle) {
            EXPECT_EQ(g->Scroll.y, 0.0f);
        } else {
            EXPECT_NEAR(line_y - g->Scroll.y, middle, 1.0f);
        }
    }
}

TEST(MemoryEditorGoto, AddressOutsideTheRangeOnlyClearsTheHighlight) {
    for (const char* typed : {"200", "FF"}) {
        SCOPED_TRACE(typed);
        Harness h;
        h.base = 0x100;
        h.settle();
        h.select(5);
        h.editor.highlight_min = 1;
        h.editor.highlight_max = 3;
        h.type_goto(typed);
        EXPECT_EQ(h.editor.editing_addr, none);  // the byte lost its focus to the goto field
        EXPECT_EQ(h.editor.preview_addr, 5u);
        EXPECT_EQ(h.grid()->Scroll.y, 0.0f);
        EXPECT_EQ(h.editor.highlight_min, none);
        EXPECT_EQ(h.editor.highlight_max, none);
    }
}

TEST_F(EditorTest, ColumnDragChangesTheLayoutAndTheWindowWidth) {
    settle();
    const float before = window()->Size.x;
    ImGuiIO& io = ImGui::GetIO();
    // A right click anywhere in the window opens the options popup.
    io.MousePos = hex_cell(0x30);
    ui.frame();
    io.MouseDown[1] = true;
    ui.frame();
    io.MouseDown[1] = false;
    ui.frame();
    ASSERT_EQ(GImGui->OpenPopupStack.Size, 1);
    ImGuiWindow* popup = GImGui->OpenPopupStack[0].Window;
    ASSERT_NE(popup, nullptr);

    // Ctrl+click turns the column drag into a text field.
    const ImVec2 drag(popup->Pos.x + GImGui->Style.WindowPadding.x + 20,
                      popup->Pos.y + GImGui->Style.WindowPadding.y + 5);
    io.KeyCtrl = true;
    ui.click(drag);
    io.KeyCtrl = false;
    ASSERT_TRUE(text_field_active());
    ui.type("24");
    ui.press(ImGuiKey_Enter);
    EXPECT_EQ(editor.cols, 24);
    EXPECT_TRUE(editor.width_changed);

    ui.frames(2);
    EXPECT_NE(line_starting("18: "), "");
    EXPECT_EQ(line_starting("10: "), "");
    const float expected = layout().window_width;
    EXPECT_EQ(window()->Size.x, expected);
    EXPECT_NE(expected, before);
    ui.frames(3);
    EXPECT_EQ(window()->Size.x, expected);
}

// --- data preview -----------------------------------------------------------

TEST(MemoryEditorPreview, FormatsTheValueAtTheOffset) {
    struct Case {
        std::vector<ImU8> bytes;
        std::size_t offset;
        ImGuiDataType type;
        int endianness;
        const char* dec;
        const char* hex;  // nullptr: the C library's choice
        const char* bin;
    };
    const Case cases[] = {
        {{1, 2, 3, 4}, 0, ImGuiDataType_S32, 0, "67305985", "0x04030201",
         "00000100 00000011 00000010 00000001 "},
        {{1, 2, 3, 4}, 0, ImGuiDataType_S32, 1, "16909060", "0x01020304",
         "00000001 00000010 00000011 00000100 "},
        {{0xFF}, 0, ImGuiDataType_S8, 0, "-1", "0xff", "11111111 "},
        {{0xFF}, 0, ImGuiDataType_U8, 0, "255", "0xff", "11111111 "},
        {{0x00, 0x00, 0x80, 0x3F}, 0, ImGuiDataType_Float, 0, "1.000000", nullptr,
         "00111111 10000000 00000000 00000000 "},
        {{0x00, 0x00, 0xAB, 0xCD}, 2, ImGuiDataType_S32, 0, "52651", "0x0000cdab", "11001101 10101011 "},
        {{0xFE, 0xFF}, 0, ImGuiDataType_S16, 0, "-2", "0xfffe", "11111111 11111110 "},
        {{1, 2, 3, 4, 5, 6, 7, 8}, 0, ImGuiDataType_U64, 1, "72623859790382856", "0x0102030405060708",
         "00000001 00000010 00000011 00000100 00000101 00000110 00000111 00001000 "},
        {{1, 2}, 2, ImGuiDataType_S32, 0, "0", "0x00000000", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << MemoryEditor::data_type_desc(c.type) << " endianness " << c.endianness
                                        << " at " << c.offset);
        MemoryEditor editor;
        editor.preview_endianness = c.endianness;
        char buf[128];
        editor.format_preview(c.offset, c.bytes.data(), c.bytes.size(), c.type, PreviewFormat::dec, buf, sizeof(buf));
        EXPECT_STREQ(buf, c.dec);
        if (c.hex != nullptr) {
            editor.format_preview(c.offset, c.bytes.data(), c.bytes.size(), c.type, PreviewFormat::hex, buf,
                                  sizeof(buf));
            EXPECT_STREQ(buf, c.hex);
        }
        editor.format_preview(c.offset, c.bytes.data(), c.bytes.size(), c.type, PreviewFormat::bin, buf, sizeof(buf));
        EXPECT_STREQ(buf, c.bin);
    }
}

TEST(MemoryEditorPreview, TextIsCutToTheBuffer) {
    MemoryEditor editor;
    const ImU8 bytes[] = {1, 2, 3, 4};
    char buf[6];
    editor.format_preview(0, bytes, sizeof(bytes), ImGuiDataType_S32, PreviewFormat::bin, buf, sizeof(buf));
    EXPECT_STREQ(buf, "00000");
}

TEST_F(EditorTest, PreviewLineShowsTheValueOrNotAvailable) {
    mem[0x20] = 0x2A;
    editor.show_data_preview = true;
    editor.preview_type = ImGuiDataType_U8;
    settle();
    EXPECT_EQ(line_starting("Dec"), "Dec N/A");
    EXPECT_EQ(line_starting("Bin"), "Bin N/A");

    select(0x20);
    EXPECT_EQ(line_starting("Dec"), "Dec 42");
    EXPECT_EQ(line_starting("Hex"), "Hex 0x2a");
    EXPECT_EQ(line_starting("Bin"), "Bin 00101010 ");
}

}  // namespace
