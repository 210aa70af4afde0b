#include "messaging/message.hpp"

#include <iostream>

#include "messaging/wire_names.hpp"

Message make_envelope(MessageKind kind, std::string sub_type, const Message& data,
                      std::string origin, std::string destination) {
    Message pl = Message::object();
    pl[wire::key_message_type] = kind == MessageKind::command ? wire::type_command : wire::type_event;
    pl[wire::key_message_sub_type] = std::move(sub_type);
    pl[wire::key_origin] = std::move(origin);
    pl[wire::key_destination] = std::move(destination);
    pl[wire::key_data] = data;
    return pl;
}

std::vector<std::uint8_t> encode(const Message& message) {
    return Message::to_ubjson(message, /*use_size=*/false, /*use_type=*/false);
}

void encode_envelope_into(MessageKind kind, std::string sub_type, const Message& data, std::string origin,
                          std::string destination, std::vector<std::uint8_t>& out) {
    // The envelope with null data: '{', then its members in key order, each
    // its key and its value's own encoding, then '}'. "data" sorts first, so
    // its null is the byte right after the opening '{' and the "data" key;
    // the data's own encoding takes its place.
    std::vector<std::uint8_t> shell =
        encode(make_envelope(kind, std::move(sub_type), nullptr, std::move(origin), std::move(destination)));
    constexpr std::uint8_t data_key[] = {'{', 'i', 4, 'd', 'a', 't', 'a'};
    constexpr std::size_t null_at = sizeof data_key;
    out.clear();
    out.insert(out.end(), shell.begin(), shell.begin() + null_at);
    Message::to_ubjson(data, out, /*use_size=*/false, /*use_type=*/false);
    out.insert(out.end(), shell.begin() + null_at + 1, shell.end());
}

namespace {

constexpr std::size_t unknown_size = static_cast<std::size_t>(-1);

// The bounds of decode, counted over the library's SAX events as they come:
// nesting, declared container sizes and values. A body past them is refused
// by a parse_error of its own, thrown from inside the parse, before it
// exhausts the stack or the memory.
class DecodeBounds {
public:
    void value() {
        if (++values_ > decode_max_values)
            refuse(decode_refused_values, "more than " + std::to_string(decode_max_values) + " values");
    }
    void open(std::size_t declared) {
        value();
        if (depth_ >= static_cast<std::size_t>(decode_max_depth))
            refuse(decode_refused_depth, "nesting deeper than " + std::to_string(decode_max_depth));
        if (declared != unknown_size && declared > decode_max_count)
            refuse(decode_refused_count, "declared count " + std::to_string(declared) + " above " +
                                             std::to_string(decode_max_count));
        ++depth_;
    }
    void close() { --depth_; }
    // Containers open now: 0 outside the top value, 1 inside it.
    std::size_t depth() const { return depth_; }

private:
    [[noreturn]] static void refuse(int id, const std::string& why) {
        throw nlohmann::json::parse_error::create(id, 0, "refused UBJSON value: " + why, nullptr);
    }

    std::size_t depth_ = 0;
    std::size_t values_ = 0;
};

// Builds the value from the library's SAX events, as from_ubjson does,
// within DecodeBounds. Malformed UBJSON only stops the build: decode then has
// the library report it.
class BoundedBuilder final : public nlohmann::json_sax<Message> {
public:
    explicit BoundedBuilder(Message& root) : root_(root) {}

    bool null() override { return put(nullptr); }
    bool boolean(bool v) override { return put(v); }
    bool number_integer(number_integer_t v) override { return put(v); }
    bool number_unsigned(number_unsigned_t v) override { return put(v); }
    bool number_float(number_float_t v, const string_t&) override { return put(v); }
    bool string(string_t& v) override { return put(std::move(v)); }
    bool binary(binary_t& v) override { return put(std::move(v)); }
    bool start_object(std::size_t declared) override { return open(declared, Message::object()); }
    bool key(string_t& k) override {
        member_ = &(*open_.back())[std::move(k)];
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t declared) override { return open(declared, Message::array()); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception&) override { return false; }

private:
    // Stores v where the next value goes: the root, the next element of the
    // open array, or the member whose key came last.
    Message& place(Message v) {
        if (open_.empty()) return root_ = std::move(v);
        Message& parent = *open_.back();
        if (parent.is_array()) return parent.emplace_back(std::move(v));
        return *member_ = std::move(v);
    }
    template <class Value>
    bool put(Value&& v) {
        bounds_.value();
        place(Message(std::forward<Value>(v)));
        return true;
    }
    bool open(std::size_t declared, Message container) {
        bounds_.open(declared);
        open_.push_back(&place(std::move(container)));
        return true;
    }
    bool close() {
        bounds_.close();
        open_.pop_back();
        return true;
    }

