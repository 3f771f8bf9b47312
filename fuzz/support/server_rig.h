// A daemon server side for fuzz targets, set up once per process in the
// fuzz sysroot: the server socket at its usual path, with the daemon's API
// handlers installed, and client peers that connect through the real
// handshake, each with its own bound socket, shared block and semaphore set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/fd.h"
#include "server/client.h"

namespace cnxd::fuzz {

class ServerRig {
public:
    static constexpr int PEERS = 3;

    // The rig of this process, made on first use; torn down at exit.
    static ServerRig& get();

    // The server socket's record, as the event loop would hand it over.
    eloop_sock* server() { return &server_; }

    // The daemon's record of peer `i`, handshaking again when the peer is
    // not connected (an earlier input may have closed it). The peer takes
    // relayed frames (its receive word is set). A failed handshake is a
    // finding: the rig never fills the table.
    cnxd_client_rec* client(int i);

    // Sends one datagram from peer `i` to its client socket (a datagram
    // from the client program). Returns false when the send failed.
    bool send_from_peer(int i, std::span<const uint8_t> datagram);

    // Sends one datagram to the server socket from a socket that is not a
    // connected peer, as a new client program would.
    bool send_to_server(std::span<const uint8_t> datagram);

    // Runs after each input: reads what the daemon sent to every peer and
    // to the opener, collects request completions as a client would, and
    // releases any record the opener was given, so inputs stay independent.
    void settle();

    void shutdown();

private:
    ServerRig();
    struct Peer {
        UniqueFd fd;
        std::string path;
        int index = -1;
        uint32_t identity = 0;
    };

    bool bind_peer(Peer& p, const char* name);
    int handshake(Peer& p);
    static void drain(int fd);

    std::string root_;
    UniqueFd server_fd_;
    eloop_sock server_;
    Peer peers_[PEERS];
    Peer opener_;
};

}  // namespace cnxd::fuzz
