// The daemon as the benchmarks run it: a process of its own in a fresh
// sysroot, quiet (log level 2), with its command port on loopback; and the
// small helpers the benchmarks share.
#pragma once

// Before <netinet/in.h>, which defines IPV6_MTU, a name hci.h declares.
#include "server/hci.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/path.h"
#include "cnxd_client.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double us_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

inline std::string make_sysroot()
{
    char tmpl[] = "/tmp/cnxd-b.XXXXXX";
    const std::string root = mkdtemp(tmpl);
    const std::string cmd = std::string(CNXD_SOURCE_DIR "/scripts/mkroot ") + root + " " + CNXD_BUILD_DIR;
    if (std::system(cmd.c_str()) != 0)
        std::abort();
    return root;
}

inline bool wait_for(const std::string& path, int ms = 5000)
{
    for (int i = 0; i < ms; ++i) {
        if (std::filesystem::exists(path))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// The p-th percentile (0-100) of `v` (sorted in place).
inline double percentile(std::vector<double>& v, int p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * static_cast<size_t>(p) / 100)];
}

// The number after `key` ("VmRSS:", say) in a /proc status file, 0 when
// it is not there.
inline long status_value(const std::filesystem::path& status, std::string_view key)
{
    std::ifstream in(status);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(key))
            return std::atol(line.c_str() + key.size());
    return 0;
}

// kB of VmRSS of a process, 0 when unknown.
inline long rss_kb(pid_t pid) { return status_value("/proc/" + std::to_string(pid) + "/status", "VmRSS:"); }

inline int free_tcp_port()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

// Starts `argv` with output to /dev/null and `env` set.
inline pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        for (const auto& [k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

class DaemonProcess {
public:
    // With `capture` the daemon records its traffic into the sysroot's
    // /var/tmp/cnxd.pcapng. Each of `settings` ("config wan lte ... KEY
    // VALUE") is set in the store before the start.
    explicit DaemonProcess(bool capture = false, const std::vector<std::string>& settings = {})
        : root_(make_sysroot()), port_(free_tcp_port())
    {
        for (const std::string& setting : settings)
            if (std::system(("CNXD_ROOT=" + root_ + " " + root_ + "/bin/confdb set " + setting).c_str()) != 0)
                std::abort();
        const auto start = Clock::now();
        std::vector<std::pair<std::string, std::string>> env = {{"CNXD_ROOT", root_},
                                                                {"CNXD_CMD_PORT", std::to_string(port_)}};
        if (capture)
            env.emplace_back("CNXD_CAPTURE", root_ + "/var/tmp/cnxd.pcapng");
        pid_ = spawn({CNXD_BINARY, "-f", "-g", "2"}, env);
        setenv("CNXD_ROOT", root_.c_str(), 1);
        cnxd::cnxd_reload_root();
        if (!wait_for(root_ + "/var/tmp/cnxd-daemon"))
            std::abort();
        // Serving: a session is answered.
        for (;;) {
            cnxd_session* s = nullptr;
            if (cnxd_open(0, static_cast<uint32_t>(getpid()), 100, &s) == CNXD_OK) {
                cnxd_close(s);
                break;
            }
        }
        startup_us_ = us_since(start);
    }
    ~DaemonProcess()
    {
        stop();
        std::filesystem::remove_all(root_);
    }
    // Ends the daemon (its capture file is then complete); the sysroot stays
    // until the destructor.
    void stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& root() const { return root_; }
    int port() const { return port_; }
    double startup_us() const { return startup_us_; }

private:
    std::string root_;
    int port_;
    pid_t pid_;
    double startup_us_ = 0;
};

}  // namespace bench
