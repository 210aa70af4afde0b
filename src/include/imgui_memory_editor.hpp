#pragma once
// MemoryEditor: an immediate-mode hex editor over bytes that its caller owns.
//
// Every draw shows an address column, a hex column of `cols` bytes per line
// split into groups, an optional ASCII column, and under the grid an options
// line (range, goto field, options popup) and an optional data preview line.
// The editor keeps no copy of the memory: it reads and writes the caller's
// bytes during the draw, directly or through the hooks below.
//
// Threads: every operation runs on the thread that runs the Dear ImGui frame,
// between NewFrame and Render, with Dear ImGui's current context. Nothing is
// locked. The Bin row's text buffer and the byte-order copy routine are
// process-wide, so the widget as a whole is single-threaded.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "imgui.h"

// Geometry of one draw, recomputed at its start. Every x is an offset from the
// left edge of the window that holds the grid.
struct MemoryEditorLayout {
    int digit_count = 0;       // hex digits of every shown address
    float line_height = 0.0f;
    float glyph_width = 0.0f;  // width of "F" plus one pixel; the font is monospaced
    float hex_cell_width = 0.0f;
    float group_gap = 0.0f;
    float hex_start = 0.0f;
    float hex_end = 0.0f;
    float ascii_start = 0.0f;
    float ascii_end = 0.0f;
    float window_width = 0.0f;  // the width that shows the whole layout
};

// User data of the byte-editing text field.
struct DataInputState {
    char byte_text[3] = {};  // the byte being edited as two hex digits
    int cursor_pos = -1;     // the field's cursor, -1 until the callback ran
    // Digits typed while the keyboard focus was on its way to this field,
    // which the callback puts in; how many it put in; whether it ran.
    const char* pending = nullptr;
    int pending_count = 0;
    int delivered = 0;
    bool called = false;
};

// Display mode of one preview row.
enum class PreviewFormat { bin = 0, dec = 1, hex = 2 };

struct MemoryEditor {
    // Every position field holds an offset from the first byte given to the
    // draw; this value means "none".
    static constexpr std::size_t none = static_cast<std::size_t>(-1);

    using ReadFn = std::function<ImU8(const ImU8* bytes, std::size_t offset)>;
    using WriteFn = std::function<void(ImU8* bytes, std::size_t offset, ImU8 value)>;
    using HighlightFn = std::function<bool(const ImU8* bytes, std::size_t offset)>;
    using HighlightColorFn = std::function<ImU32(const ImU8* bytes, std::size_t offset)>;

    // Options, set by the owner between frames (some also by the popup).
    bool open = true;            // the window's close button; reset by every draw_window
    bool read_only = false;      // no editing: hex cells cannot be selected
    int cols = 16;               // bytes per line, at least 1
    bool show_options = true;    // options line under the grid
    bool show_data_preview = false;
    bool show_hexii = false;
    bool show_ascii = true;
    bool grey_out_zeroes = true;
    bool uppercase_hex = true;
    int mid_cols = 8;            // bytes per group; 0 or less: no gaps
    int addr_digits = 0;         // 0: enough digits for the highest address; below 32
    ImU32 highlight_color = 0x32FFFFFF;
    ReadFn read_fn;              // none: the byte is read in place
    WriteFn write_fn;            // none: the byte is stored in place
    HighlightFn highlight_fn;    // none: no byte is highlighted by function
    // The fill of a byte that highlight_fn highlights, drawn under the range's
    // and the preview's; none: highlight_color, as theirs.
    HighlightColorFn highlight_color_fn;

    // Editing state.
    bool width_changed = false;  // the popup changed the width; never cleared
    std::size_t preview_addr = none;
    std::size_t editing_addr = none;
    bool take_focus = false;     // the byte field takes keyboard focus on its next draw
    char data_input_buf[32] = {};
    char addr_input_buf[32] = {};
    std::size_t goto_offset = none;
    std::size_t highlight_min = none;
    std::size_t highlight_max = none;  // exclusive
    int preview_endianness = 0;        // 0 little-endian, otherwise big-endian
    int preview_type = ImGuiDataType_S32;

