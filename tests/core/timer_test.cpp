// The timer service: order of expiry, re-arming, stopping, self re-arming
// callbacks, and the calls around the service's own lifetime.
#include "core/timer.h"

#include "client/inproc_daemon.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace cnxd {
namespace {

using namespace std::chrono_literals;
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
