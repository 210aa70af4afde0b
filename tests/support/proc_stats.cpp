#include "support/proc_stats.hpp"

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "support/child_process.hpp"

namespace {

std::vector<std::string> task_dirs(int pid) {
    std::vector<std::string> tasks;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        tasks.push_back(task.path().string());
    }
    return tasks;
}

}  // namespace

ProcessActivity activity_of(int pid) {
    ProcessActivity a;
    long long total = 0;
    for (const std::string& task : task_dirs(pid)) {
        total += std::atoll(read_file(task + "/schedstat").c_str());
        // The state follows the name, which is in parentheses and may hold any.
        const std::string stat = read_file(task + "/stat");
        const auto close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'R') a.running = true;
    }
    a.cpu = std::chrono::nanoseconds(total);
    return a;
}

long long context_switches(int pid) {
    long long total = 0;
    for (const std::string& task : task_dirs(pid)) {
        std::istringstream status(read_file(task + "/status"));
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                total += std::atoll(line.c_str() + line.find(':') + 1);
            }
        }
    }
    return total;
}

long long status_kb(int pid, const std::string& field) {
    std::istringstream status(read_file("/proc/" + std::to_string(pid) + "/status"));
    const std::string key = field + ":";
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + key.size());
    }
    return -1;
}

// A line: "sl local_address rem_address st tx_queue:rx_queue ...", the
// addresses as hex "ADDRESS:PORT".
std::vector<TcpSocket> tcp_sockets(int local_port) {
    std::vector<TcpSocket> sockets;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::istringstream lines(read_file(table));
        std::string line;
        std::getline(lines, line);  // the heading
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues;
            fields >> slot >> local >> remote >> state >> queues;
            const auto colon = local.rfind(':');
            const auto queue_colon = queues.find(':');
            if (colon == std::string::npos || queue_colon == std::string::npos) continue;
            if (std::strtol(local.c_str() + colon + 1, nullptr, 16) != local_port) continue;
            sockets.push_back({local.substr(0, colon), static_cast<int>(std::strtol(state.c_str(), nullptr, 16)),
                               std::strtoll(queues.c_str() + queue_colon + 1, nullptr, 16)});
        }
    }
    return sockets;
}

bool listening(int port) {
    for (const TcpSocket& s : tcp_sockets(port)) {
        if (s.state == TcpSocket::listen) return true;
    }
    return false;
}

bool established(int port) {
    for (const TcpSocket& s : tcp_sockets(port)) {
        if (s.state == TcpSocket::established) return true;
    }
    return false;
}

int taken_connections(int port) {
    int n = 0;
    for (const TcpSocket& s : tcp_sockets(port)) n += s.state == TcpSocket::established && s.unread == 0;
    return n;
}
