#include "control_panel.hpp"

#include <iostream>
#include <string>

#include "imgui.h"
#include "messaging/message.hpp"
#include "messaging/wire_names.hpp"

namespace {

// {"start": load_start, "values": [...]}, all signed integers.
template <std::size_t N>
Message load_data(const std::array<std::int64_t, N>& values) {
    Message data = Message::object();
    data[wire::key_start] = control_data::load_start;
    data[wire::key_values] = Message::array();
    for (std::int64_t v : values) data[wire::key_values].push_back(v);
    return data;
}

void send_command(Application& app, std::string_view sub_type, const Message& data,
                  std::string_view destination) {
    app.hub.pair.send(MessageKind::command, std::string(sub_type), data, "", std::string(destination));
}

}  // namespace

void ControlPanel::draw(Application& app) {
    ImGui::Begin("Main", nullptr, 0);
    if (ImGui::Button("Step", ImVec2(0, 0))) {
        send_command(app, wire::sub_step, nullptr, wire::simulation_control);
    }
    if (ImGui::Button("Init IM", ImVec2(0, 0))) {
        send_command(app, wire::sub_load, load_data(control_data::test_program), wire::instruction_memory);
    }
    if (ImGui::Button("Init REG", ImVec2(0, 0))) {
        send_command(app, wire::sub_load, load_data(control_data::register_pattern), wire::register_file);
    }
    for (int size : control_data::ping_payload_sizes) {
        std::string label = "run test " + std::to_string(size);
        if (ImGui::Button(label.c_str(), ImVec2(0, 0))) run_ping_test(app, size);
    }
    ImGui::End();
}

PingExchange::PingExchange(Endpoint& pair, const Message& payload)
    : pair_(pair),
      envelope_(make_envelope(MessageKind::command, std::string(wire::sub_ping), payload, "",
                              std::string(wire::simulation_control))),
      body_(encode(envelope_)) {}

void PingExchange::run(std::chrono::milliseconds reply_limit) {
    pair_.send_encoded(envelope_, body_);
    pair_.receive_within(reply_limit);
}

void run_ping_test(Application& app, int payload_size, std::chrono::milliseconds reply_limit) {
    Message payload = Message::array();
    for (int i = 0; i < payload_size; ++i) payload.push_back(0);
    std::cout << compact_text(payload) << std::endl;

    auto start = std::chrono::steady_clock::now();
    PingExchange ping(app.hub.pair, payload);
    for (int done = 0; done < control_data::pings_per_test; ++done) {
        try {
            ping.run(reply_limit);
        } catch (const NngError& e) {
            std::cout << "ping test stopped after " << done << " of " << control_data::pings_per_test
                      << " exchanges: " << e.what() << std::endl;
            return;
        }
    }
    auto end = std::chrono::steady_clock::now();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
    std::cout << "test done in: " << ms << "ms" << std::endl;
}
