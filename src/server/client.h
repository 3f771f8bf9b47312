// The client table and the client connections: the server socket and its
// handshake, one socket, shared block and semaphore pair per client, frame
// receive and dispatch, relay and release.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "core/eloop.h"
#include "server/hci.h"

namespace cnxd {

constexpr int CNXD_MAX_CLIENTS = 15;
constexpr uint8_t CLIENT_FREE = 0xFF;

constexpr const char* CNXD_SERVER_PATH = "/var/tmp/cnxd-daemon";
constexpr const char* CNXD_CLIENT_PATH_FMT = "/var/tmp/cnxd-client-%d";
// The read-only state socket (a stream socket: one JSON document per
// connection).
constexpr const char* CNXD_STATE_PATH = "/var/tmp/cnxd-state";

// Locks: the table lock (below) serialises allocation, release, the dump
// and every delivery. Each record also has its own lock, taken after the
// table lock by whatever changes the record (allocation, the handshake's
// fill, release) and taken alone by the users that must not wait behind a
// sender holding the table lock: the loop's receive, the keep-alive probe,
// the start of an API request. It is held only around a few field reads, a
// non-blocking socket call or an attach, never while waiting, so that no
// one reads, writes or attaches through a socket or block that a release
// has closed or removed (whose number may already be reused).
// How a client has been served, for the state socket: written where the
// client is served (main thread, delivery and keep-alive), read on the
// state socket's thread. Times the state socket reads are milliseconds of the
// monotonic clock in 32 bits (the target has no 64-bit atomics): ages
// are their differences, right for anything under 49 days.
// The main thread is the only writer of a client's service times, so a
// request records its time without a lock; a reader may copy a slot while
// it is being overwritten and then sorts one newer time in, which a
// percentile of the last KEPT times does not mind.
struct client_stats {
    static constexpr size_t KEPT = 1000;  // service times kept for the percentiles
    std::atomic<uint32_t> served = 0;     // requests served; the next slot of `times`
    std::atomic<int32_t> in_flight = -1;  // the API command being served, -1 none
    std::atomic<uint32_t> in_flight_since = 0;   // ms
    std::atomic<uint32_t> keepalive_answer = 0;  // ms of the last answer, 0 none yet
    int64_t started_us = 0;  // of the request being served; main thread only
    std::atomic<uint32_t> send_retries = 0;     // writes retried on a full socket
    std::atomic<uint32_t> send_drops = 0;       // frames that failed otherwise
    std::array<std::atomic<uint32_t>, KEPT> times{};  // the last KEPT service times, a ring

    void reset();
    void begin(uint16_t cmd);
    void end();
    // The p-th percentile (0-100) of the kept service times; 0 with none.
    uint32_t percentile(unsigned p);
};
int64_t monotonic_us();
// The monotonic clock in milliseconds, in 32 bits and never 0.
uint32_t monotonic_ms();

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
    // Our one attachment of the shared block, made by the handshake and
    // detached when the last of the record and the requests holding it
    // (block_hold) lets it go: a release during a request leaves the block
    // mapped until the request is done. `shm` is its address while taken.
    std::shared_ptr<uint8_t> block;
    uint8_t* shm = nullptr;
    // Counts the times the record was handed out (under the table lock): a
    // sender that lets the lock go before a release tells by it that the
    // record has since gone to another client.
    uint32_t generation = 0;
    std::mutex lock;            // the record lock
    client_stats stats;

    bool taken() const { return idx != CLIENT_FREE; }
    bool connected() const { return taken() && esock.used; }
    // A word of the shared block (offset in bytes), read as the client wrote it.
    uint32_t shm_word(size_t offset) const;
    // The attachment, for a request to hold until it is done; call with the
    // record lock held.
    std::shared_ptr<uint8_t> block_hold() const { return block; }
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
// Both release a taken record from any thread: its shared block and
// semaphore set are removed and its socket closed at once. Free takes the
// socket out of the loop (unlinked at once when no loop runs); drop leaves
// it listed, inactive, for the loop's sweep (for callers inside the loop's
// walk). Either way the record may be handed out again at once (allocation
// runs on the loop's thread, which takes a record not yet unlinked back).
void cnxd_srv_free_client(cnxd_client_rec* client);
void cnxd_srv_drop_client(cnxd_client_rec* client);
// The release (drop in SEND_MODE_DROP, else free) of a client a sender
// found gone, done only while the record is still of `generation`: the
// sender let the table lock go before it, and meanwhile the client's close
// may have freed the record and a new open taken it, whose handshake would
// then leave its socket, block and semaphores behind in a free record.
void cnxd_srv_release_gone(cnxd_client_rec* client, uint32_t generation, int mode);
void cnxd_srv_deinit();
// Closes the server socket and removes its file; at shutdown, after the
// event loop has ended.
void cnxd_srv_close();
int cnxd_srv_req_disconnect(cnxd_client_rec* client, const HciFrame& frame);
int clnt_req_hci_to_client(cnxd_client_rec* client, const HciFrame& frame);
// Logs the client table at level 5, one line per call of `also` too when
// given (the shell's client-info command also prints it for its user), and
// runs "ps".
void cnxd_srv_dump_clients(void (*also)(const char* line) = nullptr);

// The System V key of a client index's shared block and semaphore set.
int cnxd_client_ipc_key(int index);

}  // namespace cnxd
