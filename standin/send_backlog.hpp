#pragma once
// How far nng lags behind a publisher on one TCP connection: the bytes
// published into an nng socket that nng has not yet written into the
// kernel's socket. nng's bus drops what overflows its 16-message queue per
// peer, so a publisher that keeps this small never loses a message to it.
//
// The connection is the process's own TCP socket whose peer port is the
// given one, found among the process's file descriptors, the kernel telling
// what it took; on Windows, nng's pipe of a dialer to that port, nng's
// statistics telling what it wrote. A new connection (the peer restarted)
// is found again and starts at no backlog.
// One thread only.

#include <cstdint>
#include <optional>

class SendBacklog {
public:
    explicit SendBacklog(int peer_port) : peer_port_(peer_port) {}

    // Counts bytes published (a message's body and nng's 8-byte length).
    void published(std::uint64_t bytes) { published_ += bytes; }

    // Published bytes not yet in the kernel; nullopt while there is no
    // connection to the port.
    std::optional<std::uint64_t> bytes();

private:
    // Bytes the process wrote into fd so far, or nullopt when fd is no
    // longer a connection to the port.
    std::optional<std::uint64_t> written(int fd) const;
    int find_connection() const;

    int peer_port_;
    int fd_ = -1;
    std::uint64_t published_ = 0;
    std::uint64_t base_ = 0;  // published_ - written() when the connection was found
};
