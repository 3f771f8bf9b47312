// End-to-end harness: a fresh sysroot, the built daemon running in it in
// the foreground, raw test clients speaking HCI frames, the simulated
// modem's control socket, cnxd-cli runs, and the daemon's log.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim.h"

namespace cnxd::test {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// Polls `pred` every 10 ms until it holds or `bound` passes (by default a
// bound generous enough for the sanitizer builds).
template <typename Pred>
bool eventually(Pred pred, std::chrono::milliseconds bound = 10s)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// The whole text of a file ("" when it cannot be read).
std::string read_text(const std::string& path);
// Lower-case hex digits of `bytes`, two per byte, as the simulator's call
// record shows them.
inline std::string hex(const Bytes& b) { return ltesim::to_hex(b); }
inline std::string hex(const std::string& bytes) { return hex(Bytes(bytes.begin(), bytes.end())); }
// Starts argv (searched in PATH) as a child with `env` added, standard
// output appended to `out`, standard error to `err` (or `out` when empty),
// standard input from `in` (when given).
pid_t spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err = "",
            const std::string& in = "", const std::vector<std::pair<std::string, std::string>>& env = {});
// Waits for the child `pid` up to `bound`: its exit code (128 + signal when
// killed), or -1 when it had to be killed.
int wait_child(pid_t pid, std::chrono::milliseconds bound);
// How many times `needle` occurs in `text`.
int count_of(const std::string& text, const std::string& needle);
// A TCP port that is free on the loopback address right now.
int free_tcp_port();

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
    std::string read_file(const std::string& target_path) const { return read_text(path(target_path)); }
    bool exists(const std::string& target_path) const;
    // "confdb set ARGS" on the sysroot's store; true when it succeeded.
    bool confdb_set(const std::string& args) const;
    int ipc_key(int index) const;

private:
    std::string dir_;
};

// The daemon process (`cnxd -f -g LEVEL` plus extra arguments) in a
// sysroot, its output in the sysroot's daemon.log.
class Daemon {
public:
    explicit Daemon(const Sysroot& root, int log_level = 7) : root_(root), log_level_(log_level) {}
    ~Daemon();

    // Starts it and waits until start-up is over and it serves clients (at a
    // log level below 7, which does not print that, only until it runs).
    // False when it did not come up within the bound. A `prefix` runs the
    // daemon through a command that execs it in the same process (such as
    // "ip netns exec NAME"), so pid() and signals still reach the daemon.
    bool start(const std::vector<std::string>& extra_args = {}, const std::vector<std::string>& prefix = {});
    // Sends `sig` and waits for the exit; the status (exit code, or 128 +
    // signal), or nothing when it did not exit.
    std::optional<int> stop(int sig, std::chrono::milliseconds bound = 10s);
    void signal(int sig) const;
    bool running();
    pid_t pid() const { return pid_; }
    // The command shell's TCP port (CNXD_CMD_PORT): a free loopback port
    // picked at each start, so daemons of parallel tests do not meet.
    int cmd_port() const { return cmd_port_; }

    // Its open descriptors, as /proc lists them.
    long open_fds() const;
    std::string log() const { return read_text(log_path_); }
    bool wait_for_log(const std::string& text, std::chrono::milliseconds bound = 10s) const;
    int count_in_log(const std::string& text) const;

private:
    const Sysroot& root_;
    int log_level_;
    pid_t pid_ = -1;
    int exit_status_ = -1;
    int cmd_port_ = 0;
    std::string log_path_;
};

// A raw client: its own bound datagram socket (/var/tmp/test-NAME, or the
// sysroot path NAME when it starts with '/'), talking HCI by hand.
class RawClient {
public:
    explicit RawClient(const Sysroot& root, const std::string& name);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool send_to_server(const Bytes& datagram) const;  // to the server socket
    // HCI_API_OPEN with identity and pid (or an empty payload); returns the
    // answer byte, or nothing when no answer came within `bound`.
    std::optional<uint8_t> open(std::optional<std::pair<uint32_t, uint32_t>> id_pid = {{0, 0}},
                                std::chrono::milliseconds bound = 5s);
    bool send(const Bytes& datagram) const;  // to its daemon-side socket, after open
    // Connects its socket to its daemon-side socket, after open: it then
    // takes datagrams from that socket only, and the kernel no longer holds
    // the daemon to the receive queue's few datagrams (net.unix.
    // max_dgram_qlen, which does not bind a socket's own peer), so a burst
    // of frames does not stall the daemon's once-a-second write retries.
    bool connect_to_daemon() const;
    std::optional<Bytes> recv(std::chrono::milliseconds bound = 2s) const;
    int ipc_key() const { return root_.ipc_key(index_); }

    // The shared block (attached on first use; nullptr when there is none),
    // its receive word (k = 0) or subscription word k (1..377).
    uint8_t* attach();
    void set_word(size_t k, uint32_t value);
    void subscribe_all();
    // Waits for the completion semaphore of one API request.
    bool wait_done(std::chrono::milliseconds bound = 5s) const;
    // One API request: sends it and waits for its completion; returns the
    // result word, or nothing when no completion came.
    std::optional<int32_t> api_request(uint16_t cmd, uint32_t dev, const Bytes& data,
                                       std::chrono::milliseconds bound = 5s);

private:
    std::string daemon_side() const;  // the daemon's socket for this client

