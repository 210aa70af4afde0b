#pragma once
// The simulator's end of one of the panel's links: an nng socket that dials
// the panel (bus0 or pair0), with blocking sends and receives. The stand-in
// simulator is built on it, and the tests use it as the peer that sends what
// no real envelope is (raw bodies) and that knows when it is attached.
//
// Dialling does not wait: nng connects as soon as the panel listens and
// redials whenever the connection is lost, so a peer started before the
// panel, or outliving it, finds it again. A bus drops what it sends while no
// panel is attached: a peer that publishes at once waits for wait_for_peer.
//
// Sends and receives may run on different threads; each of them, like the
// constructor and the destructor, on one thread at a time.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <nng/nng.h>

#include "messaging/message.hpp"

class PeerSocket {
public:
    enum class Protocol { bus, pair };

    // Touches no network.
    PeerSocket(Protocol protocol, std::string url) : protocol_(protocol), url_(std::move(url)) {}
    ~PeerSocket();
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    // Opens the socket with the panel's own limits and starts dialling the
    // address; once only. A failure is reported on standard error as the
    // panel's endpoints report it ("Unable to establish socket connection: "
    // and nng's text) and gives false.
    bool dial();

    // Encodes the envelope and sends it; a failure is reported on standard
    // output (report_send_failure) and the envelope is lost.
    void send(MessageKind kind, std::string sub_type, const Message& data, std::string origin,
              std::string destination);
    // Sends body as it is. A failure is thrown as NngError.
    void send_body(const std::vector<std::uint8_t>& body);

    // Waits at most limit for the next message and decodes it; an undecodable
    // body is reported and gives the integer 0. The timeout and nng's errors
    // are thrown as NngError.
    Message receive_within(std::chrono::milliseconds limit);
    // Waits at most limit for the next message and hands its body, as it
    // arrived, to use(body, length) before freeing it; errors and the timeout
    // are thrown as NngError.
    void receive_body_within(std::chrono::milliseconds limit,
                             const std::function<void(const std::uint8_t*, std::size_t)>& use);

    // Connected pipes right now, and a wait of at most limit for the first.
    int peer_count() const;
    bool wait_for_peer(std::chrono::milliseconds limit);

    // Counted by nng's pipe notifications, on nng's threads.
    struct Peers {
        mutable std::mutex mutex;
        std::condition_variable changed;
        int count = 0;
    };

private:
    const Protocol protocol_;
    const std::string url_;
    nng_socket socket_ = NNG_SOCKET_INITIALIZER;
    Peers peers_;  // outlives the socket: the destructor closes it first
    std::vector<std::uint8_t> send_buffer_;
};
