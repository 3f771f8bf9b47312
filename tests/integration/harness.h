// End-to-end harness: a fresh sysroot, the built daemon running in it in
// the foreground, raw test clients speaking HCI frames, and the daemon's log.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace cnxd::test {

using namespace std::chrono_literals;

// A throw-away sysroot made by scripts/mkroot, removed by the destructor.
class Sysroot {
public:
    Sysroot();
    ~Sysroot();
    Sysroot(const Sysroot&) = delete;
    Sysroot& operator=(const Sysroot&) = delete;

    const std::string& dir() const { return dir_; }
    std::string path(const std::string& target_path) const { return dir_ + target_path; }
    void write_file(const std::string& target_path, const std::string& text) const;
    std::string read_file(const std::string& target_path) const;
    bool exists(const std::string& target_path) const;

private:
    std::string dir_;
};

// The daemon process (`cnxd -f -g 7` plus extra arguments) in a sysroot.
class Daemon {
public:
    explicit Daemon(const Sysroot& root) : root_(root) {}
    ~Daemon();

    // Starts it and waits until start-up is over and it serves clients.
    // False when it did not come up within the bound. A `prefix` runs the
    // daemon through a command that execs it in the same process (such as
    // "ip netns exec NAME"), so pid() and signals still reach the daemon.
    bool start(const std::vector<std::string>& extra_args = {}, const std::vector<std::string>& prefix = {});
    // Sends `sig` and waits for the process to exit; returns its status
    // (exit code, or 128 + signal), or nothing when it did not exit.
    std::optional<int> stop(int sig, std::chrono::milliseconds bound = 10s);
    void signal(int sig) const;
    bool running();
    pid_t pid() const { return pid_; }
    // The command shell's TCP port (CNXD_CMD_PORT): a free loopback port
    // picked at each start, so daemons of parallel tests do not meet.
    int cmd_port() const { return cmd_port_; }

    // Everything the daemon wrote to standard error and output so far.
    std::string log() const;
    // Waits until `text` appears in the log.
    bool wait_for_log(const std::string& text, std::chrono::milliseconds bound = 10s) const;
    // How often `text` appears in the log.
    int count_in_log(const std::string& text) const;

private:
    const Sysroot& root_;
    pid_t pid_ = -1;
    int exit_status_ = -1;
    int cmd_port_ = 0;
    std::string log_path_;
};

// A raw client: its own bound datagram socket, talking HCI by hand.
class RawClient {
public:
    explicit RawClient(const Sysroot& root, const std::string& name);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // Sends a datagram to the daemon's server socket.
    bool send_to_server(const std::vector<uint8_t>& datagram) const;
    // HCI_API_OPEN with identity and pid (or an empty payload); returns the
    // answer byte, or nothing when no answer came.
    std::optional<uint8_t> open(std::optional<std::pair<uint32_t, uint32_t>> id_pid = {{0, 0}});
    // Sends a datagram to this client's daemon-side socket (after open).
    bool send(const std::vector<uint8_t>& datagram) const;
    // Receives one datagram, waiting up to `bound`.
    std::optional<std::vector<uint8_t>> recv(std::chrono::milliseconds bound = 2s) const;
    int fd() const { return fd_; }
    int index() const { return index_; }
    void close_socket();

    // The System V key of this client's shared block and semaphore set.
    int ipc_key() const;
    // Attaches this client's shared block (nullptr when there is none).
    uint8_t* attach();
    // Sets the receive word, or a subscription word k (1..377).
    void set_word(size_t k, uint32_t value);
    // One API request: sends it and waits for its completion semaphore;
    // returns the result word, or nothing when no completion came.
    std::optional<int32_t> api_request(uint16_t cmd, uint32_t dev, const std::vector<uint8_t>& data,
                                       std::chrono::milliseconds bound = 5s);

private:
    const Sysroot& root_;
    std::string path_;
    int fd_ = -1;
    int index_ = -1;
    uint8_t* shm_ = nullptr;
};

// An HCI frame: id, length, payload.
std::vector<uint8_t> hci_frame(uint16_t id, const std::vector<uint8_t>& payload);

// Polls `pred` until it holds or `bound` passes.
template <typename Pred>
bool eventually(Pred pred, std::chrono::milliseconds bound = 5s)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

}  // namespace cnxd::test
