#include "message.hpp"

#include <iostream>

#include "wire_names.hpp"

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

// The library's own DOM builder behind a gate that counts nesting, declared
// container sizes and values, so that a hostile body is refused while it is
// read instead of after it has exhausted the stack or the memory.
class BoundedBuilder {
public:
    explicit BoundedBuilder(Message& result) : dom_(result, /*allow_exceptions=*/true) {}

    bool null() { return value() && dom_.null(); }
    bool boolean(bool v) { return value() && dom_.boolean(v); }
    bool number_integer(Message::number_integer_t v) { return value() && dom_.number_integer(v); }
    bool number_unsigned(Message::number_unsigned_t v) { return value() && dom_.number_unsigned(v); }
    bool number_float(Message::number_float_t v, const std::string& s) { return value() && dom_.number_float(v, s); }
    bool string(std::string& v) { return value() && dom_.string(v); }
    bool binary(Message::binary_t& v) { return value() && dom_.binary(v); }
    bool key(std::string& k) { return dom_.key(k); }
    bool start_object(std::size_t n) { return open(n) && dom_.start_object(n); }
    bool end_object() { --depth_; return dom_.end_object(); }
    bool start_array(std::size_t n) { return open(n) && dom_.start_array(n); }
    bool end_array() { --depth_; return dom_.end_array(); }
    // Throws the reader's own error with its own type (the DOM builder would
    // throw it sliced to the base class).
    [[noreturn]] bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception& e) {
        if (auto* pe = dynamic_cast<const nlohmann::json::parse_error*>(&e)) throw *pe;
        if (auto* oor = dynamic_cast<const nlohmann::json::out_of_range*>(&e)) throw *oor;
        throw nlohmann::json::parse_error::create(e.id, 0, e.what(), nullptr);
    }

private:
    static constexpr std::size_t unknown_size = static_cast<std::size_t>(-1);

    [[noreturn]] static void refuse(int id, const std::string& why) {
        throw nlohmann::json::parse_error::create(id, 0, "refused UBJSON value: " + why, nullptr);
    }
    bool value() {
        if (++values_ > decode_max_values)
            refuse(decode_refused_values, "more than " + std::to_string(decode_max_values) + " values");
        return true;
    }
    bool open(std::size_t declared) {
        value();
        if (++depth_ > decode_max_depth)
            refuse(decode_refused_depth, "nesting deeper than " + std::to_string(decode_max_depth));
        if (declared != unknown_size && declared > decode_max_count)
            refuse(decode_refused_count, "declared count " + std::to_string(declared) + " above " +
                                             std::to_string(decode_max_count));
        return true;
    }

    nlohmann::detail::json_sax_dom_parser<Message> dom_;
    int depth_ = 0;
    std::size_t values_ = 0;
};

}  // namespace

Message decode(const std::uint8_t* body, std::size_t length) {
    Message result;
    BoundedBuilder builder(result);
    Message::sax_parse(body, body + length, &builder, nlohmann::json::input_format_t::ubjson, /*strict=*/true);
    return result;
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
