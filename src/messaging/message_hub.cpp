#include "messaging/message_hub.hpp"

MessageHub::MessageHub(const std::string& bus_url, const std::string& pair_url)
    : bus(&bus_url, EndpointKind::bus_listen), pair(&pair_url, EndpointKind::pair_listen) {}

void MessageHub::start() {
    bus.connect();
    bus.start_pump();
    pair.connect();
}
