#include "standin/send_backlog.hpp"

#ifdef _WIN32

// Windows has no count of a socket's bytes written and acknowledged that a
// process can read, so the count comes from nng itself: its TCP transport
// adds a message to its pipe's statistics once the whole message (the
// 8-byte length, then the body) is written into the connection. A "fd"
// here is the id of nng's pipe: the connection of a dialer whose address
// has the peer port.

#include <set>
#include <string>

#include <nng/nng.h>

namespace {

constexpr std::uint64_t nng_length_bytes = 8;

// The statistics of the whole process, freed with the object.
struct Stats {
    nng_stat* root = nullptr;
    Stats() {
        if (nng_stats_get(&root) != 0) root = nullptr;
    }
    ~Stats() {
        if (root != nullptr) nng_stats_free(root);
    }
    Stats(const Stats&) = delete;
    Stats& operator=(const Stats&) = delete;
};

std::uint64_t child_value(nng_stat* scope, const char* name) {
    nng_stat* item = nng_stat_find(scope, name);
    return item != nullptr ? nng_stat_value(item) : 0;
}

bool url_has_port(const char* url, int port) {
    const std::string text = url != nullptr ? url : "";
    const std::size_t colon = text.rfind(':');
    return colon != std::string::npos && text.substr(colon + 1) == std::to_string(port);
}

// The pipe with id pipe_id (any, when pipe_id is negative) of a dialer to the port.
nng_stat* find_pipe(nng_stat* root, int port, int pipe_id) {
    std::set<std::uint64_t> dialers;
    for (nng_stat* s = nng_stat_child(root); s != nullptr; s = nng_stat_next(s)) {
        if (std::string(nng_stat_name(s)) != "dialer") continue;
        nng_stat* url = nng_stat_find(s, "url");
        if (url != nullptr && url_has_port(nng_stat_string(url), port)) dialers.insert(child_value(s, "id"));
    }
    for (nng_stat* s = nng_stat_child(root); s != nullptr; s = nng_stat_next(s)) {
        if (std::string(nng_stat_name(s)) != "pipe" || nng_stat_find(s, "dialer") == nullptr) continue;
        if (!dialers.count(child_value(s, "dialer"))) continue;
        if (pipe_id < 0 || child_value(s, "id") == static_cast<std::uint64_t>(pipe_id)) return s;
    }
    return nullptr;
}

}  // namespace

std::optional<std::uint64_t> SendBacklog::written(int fd) const {
    Stats stats;
    if (stats.root == nullptr) return std::nullopt;
    nng_stat* pipe = find_pipe(stats.root, peer_port_, fd);
    if (pipe == nullptr) return std::nullopt;
    return child_value(pipe, "tx_bytes") + nng_length_bytes * child_value(pipe, "tx_msgs");
}

int SendBacklog::find_connection() const {
    Stats stats;
    if (stats.root == nullptr) return -1;
    nng_stat* pipe = find_pipe(stats.root, peer_port_, -1);
    return pipe != nullptr ? static_cast<int>(child_value(pipe, "id")) : -1;
}

#else

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

std::optional<std::uint64_t> SendBacklog::written(int fd) const {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 || peer.sin_family != AF_INET ||
        ntohs(peer.sin_port) != peer_port_) {
        return std::nullopt;
    }
    tcp_info info{};
    socklen_t info_length = sizeof info;
    int queued = 0;  // written, not yet acknowledged
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &info_length) != 0 || ioctl(fd, SIOCOUTQ, &queued) != 0) {
        return std::nullopt;
    }
    return info.tcpi_bytes_acked + static_cast<std::uint64_t>(queued);
}

int SendBacklog::find_connection() const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        const int fd = std::atoi(entry.path().filename().c_str());
        if (fd > 2 && written(fd)) return fd;
    }
    return -1;
}

#endif

std::optional<std::uint64_t> SendBacklog::bytes() {
    std::optional<std::uint64_t> done = fd_ >= 0 ? written(fd_) : std::nullopt;
    if (!done) {
        fd_ = find_connection();
        if (fd_ < 0) return std::nullopt;
        done = written(fd_);
        if (!done) return std::nullopt;
        base_ = published_ - *done;
    }
    const std::uint64_t in_kernel = *done + base_;
    return published_ > in_kernel ? published_ - in_kernel : 0;
}
