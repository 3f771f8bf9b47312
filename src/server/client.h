// The client table and the client connections: the server socket and its
// handshake, one socket, shared block and semaphore pair per client, frame
// receive and dispatch, relay and release.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>

#include "core/eloop.h"
#include "server/hci.h"

namespace cnxd {

constexpr int CNXD_MAX_CLIENTS = 15;
constexpr uint8_t CLIENT_FREE = 0xFF;

constexpr const char* CNXD_SERVER_PATH = "/var/tmp/cnxd-daemon";
constexpr const char* CNXD_CLIENT_PATH_FMT = "/var/tmp/cnxd-client-%d";

struct cnxd_client_rec {
    uint8_t idx = CLIENT_FREE;  // own index while taken, CLIENT_FREE when free
    uint32_t identity = 0;      // from the open request; selects deliveries
    eloop_sock esock;           // the client socket; esock.used = connected
    int shmid = -1;
    int semid = -1;
    int pid = 0;
    // Keep-alive probes without an answer: counted on the timer thread,
    // cleared on the main thread.
    std::atomic<uint32_t> ka_miss = 0;
    uint8_t* shm = nullptr;     // our attachment of the shared block

    bool taken() const { return idx != CLIENT_FREE; }
    bool connected() const { return taken() && esock.used; }
    // A word of the shared block (offset in bytes), read as the client wrote it.
    uint32_t shm_word(size_t offset) const;
};

extern cnxd_client_rec cnxd_client[CNXD_MAX_CLIENTS];
// The table lock: guards allocation, release, the dump and every delivery.
extern std::mutex cnxd_client_lock;

// The frames whose meaning lies above the transport go to handlers that the
// daemon's wiring installs before the server socket opens, the way the event
// loop takes its socket handlers. A frame whose handler is not installed is
// served like a frame of an unknown id: logged as "Unknown HCI" and dropped,
// so an API request then gets no completion (only a test rig that installs
// nothing meets that; the client's wait times out).
struct cnxd_srv_handlers {
    // HCI_API_REQUEST: the payload (command id, length, device index, data).
    int (*api_request)(cnxd_client_rec* client, std::span<const uint8_t> request) = nullptr;
    // HCI_CLI_COMMAND: a command line.
    int (*cli_command)(cnxd_client_rec* client, const HciFrame& frame) = nullptr;
};

// Installs `handlers` for every later receive; call it on the main thread
// before the event loop runs.
void cnxd_srv_set_handlers(const cnxd_srv_handlers& handlers);
void cnxd_srv_init();
int cnxd_srv_open();
int cnxd_srv_accept(eloop_sock* sock);
int cnxd_srv_recv(eloop_sock* sock);
cnxd_client_rec* cnxd_srv_alloc_client();
void cnxd_srv_free_client(cnxd_client_rec* client);
void cnxd_srv_drop_client(cnxd_client_rec* client);
void cnxd_srv_deinit();
int cnxd_srv_req_disconnect(cnxd_client_rec* client, const HciFrame& frame);
int clnt_req_hci_to_client(cnxd_client_rec* client, const HciFrame& frame);
// Logs the client table at level 5, one line per call of `also` too when
// given (the shell's client-info command also prints it for its user), and
// runs "ps".
void cnxd_srv_dump_clients(void (*also)(const char* line) = nullptr);

// The System V key of a client index's shared block and semaphore set.
int cnxd_client_ipc_key(int index);

}  // namespace cnxd
