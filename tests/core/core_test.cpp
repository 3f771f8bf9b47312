// The event loop and the timer service. The loop: dispatch of ready
// sockets, releasing records inside a handler walk, and the ways out of
// eloop_run (releases and the stop from other threads are checked with the
// client table and the daemon). The timers: order of expiry, re-arming,
// stopping, self re-arming callbacks, and the calls around the service's own
// lifetime.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "base/fd.h"
#include "client/inproc_daemon.h"
#include "core/eloop.h"
#include "core/timer.h"

namespace cnxd {
namespace {

using namespace std::chrono_literals;

eloop_data loop;

// A socket pair whose first end the loop serves with `handler`, made
// readable when `ready`; `es` comes first so that handlers can cast back.
struct Owner {
    eloop_sock es;
    UniqueFd ours, theirs;
    int calls = 0;

    Owner(eloop_sock_handler handler, bool ready)
    {
        int sv[2];
        EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_DGRAM, 0, sv));
        ours.reset(sv[0]);
        theirs.reset(sv[1]);
        es.sock = ours.get();
        es.handler = handler;
        es.used = 1;
        eloop_register_sock(&loop, &es);
        if (ready) {
            EXPECT_EQ(1, write(theirs.get(), "x", 1));
        }
    }
};

std::vector<Owner*> g_owners;

int drain(eloop_sock* s)
{
    char buf[16];
    EXPECT_EQ(1, read(s->sock, buf, sizeof buf));
    ++reinterpret_cast<Owner*>(s)->calls;
    return 0;
}

// Drops every owner of g_owners, itself included, as a client handler does
// for clients found gone.
int drop_everyone(eloop_sock* s)
{
    drain(s);
    for (Owner* o : g_owners) {
        o->es.active = 0;
        o->ours.reset();
    }
    return 0;
}

int stop_loop(eloop_sock* s)
{
    drain(s);
    eloop_terminate(&loop);
    return 0;
}

// The record after the running handler's, released by that handler: the
// walk goes on past it (it stays listed until the sweep) instead of
// following the link of a record already taken out.
int release_next(eloop_sock* s)
{
    drain(s);
    eloop_unregister_sock(&loop, reinterpret_cast<eloop_sock*>(s->link.next));
    return 0;
}

TEST(EventLoop, RecordsDroppedDuringTheWalkAreSweptAndAnEmptyLoopReturns)
{
    eloop_init(&loop);
    Owner a(drop_everyone, true), b(drain, true);  // b is ready too, but a drops it first
    g_owners = {&a, &b};
    eloop_run(&loop);  // returns because no socket is left
    g_owners.clear();
    EXPECT_EQ(1, a.calls);
    EXPECT_EQ(0, b.calls) << "a dropped record is not called";
    EXPECT_TRUE(list_empty(&loop.sockets));
    EXPECT_EQ(0u, a.es.used);
    EXPECT_EQ(0u, b.es.used);
}

TEST(EventLoop, ReleasesDuringTheRunWaitForTheSweepAndOutsideItUnlinkAtOnce)
{
    eloop_init(&loop);
    Owner a(release_next, true), b(drain, true), c(stop_loop, true), d(drain, false);
    eloop_run(&loop);
    EXPECT_EQ(1, a.calls);
    EXPECT_EQ(0, b.calls) << "released before the walk reached it";
    EXPECT_EQ(1, c.calls) << "the walk went on past the released record";
    EXPECT_EQ(0, d.calls) << "not readable";
    EXPECT_EQ(0u, b.es.used) << "swept";
    EXPECT_EQ(&a.es.link, loop.sockets.next);
    EXPECT_EQ(&c.es.link, a.es.link.next);

    eloop_unregister_sock(&loop, &a.es);
    EXPECT_EQ(0u, a.es.used) << "no loop runs: unlinked at once";
    EXPECT_EQ(&c.es.link, loop.sockets.next);
    EXPECT_EQ(&d.es.link, loop.sockets.prev);
}

// ---- Timers

// The service's own clock (expiries are wall-clock times): firing early is
// measured on the clock it keeps.
using Clock = std::chrono::system_clock;

// What fired, in order, and when.
std::mutex g_lock;
std::vector<std::pair<uint32_t, Clock::time_point>> g_fired;

void record(uint32_t arg)
{
    std::lock_guard g(g_lock);
    g_fired.emplace_back(arg, Clock::now());
}

auto fired()
{
    std::lock_guard g(g_lock);
    return g_fired;
}

