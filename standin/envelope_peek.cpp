#include "standin/envelope_peek.hpp"

#include <cstring>
#include <string_view>

#include "messaging/message.hpp"
#include "messaging/wire_names.hpp"

namespace {

// Walks UBJSON (plain and optimised containers) without keeping any value.
// It takes a strict subset of what decode() takes: what the library's encoder
// writes, and nothing decode() could refuse. No-op markers, high-precision
// numbers and negative lengths end the walk (ok = false), and so does any
// read past the end; the caller then decodes the body as usual.
class Walker {
public:
    Walker(const std::uint8_t* body, std::size_t length) : p_(body), end_(body + length) {}

    bool at_end() const { return p_ == end_; }
    bool ok() const { return ok_; }

    std::optional<EnvelopeHeader> top_object() {
        if (next_marker() != '{' || !count_value()) return std::nullopt;
        EnvelopeHeader header;
        bool walked = container('}', 1, [&](std::size_t, int type) {
            std::string_view key;
            if (!string_body(&key)) return false;
            std::optional<std::string>* wanted = nullptr;
            if (key == wire::key_message_type) wanted = &header.message_type;
            else if (key == wire::key_message_sub_type) wanted = &header.message_sub_type;
            else if (key == wire::key_destination) wanted = &header.destination;
            int marker = type != 0 ? type : next_marker();
            if (marker < 0) return false;
            if (wanted && marker == 'S') {
                std::string_view text;
                if (!string_body(&text)) return false;
                *wanted = std::string(text);
                return true;
            }
            if (wanted) wanted->reset();
            return value(marker, 1);
        });
        if (!walked || !ok_ || !at_end()) return std::nullopt;
        return header;
    }

private:
    bool fail() {
        ok_ = false;
        return false;
    }

    // The next marker; -1 at the end.
    int next_marker() {
        if (p_ == end_) {
            fail();
            return -1;
        }
        return *p_++;
    }

    bool skip(std::size_t n) {
        if (static_cast<std::size_t>(end_ - p_) < n) return fail();
        p_ += n;
        return true;
    }

    // A non-negative integer written as a typed number (lengths and counts).
    bool length(std::size_t* out) {
        int marker = next_marker();
        std::uint64_t v = 0;
        int bytes = marker == 'i' || marker == 'U' ? 1 : marker == 'I' ? 2 : marker == 'l' ? 4 : marker == 'L' ? 8 : 0;
        if (bytes == 0 || static_cast<std::size_t>(end_ - p_) < static_cast<std::size_t>(bytes)) return fail();
        for (int i = 0; i < bytes; ++i) v = (v << 8) | *p_++;
        bool negative = marker != 'U' && (v >> (bytes * 8 - 1)) & 1;
        if (negative) return fail();
        *out = static_cast<std::size_t>(v);
        return true;
    }

    // A string's length and bytes (after its 'S' marker, or a key).
    bool string_body(std::string_view* text) {
        std::size_t n = 0;
        if (!length(&n) || static_cast<std::size_t>(end_ - p_) < n) return fail();
        *text = std::string_view(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return true;
    }

    bool count_value() {
        if (++values_ > decode_max_values) return fail();
        return true;
    }

    // One value whose marker has been read.
    bool value(int marker, int depth) {
        if (!count_value()) return false;
        switch (marker) {
            case 'Z': case 'T': case 'F': return true;
            case 'i': case 'U': return skip(1);
            case 'C':  // a character, ASCII only
                if (p_ == end_ || *p_ > 0x7F) return fail();
                ++p_;
                return true;
            case 'I': return skip(2);
            case 'l': case 'd': return skip(4);
            case 'L': case 'D': return skip(8);
            case 'S': {
                std::string_view ignored;
                return string_body(&ignored);
            }
            case '[':
                return container(']', depth + 1, [&](std::size_t, int type) {
                    int m = type != 0 ? type : next_marker();
                    return m >= 0 && value(m, depth + 1);
                });
            case '{':
                return container('}', depth + 1, [&](std::size_t, int type) {
                    std::string_view key;
                    if (!string_body(&key)) return false;
                    int m = type != 0 ? type : next_marker();
                    return m >= 0 && value(m, depth + 1);
                });
            default: return fail();
        }
    }

    // The members of an array or object after its opening marker: an
    // optional '$' type (which needs a '#' count), an optional '#' count, or
    // members up to the closing marker. member(i, type) reads one member;
    // type is 0 when each member carries its own marker.
    template <class Member>
    bool container(char closing, int depth, Member member) {
        if (depth > decode_max_depth) return fail();
        int type = 0;
        if (p_ < end_ && *p_ == '$') {
            ++p_;
            if (p_ == end_) return fail();
            type = *p_++;
            if (type == 'N' || type == ']' || type == '}' || p_ == end_ || *p_ != '#') return fail();
        }
        if (p_ < end_ && *p_ == '#') {
            ++p_;
            std::size_t count = 0;
            if (!length(&count) || count > decode_max_count) return fail();
            for (std::size_t i = 0; i < count; ++i) {
                if (!member(i, type)) return fail();
            }
            return true;
        }
        for (std::size_t i = 0;; ++i) {
            // Runs of small integers (a ping's payload) in one tight step.
            if (closing == ']') {
                while (end_ - p_ >= 2 && *p_ == 'i') {
                    if (!count_value()) return false;
                    p_ += 2;
                }
            }
            if (p_ == end_) return fail();
            if (*p_ == closing) {
                ++p_;
                return true;
            }
            if (!member(i, 0)) return fail();
        }
    }

    const std::uint8_t* p_;
    const std::uint8_t* end_;
    std::size_t values_ = 0;
    bool ok_ = true;
};

}  // namespace

std::optional<EnvelopeHeader> peek_envelope(const std::uint8_t* body, std::size_t length) {
    if (body == nullptr || length == 0) return std::nullopt;
    Walker walker(body, length);
    return walker.top_object();
}
