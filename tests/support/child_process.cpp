#include "support/child_process.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

extern char** environ;

std::string read_file(const std::string& path) {
    if (path.empty()) return {};
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

#ifdef _WIN32

namespace {

// One argument quoted for CommandLineToArgvW, as the C runtime splits it.
std::string quote_argument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

HANDLE open_for_child(const std::string& path, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileA(path.empty() ? "NUL" : path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ChildProcess::ChildProcess(Options options) : options_(std::move(options)) {
    std::map<std::string, std::string> merged;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry(*e);
        auto eq = entry.find('=', 1);  // "=C:" entries start with '='
        if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (auto& [k, v] : options_.env) merged[k] = v;
    std::string block;
    for (auto& [k, v] : merged) block += k + "=" + v + '\0';
    block += '\0';

    std::string command_line;
    for (const auto& a : options_.argv) command_line += (command_line.empty() ? "" : " ") + quote_argument(a);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = open_for_child("", false);
    startup.hStdOutput = open_for_child(options_.stdout_path, true);
    startup.hStdError = open_for_child(options_.stderr_path, true);
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessA(options_.argv.at(0).c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, block.data(),
                                        options_.cwd.empty() ? nullptr : options_.cwd.c_str(), &startup, &info);
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    if (!started) throw std::runtime_error("CreateProcess failed for " + options_.argv.at(0));
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = static_cast<pid_t>(info.dwProcessId);
}

ChildProcess::~ChildProcess() {
    if (running()) {
        TerminateProcess(process_, 128 + 9);  // as killed by SIGKILL
        wait_for(std::chrono::seconds(5));
    }
    CloseHandle(process_);
}

bool ChildProcess::running() {
    if (status_) return false;
    return !wait_for(std::chrono::milliseconds(0)).has_value();
}

std::optional<int> ChildProcess::wait_for(std::chrono::milliseconds timeout) {
    if (status_) return status_;
    if (WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    // An exit code of -1 reads as 255, as on POSIX.
    status_ = static_cast<int>(code & 0xFF);
    return status_;
}

void ChildProcess::signal(int sig) {
    if (!status_) TerminateProcess(process_, static_cast<UINT>(128 + sig));
}

int run_command(const std::string&, std::string*, std::chrono::seconds) {
    throw std::runtime_error("run_command: no shell on Windows");
}

TempDir::TempDir() {
    const auto base = std::filesystem::temp_directory_path();
    for (unsigned attempt = 0;; ++attempt) {
        const auto candidate =
            base / ("vedrik-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = candidate.string();
            return;
        }
        if (ec || attempt > 1000) throw std::runtime_error("TempDir: no directory in " + base.string());
    }
}

#else

ChildProcess::ChildProcess(Options options) : options_(std::move(options)) {
    std::vector<std::string> env_strings;
    std::map<std::string, std::string> merged;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry(*e);
        auto eq = entry.find('=');
        if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (auto& [k, v] : options_.env) merged[k] = v;
    for (auto& [k, v] : merged) env_strings.push_back(k + "=" + v);

    std::vector<char*> argv;
    for (auto& a : options_.argv) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env_strings) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::setpgid(0, 0);
        auto redirect = [](const std::string& path, int target) {
            int fd = ::open(path.empty() ? "/dev/null" : path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                ::dup2(fd, target);
                ::close(fd);
            }
        };
        int in = ::open("/dev/null", O_RDONLY);
        if (in >= 0) ::dup2(in, 0);
        redirect(options_.stdout_path, 1);
        redirect(options_.stderr_path, 2);
        if (!options_.cwd.empty() && ::chdir(options_.cwd.c_str()) != 0) ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
}

ChildProcess::~ChildProcess() {
    if (running()) {
        ::kill(pid_, SIGKILL);
        wait_for(std::chrono::seconds(5));
    }
}

bool ChildProcess::running() {
    if (status_) return false;
    return !wait_for(std::chrono::milliseconds(0)).has_value();
}

std::optional<int> ChildProcess::wait_for(std::chrono::milliseconds timeout) {
    if (status_) return status_;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        if (r < 0 && errno != EINTR) return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        ::usleep(5000);
    }
}

void ChildProcess::signal(int sig) {
    if (!status_) ::kill(pid_, sig);
}

int run_command(const std::string& command, std::string* output, std::chrono::seconds timeout) {
    std::string quoted;
    for (char c : command) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    std::string wrapped = "timeout -k 2 " + std::to_string(timeout.count()) + " sh -c '" + quoted + "'";
    FILE* pipe = ::popen(wrapped.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::array<char, 4096> buffer{};
    std::string text;
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) text.append(buffer.data(), n);
    int status = ::pclose(pipe);
    if (output != nullptr) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TempDir::TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "vedrik-test-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

#endif

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}
