#include "include/imgui_memory_editor.hpp"

#include "imgui_internal.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <type_traits>

namespace {

constexpr std::size_t input_buf_size = 32;     // data_input_buf and addr_input_buf
constexpr std::size_t preview_buf_size = 128;  // one preview row's text
// The next byte's field runs two frames after a commit; one frame to spare.
constexpr int max_handover_frames = 3;

// The value of a hex digit, or -1.
int hex_digit_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_white_space(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The name of the window being drawn in, without its "##" identity part, for
// the one line a refused paste prints.
int window_name_length(const char* name) {
    const char* id = std::strstr(name, "##");
    return static_cast<int>(id != nullptr ? id - name : static_cast<std::ptrdiff_t>(std::strlen(name)));
}

// The byte-order copy for this host, chosen on the first copy_endian.
// Process-wide and unguarded: GUI thread only.
using EndianCopy = void (*)(void* dst, const void* src, std::size_t n, bool big_endian);
EndianCopy endian_copy = nullptr;

void copy_reversed(void* dst, const void* src, std::size_t n) {
    auto* d = static_cast<unsigned char*>(dst);
    const auto* s = static_cast<const unsigned char*>(src);
    for (std::size_t k = 0; k < n; ++k) d[k] = s[n - 1 - k];
}

void copy_on_little_endian_host(void* dst, const void* src, std::size_t n, bool big_endian) {
    if (big_endian) {
        copy_reversed(dst, src, n);
    } else {
        std::memcpy(dst, src, n);
    }
}

void copy_on_big_endian_host(void* dst, const void* src, std::size_t n, bool big_endian) {
    if (big_endian) {
        std::memcpy(dst, src, n);
    } else {
        copy_reversed(dst, src, n);
    }
}

// The Bin row's text: 64 digits, 8 spaces and the terminator. Process-wide and
// unguarded: GUI thread only; valid until the next format_binary.
char out_buf[64 + 8 + 1];
std::size_t out_n = 0;

}  // namespace

ImU8 MemoryEditor::read_byte(const ImU8* bytes, std::size_t offset) const {
    return read_fn ? read_fn(bytes, offset) : bytes[offset];
}

void MemoryEditor::write_byte(ImU8* bytes, std::size_t offset, ImU8 value) const {
    if (write_fn) {
        write_fn(bytes, offset, value);
    } else {
        bytes[offset] = value;
    }
}

void MemoryEditor::compute_layout(MemoryEditorLayout& s, std::size_t size, std::size_t base_address) const {
    s.digit_count = addr_digits;
    if (s.digit_count == 0) {
        for (std::size_t n = base_address + size - 1; n > 0; n >>= 4) ++s.digit_count;
    }
    s.line_height = ImGui::GetTextLineHeight();
    s.glyph_width = ImGui::CalcTextSize("F", nullptr, false, -1.0f).x + 1.0f;
    s.hex_cell_width = static_cast<float>(static_cast<int>(s.glyph_width * 2.5f));
    s.group_gap = static_cast<float>(static_cast<int>(s.hex_cell_width * 0.25f));
    s.hex_start = static_cast<float>(s.digit_count + 2) * s.glyph_width;
    s.hex_end = s.hex_start + s.hex_cell_width * static_cast<float>(cols);
    s.ascii_start = s.hex_end;
    s.ascii_end = s.hex_end;
    if (show_ascii) {
        s.ascii_start = s.hex_end + s.glyph_width * 1.0f;
        if (mid_cols > 0) {
            s.ascii_start += static_cast<float>((cols + mid_cols - 1) / mid_cols) * s.group_gap;
        }
        s.ascii_end = s.ascii_start + static_cast<float>(cols) * s.glyph_width;
    }
    const ImGuiStyle& style = ImGui::GetStyle();
    s.window_width = s.ascii_end + style.ScrollbarSize + style.WindowPadding.x * 2.0f + s.glyph_width;
}

void MemoryEditor::draw_window(const char* title, ImU8* bytes, std::size_t size, std::size_t base_address) {
    MemoryEditorLayout s;
    compute_layout(s, size, base_address);
    // Narrower than the layout is the user's choice; wider shows nothing more.
    ImGui::SetNextWindowSizeConstraints(ImVec2(0.0f, 0.0f), ImVec2(s.window_width, FLT_MAX));

    open = true;
    if (ImGui::Begin(title, &open, ImGuiWindowFlags_NoScrollbar)) {
        if (ImGui::IsWindowHovered(ImGuiHoveredFlags_RootAndChildWindows) && ImGui::IsMouseClicked(1, false)) {
            ImGui::OpenPopup("context");
        }
        draw_contents(bytes, size, base_address);
        if (width_changed) {
            compute_layout(s, size, base_address);
            ImGui::SetWindowSize(ImVec2(s.window_width, ImGui::GetWindowSize().y));
        }
    }
    ImGui::End();
}

struct MemoryEditor::GridPass {
    const MemoryEditorLayout& s;
    ImDrawList* draw_list;
    ImU8* bytes;
    std::size_t size;
    std::size_t base_address;
    std::size_t cols;
    std::size_t visible_start;  // first offset of the visible lines
    std::size_t visible_end;    // end of the visible lines
    std::size_t preview_size;   // bytes of the previewed value, 0 without preview
    ImU32 color_text;
    ImU32 color_disabled;
    const char* format_address;    // line label
    const char* format_data;       // address written into the goto field
    const char* format_byte;       // byte text to edit
    const char* format_byte_cell;  // byte cell of the hex column
    // Where an arrow key or a click on a byte moves the editing position at the
    // end of the draw, or none.
    std::size_t next = none;
    // Bytes committed, by typing or a paste: editing moves on by that many.
    std::size_t advance = 0;
};

namespace {

// The lines on screen, first and end, from the clip rectangle of the window
// being drawn and the y of its first line. The list clipper's first range is
// not always them: while the focused field's line is scrolled out of view, the
// clipper hands that line back as a range of its own.
std::pair<int, int> visible_lines(float lines_top, float line_height, int line_count) {
    const ImDrawList* draw_list = ImGui::GetWindowDrawList();
    const float first = std::floor((draw_list->GetClipRectMin().y - lines_top) / line_height);
    const float end = std::ceil((draw_list->GetClipRectMax().y - lines_top) / line_height);
    const int visible_first = std::clamp(static_cast<int>(first), 0, line_count);
    return {visible_first, std::clamp(static_cast<int>(end), visible_first, line_count)};
}

}  // namespace

float MemoryEditor::footer_height() const {
    const float sep = ImGui::GetStyle().ItemSpacing.y;
    float height = 0.0f;
    if (show_options) height += sep + ImGui::GetFrameHeightWithSpacing() * 1.0f;
    if (show_data_preview) {
        height += sep + ImGui::GetFrameHeightWithSpacing() * 1.0f + ImGui::GetTextLineHeightWithSpacing() * 3.0f;
    }
    return height;
}

void MemoryEditor::draw_contents(ImU8* bytes, std::size_t size, std::size_t base_address) {
    if (cols < 1) cols = 1;
    MemoryEditorLayout s;
    compute_layout(s, size, base_address);

    // The grid fills the window but for the room of the lines under it.
    ImGui::BeginChild("##scrolling", ImVec2(0.0f, -footer_height()), false, ImGuiWindowFlags_NoMove);
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0.0f, 0.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(0.0f, 0.0f));

