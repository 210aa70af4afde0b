#include "send_backlog.hpp"

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
