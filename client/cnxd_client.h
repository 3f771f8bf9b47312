/*
 * cnxd_client.h - client library of the cnxd connection-manager daemon.
 *
 * A program on the router talks to cnxd through a session: one datagram
 * socket of its own, plus one System V shared block and one semaphore set
 * that the daemon creates for it. This library does the handshake, the
 * frame building and checking, and the semaphore protocol; it is plain C
 * callable (the implementation is C++).
 *
 * Frames (one per datagram): u16 id, u16 length of what follows, payload,
 * all big-endian. The frame ids are those of the daemon's server/hci.h.
 *
 * Shared block of a session (41172 bytes; cnxd_shared_block()):
 *
 *   offset  width  meaning
 *   0       4      receive word: non-zero = the session accepts log text,
 *                  relayed frames and directed notifications
 *   4*k     4      subscription word k (1..377): non-zero = forward the SDK
 *                  event mapped to k (cnxd_subscribe() knows the map)
 *   1512    4      free for the client
 *   1516    4      result of the last API request, big-endian, written by
 *                  the daemon (cnxd_api_request() returns it decoded)
 *   1520    ...    answer areas of the read commands (cnxd_answer_area())
 *
 * The daemon only tests the receive and subscription words for non-zero;
 * this library writes them as big-endian 1 or 0.
 *
 * Semaphores: 0 is "busy" (the daemon holds it while serving one of our
 * requests), 1 counts completions; a request is: send the frame, lower
 * semaphore 1, read the result word.
 *
 * Sends: a frame for which the daemon's socket has no room waits for it at
 * most 10 s (CNXD_E_TIMEOUT then), and the frames that arrive meanwhile are
 * handled as cnxd_dispatch() handles them: the daemon may itself be
 * waiting for us to read before it reads again.
 *
 * Threads: a session is not locked; use it from one thread at a time.
 */
#ifndef CNXD_CLIENT_H
#define CNXD_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Results: 0 or a count on success, one of these on failure. */
enum {
    CNXD_OK = 0,
    CNXD_E_IO = -1,        /* a socket or IPC call failed (errno is kept) */
    CNXD_E_NODAEMON = -2,  /* no daemon listens at its server socket */
    CNXD_E_FULL = -3,      /* the daemon's 15 client slots are taken */
    CNXD_E_REFUSED = -4,   /* the daemon could not set the session up */
    CNXD_E_TIMEOUT = -5,   /* no answer within the time given */
    CNXD_E_INVAL = -6,     /* bad argument (unknown event, frame too long) */
    CNXD_E_GONE = -7,      /* the daemon released this session */
};

/* Size of a frame's header, and the most a client frame may carry. */
#define CNXD_HCI_HEADER 4
#define CNXD_HCI_MAX_FRAME 4096
#define CNXD_SHM_SIZE 41172
#define CNXD_SHM_RESULT 1516

typedef struct cnxd_session cnxd_session;

/* What a session hands to its program; any member may be NULL. `ctx` is
 * passed back unchanged. Pointers are valid only during the call. */
typedef struct cnxd_handlers {
    /* HCI_LOG: log text, not NUL-terminated. */
    void (*log)(void* ctx, const char* text, size_t len);
    /* HCI_SDK_CALLBACK: a forwarded indication. `data` starts with the
     * device index (u32 big-endian) as the daemon forwards it. */
    void (*event)(void* ctx, uint16_t event, const uint8_t* data, size_t len);
    /* HCI_NOTIFY: a directed notification. */
    void (*notify)(void* ctx, uint32_t word, uint16_t code, const uint8_t* data, size_t len);
    /* Any other well-formed frame (for example one relayed by a client). */
    void (*frame)(void* ctx, uint16_t id, const uint8_t* payload, size_t len);
    void* ctx;
} cnxd_handlers;

/* Opens a session with the daemon: identity and process id as announced
 * to it (the identity selects what the daemon sends; log text goes to
 * identity 0). Waits at most timeout_ms for the answer. The session starts
 * with its receive and subscription words at 0. */
int cnxd_open(uint32_t identity, uint32_t pid, int timeout_ms, cnxd_session** out);

/* Asks the daemon to release the session, then frees everything of ours
 * (socket, its file, our attachment). NULL is ignored. */
void cnxd_close(cnxd_session* s);

/* The client index 0-14 the daemon gave us. */
int cnxd_index(const cnxd_session* s);

/* A descriptor that becomes readable when frames are waiting: poll it and
 * call cnxd_dispatch(). */
int cnxd_fd(const cnxd_session* s);

/* Our attachment of the shared block (CNXD_SHM_SIZE bytes). */
uint8_t* cnxd_shared_block(cnxd_session* s);

/* Sets the receive word (log text, relayed frames, notifications). */
void cnxd_set_receive(cnxd_session* s, int on);

/* Sets the subscription word of an SDK event; CNXD_E_INVAL when the daemon
 * never forwards that event. */
int cnxd_subscribe(cnxd_session* s, uint16_t event, int on);

/* Sets the subscription word of every event the daemon forwards. */
void cnxd_subscribe_all(cnxd_session* s, int on);

/* Where the daemon leaves the answer of API command `cmd` in the shared
 * block: offset and size; 0 (and *size 0) for commands without one. */
size_t cnxd_answer_area(uint16_t cmd, size_t* size);

/* Sends API request `cmd` for device `dev` with `len` bytes of command
 * data and waits at most timeout_ms for its completion; *result gets the
 * result word. Frames that arrive meanwhile are dispatched to the
 * handlers (so keep-alive probes are answered while waiting). */
int cnxd_api_request(cnxd_session* s, uint16_t cmd, uint32_t dev, const void* data, size_t len,
                     int timeout_ms, int32_t* result);

/* Sends one command line (HCI_CLI_COMMAND) of `len` bytes. */
int cnxd_send_command(cnxd_session* s, const char* line, size_t len);

/* Asks the daemon to deliver a whole frame (`frame`, header included) to
 * the first client of identity `target`, or with `broadcast` to every
 * client whose identity differs from ours. */
int cnxd_relay(cnxd_session* s, uint32_t target, int broadcast, const uint8_t* frame, size_t len);

/* Installs the handlers (copied); NULL removes them. */
void cnxd_set_handlers(cnxd_session* s, const cnxd_handlers* h);

/* Waits at most timeout_ms (0: do not wait, -1: forever) for a frame, then
 * handles every frame already waiting: keep-alive probes are answered,
 * the others go to the handlers. Returns the number of frames handled
 * (0 on timeout) or a failure. */
int cnxd_dispatch(cnxd_session* s, int timeout_ms);

/* Receives one raw datagram into buf, waiting at most timeout_ms; returns
 * its length (cut to `size`), 0 on timeout (or for an empty datagram), or
 * a failure. No handler runs and no probe is answered. */
int cnxd_recv(cnxd_session* s, uint8_t* buf, size_t size, int timeout_ms);

/* Frames received that were malformed (shorter than their header says, or
 * with inner lengths that do not add up) and dropped. */
unsigned cnxd_rejected_frames(const cnxd_session* s);

/* A short text for a result code. */
const char* cnxd_strerror(int code);

#ifdef __cplusplus
}
#endif

#endif /* CNXD_CLIENT_H */