    const std::size_t ucols = static_cast<std::size_t>(cols);
    // Only the visible lines are laid out: the cost of a frame does not grow
    // with the size.
    const int line_count = static_cast<int>((size + ucols - 1) / ucols);
    const auto [visible_first, visible_end] =
        visible_lines(ImGui::GetCursorScreenPos().y, s.line_height, line_count);
    ImGuiListClipper clipper;
    clipper.Begin(line_count, s.line_height);
    bool more_lines = clipper.Step();

    const ImU32 color_text = ImGui::GetColorU32(ImGuiCol_Text);
    GridPass pass{
        .s = s,
        .draw_list = ImGui::GetWindowDrawList(),
        .bytes = bytes,
        .size = size,
        .base_address = base_address,
        .cols = ucols,
        .visible_start = static_cast<std::size_t>(visible_first) * ucols,
        .visible_end = static_cast<std::size_t>(visible_end) * ucols,
        .preview_size = show_data_preview ? data_type_size(preview_type) : 0,
        .color_text = color_text,
        .color_disabled = grey_out_zeroes ? ImGui::GetColorU32(ImGuiCol_TextDisabled) : color_text,
        .format_address = uppercase_hex ? "%0*zX: " : "%0*zx: ",
        .format_data = uppercase_hex ? "%0*zX" : "%0*zx",
        .format_byte = uppercase_hex ? "%02X" : "%02x",
        .format_byte_cell = uppercase_hex ? "%02X " : "%02x ",
    };

    if (read_only || editing_addr >= size) editing_addr = none;
    if (preview_addr >= size) preview_addr = none;
    keep_handover_digits();

    const std::size_t backup = editing_addr;
    if (editing_addr != none) pass.next = arrow_key_target(size);
    follow_keyboard(pass, backup, pass.next);

