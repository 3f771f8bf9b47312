// The client library: one session = our bound datagram socket connected to
// the daemon's client socket, our attachment of the shared block, and the
// id of the semaphore set. The daemon owns (creates and removes) the IPC
// objects; we only attach and detach.
#include "cnxd_client.h"

#include <poll.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/fd.h"
#include "base/ipc.h"
#include "base/path.h"
#include "base/unix_addr.h"
#include "frames.h"
#include "server/client.h"

namespace {

using namespace cnxd;
using Clock = std::chrono::steady_clock;

// A datagram from the daemon can be longer than a client frame (a large
// forwarded record); one byte more than the largest 16-bit frame shows a
// datagram that was cut.
constexpr size_t RECV_BUF = HCI_HEADER_LEN + 4 + 0xFFFF + 1;
// The most frames one cnxd_dispatch() call handles, so a busy daemon cannot
// keep the caller inside it forever.
constexpr int DISPATCH_BATCH = 64;
// While waiting for a completion, the socket is looked at this often so
// keep-alive probes are answered and log text does not fill it.
constexpr auto COMPLETION_SLICE = std::chrono::milliseconds(100);
// How long a send waits for room in the daemon's socket, handling the
// frames that arrive meanwhile.
constexpr auto SEND_WAIT = std::chrono::seconds(10);


std::string client_socket_path(int index)
{
    char target[sizeof(sockaddr_un::sun_path)];
    std::snprintf(target, sizeof target, CNXD_CLIENT_PATH_FMT, index);
    return cnxd_path(target);
}

// Milliseconds left until `deadline`; -1 (forever) when there is none.
int remaining_ms(std::optional<Clock::time_point> deadline)
{
    if (!deadline)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::optional<Clock::time_point> deadline_after(int timeout_ms)
{
    if (timeout_ms < 0)
        return std::nullopt;
    return Clock::now() + std::chrono::milliseconds(timeout_ms);
}

// Waits until `fd` is readable: 1, 0 on timeout, -1 on failure.
int wait_readable(int fd, int timeout_ms)
{
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        const int n = poll(&p, 1, timeout_ms);
        if (n >= 0)
            return n;
        if (errno != EINTR)
            return -1;
    }
}

int send_error(int err) { return err == ECONNREFUSED || err == ENOTCONN ? CNXD_E_GONE : CNXD_E_IO; }

}  // namespace

struct cnxd_session {
    UniqueFd sock;
    std::string own_path;  // the file of our bound socket, removed at the end
    int index = -1;
    ShmAttachment block;
    int semid = -1;
    cnxd_handlers handlers{};
    unsigned rejected = 0;
    bool stale_completion = false;  // a request timed out; its completion may come
    bool sending = false;           // a send waits for room and handles frames meanwhile
    std::vector<uint8_t> buf = std::vector<uint8_t>(RECV_BUF);

    cnxd_session() = default;
    cnxd_session(const cnxd_session&) = delete;
    cnxd_session& operator=(const cnxd_session&) = delete;
    ~cnxd_session()
    {
        if (!own_path.empty())
            unlink(own_path.c_str());
    }

    // Sends one datagram. While the daemon's socket is full the frames that
    // arrive are handled: the daemon may be waiting, before it reads again,
    // for us to read what it sends, so neither side may wait for the other
    // without reading. A send inside that handling (a handler's own) only
    // waits; a keep-alive answer never does (a lost one counts as a miss).
    int send_bytes(std::span<const uint8_t> bytes, bool may_wait = true)
    {
        const auto deadline = Clock::now() + SEND_WAIT;
        for (;;) {
            if (send(sock.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) >= 0)
                return CNXD_OK;
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return send_error(errno);
            if (!may_wait || Clock::now() >= deadline)
                return CNXD_E_TIMEOUT;
            const bool handle_frames = !sending;
            pollfd p{sock.get(), static_cast<short>(POLLOUT | (handle_frames ? POLLIN : 0)), 0};
            if (poll(&p, 1, static_cast<int>(COMPLETION_SLICE.count())) > 0 && (p.revents & POLLIN) &&
                handle_frames) {
                sending = true;
                const int rc = dispatch(0);
                sending = false;
                if (rc == CNXD_E_GONE)
                    return rc;
            }
        }
    }

