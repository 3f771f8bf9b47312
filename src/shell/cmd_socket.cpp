#include "shell/cmd_socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/fd.h"
#include "base/path.h"
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

// One connection and the thread that serves it. The thread closes the
// descriptor itself when the connection ends and marks itself done; the
// listener joins done receivers when they wake it.
struct Receiver {
    UniqueFd fd;
    std::thread thread;
    bool done = false;
};

// Guards the broadcast slots and the receiver list. Held while broadcasting,
// so a descriptor is never closed (and reused) under a send.
std::mutex shell_lock;
std::array<int, CMD_SOCKET_SLOTS> client_slots;
int client_count = 0;
std::list<Receiver> receivers;

std::thread listener;
std::atomic<bool> stopping{false};
// Wakes the listener: a receiver ended, or the shell stops.
UniqueFd wake_rd;
UniqueFd wake_wr;

void wake_listener()
{
    const char byte = 0;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t n = write(wake_wr.get(), &byte, 1);
}

void take_slot(int fd)
{
    const auto slot = std::ranges::find(client_slots, FREE_SLOT);
    if (slot == client_slots.end())
        return;
    *slot = fd;
    ++client_count;
}

void free_slot(int fd)
{
    const auto slot = std::ranges::find(client_slots, fd);
    if (slot == client_slots.end())
        return;
    *slot = FREE_SLOT;
    --client_count;
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
// line is the command, the rest is dropped. A NUL ends the line too, as it
// ends the text for everything downstream.
void serve_line(std::span<char> buf, size_t n)
{
    const size_t end = std::find_if(buf.begin(), buf.begin() + n,
                                    [](char c) { return c == '\r' || c == '\n' || c == '\0'; }) -
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

void socket_receiver(Receiver* self)
{
    const int fd = self->fd.get();
    std::array<char, CMD_RECV_MAX + 2> buf;
    ssize_t n;
    for (;;) {
        errno = 0;
        n = recv(fd, buf.data(), CMD_RECV_MAX, 0);
        if (n <= 0)
            break;
        serve_line(buf, static_cast<size_t>(n));
    }
    const int err = errno;
    {
        std::lock_guard g(shell_lock);
        free_slot(fd);
        self->fd.reset();
        self->done = true;
    }
    sdk_log(6, "client on descriptor #%i disconnected (ret=%d, strerr=%s(%d))\n", fd, static_cast<int>(n),
            strerror(err), err);
    wake_listener();
}

// Joins the receivers that have ended.
void reap_receivers()
{
    std::list<Receiver> ended;
    {
        std::lock_guard g(shell_lock);
        for (auto it = receivers.begin(); it != receivers.end();) {
            const auto next = std::next(it);
            if (it->done)
                ended.splice(ended.end(), receivers, it);
            it = next;
        }
    }
    for (Receiver& r : ended)
        r.thread.join();
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
    {
        std::lock_guard g(shell_lock);
        take_slot(raw);
    }
    if (get_arm1_log_direction() != ARM1_LOG_CLIENTS)
        set_arm1_log_direction(ARM1_LOG_CLIENTS);
    sdk_log(6, "client accept [%d]\n", raw);
    std::lock_guard g(shell_lock);
    Receiver& r = receivers.emplace_back();
    r.fd = std::move(fd);
    try {
        r.thread = std::thread(socket_receiver, &r);
    } catch (const std::system_error&) {
        sdk_log(3, "pthread_create fail\n");
        free_slot(raw);
        receivers.pop_back();
    }
}

void socket_interface_func()
{
    {
        std::lock_guard g(shell_lock);
        client_slots.fill(FREE_SLOT);
        client_count = 0;
    }
    const UniqueFd listen_fd = open_listener();
    if (!listen_fd)
        return;
    while (!stopping) {
        fd_set rd;
        FD_ZERO(&rd);
        FD_SET(listen_fd.get(), &rd);
        FD_SET(wake_rd.get(), &rd);
        const int rc = select(std::max(listen_fd.get(), wake_rd.get()) + 1, &rd, nullptr, nullptr, nullptr);
        if (rc < 0)
            continue;  // EINTR
        if (FD_ISSET(wake_rd.get(), &rd)) {
            char drain[64];
            [[maybe_unused]] const ssize_t n = read(wake_rd.get(), drain, sizeof drain);
            reap_receivers();
        }
        if (!stopping && FD_ISSET(listen_fd.get(), &rd))
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
    stopping = false;
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
    stopping = true;
    wake_listener();
    listener.join();
    // Wake every receiver out of its recv; each then ends on its own.
    std::list<Receiver> all;
    {
        std::lock_guard g(shell_lock);
        for (Receiver& r : receivers)
            if (r.fd)
                shutdown(r.fd.get(), SHUT_RDWR);
        all.splice(all.end(), receivers);
    }
    for (Receiver& r : all)
        r.thread.join();
    wake_rd.reset();
    wake_wr.reset();
}

void cmd_socket_broadcast(std::string_view text)
{
    std::lock_guard g(shell_lock);
    for (const int fd : client_slots)
        if (fd != FREE_SLOT)
            // Never blocks the modem's callback thread: a connection that
            // does not read loses output instead.
            send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

int cmd_socket_client_count()
{
    std::lock_guard g(shell_lock);
    return client_count;
}

}  // namespace cnxd
