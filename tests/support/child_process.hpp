#pragma once
// Child processes for tests. Every wait is bounded.

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <thread>

#include <sys/types.h>

// Reads a whole file; empty when it does not exist.
std::string read_file(const std::string& path);

// Polls condition every 10 ms until it holds or the timeout passes.
template <class Condition>
bool wait_until(Condition condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A started program. Its standard output and error go to files.
class ChildProcess {
public:
    struct Options {
        std::vector<std::string> argv;
        std::map<std::string, std::string> env;  // added to or replacing the parent's
        std::string cwd;                          // empty: the parent's
        std::string stdout_path;                  // empty: /dev/null
        std::string stderr_path;                  // empty: /dev/null
    };

    explicit ChildProcess(Options options);
    ~ChildProcess();  // kills it (SIGKILL) if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }  // on Windows, the process id
    bool running();
    // The exit code, or 128 + signal; nullopt when it is still running after the timeout.
    std::optional<int> wait_for(std::chrono::milliseconds timeout);
    // On Windows, where no signal reaches another process, any signal
    // terminates it with exit code 128 + sig.
    void signal(int sig);
    std::string stdout_text() const { return read_file(options_.stdout_path); }
    std::string stderr_text() const { return read_file(options_.stderr_path); }

private:
    Options options_;
    pid_t pid_ = -1;
    std::optional<int> status_;
#ifdef _WIN32
    void* process_ = nullptr;  // the process's handle
#endif
};

// Runs a shell command with a time limit; returns its exit code (124 on
// timeout) and fills output with what it printed on standard output.
int run_command(const std::string& command, std::string* output = nullptr,
                std::chrono::seconds timeout = std::chrono::seconds(30));

// A fresh temporary directory, removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
