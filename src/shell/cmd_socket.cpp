#include "shell/cmd_socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/fd.h"
#include "base/path.h"
#include "base/stop.h"
#include "base/thread_name.h"
#include "ltesdk.h"
#include "modem/bringup.h"
#include "shell/auto_test.h"
#include "shell/cmd_x.h"
#include "shell/dispatcher.h"
#include "shell/log_direction.h"

namespace cnxd {
namespace {

constexpr int LISTEN_BACKLOG = 10;
constexpr int FREE_SLOT = -1;

// What the listener, the receivers and the stop share. Receiver threads are
// detached (nothing waits for a shell command, also not the daemon's stop),
// so one may still run while the process exits: this state is made once and
// never destroyed, so that no exit handler pulls it from under such a thread.
struct ShellState {
    // Guards everything below. Held while broadcasting and around each
    // receiver's close, so a descriptor is never closed (and reused) under a
    // send or the stop's shutdown.
    std::mutex lock;
    std::array<int, CMD_SOCKET_SLOTS> client_slots;
    int client_count = 0;
    std::vector<int> connections;  // the descriptor of every live receiver
    bool stopping = false;
};

ShellState& shell()
{
    static ShellState& s = *new ShellState;
    return s;
}

std::thread listener;
// Wakes the listener when the shell stops.
UniqueFd wake_rd;
UniqueFd wake_wr;

void take_slot(ShellState& sh, int fd)
{
    const auto slot = std::ranges::find(sh.client_slots, FREE_SLOT);
    if (slot == sh.client_slots.end())
        return;
    *slot = fd;
    ++sh.client_count;
}

void free_slot(ShellState& sh, int fd)
{
    const auto slot = std::ranges::find(sh.client_slots, fd);
    if (slot == sh.client_slots.end())
        return;
    *slot = FREE_SLOT;
    --sh.client_count;
}

// Echo of a received line to the modem's console output: one length byte
// (modulo 256) and the text.
void echo_line(std::span<const char> text)
{
    std::vector<uint8_t> msg(1 + text.size());
    msg[0] = static_cast<uint8_t>(text.size() % 256);
    std::copy(text.begin(), text.end(), msg.begin() + 1);
    LAPI_CLI_CMD_RSP_DELIVER_IND(hAPI, 1, msg.data());
}

// One receive of `n` bytes in `buf` (which has room for two more): its first
// line (up to CR or LF) is the command, the rest is dropped. A NUL inside
// the line stays: the daemon's own words read the text before it, the echo
// and the modem get the line byte for byte.
void serve_line(std::span<char> buf, size_t n)
{
    const size_t end = std::find_if(buf.begin(), buf.begin() + n,
                                    [](char c) { return c == '\r' || c == '\n'; }) -
                       buf.begin();
    buf[end] = '\n';
    buf[end + 1] = '\0';
    const size_t len = end + 2;  // the text, its newline and the NUL
    echo_line(buf.first(len));

    const size_t start =
        std::find_if(buf.begin(), buf.begin() + end, [](char c) { return c != ' '; }) - buf.begin();
    // From the first character that is not a space, with the newline.
    cmd_offer_line(std::string_view(buf.data() + start, end + 1 - start), console_length::with_nul, nullptr,
                   capture_source::tcp);
}

// The body of a receiver thread, which owns `fd`. It ends when the peer
// closes or when the shell's stop shuts the connection down; a command it
// runs at that moment is finished first (the commands that could run for
// long give up on the stop request themselves).
void socket_receiver(UniqueFd fd)
{
    name_thread("cmd_session");
    const int raw = fd.get();
    std::array<char, CMD_RECV_MAX + 2> buf;
    ssize_t n = 0;
    // A stopping daemon runs no further line, also not one still queued.
    while (!cnxd_stopping()) {
        errno = 0;
        n = recv(raw, buf.data(), CMD_RECV_MAX, 0);
        if (n <= 0)
            break;
        serve_line(buf, static_cast<size_t>(n));
    }
    const int err = errno;
    bool stopping;
    {
        ShellState& sh = shell();
        std::lock_guard g(sh.lock);
        free_slot(sh, raw);
        std::erase(sh.connections, raw);
        fd.reset();
        stopping = sh.stopping;
    }
    // Once the daemon stops, the receiver touches nothing more of it: the
    // process may be exiting around it.
    if (!stopping)
        sdk_log(6, "client on descriptor #%i disconnected (ret=%d, strerr=%s(%d))\n", raw, static_cast<int>(n),
                strerror(err), err);
}

UniqueFd open_listener()
{
    UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        sdk_log(3, "socket fail[%d]\n", -1);
        return {};
    }
    const int on = 1;
    int rc = setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (rc < 0) {
        sdk_log(3, "setsockopt(SO_REUSEADDR) fail[%d]\n", rc);
        return {};
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    uint32_t listen_addr = 0;
    if (!cnxd_cmd_addr(&listen_addr))
        sdk_log(3, "CNXD_CMD_ADDR is no IPv4 address: the command shell listens on 127.0.0.1\n");
    addr.sin_addr.s_addr = htonl(listen_addr);
    addr.sin_port = htons(static_cast<uint16_t>(cnxd_cmd_port()));
    rc = bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (rc < 0) {
        sdk_log(3, "bind fail[%d]\n", rc);
        return {};
    }
    rc = listen(fd.get(), LISTEN_BACKLOG);
    if (rc < 0) {
        sdk_log(3, "listen fail[%d]\n", rc);
        return {};
    }
    return fd;
}

void accept_client(int listen_fd)
{
    UniqueFd fd(accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC));
    if (!fd) {
        sdk_log(3, "Accept Failed: %d\n", -1);
        return;
    }
    const int on = 1;
    if (const int rc = setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); rc < 0)
        sdk_log(3, "setsockopt(TCP_NODELAY) fail[%d]\n", rc);
    const int raw = fd.get();
    ShellState& sh = shell();
    {
        std::lock_guard g(sh.lock);
        take_slot(sh, raw);
    }
    if (get_arm1_log_direction() != ARM1_LOG_CLIENTS)
        set_arm1_log_direction(ARM1_LOG_CLIENTS);
    sdk_log(6, "client accept [%d]\n", raw);
    std::lock_guard g(sh.lock);
    sh.connections.push_back(raw);
    try {
        std::thread(socket_receiver, std::move(fd)).detach();
    } catch (const std::system_error&) {
        sdk_log(3, "pthread_create fail\n");
        free_slot(sh, raw);
        std::erase(sh.connections, raw);
    }
}