    int send_frame(uint16_t id, std::span<const uint8_t> payload, bool may_wait = true)
    {
        if (payload.size() > HCI_MAX_FRAME - HCI_HEADER_LEN)
            return CNXD_E_INVAL;
        std::array<uint8_t, HCI_MAX_FRAME> frame;
        hci_put_header(frame.data(), id, static_cast<uint16_t>(payload.size()));
        if (!payload.empty())
            std::memcpy(frame.data() + HCI_HEADER_LEN, payload.data(), payload.size());
        return send_bytes({frame.data(), HCI_HEADER_LEN + payload.size()}, may_wait);
    }

    // One datagram into buf: 1 with its length in *len, 0 when none came
    // in time, or a failure. *truncated tells a datagram longer than buf.
    int recv_one(int timeout_ms, size_t* len, bool* truncated)
    {
        const int ready = wait_readable(sock.get(), timeout_ms);
        if (ready <= 0)
            return ready == 0 ? 0 : CNXD_E_IO;
        const ssize_t n = recv(sock.get(), buf.data(), buf.size(), MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0)
            return errno == EAGAIN ? 0 : send_error(errno);
        *truncated = static_cast<size_t>(n) > buf.size();
        *len = *truncated ? buf.size() : static_cast<size_t>(n);
        return 1;
    }

    void handle(std::span<const uint8_t> datagram)
    {
        const auto f = client::decode_frame(datagram);
        if (!f) {
            ++rejected;
            return;
        }
        const cnxd_handlers& h = handlers;
        switch (f->id) {
        case HCI_KEEP_ALIVE:
            send_frame(HCI_KEEP_ALIVE_RSP, {}, false);
            return;
        case HCI_LOG:
            if (const auto text = client::parse_log(*f)) {
                if (h.log)
                    h.log(h.ctx, text->data(), text->size());
                return;
            }
            break;
        case HCI_SDK_CALLBACK:
            if (const auto ev = client::parse_sdk_callback(*f)) {
                if (h.event)
                    h.event(h.ctx, ev->event, ev->data.data(), ev->data.size());
                return;
            }
            break;
        case HCI_NOTIFY:
            if (const auto n = client::parse_notify(*f)) {
                if (h.notify)
                    h.notify(h.ctx, n->word, n->code, n->data.data(), n->data.size());
                return;
            }
            break;
        default:
            if (h.frame)
                h.frame(h.ctx, f->id, f->payload.data(), f->payload.size());
            return;
        }
        ++rejected;
    }

    int dispatch(int timeout_ms)
    {
        int handled = 0;
        for (int wait = timeout_ms; handled < DISPATCH_BATCH; wait = 0) {
            size_t len = 0;
            bool truncated = false;
            const int got = recv_one(wait, &len, &truncated);
            if (got <= 0)
                return handled || got == 0 ? handled : got;
            if (truncated)
                ++rejected;
            else
                handle({buf.data(), len});
            ++handled;
        }
        return handled;
    }

    uint8_t* shm() const { return block.addr(); }
};

namespace {

// Sends HCI_API_OPEN from our socket and waits for the daemon's answer.
// Returns the client index or a failure.
int handshake(cnxd_session& s, uint32_t identity, uint32_t pid, int timeout_ms)
{
    const std::string server = cnxd_path(CNXD_SERVER_PATH);
    sockaddr_un to;
    if (!make_unix_addr(server, &to))
        return CNXD_E_INVAL;
    uint8_t open[HCI_HEADER_LEN + 8];
    hci_put_header(open, HCI_API_OPEN, 8);
    store_be32(open + 4, identity);
    store_be32(open + 8, pid);
    if (sendto(s.sock.get(), open, sizeof open, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to),
               sizeof to) < 0)
        return errno == ENOENT || errno == ECONNREFUSED ? CNXD_E_NODAEMON : CNXD_E_IO;

    const auto deadline = deadline_after(timeout_ms);
    for (;;) {
        const int ready = wait_readable(s.sock.get(), remaining_ms(deadline));
        if (ready <= 0)
            return ready == 0 ? CNXD_E_TIMEOUT : CNXD_E_IO;
        sockaddr_un from{};
        socklen_t from_len = sizeof from;
        uint8_t rsp[HCI_MAX_FRAME];
        const ssize_t n = recvfrom(s.sock.get(), rsp, sizeof rsp, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &from_len);
        if (n < 0)
            continue;
        const auto f = client::decode_frame({rsp, static_cast<size_t>(n)});
        if (!f || f->id != HCI_API_OPEN_RSP || f->len != 1)
            continue;
        const uint8_t index = f->payload[0];
        if (index == CLIENT_FREE)
            return CNXD_E_FULL;
        // A failure answer comes from the server socket, a success from the
        // client socket the daemon made for us.
        if (index >= CNXD_MAX_CLIENTS || server == from.sun_path)
            return CNXD_E_REFUSED;
        return index;
    }
}

