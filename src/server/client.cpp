#include "server/client.h"

#include <sys/ioctl.h>
#include <sys/ipc.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/capture.h"
#include "base/fd.h"
#include "base/ipc.h"
#include "base/path.h"
#include "base/shell.h"
#include "base/unix_addr.h"
#include "ltesdk.h"
#include "server/delivery.h"
#include "server/keepalive.h"

namespace cnxd {

cnxd_client_rec cnxd_client[CNXD_MAX_CLIENTS];
std::mutex cnxd_client_lock;

namespace {

eloop_sock server_sock;

// Indexes whose handshake found a shared block or semaphore set left at
// their key by someone else (an earlier daemon that was killed). Such an
// index is not handed out again while that object exists, so only that
// index fails and the next clients get other ones; once the object has
// been removed the index is used again. Kept so on purpose rather than
// failing that index at each open until someone removes the object: a
// killed daemon's leftovers cost the clients nothing. Guarded by the table
// lock.
bool stale_key[CNXD_MAX_CLIENTS];

bool ipc_key_in_use(int index)
{
    const key_t key = cnxd_client_ipc_key(index);
    return shmget(key, 0, 0) >= 0 || semget(key, 0, 0) >= 0;
}

cnxd_client_rec* client_of(eloop_sock* s)
{
    return reinterpret_cast<cnxd_client_rec*>(reinterpret_cast<char*>(s) -
                                              offsetof(cnxd_client_rec, esock));
}

// Removes the socket file of a client index: a socket's file goes with the
// socket (no socket file is left behind, at a release or at the stop); the
// next client of the index binds it anew.
void unlink_client_path(int index)
{
    char target[sizeof(sockaddr_un::sun_path)];
    std::snprintf(target, sizeof target, CNXD_CLIENT_PATH_FMT, index);
    unlink(cnxd_path(target).c_str());
}

// Returns a record taken by a handshake that failed before it completed.
void return_record(cnxd_client_rec* client)
{
    std::lock_guard guard(cnxd_client_lock);
    std::lock_guard rec(client->lock);
    unlink_client_path(client->idx);
    client->idx = CLIENT_FREE;
}

void mark_stale(int index)
{
    std::lock_guard guard(cnxd_client_lock);
    stale_key[index] = true;
}

// Set before the event loop runs, read by it only.
cnxd_srv_handlers installed;

// Frames a connected client may send on its own socket.
using frame_handler = int (*)(cnxd_client_rec*, const HciFrame&);

int on_api_request(cnxd_client_rec* c, const HciFrame& f) { return installed.api_request(c, f.payload); }

struct ClientFrameRow {
    uint16_t id;
    frame_handler handler;
};

constexpr ClientFrameRow client_frame_tbl[] = {
    {HCI_KEEP_ALIVE_RSP, cnxd_keep_alive_rsp},
    {HCI_API_CLOSE, cnxd_srv_req_disconnect},
    {HCI_CLIENT_RELAY, clnt_req_hci_to_client},
};

// The handler of a frame id; nullptr for an id without one.
frame_handler frame_handler_of(uint16_t id)
{
    if (id == HCI_API_REQUEST)
        return installed.api_request ? on_api_request : nullptr;
    if (id == HCI_CLI_COMMAND)
        return installed.cli_command;
    for (const ClientFrameRow& row : client_frame_tbl)
        if (row.id == id)
            return row.handler;
    return nullptr;
}

// Unmaps and removes the IPC objects, frees the index and closes the socket
// of a taken record. Called with the table lock held.
void release_locked(cnxd_client_rec* client)
{
    std::lock_guard rec(client->lock);
    client->block.reset();
    client->shm = nullptr;
    if (client->shmid >= 0)
        shmctl(client->shmid, IPC_RMID, nullptr);
    if (client->semid >= 0)
        semctl(client->semid, 0, IPC_RMID);
    client->shmid = -1;
    client->semid = -1;
    if (client->taken())
        unlink_client_path(client->idx);
    client->idx = CLIENT_FREE;
    if (const int fd = client->esock.sock.exchange(-1); fd >= 0)
        close(fd);
}

// A client that ended without a close request keeps its record while no
// send finds it gone, and an API-only client (no receive word, no
// subscription, no keep-alive) is never sent anything: fifteen crashes
// would fill the table for good. So when the table is full, each taken
// record's peer is looked at without sending it a byte: a fresh socket's
// connect to the peer's address is refused (or finds no file) once the
// peer's socket is closed. A peer without a name cannot be looked at and
// counts as alive. With the table lock held (the record lock is taken here:
// no release closes the socket meanwhile).
bool peer_closed(cnxd_client_rec& client)
{
    std::lock_guard rec(client.lock);
    sockaddr_un peer{};
    socklen_t len = sizeof peer;
    const int fd = client.esock.sock;
    if (fd < 0 || getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) < 0)
        return fd >= 0 && errno == ENOTCONN;  // a send found it refused already
    if (len <= offsetof(sockaddr_un, sun_path) || peer.sun_path[0] == '\0')
        return false;
    const UniqueFd probe(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!probe || connect(probe.get(), reinterpret_cast<const sockaddr*>(&peer), len) == 0)
        return false;
    return errno == ECONNREFUSED || errno == ENOENT;
}

void send_open_rsp(int sock, const sockaddr_un& to, socklen_t to_len, uint8_t index)
{
    uint8_t rsp[HCI_HEADER_LEN + 1];
    hci_put_header(rsp, HCI_API_OPEN_RSP, 1);
    rsp[HCI_HEADER_LEN] = index;
    // Never wait for a client that does not read its answers: the server
    // socket serves everyone.
    const ssize_t n = sendto(sock, rsp, sizeof rsp, MSG_NOSIGNAL | MSG_DONTWAIT,
                             reinterpret_cast<const sockaddr*>(&to), to_len);
    if (n < 0)
        sdk_log(7, "[SERVER] sendto error %d", static_cast<int>(n));
    else
        capture({.kind = capture_kind::frame_out, .index = index, .bytes = rsp});
}

// Steps 7 to 14 of the handshake for a taken record. On failure everything
// made so far (socket, shared block, semaphore set) is removed again.
struct Handshake {
    cnxd_client_rec* client;
    uint32_t identity;
    uint32_t pid;
    const sockaddr_un& peer;
    socklen_t peer_len;

