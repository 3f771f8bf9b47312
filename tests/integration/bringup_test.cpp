// A modem inserted into a running daemon comes on line once, in order: the
// chain of answers up to the protocol-stack initialisation, the first-time
// sequence, the online request thread with its init script, and the
// watchdog's first start; also when it was reset while earlier insertions
// still waited for their online answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iterator>

#include "base/be.h"
#include "integration/harness.h"

namespace cnxd::test {
namespace {

// The calls after the initialisation answer: the SDK told of the modem's
// reset, then the first-time sequence with the store's default modem
// settings (0: the keep-camping and carrier-aggregation requests are not
// sent), and the init script's one line, which goes to the modem's console.
const std::vector<std::string> kFirstTime = {
    "LAPI_NotiArm1Reset dev=- 00000000",
    "LAPI_GetProtocolInfoRequest dev=1 000000",
    "LAPI_GetProtocolInfoRequest dev=1 000100",
    "LAPI_GetProtocolInfoRequest dev=1 000400",
    "LAPI_GetProtocolInfoRequest dev=1 000500",
    "LAPI_SetEARFCNExtendRequest dev=1 00000000",
};

// The calls from the first (or, with `last`, the last) that starts with
// `first` on, without the operator-specific request that the operator
// answer makes whenever it comes.
std::vector<std::string> from(const std::vector<std::string>& calls, const std::string& first, bool last = false)
{
    const auto starts = [&](const std::string& c) { return c.starts_with(first); };
    auto it = std::ranges::find_if(calls, starts);
    if (last)
        it = std::ranges::find_if(calls.rbegin(), calls.rend(), starts).base() - 1;
    std::vector<std::string> out;
    std::copy_if(it, calls.end(), std::back_inserter(out),
                 [](const std::string& c) { return !c.starts_with("LAPI_GetProtocolInfoRequest dev=1 0006"); });
    return out;
}

// The daemon's online request threads (named so).
int online_threads(pid_t pid)
{
    int n = 0;
    const std::string task = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& t : std::filesystem::directory_iterator(task))
        n += read_text(t.path().string() + "/comm") == "online_request\n";
    return n;
}

struct BringUpCase {
    const char* name;
    int resets;            // inside the online waits, each after its insertion's online request
    bool online_answered;  // the last insertion's online request
    const char* online_wait;  // CNXD_ONLINE_WAIT_MS
};

void PrintTo(const BringUpCase& c, std::ostream* os) { *os << c.name; }

class BringUp : public ::testing::TestWithParam<BringUpCase> {};

// Whatever resets came before, the modem comes on line once: with the
// first-time sequence of its last insertion, init-complete set only by that
// insertion's answer or time-out, one init-script run and one watchdog
// start; no wait of an earlier insertion outlives it.
TEST_P(BringUp, AnInsertedModemComesOnLineOnceInOrder)
{
    const BringUpCase& p = GetParam();
    Sysroot root;
    root.write_file("/etc/ltesim.conf", "set device_present 0\nfail LAPI_OnlineRequest 1\n");
    root.write_file("/etc/sysconfig/script/lte_init_script", "# comment\nver\n");
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start({}, {"env", std::string("CNXD_ONLINE_WAIT_MS=") + p.online_wait}));
    LtesimClient sim(root);
    ASSERT_TRUE(sim.connected());
    const LogTail log(root, true);
    RawClient c(root, "requests");
    ASSERT_TRUE(c.open().has_value());
    const auto init_complete = [&] {
        EXPECT_EQ(0, c.api_request(0, 1, {}));
        return c.attach()[1520];
    };
    const auto online_requests = [&] { return std::ranges::count_if(sim.calls(), [](const std::string& l) {
                                           return l.starts_with("LAPI_OnlineRequest");
                                       }); };
    for (int i = 0; i <= p.resets; ++i) {
        if (i == p.resets && p.online_answered) {
            ASSERT_EQ("ok", sim.command("fail LAPI_OnlineRequest 0"));
        }
        if (i > 0) {
            ASSERT_EQ("ok", sim.command("set device_present 0"));
        }
        ASSERT_EQ("ok", sim.command("set device_present 1"));
        ASSERT_TRUE(eventually([&] { return online_requests() == i + 1; })) << "insertion " << i;
    }
    EXPECT_TRUE(eventually([&] { return online_threads(daemon.pid()) <= 1; }, 1s)) << "one wait per device";
    if (!p.online_answered) {
        EXPECT_EQ(0, init_complete()) << "before the last insertion's time-out";
    }

    ASSERT_TRUE(log.wait_for("[online_request]Watchdog First start")) << log.text();
    EXPECT_EQ(1, init_complete()) << "init-complete flag of device 1";
    // Any wait left from an earlier insertion would have ended by now.
    if (p.resets > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(p.online_wait)) + 300ms);
    EXPECT_EQ(1, log.count("[online_request]Watchdog First start"));
    EXPECT_EQ(p.online_answered ? 0 : 1, log.count("TIME-OUT ONLINE REQUEST"));
    const auto calls = from(sim.calls(), "LAPI_PSInitRequest", true);
    ASSERT_GE(calls.size(), kFirstTime.size() + 2);
    EXPECT_EQ(kFirstTime, std::vector(calls.begin() + 1, calls.begin() + 1 + static_cast<long>(kFirstTime.size())));
    const auto online = from(calls, "LAPI_OnlineRequest");
    ASSERT_GE(online.size(), 2u);
    EXPECT_TRUE(online[1].starts_with("LAPI_SendDMCommand dev=1 766572")) << "the init script after the wait";
    EXPECT_EQ(1, std::ranges::count_if(sim.calls(), [](const std::string& l) {
                  return l.starts_with("LAPI_SendDMCommand dev=1 766572");
              })) << "one init-script run";
    EXPECT_TRUE(eventually([&] { return online_threads(daemon.pid()) == 0; }, 1s));
    EXPECT_TRUE(root.read_file("/var/lte/dev_dbg_log/crash.log").ends_with("no crash since power on\n"))
        << "the crash log chunk, its last line ended";

    // Events up to the online answer, each one answering the request the
    // one before made.
    const std::vector<int> events = log.events();
    const std::vector<int> chain = {161, 140, 72};
    ASSERT_GE(events.size(), chain.size());
    EXPECT_EQ(chain, std::vector(events.begin(), events.begin() + 3));
    EXPECT_EQ(p.online_answered, std::ranges::count(events, 61) == 1);

    // A later initialisation answer only prints and forwards.
    ASSERT_EQ("ok", sim.command("clear"));
    ASSERT_EQ("ok", sim.command("inject 24 1 00000000"));
    ASSERT_EQ("ok", sim.command("sync"));
    EXPECT_EQ(std::vector<std::string>{kFirstTime[0]}, sim.calls());
    EXPECT_EQ(1, log.count("[online_request]Watchdog First start"));
    EXPECT_EQ(0, daemon.stop(SIGTERM));
}

INSTANTIATE_TEST_SUITE_P(Online, BringUp,
                         ::testing::Values(BringUpCase{"Answered", 0, true, "5000"},
                                           BringUpCase{"Withheld", 0, false, "400"},
                                           BringUpCase{"TwoResetsThenAnswered", 2, true, "1500"},
                                           BringUpCase{"TwoResetsThenItsOwnTimeOut", 2, false, "1500"},
                                           BringUpCase{"TenResetsInsideOneWait", 10, false, "1500"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace cnxd::test
