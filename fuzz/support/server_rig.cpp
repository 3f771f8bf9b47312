#include "support/server_rig.h"

#include <sys/sem.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "api/cnxd_handler.h"
#include "base/be.h"
#include "base/path.h"
#include "base/unix_addr.h"
#include "core/eloop.h"
#include "support/check.h"
#include "support/sysroot.h"

namespace cnxd::fuzz {
namespace {

// Peers announce distinct process ids (how the rig recognises its records)
// and two identities, so that relays meet both a shared and a distinct one.
constexpr uint32_t PEER_PID_BASE = 7000;
constexpr uint32_t PEER_IDENTITY[ServerRig::PEERS] = {0x11111111, 0x22222222, 0x11111111};

sockaddr_un unix_addr(const std::string& path)
{
    sockaddr_un addr;
    expect(make_unix_addr(path, &addr), "socket path fits");
    return addr;
}

bool send_dgram(int fd, const std::string& to, std::span<const uint8_t> datagram)
{
    const sockaddr_un addr = unix_addr(to);
    return sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT,
                  reinterpret_cast<const sockaddr*>(&addr), sizeof addr) >= 0;
}

std::string client_socket_path(int index)
{
    char target[64];
    std::snprintf(target, sizeof target, CNXD_CLIENT_PATH_FMT, index);
    return cnxd_path(target);
}

void at_exit() { ServerRig::get().shutdown(); }

}  // namespace

ServerRig& ServerRig::get()
{
    // Never destroyed: the exit handler tears it down, and must find it whole.
    static ServerRig* rig = new ServerRig;
    return *rig;
}

ServerRig::ServerRig()
{
    root_ = fuzz_root();

    eloop_init(&eloop);
    cnxd_srv_init();
    cnxd_srv_set_handlers(cnxd_api_handlers);
    server_fd_.reset(socket(AF_UNIX, SOCK_DGRAM, 0));
    const sockaddr_un addr = unix_addr(cnxd_path(CNXD_SERVER_PATH));
    expect(bind(server_fd_.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0,
           "server socket bound");
    server_.sock = server_fd_.get();
    server_.handler = cnxd_srv_accept;
    server_.used = 1;

    for (int i = 0; i < PEERS; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "peer-%d", i);
        expect(bind_peer(peers_[i], name), "peer socket bound");
        peers_[i].identity = PEER_IDENTITY[i];
    }
    expect(bind_peer(opener_, "opener"), "opener socket bound");
    std::atexit(at_exit);
}

bool ServerRig::bind_peer(Peer& p, const char* name)
{
    p.path = root_ + "/var/tmp/fuzz-" + name;
    p.fd.reset(socket(AF_UNIX, SOCK_DGRAM, 0));
    const sockaddr_un addr = unix_addr(p.path);
    return p.fd && bind(p.fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

int ServerRig::handshake(Peer& p)
{
    const auto pid = static_cast<uint32_t>(PEER_PID_BASE + (&p - peers_));
    uint8_t open[HCI_HEADER_LEN + 8];
    hci_put_header(open, HCI_API_OPEN, 8);
    store_be32(open + 4, p.identity);
    store_be32(open + 8, pid);
    drain(p.fd.get());
    if (!send_dgram(p.fd.get(), cnxd_path(CNXD_SERVER_PATH), open))
        return -1;
    cnxd_srv_accept(&server_);
    uint8_t rsp[16];
    const ssize_t n = recv(p.fd.get(), rsp, sizeof rsp, MSG_DONTWAIT);
    if (n != HCI_HEADER_LEN + 1 || load_be16(rsp) != HCI_API_OPEN_RSP || rsp[4] == CLIENT_FREE)
        return -1;
    return rsp[4];
}

cnxd_client_rec* ServerRig::client(int i)
{
    Peer& p = peers_[i];
    const auto pid = static_cast<int>(PEER_PID_BASE + i);
    if (p.index < 0 || !cnxd_client[p.index].connected() || cnxd_client[p.index].pid != pid)
        p.index = handshake(p);
    // At most the peers and one opener hold records: a free one is there.
    expect(p.index >= 0, "a peer's open handshake succeeds");
    cnxd_client_rec* rec = &cnxd_client[p.index];
    store_be32(rec->shm + shm::RECV_WORD, 1);
    return rec;
}

bool ServerRig::send_from_peer(int i, std::span<const uint8_t> datagram)
{
    const Peer& p = peers_[i];
    return p.index >= 0 && send_dgram(p.fd.get(), client_socket_path(p.index), datagram);
}

bool ServerRig::send_to_server(std::span<const uint8_t> datagram)
{
    return send_dgram(opener_.fd.get(), cnxd_path(CNXD_SERVER_PATH), datagram);
}

void ServerRig::drain(int fd)
{
    uint8_t buf[HCI_MAX_FRAME];
    while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) >= 0) {
    }
}

void ServerRig::settle()
{
    for (Peer& p : peers_)
        drain(p.fd.get());
    drain(opener_.fd.get());

    for (int idx = 0; idx < CNXD_MAX_CLIENTS; ++idx) {
        cnxd_client_rec& rec = cnxd_client[idx];
        if (!rec.taken())
            continue;
        bool is_peer = false;
        for (int i = 0; i < PEERS; ++i)
            is_peer |= peers_[i].index == idx && rec.pid == static_cast<int>(PEER_PID_BASE + i);
        if (!is_peer) {
            cnxd_srv_free_client(&rec);
            continue;
        }
        // Collect completions as the client would, so the count never
        // runs into the semaphore's limit.
        sembuf take{SEM_DONE, -1, IPC_NOWAIT};
        while (semop(rec.semid, &take, 1) == 0) {
        }
    }
}

void ServerRig::shutdown()
{
    cnxd_srv_deinit();
}

}  // namespace cnxd::fuzz