    // Returns false when the failure answer is due (after bind or connect
    // failures the handshake ends with no answer: `answer` is false).
    bool run(bool* answer)
    {
        *answer = true;
        const int index = client->idx;
        char target[sizeof(sockaddr_un::sun_path)];
        std::snprintf(target, sizeof target, CNXD_CLIENT_PATH_FMT, index);
        const std::string path = cnxd_path(target);
        sockaddr_un addr;
        UniqueFd sock(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!make_unix_addr(path, &addr) || !sock) {
            sdk_log(3, "bind error: %s", std::strerror(sock ? ENAMETOOLONG : errno));
            *answer = false;
            return false;
        }
        unlink(path.c_str());
        if (bind(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
            sdk_log(3, "bind error: %s", std::strerror(errno));
            *answer = false;
            return false;
        }
        int on = 1;
        if (ioctl(sock.get(), FIONBIO, &on) < 0)
            sdk_log(7, "Non-block option set failed");
        if (connect(sock.get(), reinterpret_cast<const sockaddr*>(&peer), peer_len) < 0) {
            sdk_log(3, "connect error: %s", std::strerror(errno));
            *answer = false;
            return false;
        }

        const key_t key = cnxd_client_ipc_key(index);
        ShmSegment block;
        if (block.create(key, shm::SIZE) < 0) {
            if (errno == EEXIST) {
                sdk_log(3, "Cannot create shm client%d key", index);
                mark_stale(index);
            }
            return false;
        }
        SemSet sems;
        if (sems.create(key, 2) < 0) {
            if (errno == EEXIST) {
                sdk_log(3, "Cannot create sem client%d key", index);
                mark_stale(index);
            }
            return false;
        }
        unsigned short zeros[2] = {0, 0};
        if (semctl(sems.id(), 0, SETALL, zeros) < 0) {
            sdk_log(3, "semctl error");
            return false;
        }

        std::lock_guard guard(cnxd_client_lock);
        std::lock_guard rec(client->lock);
        auto [shmid, shm_addr] = block.release();
        client->shmid = shmid;
        client->block = std::shared_ptr<uint8_t>(shm_addr, [](uint8_t* p) { shmdt(p); });
        client->shm = shm_addr;
        client->semid = sems.release();
        client->identity = identity;
        client->pid = static_cast<int>(pid);
        client->esock.sock = sock.release();
        client->esock.handler = cnxd_srv_recv;
        client->esock.used = 1;
        eloop_register_sock(&eloop, &client->esock);
        // Answered under the locks: a release on another thread may close
        // the socket as soon as they are let go.
        send_open_rsp(client->esock.sock, peer, peer_len, client->idx);
        return true;
    }
};

__attribute__((format(printf, 2, 3))) void add_line(std::vector<std::string>& lines, const char* fmt, ...)
{
    char text[128];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    lines.emplace_back(text);
}

}  // namespace

uint32_t cnxd_client_rec::shm_word(size_t offset) const
{
    return shm ? load_be32(shm + offset) : 0;
}

int cnxd_client_ipc_key(int index)
{
    return ftok(cnxd_path(CNXD_SERVER_PATH).c_str(), index);
}

void cnxd_srv_set_handlers(const cnxd_srv_handlers& handlers) { installed = handlers; }

void cnxd_srv_init()
{
    std::lock_guard guard(cnxd_client_lock);
    for (cnxd_client_rec& c : cnxd_client) {
        c.idx = CLIENT_FREE;
        c.block.reset();
        c.shm = nullptr;
        c.shmid = -1;
        c.semid = -1;
        c.esock.used = 0;
        c.esock.active = 0;
        c.esock.sock = -1;
        list_init(&c.esock.link);
    }
}

int cnxd_srv_open()
{
    UniqueFd sock(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock) {
        sdk_log(3, "Unable to create common socket: %s", std::strerror(errno));
        return -1;
    }
    const std::string path = cnxd_path(CNXD_SERVER_PATH);
    sockaddr_un addr;
    if (!make_unix_addr(path, &addr)) {
        sdk_log(3, "Unable to bind common socket: %s", std::strerror(ENAMETOOLONG));
        return -1;
    }
    unlink(path.c_str());
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    if (bind(sock.get(), reinterpret_cast<sockaddr*>(&addr), len) < 0) {
        sdk_log(3, "Unable to bind common socket: %s", std::strerror(errno));
        return -1;
    }
    chmod(path.c_str(), 0777);
    server_sock.sock = sock.release();
    server_sock.handler = cnxd_srv_accept;
    server_sock.used = 1;
    eloop_register_sock(&eloop, &server_sock);
    return 0;
}

int64_t monotonic_us()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

namespace {

uint32_t ms_of(int64_t us)
{
    const auto ms = static_cast<uint32_t>(us / 1000);
    return ms ? ms : 1;
}

}  // namespace

uint32_t monotonic_ms() { return ms_of(monotonic_us()); }

void client_stats::reset()
{
    served = 0;
    in_flight = -1;
    keepalive_answer = 0;
    send_retries = 0;
    send_drops = 0;
}

void client_stats::begin(uint16_t cmd)
{
    started_us = monotonic_us();
    in_flight_since.store(ms_of(started_us), std::memory_order_relaxed);
    in_flight.store(cmd, std::memory_order_release);
}

void client_stats::end()
{
    const auto took = static_cast<uint32_t>(monotonic_us() - started_us);
    const uint32_t n = served.load(std::memory_order_relaxed);
    times[n % KEPT].store(took, std::memory_order_relaxed);
    served.store(n + 1, std::memory_order_release);
    in_flight.store(-1, std::memory_order_release);
}

uint32_t client_stats::percentile(unsigned p)
{
    std::array<uint32_t, KEPT> sorted;
    const size_t n = std::min<size_t>(served.load(std::memory_order_acquire), KEPT);
    for (size_t i = 0; i < n; ++i)
        sorted[i] = times[i].load(std::memory_order_relaxed);
    if (n == 0)
        return 0;
    const size_t at = std::min(n - 1, n * p / 100);
    std::nth_element(sorted.begin(), sorted.begin() + at, sorted.begin() + n);
    return sorted[at];
}

namespace {

// Takes the first free record; -1 when the table is full. A record released
// but not yet unlinked by the loop's sweep is free too: allocation runs on
// the loop's thread, whose registration takes such a record back in place.
int take_free_record()
{
    std::lock_guard guard(cnxd_client_lock);
    for (int i = 0; i < CNXD_MAX_CLIENTS; ++i) {
        cnxd_client_rec& c = cnxd_client[i];
        if (c.idx != CLIENT_FREE || (stale_key[i] && ipc_key_in_use(i)))
            continue;
        stale_key[i] = false;
        std::lock_guard rec(c.lock);
        c.idx = static_cast<uint8_t>(i);
        c.esock.used = 0;
        c.ka_miss = 0;
        ++c.generation;
        c.stats.reset();
        return i;
    }
    return -1;
}

}  // namespace

cnxd_client_rec* cnxd_srv_alloc_client()
{
    int found = take_free_record();
    if (found < 0) {
        // A full table: the records of peers gone are freed (see peer_closed).
        std::array<std::optional<uint32_t>, CNXD_MAX_CLIENTS> gone{};  // the generation of each
        {
            std::lock_guard guard(cnxd_client_lock);
            for (int i = 0; i < CNXD_MAX_CLIENTS; ++i)
                if (cnxd_client[i].taken() && peer_closed(cnxd_client[i]))
                    gone[i] = cnxd_client[i].generation;
        }
        for (int i = 0; i < CNXD_MAX_CLIENTS; ++i)
            if (gone[i]) {
                sdk_log(4, "[SERVER] client %d is gone without a close, released", i);
                cnxd_srv_release_gone(&cnxd_client[i], *gone[i], SEND_MODE_FREE);
            }
        if (std::ranges::any_of(gone, [](const auto& g) { return g.has_value(); }))
            found = take_free_record();
    }
    if (found < 0)
        return nullptr;  // a full table: the failure answer says so, no index to log
    sdk_log(3, "debug code cnxd_srv_alloc_client %d\n", found);
    return &cnxd_client[found];
}

int cnxd_srv_accept(eloop_sock* s)
{
    uint8_t buf[HCI_MAX_FRAME];
    sockaddr_un peer{};
    socklen_t peer_len = sizeof peer;
    const ssize_t n = recvfrom(s->sock, buf, sizeof buf, MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&peer), &peer_len);
    if (n < 0)
        return 0;
    capture({.kind = capture_kind::frame_in, .index = CLIENT_FREE, .bytes = {buf, static_cast<size_t>(n)}});
    const auto frame = hci_decode({buf, static_cast<size_t>(n)});
    if (!frame || frame->id != HCI_API_OPEN) {
        sdk_log(3, "Not a SDK API OPEN request");
        return 0;
    }
    // An announced identity and pid are read only as far as they arrived.
    uint32_t identity = 0;
    uint32_t pid = 0;
    if (frame->len != 0) {
        identity = load_be32(frame->payload, 0);
        pid = load_be32(frame->payload, 4);
    }
    sdk_log(7, "[SERVER] new connection request");