bool wait_until(auto pred) { return test::eventually(pred, 5s); }

class TimerService : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_fired.clear();
        ASSERT_EQ(0, timer_service_init());
    }
    // Owners delete their timers before the records go away.
    void TearDown() override
    {
        for (cnxd_timer& t : timers)
            delete_timer(&t);
        timer_service_deinit();
    }

    cnxd_timer& make(uint32_t arg, timer_func f = record)
    {
        cnxd_timer& t = timers.emplace_back();
        EXPECT_EQ(0, init_timer(&t, f, arg));
        return t;
    }

    std::deque<cnxd_timer> timers;
};

TEST_F(TimerService, FiresInExpiryOrderWhateverTheArmingOrder)
{
    // The argument is the delay in milliseconds plus the rank among equal
    // delays. The 600 ms timer goes first, so the thread must wake for each
    // sooner one and still keep the later expiry; timers of one delay fire
    // in arming order. A re-armed timer's old expiry does not fire, nor
    // does a stopped one.
    const uint32_t arming[] = {600, 100, 300, 200, 201, 202, 0};
    const auto start = Clock::now();
    for (uint32_t a : arming)
        start_timer(&make(a), static_cast<int32_t>(a / 100 * 100));
    cnxd_timer &moved = make(401), &stopped = make(7), &idle = make(8);
    start_timer(&moved, 100);
    start_timer(&moved, 400);
    start_timer(&stopped, 150);
    EXPECT_EQ(0, stop_timer(&stopped));
    EXPECT_EQ(0, stop_timer(&idle)) << "stopping an idle timer is harmless";
    ASSERT_TRUE(wait_until([&] { return fired().size() == std::size(arming) + 1; }));
    std::this_thread::sleep_for(200ms);
    std::vector<uint32_t> order;
    for (const auto& [a, at] : fired()) {
        order.push_back(a);
        EXPECT_GE(at - start, std::chrono::milliseconds(a / 100 * 100)) << "timer " << a << " fired early";
    }
    EXPECT_EQ((std::vector<uint32_t>{0, 100, 200, 201, 202, 300, 401, 600}), order);
}

// A callback that takes its time and re-arms its timer at once: periodic.
cnxd_timer g_periodic;
std::atomic<int> g_calls;
std::atomic<bool> g_in_callback;

void slow_rearm(uint32_t)
{
    g_in_callback = true;
    ++g_calls;
    std::this_thread::sleep_for(100ms);
    start_timer(&g_periodic, 0);
    g_in_callback = false;
}

// Stopped from another thread while its callback runs: the stop waits for
// the callback, must not deadlock, and wins (no further call).
TEST_F(TimerService, StoppingARunningSelfReArmingTimerNeitherDeadlocksNorFiresAgain)
{
    g_periodic = {};
    g_calls = 0;
    ASSERT_EQ(0, init_timer(&g_periodic, slow_rearm, 0));
    start_timer(&g_periodic, 0);
    ASSERT_TRUE(wait_until([] { return g_calls >= 3 && g_in_callback; })) << "not periodic";
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        stop_timer(&g_periodic);
        stopped = true;
    });
    ASSERT_TRUE(wait_until([&] { return stopped.load(); })) << "stop_timer deadlocked";
    stopper.join();
    EXPECT_FALSE(g_in_callback) << "stop_timer returned while the callback still ran";
    const int calls = g_calls;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(calls, g_calls.load()) << "the timer fired again after it was stopped";
}

TEST(TimerServiceLifetime, CallsOutsideTheServiceOrOnADeletedTimerChangeNothing)
{
    g_fired.clear();
    cnxd_timer t{};
    EXPECT_EQ(-1, init_timer(&t, record, 0)) << "before the service";
    ASSERT_EQ(0, timer_service_init());
    EXPECT_EQ(-1, init_timer(&t, nullptr, 0));
    ASSERT_EQ(0, init_timer(&t, record, 0));
    start_timer(&t, 100);
    EXPECT_EQ(0, delete_timer(&t));
    EXPECT_EQ(0, start_timer(&t, 0)) << "no magic: accepted and ignored";
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(fired().empty()) << "a deleted timer never fires";
    ASSERT_EQ(0, init_timer(&t, record, 0));
    ASSERT_EQ(0, start_timer(&t, 60000));
    timer_service_deinit();  // with a timer pending: returns at once
    EXPECT_EQ(-1, start_timer(&t, 0));
    EXPECT_EQ(-1, delete_timer(&t));
}

}  // namespace
}  // namespace cnxd