    if (show_ascii) {
        const ImVec2 window_pos = ImGui::GetWindowPos();
        const float x = window_pos.x + s.ascii_start - s.glyph_width;
        pass.draw_list->AddLine(ImVec2(x, window_pos.y), ImVec2(x, window_pos.y + 9999.0f),
                                ImGui::GetColorU32(ImGuiCol_Border), 1.0f);
    }

    while (more_lines) {
        for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; ++i) draw_line(pass, i);
        more_lines = clipper.Step();
    }
    clipper.End();
    ImGui::PopStyleVar(2);
    ImGui::EndChild();

    if (pass.advance > 0 && editing_addr < size) {
        editing_addr = preview_addr = editing_addr + std::min(pass.advance, size - editing_addr);
        take_focus = true;
        handover_addr = editing_addr;  // with any digits the committed field did not take
        handover_frames = 0;
    } else if (pass.next != none) {
        editing_addr = preview_addr = pass.next;
    }
    if (handover_addr != editing_addr) end_handover();

    // A preview switched in the popup below shows from the next draw.
    const bool preview_was_shown = show_data_preview;
    if (show_options) {
        ImGui::Separator();
        draw_options_line(s, bytes, size, base_address);
    }
    if (preview_was_shown) {
        ImGui::Separator();
        draw_preview_line(s, bytes, size, base_address);
    }

    // Let the content reach the layout's full width.
    ImGui::SetCursorPosX(s.window_width);
}

void MemoryEditor::keep_handover_digits() {
    if (handover_addr == none) return;
    if (handover_addr != editing_addr || ++handover_frames > max_handover_frames) {
        end_handover();
        return;
    }
    take_typed_digits();
    // So is Enter, which then commits what the field is given.
    if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Enter), false)) handover_enter = true;
}

void MemoryEditor::take_typed_digits() {
    // The old byte's field is gone and the new one does not take characters
    // before it runs, so these would be lost; other characters stay queued.
    ImVector<ImWchar>& queue = ImGui::GetIO().InputQueueCharacters;
    int kept = 0;
    for (const ImWchar c : queue) {
        const bool hex_digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex_digit) {
            queue[kept++] = c;
        } else if (handover_count < max_handover_digits) {
            handover_digits[handover_count++] = static_cast<char>(c);
        }
    }
    queue.resize(kept);
}

void MemoryEditor::end_handover() {
    handover_addr = none;
    handover_count = 0;
    handover_frames = 0;
    handover_enter = false;
}

std::size_t MemoryEditor::arrow_key_target(std::size_t size) {
    const std::size_t ucols = static_cast<std::size_t>(cols);
    auto pressed = [](ImGuiKey key) { return ImGui::IsKeyPressed(ImGui::GetKeyIndex(key), true); };
    std::size_t next = none;
    if (pressed(ImGuiKey_UpArrow) && editing_addr >= ucols) {
        next = editing_addr - ucols;
    } else if (pressed(ImGuiKey_DownArrow) && editing_addr + ucols < size) {
        next = editing_addr + ucols;
    } else if (pressed(ImGuiKey_LeftArrow) && editing_addr > 0) {
        next = editing_addr - 1;
    } else if (pressed(ImGuiKey_RightArrow) && editing_addr < size - 1) {
        next = editing_addr + 1;
    }
    if (next != none) take_focus = true;
    return next;
}

void MemoryEditor::follow_keyboard(const GridPass& pass, std::size_t from, std::size_t to) const {
    const std::size_t ucols = pass.cols;
    if (to == none || to / ucols == from / ucols) return;
    const int offset = static_cast<int>(to / ucols) - static_cast<int>(from / ucols);
    if ((offset < 0 && to < pass.visible_start + 2 * ucols) || (offset > 0 && to > pass.visible_end - 2 * ucols)) {
        ImGui::SetScrollY(ImGui::GetScrollY() + static_cast<float>(offset) * pass.s.line_height);
    }
}

void MemoryEditor::draw_line(GridPass& pass, int line) {
    const MemoryEditorLayout& s = pass.s;
    std::size_t addr = static_cast<std::size_t>(line) * pass.cols;
    ImGui::Text(pass.format_address, s.digit_count, pass.base_address + addr);

    for (int n = 0; n < cols && addr < pass.size; ++n, ++addr) {
        float byte_pos_x = s.hex_start + s.hex_cell_width * static_cast<float>(n);
        if (mid_cols > 0) byte_pos_x += static_cast<float>(n / mid_cols) * s.group_gap;
        ImGui::SameLine(byte_pos_x);

        draw_highlight(pass, addr, n);
        if (addr == editing_addr) {
            draw_editing_cell(pass, addr);
        } else {
            draw_display_cell(pass, addr);
        }
    }

    if (show_ascii) draw_ascii_column(pass, line);
}