    const Sysroot& root_;
    std::string path_;
    int fd_ = -1;
    int index_ = -1;
    uint8_t* shm_ = nullptr;
};

Bytes hci_frame(uint16_t id, const Bytes& payload);
// An HCI_API_REQUEST frame (the device index travels in host order).
Bytes api_frame(uint16_t cmd, uint32_t dev, const Bytes& data = {});
// A relay request: `inner` to the first client of identity `target`, or
// with `broadcast` to every client of another identity than the sender's.
Bytes relay_frame(uint32_t target, bool broadcast, const Bytes& inner);

// The clients' log channel as a listening client gets it: a raw client
// with its receive word set, connected to its daemon-side socket (so that
// hundreds of log lines in a row never fill its queue), whose HCI_LOG
// texts a thread of its own collects from the start on; with `events`,
// subscribed to every event too, whose codes it collects in order.
class LogTail {
public:
    explicit LogTail(const Sysroot& root, bool events = false);
    ~LogTail();
    LogTail(const LogTail&) = delete;
    LogTail& operator=(const LogTail&) = delete;

    bool open() const { return open_; }
    std::string text() const;
    bool wait_for(const std::string& needle, std::chrono::milliseconds bound = 10s) const;
    int count(const std::string& needle) const;
    std::vector<int> events() const;

private:
    RawClient client_;
    bool open_ = false;
    mutable std::mutex lock_;
    std::string text_;
    std::vector<int> events_;
    std::atomic<bool> done_{false};
    std::thread reader_;
};

// One connection to the daemon's TCP command shell on the loopback address.
class TcpShell {
public:
    // Connects, retrying while the shell does not listen yet (it starts
    // after the modem's bring-up).
    explicit TcpShell(int port);
    ~TcpShell();
    TcpShell(const TcpShell&) = delete;
    TcpShell& operator=(const TcpShell&) = delete;

    bool connected() const { return fd_ >= 0; }
    // One receive of the shell is one command line.
    void send_line(const std::string& line) const { send_text(line + "\n"); }
    // Bytes as they are, newline or not.
    void send_text(const std::string& text) const;
    // Waits until what the shell sent back holds `text`.
    bool wait_for(const std::string& text, std::chrono::milliseconds bound = 5s);

private:
    int fd_ = -1;
    std::string got_;
};

// A client of the modem simulator's control socket ($CNXD_ROOT/var/tmp/
// ltesim.sock), for tests that script the simulated modem.
class LtesimClient {
public:
    // Connects, retrying until the socket exists (the SDK opens after the
    // daemon's server socket).
    explicit LtesimClient(const Sysroot& root, std::chrono::milliseconds bound = 5s);
    ~LtesimClient();
    LtesimClient(const LtesimClient&) = delete;
    LtesimClient& operator=(const LtesimClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    // One command line; returns its one-line answer ("ok", "err ..."), or
    // "" when the connection failed.
    std::string command(const std::string& line);
    // The recorded calls, one "NAME dev=N HEX" line each.
    std::vector<std::string> calls();
    std::vector<std::string> call_names();
    // Waits until the modem inserted at start-up has been brought on line
    // (its online request made and the answer delivered), so that no call of
    // that chain lands in a record a test has just cleared.
    bool wait_online(std::chrono::milliseconds bound = 10s);

private:
    std::string read_line();
    int fd_ = -1;
    std::string buffered_;
};

// The lines of the simulator's call log ($CNXD_ROOT/var/log/ltesim-calls.log),
// which outlives the control socket: "NAME dev=N" per call.
std::vector<std::string> ltesim_call_log(const Sysroot& root);

// What a daemon that stopped left behind in `root`, a line each: a client's
// shared block, semaphore set or socket, the server socket, the pid file,
// the simulator's control socket (closed with the SDK). "" when nothing.
std::string leftovers(const Sysroot& root);
// The clients' share of it: their shared blocks, semaphore sets and sockets.
std::string client_leftovers(const Sysroot& root);
// Whether a new session is served: a client opens, its request is answered
// with 0 and its close removes its shared block.
bool serves_a_session(const Sysroot& root);
// tshark's one-line summaries (the Info column) of a capture file read
// through the generated dissector, one per block, in order.
std::vector<std::string> capture_summaries(const std::string& file);

// One run of cnxd-cli with CNXD_ROOT set, `input` on its standard input;
// killed by the destructor when still running.
class Cli {
public:
    Cli(const Sysroot& root, const std::vector<std::string>& args, const std::string& input = "");
    ~Cli();
    Cli(const Cli&) = delete;
    Cli& operator=(const Cli&) = delete;

    // The exit status, or -1 when it had to be killed after `bound`.
    int wait(std::chrono::milliseconds bound = 10s);
    int interrupt();
    std::string out() const { return read_text(out_); }
    std::string err() const { return read_text(out_ + ".err"); }

private:
    std::string out_;
    pid_t pid_ = -1;
};

}  // namespace cnxd::test
