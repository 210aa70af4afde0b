#pragma once
// What Linux's /proc tells of a process and of the TCP sockets on this
// machine, for the end-to-end tests and the benchmarks: one reader of each
// file, used by both. Each call reads the files afresh; a process or a file
// that is gone reads as nothing (zero, -1 or an empty list).

#include <chrono>
#include <string>
#include <vector>

// All threads of a process together.
struct ProcessActivity {
    std::chrono::nanoseconds cpu{0};  // processor time so far (schedstat: exact, not in clock ticks)
    bool running = false;             // a thread is on a processor or waiting for one (state R)
};
ProcessActivity activity_of(int pid);

// Voluntary and involuntary context switches of all its threads so far: one
// per wake-up of a thread that slept, and one per preemption.
long long context_switches(int pid);

// A "Vm..." line of /proc/<pid>/status ("VmRSS", "VmHWM"), in kB; -1 when unreadable.
long long status_kb(int pid, const std::string& field);

// A TCP socket of /proc/net/tcp or /proc/net/tcp6 whose local port is the one asked for.
struct TcpSocket {
    static constexpr int established = 0x01;  // the kernel's numbers of the states
    static constexpr int listen = 0x0A;
    std::string local_address;  // as the kernel lists it: "0100007F" is 127.0.0.1
    int state = 0;
    long long unread = 0;       // bytes received and not yet read by its process
};
std::vector<TcpSocket> tcp_sockets(int local_port);

// A socket listens on the local port.
bool listening(int port);
// An established connection to the local port exists.
bool established(int port);
// Established connections to the local port whose process has read all that
// came in: on the panel's ports, the ones it has taken.
int taken_connections(int port);