    uint8_t answer = CLIENT_FREE;
    cnxd_client_rec* client = cnxd_srv_alloc_client();
    if (client) {
        answer = client->idx;
        sdk_log(3, "debug code %d\n", answer);
        bool send_answer = true;
        Handshake hs{client, identity, pid, peer, peer_len};
        if (hs.run(&send_answer)) {
            sdk_log(7, "[SERVER] assigns client index %d, pid(%d)", answer, static_cast<int>(pid));
            return 0;
        }
        // A failed handshake gives its record back, so that no slot leaks.
        return_record(client);
        if (!send_answer)
            return 0;
    }
    sdk_log(3, "[SERVER] fails serving connection request");
    send_open_rsp(s->sock, peer, peer_len, answer);
    return 0;
}

int cnxd_srv_recv(eloop_sock* s)
{
    cnxd_client_rec* client = client_of(s);
    uint8_t buf[HCI_MAX_FRAME];
    ssize_t n;
    int err;
    int fd;
    int index;
    {
        // A release on another thread may have closed the socket since the
        // walk found it ready.
        std::lock_guard rec(client->lock);
        fd = s->sock;
        if (fd < 0)
            return 0;
        n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        err = errno;
        index = client->idx;
    }
    if (cnxd_api_flags & 1) {
        std::printf("recv cliient_index(%d), client_id(%d)\n", index, static_cast<int>(client->identity));
        std::printf("recv sock(%d), hci (0x%04x) len(%d)\n", fd, n >= 2 ? load_be16(buf) : 0,
                    n >= 4 ? load_be16(buf + 2) : 0);
    }
    // Nothing to read is no failure: the ready bit may be that of a socket
    // released earlier in this walk, whose number a new client got since.
    // Closing on EAGAIN would release that new, live client before it has
    // sent anything; a real read error or an empty datagram still closes.
    if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK))
        return 0;
    if (n <= 0) {
        sdk_log(3, "Client socket read error, Closing client");
        cnxd_srv_req_disconnect(client, HciFrame{});
        return -1;
    }
    capture({.kind = capture_kind::frame_in,
             .index = static_cast<uint16_t>(index),
             .a = client->identity,
             .bytes = {buf, static_cast<size_t>(n)}});
    const auto frame = hci_decode({buf, static_cast<size_t>(n)});
    if (!frame) {
        // Fewer bytes than a header: no id to dispatch on.
        sdk_log(3, "Unknown HCI (0x%x)", n >= 2 ? load_be16(buf) : 0);
        return 0;
    }
    if (const frame_handler handler = frame_handler_of(frame->id)) {
        const bool request = frame->id == HCI_API_REQUEST && frame->payload.size() >= 2;
        if (request)
            client->stats.begin(load_be16(frame->payload.data()));
        handler(client, *frame);
        if (request)
            client->stats.end();
    } else
        sdk_log(3, "Unknown HCI (0x%x)", frame->id);
    return 0;
}

