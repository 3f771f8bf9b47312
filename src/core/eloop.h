// The event loop: a select() reactor on the main thread that serves the
// client API sockets (the server socket and one socket per client).
//
// A socket is an `eloop_sock` record embedded in whatever owns the socket.
// Only the loop's own thread links and unlinks records, at start-up and
// inside socket handlers, so the list takes no lock. A record released while
// the loop runs (by a handler during the loop's walk over the sockets, or by
// another thread) only has its `active` flag cleared; the loop unlinks it
// outside its walk and only then clears `used`, so its owner never reuses a
// record that is still listed. A release from another thread wakes the
// loop, which unlinks the record before it serves anything else: a record
// freed by a send on another thread is handed out again at the next open.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/list.h"

namespace cnxd {

struct eloop_sock;
using eloop_sock_handler = int (*)(eloop_sock* sock);

// `sock`, `active` and `used` are read by the loop without a lock while a
// release on another thread changes them, hence atomic.
struct eloop_sock {
    list_head link;  // first member: the loop walks links and casts back
    std::atomic<int> sock = -1;
    eloop_sock_handler handler = nullptr;
    std::atomic<uint32_t> active = 0;  // 1 while registered; 0 asks the loop to drop it
    std::atomic<uint32_t> used = 0;    // owner's in-use flag, cleared when the loop unlinks it
};

struct eloop_data {
    list_head sockets;
    std::atomic<uint32_t> terminate = 0;  // lock-free: stored from any thread
    std::atomic<bool> running = false;    // eloop_run is serving; read on every thread
    // An eventfd the loop waits on beside its sockets: written to wake it
    // (a stop, a release from another thread). Made once by eloop_init and
    // kept for the process's life.
    std::atomic<int> wake_fd = -1;
};

extern eloop_data eloop;

// Empties the socket list and clears the terminate flag.
void eloop_init(eloop_data* loop);

// Appends `s` (sock, handler and used already filled) and marks it active.
// On the loop's thread, or before the loop runs. A record unregistered while
// the loop runs and not yet unlinked is taken back in place.
int eloop_register_sock(eloop_data* loop, eloop_sock* s);

// Takes `s` out of the loop, from any thread: while the loop runs it clears
// `active` only and wakes the loop (which unlinks the record before its next
// walk and clears `used`); when no loop runs it unlinks the record and
// clears both at once (callers then serialise their releases, as the client
// table lock does).
void eloop_unregister_sock(eloop_data* loop, eloop_sock* s);

// Wakes the loop out of its wait for one more pass; from any thread (a word
// store and a write, also safe in a signal handler).
void eloop_wake(eloop_data* loop);

// Sets the terminate flag and wakes the loop; from any thread.
void eloop_terminate(eloop_data* loop);

// Serves readable sockets until terminate is set or no socket is left.
void eloop_run(eloop_data* loop);

}  // namespace cnxd
