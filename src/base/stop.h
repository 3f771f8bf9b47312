// The daemon's stop request. The stop signal sets it once; every loop that
// could otherwise run or wait for long (a retry to a full client, a command
// file that never ends, a wait for the modem) checks it and gives up, so a
// stop always goes through.
#pragma once

#include <chrono>

namespace cnxd {

// True once a stop was requested.
bool cnxd_stopping();

// Requests the stop and wakes every cnxd_stop_wait. Not for signal
// handlers: the daemon takes its stop signals on a thread of its own.
void cnxd_request_stop();

// Sleeps up to `d`; returns true at once, or as soon as, a stop is requested.
bool cnxd_stop_wait(std::chrono::milliseconds d);

// Clears the request: a daemon starting afresh in the same process.
void cnxd_stop_clear();

}  // namespace cnxd
