// The event loop: a select() reactor on the main thread that serves the
// client API sockets (the server socket and one socket per client).
//
// A socket is an `eloop_sock` record embedded in whatever owns the socket.
// Only the loop's own thread links and unlinks records, at start-up and
// inside socket handlers, so the list takes no lock. A record released while
// the loop runs (by a handler during the loop's walk over the sockets, or by
// another thread) only has its `active` flag cleared; the loop unlinks it
// after the walk and only then clears `used`, so its owner never reuses a
// record that is still listed.
#pragma once

#include <atomic>
#include <csignal>
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
    std::atomic<uint32_t> terminate = 0;  // lock-free: stored from a signal handler
    std::atomic<bool> running = false;    // eloop_run is serving; read on every thread
};

extern eloop_data eloop;

// Empties the socket list and clears the terminate flag.
void eloop_init(eloop_data* loop);

// Appends `s` (sock, handler and used already filled; not listed) and marks
// it active. On the loop's thread, or before the loop runs.
int eloop_register_sock(eloop_data* loop, eloop_sock* s);

// Takes `s` out of the loop, from any thread: while the loop runs it clears
// `active` only (the loop unlinks the record after its walk and clears
// `used`); when no loop runs it unlinks the record and clears both at once
// (callers then serialise their releases, as the client table lock does).
void eloop_unregister_sock(eloop_data* loop, eloop_sock* s);

// Sets the terminate flag; a single word store, safe in a signal handler.
void eloop_terminate(eloop_data* loop);

// Serves readable sockets until terminate is set or no socket is left.
// The signals in `wake_signals` (blocked by the caller everywhere else) are
// let through only while the loop waits, so a stop signal can never slip in
// between the terminate check and the wait.
void eloop_run(eloop_data* loop, const sigset_t* wait_mask = nullptr);

}  // namespace cnxd
