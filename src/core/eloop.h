// The event loop: a select() reactor on the main thread that serves the
// client API sockets (the server socket and one socket per client).
//
// A socket is an `eloop_sock` record embedded in whatever owns the socket.
// Registration and removal take no lock: they happen only on the main
// thread, at start-up and inside socket handlers.
#pragma once

#include <pthread.h>

#include <atomic>
#include <csignal>
#include <cstdint>

#include "base/list.h"

namespace cnxd {

struct eloop_sock;
using eloop_sock_handler = int (*)(eloop_sock* sock);

struct eloop_sock {
    list_head link;  // first member: the loop walks links and casts back
    int sock = -1;
    eloop_sock_handler handler = nullptr;
    uint32_t active = 0;  // 1 while registered; 0 asks the loop to drop it
    uint32_t used = 0;    // owner's in-use flag, cleared when the loop drops it
};

struct eloop_data {
    list_head sockets;
    std::atomic<uint32_t> terminate = 0;  // lock-free: stored from a signal handler
    pthread_t thread{};  // the thread in eloop_run
    bool running = false;
};

extern eloop_data eloop;

// Empties the socket list and clears the terminate flag.
void eloop_init(eloop_data* loop);

// Appends `s` (sock, handler and used already filled) and marks it active.
int eloop_register_sock(eloop_data* loop, eloop_sock* s);

// Unlinks `s` at once. Not for use inside a handler walk over other sockets:
// there, clear `active` and let the loop unlink the record after the walk.
void eloop_unregister_sock(eloop_data* loop, eloop_sock* s);

// True on the thread that runs the loop (or when no loop runs). Only that
// thread may unlink records; others drop them (active = 0) for the sweep.
bool eloop_on_loop_thread(const eloop_data* loop);

// Sets the terminate flag; a single word store, safe in a signal handler.
void eloop_terminate(eloop_data* loop);

// Serves readable sockets until terminate is set or no socket is left.
// The signals in `wake_signals` (blocked by the caller everywhere else) are
// let through only while the loop waits, so a stop signal can never slip in
// between the terminate check and the wait.
void eloop_run(eloop_data* loop, const sigset_t* wait_mask = nullptr);

}  // namespace cnxd
