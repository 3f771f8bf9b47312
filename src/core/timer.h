// The timer service: one thread that fires one-shot millisecond timers on
// the real-time clock. A periodic timer re-arms itself from its callback.
//
// Timer records belong to their users (usually statics, zeroed before
// init_timer). One service lock guards the pending list and every record's
// link. The timer thread does not hold it while a callback runs, so a
// callback may re-arm or stop its own timer; start_timer and stop_timer from
// another thread wait for a running callback of the same timer to return
// before they change it (so a stop from elsewhere always wins over a
// callback that re-arms itself). Once its callback has returned, the timer
// thread no longer touches a record.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <ctime>

#include "base/list.h"

namespace cnxd {

constexpr uint32_t TIMER_MAGIC = 0x54494D45;  // "TIME"

using timer_func = void (*)(uint32_t arg);

struct cnxd_timer {
    list_head to_list;  // membership in the pending list
    uint32_t magic;     // TIMER_MAGIC once initialised, 0 after delete_timer
    timespec expire;  // absolute, CLOCK_REALTIME
    uint32_t active;  // 1 after start_timer, 0 after stop_timer
    uint32_t arg;
    timer_func func;
};

// Start the service and its thread. Returns 0.
int timer_service_init();
// Stop the thread (after a running callback returns) and the service.
int timer_service_deinit();

// All of these return -1 while the service is not running, else 0.
int init_timer(cnxd_timer* timer, timer_func func, uint32_t arg);
// Arm (or re-arm) to fire `ms` milliseconds from now. A record without the
// magic is left untouched.
int start_timer(cnxd_timer* timer, int32_t ms);
int stop_timer(cnxd_timer* timer);
// stop_timer, then the record loses its magic whatever the result.
int delete_timer(cnxd_timer* timer);

}  // namespace cnxd
