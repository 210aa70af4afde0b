#include "loop/redraw_check.hpp"

#include <cstring>

namespace {

template <class T>
void append(std::vector<std::byte>& out, const T& value) {
    const auto* bytes = reinterpret_cast<const std::byte*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

void append_bytes(std::vector<std::byte>& out, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::byte*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

}  // namespace

bool RedrawCheck::needed(const ImDrawData& data) {
    next_.clear();
    append(next_, data.DisplayPos.x);
    append(next_, data.DisplayPos.y);
    append(next_, data.DisplaySize.x);
    append(next_, data.DisplaySize.y);
    append(next_, data.FramebufferScale.x);
    append(next_, data.FramebufferScale.y);
    append(next_, data.CmdListsCount);
    bool has_callback = false;
    for (int n = 0; n < data.CmdListsCount; ++n) {
        const ImDrawList* list = data.CmdLists[n];
        append(next_, list->VtxBuffer.Size);
        append(next_, list->IdxBuffer.Size);
        append(next_, list->CmdBuffer.Size);
        // ImDrawVert is three packed members and ImDrawIdx an integer: no padding.
        append_bytes(next_, list->VtxBuffer.Data, static_cast<std::size_t>(list->VtxBuffer.size_in_bytes()));
        append_bytes(next_, list->IdxBuffer.Data, static_cast<std::size_t>(list->IdxBuffer.size_in_bytes()));
        for (const ImDrawCmd& cmd : list->CmdBuffer) {
            if (cmd.UserCallback != nullptr) has_callback = true;
            append(next_, cmd.ClipRect.x);
            append(next_, cmd.ClipRect.y);
            append(next_, cmd.ClipRect.z);
            append(next_, cmd.ClipRect.w);
            append(next_, cmd.TextureId);
            append(next_, cmd.VtxOffset);
            append(next_, cmd.IdxOffset);
            append(next_, cmd.ElemCount);
        }
    }

    bool same = valid_ && !has_callback && next_.size() == last_.size() &&
                std::memcmp(next_.data(), last_.data(), next_.size()) == 0;
    if (same) return false;
    last_.swap(next_);
    valid_ = !has_callback;
    return true;
}