void MemoryEditor::draw_highlight(const GridPass& pass, std::size_t addr, int n) const {
    const bool in_range = addr >= highlight_min && addr < highlight_max;
    const bool by_function = highlight_fn && highlight_fn(pass.bytes, addr);
    const bool in_preview = addr >= preview_addr && addr < preview_addr + pass.preview_size;
    if (!in_range && !by_function && !in_preview) return;

    const MemoryEditorLayout& s = pass.s;
    const ImVec2 pos = ImGui::GetCursorScreenPos();
    float width = s.glyph_width * 2.0f;
    // A run from the range or the function stays one band, across the group
    // gap too; the preview's bytes keep separate boxes.
    const bool next_highlighted =
        addr + 1 < pass.size && ((highlight_max != none && addr + 1 < highlight_max) ||
                                 (highlight_fn && highlight_fn(pass.bytes, addr + 1)));
    if (next_highlighted || n + 1 == cols) {
        width = s.hex_cell_width;
        if (mid_cols > 0 && n > 0 && n + 1 < cols && (n + 1) % mid_cols == 0) width += s.group_gap;
    }
    const ImVec2 end(pos.x + width, pos.y + s.line_height);
    if (by_function && highlight_color_fn) {
        // The function's own colour; a range or preview box still shows over it.
        pass.draw_list->AddRectFilled(pos, end, highlight_color_fn(pass.bytes, addr), 0.0f, ImDrawFlags_RoundCornersAll);
        if (!in_range && !in_preview) return;
    }
    pass.draw_list->AddRectFilled(pos, end, highlight_color, 0.0f, ImDrawFlags_RoundCornersAll);
}

void MemoryEditor::draw_display_cell(GridPass& pass, std::size_t addr) {
    const ImU8 b = read_byte(pass.bytes, addr);
    if (show_hexii) {
        if (b >= 32 && b < 128) {
            ImGui::Text(".%c ", b);
        } else if (b == 0xFF && grey_out_zeroes) {
            ImGui::TextDisabled("## ");
        } else if (b == 0x00) {
            ImGui::Text("   ");
        } else {
            ImGui::Text(pass.format_byte_cell, b);
        }
    } else if (b == 0 && grey_out_zeroes) {
        ImGui::TextDisabled("00 ");
    } else {
        ImGui::Text(pass.format_byte_cell, b);
    }
    // The selection moves at the end of the draw, after the whole grid. The
    // field of the byte being edited may still be active here: it lets go
    // of a click elsewhere when it sees it, except in the frame in which it
    // takes the focus, which comes a frame or two after each commit.
    if (!read_only && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenBlockedByActiveItem) &&
        ImGui::IsMouseClicked(0, false)) {
        take_focus = true;
        pass.next = addr;
    }
}

