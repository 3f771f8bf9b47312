#include "base/stop.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace cnxd {

namespace {

std::atomic<bool> g_stopping{false};

// Threads the daemon detaches may still wait here while the process exits:
// the lock and the condition are made once and never destroyed, so no exit
// handler pulls them from under such a thread.
struct StopWait {
    std::mutex mutex;
    std::condition_variable cond;
};

StopWait& stop_wait()
{
    static StopWait& w = *new StopWait;
    return w;
}

}  // namespace

bool cnxd_stopping() { return g_stopping.load(std::memory_order_acquire); }

void cnxd_request_stop()
{
    StopWait& w = stop_wait();
    {
        std::lock_guard lock(w.mutex);
        g_stopping.store(true, std::memory_order_release);
    }
    w.cond.notify_all();
}

bool cnxd_stop_wait(std::chrono::milliseconds d)
{
    StopWait& w = stop_wait();
    std::unique_lock lock(w.mutex);
    return w.cond.wait_for(lock, d, [] { return cnxd_stopping(); });
}

void cnxd_stop_clear()
{
    StopWait& w = stop_wait();
    std::lock_guard lock(w.mutex);
    g_stopping.store(false, std::memory_order_release);
}

}  // namespace cnxd