int attach_ipc(cnxd_session& s)
{
    // The daemon's key for our index: ftok of its server socket's path.
    const key_t key = ftok(cnxd_path(CNXD_SERVER_PATH).c_str(), s.index);
    const int shmid = shmget(key, 0, 0);
    if (shmid < 0 || !s.block.attach(shmid))
        return CNXD_E_IO;
    s.semid = semget(key, 0, 0);
    return s.semid < 0 ? CNXD_E_IO : CNXD_OK;
}

struct ErrorText {
    int code;
    const char* text;
};

constexpr ErrorText error_tbl[] = {
    {CNXD_OK, "success"},
    {CNXD_E_IO, "socket or IPC failure"},
    {CNXD_E_NODAEMON, "the daemon is not running"},
    {CNXD_E_FULL, "the daemon has no free client slot"},
    {CNXD_E_REFUSED, "the daemon could not set up the session"},
    {CNXD_E_TIMEOUT, "no answer from the daemon in time"},
    {CNXD_E_INVAL, "invalid argument"},
    {CNXD_E_GONE, "the daemon released the session"},
};

}  // namespace

extern "C" {

int cnxd_open(uint32_t identity, uint32_t pid, int timeout_ms, cnxd_session** out)
{
    *out = nullptr;
    auto s = std::make_unique<cnxd_session>();
    s->sock.reset(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!s->sock)
        return CNXD_E_IO;

    static std::atomic<unsigned> serial;
    char target[64];
    std::snprintf(target, sizeof target, "/var/tmp/cnxd-app-%d-%u", static_cast<int>(getpid()),
                  serial++);
    const std::string own = cnxd_path(target);
    sockaddr_un addr;
    if (!make_unix_addr(own, &addr))
        return CNXD_E_INVAL;
    unlink(own.c_str());
    // Our socket lives beside the daemon's: without that directory there
    // is no daemon either.
    if (bind(s->sock.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) < 0)
        return errno == ENOENT ? CNXD_E_NODAEMON : CNXD_E_IO;
    s->own_path = own;

    const int index = handshake(*s, identity, pid, timeout_ms);
    if (index < 0)
        return index;
    s->index = index;
    sockaddr_un peer;
    int rc = make_unix_addr(client_socket_path(index), &peer) &&
                     connect(s->sock.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0
                 ? attach_ipc(*s)
                 : CNXD_E_IO;
    if (rc != CNXD_OK) {
        // The daemon holds a slot for us: give it back.
        s->send_frame(HCI_API_CLOSE, {});
        return rc;
    }
    *out = s.release();
    return CNXD_OK;
}

void cnxd_close(cnxd_session* s)
{
    if (!s)
        return;
    s->send_frame(HCI_API_CLOSE, {});
    delete s;
}

int cnxd_index(const cnxd_session* s) { return s->index; }

int cnxd_fd(const cnxd_session* s) { return s->sock.get(); }

uint8_t* cnxd_shared_block(cnxd_session* s) { return s->shm(); }

void cnxd_set_receive(cnxd_session* s, int on) { store_be32(s->shm() + shm::RECV_WORD, on ? 1 : 0); }

int cnxd_subscribe(cnxd_session* s, uint16_t event, int on)
{
    const unsigned word = subscription_word(event);
    if (word == 0)
        return CNXD_E_INVAL;
    store_be32(s->shm() + 4 * word, on ? 1 : 0);
    return CNXD_OK;
}

void cnxd_subscribe_all(cnxd_session* s, int on)
{
    for (const SubscriptionRow& row : subscription_tbl)
        store_be32(s->shm() + 4 * row.word, on ? 1 : 0);
}

size_t cnxd_answer_area(uint16_t cmd, size_t* size)
{
    const auto area = client::answer_area(cmd);
    *size = area ? area->size : 0;
    return area ? area->offset : 0;
}

int cnxd_api_request(cnxd_session* s, uint16_t cmd, uint32_t dev, const void* data, size_t len,
                     int timeout_ms, int32_t* result)
{
    constexpr size_t fixed = API_REQ_DATA;
    if (len > HCI_MAX_FRAME - HCI_HEADER_LEN - fixed || (len && !data))
        return CNXD_E_INVAL;
    std::array<uint8_t, HCI_MAX_FRAME - HCI_HEADER_LEN> req;
    store_be16(req.data() + API_REQ_CMD, cmd);
    store_be16(req.data() + API_REQ_LEN, static_cast<uint16_t>(4 + len));
    // The device index travels in host order: the daemon runs on this host.
    std::memcpy(req.data() + API_REQ_DEV, &dev, sizeof dev);
    if (len)
        std::memcpy(req.data() + fixed, data, len);

    // A completion left over from an earlier request that timed out would
    // otherwise end this wait at once with a stale result.
    if (s->stale_completion) {
        sembuf take{SEM_DONE, -1, IPC_NOWAIT};
        while (semop(s->semid, &take, 1) == 0) {
        }
        s->stale_completion = false;
    }
    if (const int rc = s->send_frame(HCI_API_REQUEST, {req.data(), fixed + len}); rc != CNXD_OK)
        return rc;

    const auto deadline = deadline_after(timeout_ms);
    sembuf wait{SEM_DONE, -1, 0};
    for (;;) {
        auto slice = COMPLETION_SLICE;
        if (deadline)
            slice = std::min(slice, std::chrono::duration_cast<std::chrono::milliseconds>(
                                        *deadline - Clock::now()));
        if (slice.count() < 0)
            slice = std::chrono::milliseconds(0);
        const timespec ts{static_cast<time_t>(slice.count() / 1000),
                          static_cast<long>(slice.count() % 1000) * 1000000L};
        if (semtimedop(s->semid, &wait, 1, &ts) == 0)
            break;
        if (errno == EIDRM || errno == EINVAL)
            return CNXD_E_GONE;
        if (errno != EAGAIN && errno != EINTR)
            return CNXD_E_IO;
        if (deadline && Clock::now() >= *deadline) {
            s->stale_completion = true;
            return CNXD_E_TIMEOUT;
        }
        if (const int rc = s->dispatch(0); rc == CNXD_E_GONE)
            return rc;
    }
    if (result)
        *result = static_cast<int32_t>(load_be32(s->shm() + shm::RESULT));
    return CNXD_OK;
}

int cnxd_send_command(cnxd_session* s, const char* line, size_t len)
{
    return s->send_frame(HCI_CLI_COMMAND, {reinterpret_cast<const uint8_t*>(line), len});
}

int cnxd_relay(cnxd_session* s, uint32_t target, int broadcast, const uint8_t* frame, size_t len)
{
    if (len < HCI_HEADER_LEN || len > HCI_MAX_FRAME - HCI_HEADER_LEN - 5)
        return CNXD_E_INVAL;
    std::array<uint8_t, HCI_MAX_FRAME - HCI_HEADER_LEN> payload;
    store_be32(payload.data(), target);
    payload[4] = broadcast ? 1 : 0;
    std::memcpy(payload.data() + 5, frame, len);
    return s->send_frame(HCI_CLIENT_RELAY, {payload.data(), 5 + len});
}

void cnxd_set_handlers(cnxd_session* s, const cnxd_handlers* h) { s->handlers = h ? *h : cnxd_handlers{}; }

int cnxd_dispatch(cnxd_session* s, int timeout_ms) { return s->dispatch(timeout_ms); }

int cnxd_recv(cnxd_session* s, uint8_t* buf, size_t size, int timeout_ms)
{
    size_t len = 0;
    bool truncated = false;
    const int got = s->recv_one(timeout_ms, &len, &truncated);
    if (got <= 0)
        return got;
    const size_t copy = std::min(size, len);
    std::memcpy(buf, s->buf.data(), copy);
    return static_cast<int>(copy);
}

unsigned cnxd_rejected_frames(const cnxd_session* s) { return s->rejected; }

const char* cnxd_strerror(int code)
{
    for (const ErrorText& e : error_tbl)
        if (e.code == code)
            return e.text;
    return "unknown failure";
}

}  // extern "C"