void MemoryEditor::draw_editing_cell(GridPass& pass, std::size_t addr) {
    // Each byte has its own field identity, so the field's state does not
    // carry over to the next byte.
    ImGui::PushID(reinterpret_cast<void*>(addr));
    // A click elsewhere before the field has the focus ends editing, as it
    // does once the field has it: the field taking the focus afterwards would
    // take it from what was clicked (and close a menu that the click opened).
    // A click on a byte drawn after this one moves the selection there.
    const ImVec2 cell_min = ImGui::GetCursorScreenPos();
    const ImVec2 cell_max(cell_min.x + pass.s.glyph_width * 2.0f, cell_min.y + pass.s.line_height);
    if (pass.next == none && ImGui::IsMouseClicked(0, false) && !ImGui::IsMouseHoveringRect(cell_min, cell_max) &&
        ImGui::GetActiveID() != ImGui::GetID("##data")) {
        editing_addr = none;
        take_focus = false;
        ImGui::PopID();
        draw_display_cell(pass, addr);
        return;
    }
    // SetKeyboardFocusHere aims at the next text field drawn in this frame,
    // which is this byte's. When an arrow key or a click is moving the
    // position away, this byte must leave the pending focus to the byte it
    // moves to.
    const bool focus_here = take_focus && pass.next == none;
    // A paste is the editor's own: the field would drop what is not a hex
    // digit without a word and read all the digits as one number.
    const bool pasting = pass.next == none && (focus_here || ImGui::GetActiveID() == ImGui::GetID("##data")) &&
                         paste_pressed();
    if (focus_here) {
        ImGui::SetKeyboardFocusHere(0);
        ImGui::CaptureKeyboardFromApp(true);
        std::snprintf(addr_input_buf, input_buf_size, pass.format_data, pass.s.digit_count,
                      pass.base_address + addr);
        std::snprintf(data_input_buf, input_buf_size, pass.format_byte, read_byte(pass.bytes, addr));
    }
    ImGui::PushItemWidth(pass.s.glyph_width * 2.0f);
    DataInputState user_data;
    user_data.cursor_pos = -1;
    std::snprintf(user_data.byte_text, sizeof(user_data.byte_text), pass.format_byte, read_byte(pass.bytes, addr));
    ImGuiInputTextFlags flags = ImGuiInputTextFlags_CharsHexadecimal | ImGuiInputTextFlags_EnterReturnsTrue |
                                ImGuiInputTextFlags_AutoSelectAll | ImGuiInputTextFlags_NoHorizontalScroll |
                                ImGuiInputTextFlags_AlwaysOverwrite | ImGuiInputTextFlags_CallbackAlways;
    if (pasting) {
        // The field must not paste too; hex digits typed in the same frame
        // go on after the pasted bytes.
        flags |= ImGuiInputTextFlags_ReadOnly;
        pass.advance = paste_hex(pass, addr);
        if (pass.advance > 0) {
            end_handover();
            take_typed_digits();
        }
    }
    const bool handing_over = handover_addr == addr;
    if (handing_over) {
        user_data.pending = handover_digits;
        user_data.pending_count = handover_count;
    }
    const bool entered =
        ImGui::InputText("##data", data_input_buf, input_buf_size, flags, data_input_callback, &user_data);
    // Text typed or pasted this frame, or kept from the hand-over.
    const bool put_in = ImGui::IsItemEdited() || user_data.delivered > 0;
    if (!entered && !take_focus && !ImGui::IsItemActive()) editing_addr = pass.next = none;
    if (focus_here) take_focus = false;
    ImGui::PopItemWidth();
    bool enter_kept = false;
    if (handing_over && user_data.called) {
        // The field runs: the hand-over is over.
        enter_kept = handover_enter;
        handover_enter = false;
        handover_count -= user_data.delivered;
        std::memmove(handover_digits, handover_digits + user_data.delivered, static_cast<std::size_t>(handover_count));
        handover_addr = none;
    }
    // Enter commits what the field holds. So does a second digit put in,
    // which brings the cursor to 2; a cursor moved there without new text
    // (the Right or End key, a click in the field) commits nothing. Moving
    // away discards what was typed.
    const bool enter = entered || enter_kept;
    const bool commit = !pasting && pass.next == none && (enter || (user_data.cursor_pos >= 2 && put_in));
    if (commit) pass.advance = commit_digits(pass, addr, enter);
    ImGui::PopID();
}

bool MemoryEditor::paste_pressed() {
    const ImGuiIO& io = ImGui::GetIO();
    const bool ctrl_v = io.KeyCtrl && !io.KeyAlt && !io.KeyShift &&
                        ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_V), false);
    const bool shift_insert = io.KeyShift && !io.KeyCtrl && !io.KeyAlt &&
                              ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Insert), false);
    return ctrl_v || shift_insert;
}

std::size_t MemoryEditor::commit_digits(GridPass& pass, std::size_t addr, bool entered) {
    // The field holds hex digits only: the ones typed, or the byte's own two.
    const char* text = data_input_buf;
    std::size_t len = 0;
    while (len < input_buf_size && hex_digit_value(static_cast<unsigned char>(text[len])) >= 0) ++len;
    // Enter on an empty field writes nothing and moves on.
    if (len == 0) return entered ? 1 : 0;
    // Every pair goes to the next byte in order; the memory ends the typing.
    std::size_t written = 0;
    std::size_t k = 0;
    for (; k + 1 < len && addr + written < pass.size; k += 2, ++written) {
        const int value = hex_digit_value(static_cast<unsigned char>(text[k])) * 16 +
                          hex_digit_value(static_cast<unsigned char>(text[k + 1]));
        write_byte(pass.bytes, addr + written, static_cast<ImU8>(value));
    }
    if (k + 1 == len && addr + written < pass.size) {
        if (entered) {
            // One digit and Enter: a value below 0x10.
            write_byte(pass.bytes, addr + written, static_cast<ImU8>(hex_digit_value(static_cast<unsigned char>(text[k]))));
            ++written;
        } else if (written > 0) {
            // A digit short of a byte: the next byte's field starts with it.
            const int room = max_handover_digits - 1;
            handover_count = std::min(handover_count, room);
            std::memmove(handover_digits + 1, handover_digits, static_cast<std::size_t>(handover_count));
            handover_digits[0] = text[k];
            ++handover_count;
        }
    }
    return written;
}