void socket_interface_func()
{
    name_thread("cmd_listener");
    {
        ShellState& sh = shell();
        std::lock_guard g(sh.lock);
        sh.client_slots.fill(FREE_SLOT);
        sh.client_count = 0;
    }
    const UniqueFd listen_fd = open_listener();
    if (!listen_fd)
        return;
    for (;;) {
        fd_set rd;
        FD_ZERO(&rd);
        FD_SET(listen_fd.get(), &rd);
        FD_SET(wake_rd.get(), &rd);
        const int rc = select(std::max(listen_fd.get(), wake_rd.get()) + 1, &rd, nullptr, nullptr, nullptr);
        if (rc < 0)
            continue;  // EINTR
        if (FD_ISSET(wake_rd.get(), &rd))
            return;  // the shell stops
        if (FD_ISSET(listen_fd.get(), &rd))
            accept_client(listen_fd.get());
    }
}

}  // namespace

void cmd_shell_start()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) < 0) {
        sdk_log(3, "pipe fail\n");
        return;
    }
    wake_rd.reset(fds[0]);
    wake_wr.reset(fds[1]);
    {
        ShellState& sh = shell();
        std::lock_guard g(sh.lock);
        sh.stopping = false;
    }
    x_run_open();
    try {
        listener = std::thread(socket_interface_func);
    } catch (const std::system_error&) {
        sdk_log(3, "pthread_create fail\n");
    }
}

void cmd_shell_stop()
{
    auto_test_stop();
    x_run_close();
    if (!listener.joinable())
        return;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = write(wake_wr.get(), &byte, 1);
    listener.join();
    wake_rd.reset();
    wake_wr.reset();
    // Wake every receiver out of its recv; each then ends on its own. A
    // receiver in the middle of a command is not waited for; a program that
    // command started is left to finish, like the runners' (cmd_x_run.cpp):
    // cutting an operator's tool off halfway could leave the router worse off.
    ShellState& sh = shell();
    std::lock_guard g(sh.lock);
    sh.stopping = true;
    for (const int fd : sh.connections)
        shutdown(fd, SHUT_RDWR);
}

void cmd_socket_broadcast(std::string_view text)
{
    ShellState& sh = shell();
    std::lock_guard g(sh.lock);
    for (const int fd : sh.client_slots)
        if (fd != FREE_SLOT)
            // Never blocks the modem's callback thread: a connection that
            // does not read loses output instead.
            send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

int cmd_socket_client_count()
{
    ShellState& sh = shell();
    std::lock_guard g(sh.lock);
    return sh.client_count;
}

}  // namespace cnxd
