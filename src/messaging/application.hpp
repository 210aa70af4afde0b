#pragma once
// The one process-wide owner of the message hub.

#include <string>

#include "messaging/message_hub.hpp"

class Application {
public:
    Application() : hub(bus_url, pair_url) {}
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    std::string bus_url;
    std::string pair_url;
    MessageHub hub;
};
