#include "core/timer.h"

#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "base/thread_name.h"

namespace cnxd {
namespace {

struct timer_service {
    // Checked without the lock by every timer call, also by a callback that
    // re-arms itself while the service is being stopped, hence atomic.
    std::atomic<uint32_t> initialised = 0;
    bool thread_running = false;
    bool stopping = false;
    pthread_t thread{};
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
    // Signalled whenever a callback has returned (see wait_for_callback()).
    pthread_cond_t idle = PTHREAD_COND_INITIALIZER;
    list_head pending;
    cnxd_timer* current = nullptr;  // the timer the thread waits on
    cnxd_timer* running = nullptr;  // the timer whose callback runs
};

timer_service svc;

cnxd_timer* timer_of(list_head* link) { return reinterpret_cast<cnxd_timer*>(link); }

bool on_timer_thread() { return svc.thread_running && pthread_equal(pthread_self(), svc.thread); }

bool later(const timespec& a, const timespec& b)
{
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
}

timespec expiry_after(int32_t ms)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    timespec t{};
    t.tv_sec = now.tv_sec + ms / 1000;
    t.tv_nsec = now.tv_usec * 1000L + (ms % 1000) * 1000000L;
    if (t.tv_nsec > 999999999L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

// With the service lock held, off the timer thread: wait (releasing the
// service lock) until a running callback of `timer` has returned, so that
// start_timer and stop_timer never change a timer under its own callback.
// The callback itself may re-arm or stop its timer: it runs on the timer
// thread, which does not wait, and the service lock is free meanwhile.
void wait_for_callback(cnxd_timer* timer)
{
    if (on_timer_thread())
        return;
    while (svc.running == timer)
        pthread_cond_wait(&svc.idle, &svc.lock);
}

// Put `timer` into pending before the first timer expiring strictly later.
void insert_pending(cnxd_timer* timer)
{
    list_head* head = &svc.pending;
    list_head* pos = head->next;
    while (pos != head && !later(timer_of(pos)->expire, timer->expire))
        pos = pos->next;
    list_add_before(&timer->to_list, pos);
}

bool is_first(const cnxd_timer* timer) { return svc.pending.next == &timer->to_list; }

void* timer_thread(void*)
{
    name_thread("timer");
    pthread_mutex_lock(&svc.lock);
    while (!svc.stopping) {
        if (list_empty(&svc.pending)) {
            pthread_cond_wait(&svc.cond, &svc.lock);
            continue;
        }
        cnxd_timer* timer = timer_of(svc.pending.next);
        list_del_init(&timer->to_list);
        svc.current = timer;
        const timespec deadline = timer->expire;
        int rc = 0;
        // start_timer and stop_timer interrupt the wait by clearing current.
        while (svc.current == timer && !svc.stopping && rc != ETIMEDOUT)
            rc = pthread_cond_timedwait(&svc.cond, &svc.lock, &deadline);
        const bool interrupted = svc.current != timer;
        svc.current = nullptr;

        // Re-armed, stopped or put back behind a sooner timer: nothing to
        // call. (Spurious wake-ups just wait again above.)
        if (interrupted || svc.stopping || !timer->active)
            continue;
        const timer_func func = timer->func;
        const uint32_t arg = timer->arg;
        svc.running = timer;
        pthread_mutex_unlock(&svc.lock);

        // The record is not touched after the callback: its owner may
        // reuse or free it as soon as the callback has returned.
        func(arg);

        pthread_mutex_lock(&svc.lock);
        svc.running = nullptr;
        pthread_cond_broadcast(&svc.idle);
    }
    pthread_mutex_unlock(&svc.lock);
    return nullptr;
}

}  // namespace

int timer_service_init()
{
    pthread_mutex_lock(&svc.lock);
    list_init(&svc.pending);
    svc.current = nullptr;
    svc.running = nullptr;
    svc.stopping = false;
    svc.initialised = 1;
    pthread_mutex_unlock(&svc.lock);
    if (pthread_create(&svc.thread, nullptr, timer_thread, nullptr) == 0)
        svc.thread_running = true;
    return 0;
}

int timer_service_deinit()
{
    pthread_mutex_lock(&svc.lock);
    const bool join = svc.thread_running;
    svc.stopping = true;
    svc.initialised = 0;
    pthread_cond_broadcast(&svc.cond);
    pthread_mutex_unlock(&svc.lock);
    // Cooperative stop instead of cancelling the thread: a cancel could land
    // inside a callback holding a lock (the client table's, a device's) and
    // leave it locked for the rest of the shutdown. The join is prompt: the
    // thread leaves its wait at once, and a running callback never waits on
    // client delivery (delivery gives up when the daemon stops).
    if (join && !on_timer_thread()) {
        pthread_join(svc.thread, nullptr);
        svc.thread_running = false;
    }
    pthread_mutex_lock(&svc.lock);
    while (!list_empty(&svc.pending))
        list_del_init(svc.pending.next);
    pthread_mutex_unlock(&svc.lock);
    return 0;
}

int init_timer(cnxd_timer* timer, timer_func func, uint32_t arg)
{
    if (!svc.initialised || !timer || !func)
        return -1;
    list_init(&timer->to_list);
    timer->func = func;
    timer->arg = arg;
    timer->active = 0;
    timer->magic = TIMER_MAGIC;
    return 0;
}

int start_timer(cnxd_timer* timer, int32_t ms)
{
    if (!svc.initialised)
        return -1;
    const timespec expire = expiry_after(ms);

    pthread_mutex_lock(&svc.lock);
    if (timer->magic != TIMER_MAGIC) {
        pthread_mutex_unlock(&svc.lock);
        return 0;
    }
    wait_for_callback(timer);
    timer->expire = expire;
    timer->active = 1;
    if (!list_empty(&timer->to_list))
        list_del_init(&timer->to_list);
    insert_pending(timer);
    // A record that is not linked now means the pending list is broken:
    // the program stops, in every build (no NDEBUG can remove the check).
    if (list_empty(&timer->to_list)) {
        std::fprintf(stderr, "timer: start_timer: Assertion `!list_empty(&timer->to_list)' failed.\n");
        std::abort();
    }

    if (svc.current) {
        if (svc.current == timer) {
            svc.current = nullptr;
            pthread_cond_signal(&svc.cond);
        } else if (is_first(timer) && later(svc.current->expire, timer->expire)) {
            list_add_before(&svc.current->to_list, timer->to_list.next);
            svc.current = nullptr;
            pthread_cond_signal(&svc.cond);
        }
    } else if (is_first(timer)) {
        pthread_cond_signal(&svc.cond);
    }

    pthread_mutex_unlock(&svc.lock);
    return 0;
}

int stop_timer(cnxd_timer* timer)
{
    if (!svc.initialised)
        return -1;
    pthread_mutex_lock(&svc.lock);
    if (timer->magic == TIMER_MAGIC) {
        wait_for_callback(timer);
        timer->active = 0;
        if (svc.current == timer) {
            svc.current = nullptr;
            pthread_cond_signal(&svc.cond);
        } else if (!list_empty(&timer->to_list)) {
            list_del_init(&timer->to_list);
        }
    }
    pthread_mutex_unlock(&svc.lock);
    return 0;
}

int delete_timer(cnxd_timer* timer)
{
    const int rc = stop_timer(timer);
    timer->magic = 0;
    return rc;
}

}  // namespace cnxd
