// A modem inserted into a running daemon comes on line once, in order: the
// chain of answers up to the protocol-stack initialisation, the first-time
// sequence, the online request thread with its init script, and the
// watchdog's first start.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
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

// The calls from the first that starts with `first` on, without the
// operator-specific request that the operator answer makes whenever it comes.
std::vector<std::string> from(const std::vector<std::string>& calls, const std::string& first)
{
    auto it = std::ranges::find_if(calls, [&](const std::string& c) { return c.starts_with(first); });
    std::vector<std::string> out;
    std::copy_if(it, calls.end(), std::back_inserter(out),
                 [](const std::string& c) { return !c.starts_with("LAPI_GetProtocolInfoRequest dev=1 0006"); });
    return out;
}

struct BringUpCase {
    const char* name;
    bool online_answered;
    const char* online_wait;  // CNXD_ONLINE_WAIT_MS
};

class BringUp : public ::testing::TestWithParam<BringUpCase> {};

TEST_P(BringUp, AnInsertedModemComesOnLineOnceInOrder)
{
    Sysroot root;
    root.write_file("/etc/ltesim.conf", "set device_present 0\n");
    root.write_file("/etc/sysconfig/script/lte_init_script", "# comment\nver\n");
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start({}, {"env", std::string("CNXD_ONLINE_WAIT_MS=") + GetParam().online_wait}));
    LtesimClient sim(root);
    ASSERT_TRUE(sim.connected());
    if (!GetParam().online_answered) {
        ASSERT_EQ("ok", sim.command("fail LAPI_OnlineRequest 1"));  // sent, never answered
    }
    const LogTail log(root, true);
    RawClient c(root, "requests");
    ASSERT_TRUE(c.open().has_value());
    ASSERT_EQ("ok", sim.command("set device_present 1"));

    ASSERT_TRUE(log.wait_for("[online_request]Watchdog First start")) << log.text();
    EXPECT_EQ(GetParam().online_answered ? 0 : 1, log.count("TIME-OUT ONLINE REQUEST"));
    const auto calls = from(sim.calls(), "LAPI_PSInitRequest");
    ASSERT_GE(calls.size(), kFirstTime.size() + 2);
    EXPECT_EQ(kFirstTime, std::vector(calls.begin() + 1, calls.begin() + 1 + static_cast<long>(kFirstTime.size())));
    const auto online = from(calls, "LAPI_OnlineRequest");
    ASSERT_GE(online.size(), 2u);
    EXPECT_TRUE(online[1].starts_with("LAPI_SendDMCommand dev=1 766572")) << "the init script after the wait";
    EXPECT_EQ("no crash since power on\n", root.read_file("/var/lte/dev_dbg_log/crash.log"))
        << "the crash log chunk, its last line ended";
    EXPECT_EQ(0, c.api_request(0, 1, {}));
    EXPECT_EQ(1, c.attach()[1520]) << "init-complete flag of device 1";

    // Events up to the online answer, each one answering the request the
    // one before made.
    const std::vector<int> events = log.events();
    const std::vector<int> chain = {161, 140, 72};
    ASSERT_GE(events.size(), chain.size());
    EXPECT_EQ(chain, std::vector(events.begin(), events.begin() + 3));
    EXPECT_EQ(GetParam().online_answered, std::ranges::count(events, 61) == 1);

    // A later initialisation answer only prints and forwards.
    ASSERT_EQ("ok", sim.command("clear"));
    ASSERT_EQ("ok", sim.command("inject 24 1 00000000"));
    ASSERT_EQ("ok", sim.command("sync"));
    EXPECT_EQ(std::vector<std::string>{kFirstTime[0]}, sim.calls());
    EXPECT_EQ(1, log.count("[online_request]Watchdog First start"));
    EXPECT_EQ(0, daemon.stop(SIGTERM));
}

INSTANTIATE_TEST_SUITE_P(Online, BringUp,
                         ::testing::Values(BringUpCase{"Answered", true, "5000"}, BringUpCase{"Withheld", false, "400"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace cnxd::test
