#pragma once
// The panel's two endpoints: bus (events in, register writes out) and pair
// (commands out, ping replies in). Built and started on the main thread.

#include <string>

#include "messaging/endpoint.hpp"

class MessageHub {
public:
    // The address strings must outlive the hub.
    MessageHub(const std::string& bus_url, const std::string& pair_url);

    // Listens on bus, starts its receive pump, listens on pair, in this order;
    // each failure is reported by its endpoint and the next step goes on.
    void start();

    Endpoint bus;
    Endpoint pair;
};