    Message& root_;
    DecodeBounds bounds_;
    // The containers still open, innermost last. An element's address stays
    // valid while it is open: only the innermost container grows.
    std::vector<Message*> open_;
    Message* member_ = nullptr;
};

// Keeps the string members of the top object that an EnvelopeHeader holds,
// and nothing else, from the same SAX events within the same bounds. A
// member named twice counts as its last value, as in the decoded object.
class HeaderReader final : public nlohmann::json_sax<Message> {
public:
    explicit HeaderReader(EnvelopeHeader& header) : header_(header) {}

    bool top_is_object() const { return top_is_object_; }

    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t&) override { return value(); }
    bool string(string_t& v) override {
        if (member_ != nullptr && bounds_.depth() == 1) *member_ = std::move(v);
        return value();
    }
    bool binary(binary_t&) override { return value(); }
    bool start_object(std::size_t declared) override {
        if (bounds_.depth() == 0) top_is_object_ = true;
        bounds_.open(declared);
        return true;
    }
    // A member of the top object: the header's, where its value goes if it
    // is a string, or none.
    bool key(string_t& k) override {
        if (bounds_.depth() != 1) return true;
        member_ = k == wire::key_message_type       ? &header_.message_type
                  : k == wire::key_message_sub_type ? &header_.message_sub_type
                  : k == wire::key_destination      ? &header_.destination
                                                    : nullptr;
        if (member_ != nullptr) member_->reset();
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t declared) override {
        bounds_.open(declared);
        return true;
    }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception&) override { return false; }

private:
    bool value() {
        bounds_.value();
        return true;
    }
    bool close() {
        bounds_.close();
        return true;
    }

    EnvelopeHeader& header_;
    DecodeBounds bounds_;
    std::optional<std::string>* member_ = nullptr;
    bool top_is_object_ = false;
};

}  // namespace

Message decode(const std::uint8_t* body, std::size_t length) {
    Message result;
    BoundedBuilder builder(result);
    if (Message::sax_parse(body, body + length, &builder, nlohmann::json::input_format_t::ubjson, /*strict=*/true))
        return result;
    // Malformed, within the bounds up to where it failed: the library's own
    // decode fails at the same byte and throws its own parse_error.
    return Message::from_ubjson(body, body + length, /*strict=*/true, /*allow_exceptions=*/true);
}

std::optional<EnvelopeHeader> read_envelope_header(const std::uint8_t* body, std::size_t length) {
    EnvelopeHeader header;
    HeaderReader reader(header);
    try {
        if (!Message::sax_parse(body, body + length, &reader, nlohmann::json::input_format_t::ubjson, /*strict=*/true))
            return std::nullopt;
    } catch (const nlohmann::json::parse_error&) {
        return std::nullopt;  // past decode's bounds
    }
    if (!reader.top_is_object()) return std::nullopt;
    return header;
}

std::string compact_text(const Message& message, InvalidUtf8 invalid) {
    return message.dump(-1, ' ', false,
                        invalid == InvalidUtf8::replace ? Message::error_handler_t::replace
                                                        : Message::error_handler_t::strict);
}

std::string pretty_text(const Message& message) {
    return message.dump(4, ' ', false, Message::error_handler_t::strict);
}

void report_send_failure(const Message& envelope) {
    std::cout << "Sending of message: '" << pretty_text(envelope) << "' failed!" << std::endl;
}

void report_decode_failure(const nlohmann::json::exception& error) {
    std::string text = std::string("message: ") + error.what() + "\nexception id: " + std::to_string(error.id) + "\n";
    std::cout << text;
    std::cout.flush();
}

std::optional<Message> decode_received(const std::uint8_t* body, std::size_t length) {
    try {
        return decode(body, length);
    } catch (const nlohmann::json::exception& e) {
        report_decode_failure(e);
        return std::nullopt;
    }
}
