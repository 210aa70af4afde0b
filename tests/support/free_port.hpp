#pragma once
// A free address on 127.0.0.1 for the sockets of a test or a benchmark.
// Header-only, so that the benchmarks use it without the test support.

#include <stdexcept>
#include <string>

#include <nng/nng.h>
#include <nng/protocol/pair0/pair.h>

// "tcp://127.0.0.1:<port>" with a port that the kernel gave nng a moment
// ago for a listen on port 0, and that nng has released since.
inline std::string free_loopback_url() {
    nng_socket s;
    if (nng_pair0_open(&s) != 0) throw std::runtime_error("free_loopback_url: nng_pair0_open failed");
    nng_listener listener;
    nng_sockaddr bound{};
    int rv = nng_listen(s, "tcp://127.0.0.1:0", &listener, 0);
    if (rv == 0) rv = nng_listener_get_addr(listener, NNG_OPT_LOCADDR, &bound);
    nng_close(s);
    if (rv != 0) throw std::runtime_error(std::string("free_loopback_url: ") + nng_strerror(rv));
    // The port is in network byte order.
    const unsigned port = ((bound.s_in.sa_port & 0xFFu) << 8) | (bound.s_in.sa_port >> 8);
    return "tcp://127.0.0.1:" + std::to_string(port);
}