std::size_t MemoryEditor::paste_hex(GridPass& pass, std::size_t addr) {
    const char* clipboard = ImGui::GetClipboardText();
    const auto* text = reinterpret_cast<const unsigned char*>(clipboard != nullptr ? clipboard : "");
    const char* window = ImGui::GetCurrentWindow()->RootWindow->Name;
    std::size_t digits = 0;
    for (std::size_t i = 0; text[i] != '\0'; ++i) {
        if (hex_digit_value(text[i]) >= 0) {
            ++digits;
        } else if (!is_white_space(text[i])) {
            std::fprintf(stderr,
                         "%.*s: paste not applied: character %zu of the clipboard text is not a hex digit or white "
                         "space\n",
                         window_name_length(window), window, i + 1);
            std::fflush(stderr);
            return 0;
        }
    }
    if (digits == 0 || digits % 2 != 0) {
        std::fprintf(stderr, "%.*s: paste not applied: the clipboard text holds %zu hex digits, not whole bytes\n",
                     window_name_length(window), window, digits);
        std::fflush(stderr);
        return 0;
    }
    std::size_t written = 0;
    int high = -1;
    for (std::size_t i = 0; text[i] != '\0' && addr + written < pass.size; ++i) {
        const int value = hex_digit_value(text[i]);
        if (value < 0) continue;
        if (high < 0) {
            high = value;
        } else {
            write_byte(pass.bytes, addr + written, static_cast<ImU8>(high * 16 + value));
            ++written;
            high = -1;
        }
    }
    return written;
}

void MemoryEditor::draw_ascii_column(GridPass& pass, int line) {
    // One invisible button per line takes the clicks; the characters are
    // painted straight into the draw list.
    const MemoryEditorLayout& s = pass.s;
    ImGui::SameLine(s.ascii_start);
    ImVec2 pos = ImGui::GetCursorScreenPos();
    std::size_t addr = static_cast<std::size_t>(line) * pass.cols;
    ImGui::PushID(line);
    if (ImGui::InvisibleButton("ascii", ImVec2(s.ascii_end - s.ascii_start, s.line_height))) {
        editing_addr = preview_addr =
            addr + static_cast<std::size_t>((ImGui::GetIO().MousePos.x - pos.x) / s.glyph_width);
        take_focus = true;
    }
    ImGui::PopID();
    for (int n = 0; n < cols && addr < pass.size; ++n, ++addr) {
        if (addr == editing_addr) {
            const ImVec2 end(pos.x + s.glyph_width, pos.y + s.line_height);
            pass.draw_list->AddRectFilled(pos, end, ImGui::GetColorU32(ImGuiCol_FrameBg), 0.0f,
                                          ImDrawFlags_RoundCornersAll);
            pass.draw_list->AddRectFilled(pos, end, ImGui::GetColorU32(ImGuiCol_TextSelectedBg), 0.0f,
                                          ImDrawFlags_RoundCornersAll);
        }
        const ImU8 c = read_byte(pass.bytes, addr);
        const char display_c = (c < 32 || c >= 128) ? '.' : static_cast<char>(c);
        pass.draw_list->AddText(pos, display_c == '.' ? pass.color_disabled : pass.color_text, &display_c,
                                &display_c + 1);
        pos.x += s.glyph_width;
    }
}

int MemoryEditor::data_input_callback(ImGuiInputTextCallbackData* data) {
    auto* user_data = static_cast<DataInputState*>(data->UserData);
    user_data->called = true;
    if (!data->HasSelection()) user_data->cursor_pos = data->CursorPos;
    if (data->SelectionStart == 0 && data->SelectionEnd == data->BufTextLen) {
        // Nothing typed yet: show the byte's two digits, selected, so that the
        // first digit typed replaces them.
        data->DeleteChars(0, data->BufTextLen);
        data->InsertChars(0, user_data->byte_text);
        data->SelectionStart = 0;
        data->SelectionEnd = 2;
        data->CursorPos = 2;
    }
    if (user_data->pending_count > 0) {
        // Digits typed before this field had the focus, as if typed into it.
        const int n = user_data->pending_count;
        data->DeleteChars(0, data->BufTextLen);
        data->InsertChars(0, user_data->pending, user_data->pending + n);
        data->SelectionStart = data->SelectionEnd = data->CursorPos = n;
        user_data->cursor_pos = n;
        user_data->delivered = n;
    }
    return 0;
}

