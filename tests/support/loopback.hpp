#pragma once
// Addresses on 127.0.0.1 for the sockets of a test or a benchmark, free of
// races for a port: a port number read and then freed can be taken meanwhile
// by any process's outgoing connection, which draws from the same range.
// So a listener binds port 0 and stays open, and its peer is handed the
// address it got (Endpoint::bound_url); a listener that comes and goes (restarts, a peer that dials
// before anyone listens) listens on a ReservedPort.
// Header-only, so that the benchmarks use it without the test support.

#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

// Given to a listener: the system picks a free port, which the listener keeps.
inline const std::string any_loopback_port = "tcp://127.0.0.1:0";

// A port on 127.0.0.1 held for as long as the object lives by a socket that
// is bound to it and never listens: a connection to it is refused until a
// listener is there, listeners (nng's set SO_REUSEADDR, as this socket does)
// may come and go on it, and no other process binds it or takes it for an
// outgoing connection meanwhile.
//
// On Windows nng's listener binds with SO_EXCLUSIVEADDRUSE, which no other
// socket bound to the port allows: there the port is only picked, and the
// socket closed at once, so another process may still take it before the
// listener does.
class ReservedPort {
public:
    ReservedPort() {
#ifdef _WIN32
        WSADATA wsa;
        if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) throw std::runtime_error("ReservedPort: no Winsock");
        const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int len = sizeof(addr);
        const bool bound = s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
                           getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
        if (s != INVALID_SOCKET) closesocket(s);
        WSACleanup();
        if (!bound) throw std::runtime_error("ReservedPort: no port bound on 127.0.0.1");
        port_ = ntohs(addr.sin_port);
#else
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (fd_ < 0 || setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
            bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            if (fd_ >= 0) close(fd_);
            throw std::runtime_error("ReservedPort: no port bound on 127.0.0.1");
        }
        port_ = ntohs(addr.sin_port);
#endif
    }
#ifdef _WIN32
    ~ReservedPort() = default;
#else
    ~ReservedPort() { close(fd_); }
#endif
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;

    int port() const { return port_; }
    std::string url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

private:
#ifndef _WIN32
    int fd_ = -1;
#endif
    int port_ = 0;
};