    // Typing: every two hex digits put into the byte's field, in one frame or
    // over several, write a byte, and the digits after them go on to the
    // bytes after it. The committed byte hands the keyboard focus to the
    // next byte's field, which takes it two frames later. Hex digits typed
    // meanwhile, a digit left over from the committed field, and Enter, are
    // kept here and put into that field when it first runs. handover_addr is the
    // byte they are for, or none. A field that is not drawn (its line off
    // screen) never runs: the hand-over then ends after a few frames, so that
    // it takes no digits meant for other fields.
    static constexpr int max_handover_digits = 31;  // what the byte's field holds
    std::size_t handover_addr = none;
    char handover_digits[max_handover_digits] = {};
    int handover_count = 0;
    int handover_frames = 0;      // frames the hand-over has lasted
    bool handover_enter = false;  // Enter was pressed during the hand-over

    // Draws the whole editor in a window of its own titled `title`.
    void draw_window(const char* title, ImU8* bytes, std::size_t size, std::size_t base_address = 0);
    // Draws the grid, the options line and the preview line into the window
    // that the caller has begun.
    void draw_contents(ImU8* bytes, std::size_t size, std::size_t base_address = 0);
    void compute_layout(MemoryEditorLayout& s, std::size_t size, std::size_t base_address) const;

    void draw_options_line(const MemoryEditorLayout& s, ImU8* bytes, std::size_t size, std::size_t base_address);
    void draw_preview_line(const MemoryEditorLayout& s, ImU8* bytes, std::size_t size, std::size_t base_address);

    // Writes the preview text of the value at `addr` into `out` (always
    // terminated, cut to `out_size`). Bytes past `size` are taken as zero.
    void format_preview(std::size_t addr, const ImU8* bytes, std::size_t size, ImGuiDataType data_type,
                        PreviewFormat format, char* out, std::size_t out_size) const;
    // Copies n bytes into a value buffer in the host's order for the byte
    // order that `preview_endianness` chooses.
    void copy_endian(void* dst, const void* src, std::size_t n) const;

    // The Text callback of the byte field; UserData is a DataInputState.
    static int data_input_callback(ImGuiInputTextCallbackData* data);
    // Label and size of a data type from 0 to ImGuiDataType_COUNT - 1.
    static const char* data_type_desc(ImGuiDataType data_type);
    static std::size_t data_type_size(ImGuiDataType data_type);
    // The bits of `width` / 8 bytes, highest index first, as groups of eight
    // digits each followed by a space. The text lives in one shared buffer
    // that the next call overwrites.
    static const char* format_binary(const ImU8* buf, int width);

private:
    // What one draw of the grid hands to the functions that draw its parts.
    struct GridPass;

    ImU8 read_byte(const ImU8* bytes, std::size_t offset) const;
    void write_byte(ImU8* bytes, std::size_t offset, ImU8 value) const;

    // Room kept under the grid for the options and preview lines.
    float footer_height() const;

    // Moves the hex digits typed this frame into handover_digits while a
    // hand-over to the byte being edited is under way; ends a hand-over that
    // no longer matches the editing position.
    void keep_handover_digits();
    // Moves the hex digits typed this frame into handover_digits.
    void take_typed_digits();
    void end_handover();

    // Ctrl+V or Shift+Insert was pressed this frame.
    static bool paste_pressed();
    // Writes the pairs of digits in the byte field from addr on (on Enter, a
    // last single digit too) and keeps a digit left over for the next byte;
    // the number of bytes to move on.
    std::size_t commit_digits(GridPass& pass, std::size_t addr, bool entered);
    // Writes the hex text on the clipboard from addr on, up to the end of
    // the memory; the number of bytes written. Text that is not pairs of hex
    // digits, with white space anywhere, writes nothing and prints why on
    // standard error.
    std::size_t paste_hex(GridPass& pass, std::size_t addr);

    // The byte an arrow key pressed this frame moves to, or none.
    std::size_t arrow_key_target(std::size_t size);
    // Scrolls the grid by the lines moved when the keyboard takes the editing
    // position near the edge of the visible lines.
    void follow_keyboard(const GridPass& pass, std::size_t from, std::size_t to) const;

    void draw_line(GridPass& pass, int line);
    void draw_highlight(const GridPass& pass, std::size_t addr, int n) const;
    void draw_display_cell(GridPass& pass, std::size_t addr);
    void draw_editing_cell(GridPass& pass, std::size_t addr);
    void draw_ascii_column(GridPass& pass, int line);
};