int cnxd_srv_req_disconnect(cnxd_client_rec* client, const HciFrame&)
{
    int index;
    {
        std::lock_guard rec(client->lock);
        index = client->idx;
    }
    sdk_log(7, "[CLIENT %d,0x%08x] request disconnection", index, client->identity);
    cnxd_srv_free_client(client);
    return 0;
}

int clnt_req_hci_to_client(cnxd_client_rec* client, const HciFrame& frame)
{
    const uint32_t target = load_be32(frame.payload, 0);
    if (cnxd_api_flags & 1)
        std::printf("%s(), client_identity (0x%08x)\n", "clnt_req_hci_to_client", target);
    // Target identity (4), broadcast flag (1), then a whole inner frame.
    if (frame.payload.size() < 5 + HCI_HEADER_LEN)
        return 0;
    const bool broadcast = frame.payload[4] != 0;
    const auto inner = frame.payload.subspan(5);
    if (!broadcast)
        return cnxd_srv_send_hci_by_id(target, 0, inner);
    // The receivers are picked under the table lock (releases on other
    // threads change the records) and served after it: each send takes the
    // lock itself and checks again that its receiver is still there.
    std::array<cnxd_client_rec*, CNXD_MAX_CLIENTS> receivers{};
    size_t count = 0;
    {
        std::lock_guard guard(cnxd_client_lock);
        for (cnxd_client_rec& c : cnxd_client)
            if (c.connected() && c.identity != client->identity)
                receivers[count++] = &c;
    }
    for (size_t i = 0; i < count; ++i)
        cnxd_srv_send_hci(receivers[i], inner, SEND_MODE_DROP);
    return 0;
}

