#include "base/stop.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace cnxd {

namespace {

std::atomic<bool> g_stopping{false};
std::mutex g_mutex;
std::condition_variable g_cond;

}  // namespace

bool cnxd_stopping() { return g_stopping.load(std::memory_order_acquire); }

void cnxd_request_stop()
{
    {
        std::lock_guard lock(g_mutex);
        g_stopping.store(true, std::memory_order_release);
    }
    g_cond.notify_all();
}

bool cnxd_stop_wait(std::chrono::milliseconds d)
{
    std::unique_lock lock(g_mutex);
    return g_cond.wait_for(lock, d, [] { return cnxd_stopping(); });
}

void cnxd_stop_clear()
{
    std::lock_guard lock(g_mutex);
    g_stopping.store(false, std::memory_order_release);
}

}  // namespace cnxd
