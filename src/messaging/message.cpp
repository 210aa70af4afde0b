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

Message decode(const std::uint8_t* body, std::size_t length) {
    return Message::from_ubjson(body, body + length, /*strict=*/true, /*allow_exceptions=*/true);
}

std::string compact_text(const Message& message) {
    return message.dump(-1, ' ', false, Message::error_handler_t::strict);
}

std::string pretty_text(const Message& message) {
    return message.dump(4, ' ', false, Message::error_handler_t::strict);
}

void report_send_failure(const Message& envelope) {
    std::cout << "Sending of message: '" << pretty_text(envelope) << "' failed!" << std::endl;
}

void report_decode_failure(const nlohmann::json::parse_error& error) {
    std::cout << "message: " << error.what() << "\nexception id: " << error.id << std::endl;
}