void MemoryEditor::draw_options_line(const MemoryEditorLayout& s, ImU8* bytes, std::size_t size,
                                     std::size_t base_address) {
    (void)bytes;
    const ImGuiStyle& style = ImGui::GetStyle();
    const char* format_range = uppercase_hex ? "Range %0*zX..%0*zX" : "Range %0*zx..%0*zx";

    if (ImGui::Button("Options")) ImGui::OpenPopup("context");
    if (ImGui::BeginPopup("context")) {
        ImGui::PushItemWidth(56.0f);
        if (ImGui::DragInt("##cols", &cols, 0.2f, 4, 32, "%d cols")) {
            width_changed = true;
            if (cols < 1) cols = 1;
        }
        ImGui::PopItemWidth();
        ImGui::Checkbox("Show Data Preview", &show_data_preview);
        ImGui::Checkbox("Show HexII", &show_hexii);
        if (ImGui::Checkbox("Show Ascii", &show_ascii)) width_changed = true;
        ImGui::Checkbox("Grey out zeroes", &grey_out_zeroes);
        ImGui::Checkbox("Uppercase Hex", &uppercase_hex);
        ImGui::EndPopup();
    }

    ImGui::SameLine();
    ImGui::Text(format_range, s.digit_count, base_address, s.digit_count, base_address + size - 1);
    ImGui::SameLine();
    ImGui::PushItemWidth(static_cast<float>(s.digit_count + 1) * s.glyph_width + style.FramePadding.x * 2.0f);
    if (ImGui::InputText("##addr", addr_input_buf, input_buf_size,
                         ImGuiInputTextFlags_CharsHexadecimal | ImGuiInputTextFlags_EnterReturnsTrue)) {
        std::size_t goto_addr = 0;
        if (std::sscanf(addr_input_buf, "%zX", &goto_addr) == 1) {
            goto_offset = goto_addr - base_address;
            highlight_min = highlight_max = none;
        }
    }
    ImGui::PopItemWidth();

    if (goto_offset != none) {
        if (goto_offset < size) {
            // Bring the target line to the middle of the grid's view.
            ImGui::BeginChild("##scrolling");
            ImGui::SetScrollFromPosY(ImGui::GetCursorStartPos().y +
                                         static_cast<float>(goto_offset / static_cast<std::size_t>(cols)) *
                                             ImGui::GetTextLineHeight(),
                                     0.5f);
            ImGui::EndChild();
            editing_addr = preview_addr = goto_offset;
            take_focus = true;
        }
        goto_offset = none;
    }
}

void MemoryEditor::draw_preview_line(const MemoryEditorLayout& s, ImU8* bytes, std::size_t size,
                                     std::size_t base_address) {
    (void)base_address;
    const ImGuiStyle& style = ImGui::GetStyle();
    ImGui::AlignTextToFramePadding();
    ImGui::Text("Preview as:");
    ImGui::SameLine();
    ImGui::PushItemWidth(s.glyph_width * 10.0f + style.FramePadding.x * 2.0f + style.ItemInnerSpacing.x);
    if (ImGui::BeginCombo("##combo_type", data_type_desc(preview_type), ImGuiComboFlags_HeightLargest)) {
        for (int n = 0; n < ImGuiDataType_COUNT; ++n) {
            if (ImGui::Selectable(data_type_desc(n), preview_type == n)) preview_type = n;
        }
        ImGui::EndCombo();
    }
    ImGui::PopItemWidth();
    ImGui::SameLine();
    ImGui::PushItemWidth(s.glyph_width * 6.0f + style.FramePadding.x * 2.0f + style.ItemInnerSpacing.x);
    ImGui::Combo("##combo_endianess", &preview_endianness, "LE\0BE\0\0", -1);
    ImGui::PopItemWidth();

    char buf[preview_buf_size] = "";
    const float x = s.glyph_width * 6.0f;
    const bool has_value = preview_addr != none;
    struct Row {
        const char* label;
        PreviewFormat format;
    };
    constexpr Row rows[] = {{"Dec", PreviewFormat::dec}, {"Hex", PreviewFormat::hex}, {"Bin", PreviewFormat::bin}};
    for (const Row& row : rows) {
        if (has_value) format_preview(preview_addr, bytes, size, preview_type, row.format, buf, sizeof(buf));
        ImGui::Text("%s", row.label);
        ImGui::SameLine(x);
        ImGui::TextUnformatted(has_value ? buf : "N/A");
    }
}

