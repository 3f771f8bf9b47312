// The timer service: order of expiry, re-arming, stopping, self re-arming
// callbacks, and the calls around the service's own lifetime.
#include "core/timer.h"

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
using Clock = std::chrono::steady_clock;

// What fired, in order, and when.
struct FireLog {
    std::mutex lock;
    std::vector<uint32_t> order;
    std::vector<Clock::time_point> when;

    void add(uint32_t arg)
    {
        std::lock_guard g(lock);
        order.push_back(arg);
        when.push_back(Clock::now());
    }
    size_t size()
    {
        std::lock_guard g(lock);
        return order.size();
    }
    std::vector<uint32_t> snapshot()
    {
        std::lock_guard g(lock);
        return order;
    }
};

FireLog* g_log;
void record(uint32_t arg) { g_log->add(arg); }

bool wait_until(auto pred, std::chrono::milliseconds bound = 5s)
{
    const auto end = Clock::now() + bound;
    while (!pred()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class TimerService : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log = &log;
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

    FireLog log;
    std::deque<cnxd_timer> timers;
};

TEST_F(TimerService, FiresInExpiryOrderWhateverTheArmingOrder)
{
    cnxd_timer &t1 = make(1), &t2 = make(2), &t3 = make(3), &t0 = make(0);
    const auto start = Clock::now();
    start_timer(&t1, 100);  // the thread now waits on t1
    start_timer(&t3, 300);
    start_timer(&t2, 200);
    start_timer(&t0, 0);  // sooner than what the thread waits on
    ASSERT_TRUE(wait_until([&] { return log.size() == 4; }));
    EXPECT_EQ((std::vector<uint32_t>{0, 1, 2, 3}), log.snapshot());
    EXPECT_GE(log.when[3] - start, 300ms);
}

TEST_F(TimerService, ALaterTimerArmedFirstWaitsForTheSoonerOne)
{
    cnxd_timer &slow = make(5), &fast = make(1);
    const auto start = Clock::now();
    start_timer(&slow, 600);
    start_timer(&fast, 100);
    ASSERT_TRUE(wait_until([&] { return log.size() == 2; }));
    EXPECT_EQ((std::vector<uint32_t>{1, 5}), log.snapshot());
    EXPECT_GE(log.when[1] - start, 600ms);
    EXPECT_GE(log.when[1] - log.when[0], 300ms) << "the slow one keeps its own expiry";
}

TEST_F(TimerService, TimersArmedTogetherForTheSameDelayFireInArmingOrder)
{
    for (uint32_t i = 0; i < 5; ++i)
        make(i);
    for (auto& t : timers)
        start_timer(&t, 200);
    ASSERT_TRUE(wait_until([&] { return log.size() == 5; }));
    const auto order = log.snapshot();
    for (size_t i = 1; i < order.size(); ++i)
        EXPECT_LT(order[i - 1], order[i]);
}

TEST_F(TimerService, ReArmingMovesTheExpiryAndStoppingCancels)
{
    cnxd_timer &moved = make(1), &stopped = make(2), &idle = make(3);
    start_timer(&moved, 100);
    start_timer(&moved, 400);  // the old expiry must not fire
    start_timer(&stopped, 150);
    EXPECT_EQ(0, stop_timer(&stopped));
    EXPECT_EQ(0, stop_timer(&idle)) << "stopping an idle timer is harmless";
    const auto start = Clock::now();
    ASSERT_TRUE(wait_until([&] { return log.size() == 1; }));
    EXPECT_GE(Clock::now() - start, 250ms);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ((std::vector<uint32_t>{1}), log.snapshot());
}

TEST_F(TimerService, RecordsWithoutTheMagicAreLeftAlone)
{
    cnxd_timer never{};
    EXPECT_EQ(0, start_timer(&never, 0)) << "no magic: accepted and ignored";
    cnxd_timer& deleted = make(7);
    start_timer(&deleted, 100);
    EXPECT_EQ(0, delete_timer(&deleted));
    EXPECT_EQ(0u, deleted.magic);
    EXPECT_EQ(0, start_timer(&deleted, 0));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(0u, log.size());
    EXPECT_EQ(-1, init_timer(nullptr, record, 0));
    EXPECT_EQ(-1, init_timer(&never, nullptr, 0));
}

// A periodic timer: the callback re-arms its own timer.
cnxd_timer g_periodic;
std::atomic<int> g_ticks;
void tick(uint32_t)
{
    if (++g_ticks < 5)
        start_timer(&g_periodic, 20);
}

TEST_F(TimerService, ACallbackThatReArmsItselfIsPeriodic)
{
    g_ticks = 0;
    g_periodic = {};
    ASSERT_EQ(0, init_timer(&g_periodic, tick, 0));
    start_timer(&g_periodic, 0);
    ASSERT_TRUE(wait_until([] { return g_ticks == 5; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(5, g_ticks.load());
}

// A callback that takes its time and re-arms itself, stopped from another
// thread while it runs: the stop waits for the callback, must not deadlock,
// and wins (no further call).
std::atomic<bool> g_in_callback;
std::atomic<int> g_slow_calls;
void slow_rearm(uint32_t)
{
    g_in_callback = true;
    ++g_slow_calls;
    std::this_thread::sleep_for(100ms);
    start_timer(&g_periodic, 0);
    g_in_callback = false;
}

TEST_F(TimerService, StoppingARunningSelfReArmingTimerNeitherDeadlocksNorFiresAgain)
{
    g_periodic = {};
    g_slow_calls = 0;
    ASSERT_EQ(0, init_timer(&g_periodic, slow_rearm, 0));
    start_timer(&g_periodic, 0);
    ASSERT_TRUE(wait_until([] { return g_in_callback.load(); }));
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        stop_timer(&g_periodic);
        stopped = true;
    });
    ASSERT_TRUE(wait_until([&] { return stopped.load(); }, 5s)) << "stop_timer deadlocked";
    stopper.join();
    EXPECT_FALSE(g_in_callback) << "stop_timer returned while the callback still ran";
    const int calls = g_slow_calls;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(calls, g_slow_calls.load()) << "the timer fired again after it was stopped";
}

TEST(TimerServiceLifetime, CallsOutsideTheServiceFailAndChangeNothing)
{
    cnxd_timer t{};
    EXPECT_EQ(-1, init_timer(&t, record, 0));
    EXPECT_EQ(-1, start_timer(&t, 0));
    EXPECT_EQ(-1, stop_timer(&t));
    ASSERT_EQ(0, timer_service_init());
    ASSERT_EQ(0, init_timer(&t, record, 0));
    ASSERT_EQ(0, start_timer(&t, 60000));
    timer_service_deinit();  // with a timer pending: returns at once
    EXPECT_EQ(-1, start_timer(&t, 0));
    EXPECT_EQ(-1, delete_timer(&t));
    EXPECT_EQ(0u, t.magic) << "delete_timer clears the magic whatever the result";
}

}  // namespace
}  // namespace cnxd
