// Stopping the daemon's event loop that an in-process test runs on a thread
// of its own.
#pragma once

#include <thread>

#include "core/eloop.h"

namespace cnxd::test {

// Sets the loop's terminate flag, which wakes its wait, and joins the
// loop's thread.
inline void stop_event_loop(std::thread& loop)
{
    eloop_terminate(&eloop);
    loop.join();
}

}  // namespace cnxd::test