const char* MemoryEditor::data_type_desc(ImGuiDataType data_type) {
    static const char* const descs[] = {"Int8",  "Uint8",  "Int16", "Uint16", "Int32",
                                        "Uint32", "Int64", "Uint64", "Float", "Double"};
    static_assert(sizeof(descs) / sizeof(descs[0]) == ImGuiDataType_COUNT);
    IM_ASSERT(data_type >= 0 && data_type < ImGuiDataType_COUNT);
    return descs[data_type];
}

std::size_t MemoryEditor::data_type_size(ImGuiDataType data_type) {
    static const std::size_t sizes[] = {1, 1, 2, 2, 4, 4, 8, 8, sizeof(float), sizeof(double)};
    static_assert(sizeof(sizes) / sizeof(sizes[0]) == ImGuiDataType_COUNT);
    IM_ASSERT(data_type >= 0 && data_type < ImGuiDataType_COUNT);
    return sizes[data_type];
}

void MemoryEditor::copy_endian(void* dst, const void* src, std::size_t n) const {
    if (endian_copy == nullptr) {
        const std::uint16_t x = 1;
        char c[2];
        std::memcpy(c, &x, sizeof(c));
        endian_copy = c[0] != 0 ? copy_on_little_endian_host : copy_on_big_endian_host;
    }
    endian_copy(dst, src, n, preview_endianness != 0);
}

const char* MemoryEditor::format_binary(const ImU8* buf, int width) {
    IM_ASSERT(width <= 64);
    out_n = 0;
    for (int j = width / 8 - 1; j >= 0; --j) {
        for (int bit = 7; bit >= 0; --bit) out_buf[out_n++] = (buf[j] & (1u << bit)) != 0 ? '1' : '0';
        out_buf[out_n++] = ' ';
    }
    IM_ASSERT(out_n < sizeof(out_buf));
    out_buf[out_n] = '\0';
    return out_buf;
}

namespace {

// The Dec or Hex text of a value of type T built from the first count bytes of
// buf (the rest zero) in the editor's byte order. Integers show in decimal and
// as "0x" with two digits per byte; floating point as "%f" and "%a".
template <typename T>
void format_value(const MemoryEditor& editor, const ImU8* buf, std::size_t count, PreviewFormat format, char* out,
                  std::size_t out_size) {
    T value{};
    editor.copy_endian(&value, buf, count);
    if constexpr (std::is_floating_point_v<T>) {
        std::snprintf(out, out_size, format == PreviewFormat::dec ? "%f" : "%a", static_cast<double>(value));
    } else if (format == PreviewFormat::dec) {
        if constexpr (std::is_signed_v<T>) {
            std::snprintf(out, out_size, "%lld", static_cast<long long>(value));
        } else {
            std::snprintf(out, out_size, "%llu", static_cast<unsigned long long>(value));
        }
    } else {
        const auto bits = static_cast<unsigned long long>(static_cast<std::make_unsigned_t<T>>(value));
        std::snprintf(out, out_size, "0x%0*llx", static_cast<int>(sizeof(T) * 2), bits);
    }
}

using ValueFormatter = void (*)(const MemoryEditor&, const ImU8*, std::size_t, PreviewFormat, char*, std::size_t);

// Indexed by ImGuiDataType.
constexpr ValueFormatter value_formatters[] = {
    format_value<std::int8_t>,  format_value<std::uint8_t>, format_value<std::int16_t>, format_value<std::uint16_t>,
    format_value<std::int32_t>, format_value<std::uint32_t>, format_value<std::int64_t>, format_value<std::uint64_t>,
    format_value<float>,        format_value<double>,
};
static_assert(sizeof(value_formatters) / sizeof(value_formatters[0]) == ImGuiDataType_COUNT);

}  // namespace

void MemoryEditor::format_preview(std::size_t addr, const ImU8* bytes, std::size_t size, ImGuiDataType data_type,
                                  PreviewFormat format, char* out, std::size_t out_size) const {
    std::size_t count = data_type_size(data_type);
    if (addr >= size) {
        count = 0;
    } else if (count > size - addr) {
        count = size - addr;
    }
    ImU8 buf[8] = {};
    if (read_fn) {
        for (std::size_t k = 0; k < count; ++k) buf[k] = read_fn(bytes, addr + k);
    } else if (count > 0) {
        std::memcpy(buf, bytes + addr, count);
    }

    if (format == PreviewFormat::bin) {
        ImU8 binbuf[8] = {};
        copy_endian(binbuf, buf, count);
        std::snprintf(out, out_size, "%s", format_binary(binbuf, static_cast<int>(count) * 8));
        return;
    }

    out[0] = '\0';
    IM_ASSERT(data_type >= 0 && data_type < ImGuiDataType_COUNT);
    value_formatters[data_type](*this, buf, count, format, out, out_size);
}