namespace {

// Free or drop (`mode`) a taken record of `generation` (any when none).
void release_record(cnxd_client_rec* client, int mode, std::optional<uint32_t> generation)
{
    std::lock_guard guard(cnxd_client_lock);
    if (!client->taken() || (generation && client->generation != *generation))
        return;
    release_locked(client);
    if (mode == SEND_MODE_DROP)
        client->esock.active = 0;
    else
        eloop_unregister_sock(&eloop, &client->esock);
}

}  // namespace

void cnxd_srv_free_client(cnxd_client_rec* client) { release_record(client, SEND_MODE_FREE, std::nullopt); }

void cnxd_srv_drop_client(cnxd_client_rec* client) { release_record(client, SEND_MODE_DROP, std::nullopt); }

void cnxd_srv_release_gone(cnxd_client_rec* client, uint32_t generation, int mode)
{
    release_record(client, mode, generation);
}

void cnxd_srv_deinit()
{
    std::unique_lock guard(cnxd_client_lock);
    for (cnxd_client_rec& c : cnxd_client) {
        if (!c.taken())
            continue;
        sdk_log(5, "Deinitializing client %d", c.idx);
        guard.unlock();
        cnxd_srv_free_client(&c);
        guard.lock();
    }
}

void cnxd_srv_close()
{
    eloop_unregister_sock(&eloop, &server_sock);
    server_sock.used = 0;
    if (const int fd = server_sock.sock.exchange(-1); fd >= 0) {
        close(fd);
        unlink(cnxd_path(CNXD_SERVER_PATH).c_str());
    }
}

void cnxd_srv_dump_clients(void (*also)(const char* line))
{
    // The lines are taken under the table lock and printed after it: the
    // print of `also` delivers to clients, which takes the lock itself.
    std::vector<std::string> lines;
    {
        std::lock_guard guard(cnxd_client_lock);
        for (int i = 0; i < CNXD_MAX_CLIENTS; ++i) {
            const cnxd_client_rec& c = cnxd_client[i];
            add_line(lines, "client->idx [%d], id [%d]\n", i, c.idx);
            if (!c.taken())
                continue;
            add_line(lines, "client->identity [0x%08x]\n", c.identity);
            add_line(lines, "client->pid [%d]\n", c.pid);
            add_line(lines, "eloop_sock.used [%d]\n", c.esock.used.load());
            add_line(lines, "eloop_sock.sock [%d]\n", c.esock.sock.load());
            add_line(lines, "eloop_sock.active [%d]\n", c.esock.active.load());
            add_line(lines, "\n");
        }
    }
    for (const std::string& text : lines) {
        sdk_log(5, "%s", text.c_str());
        if (also)
            also(text.c_str());
    }
    cnxd_system("ps");
}

}  // namespace cnxd
