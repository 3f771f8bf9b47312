// Opening and closing the LTE SDK with the daemon, driven through the
// simulated modem's boot-time file and control socket.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <csignal>

#include "integration/harness.h"

namespace cnxd::test {
namespace {

using ::testing::ElementsAre;

TEST(SdkBringUp, FailedInitialisationStopsTheDaemonBeforeItsLoop)
{
    Sysroot root;
    root.write_file("/etc/ltesim.conf", "# boot-time behaviour\nfail LAPI_Initialize -1\n");
    Daemon d(root);
    d.start();
    ASSERT_TRUE(eventually([&] { return !d.running(); }, 10s)) << d.log();
    EXPECT_EQ(0, d.stop(SIGTERM));
    EXPECT_TRUE(d.wait_for_log("cnxd terminated"));
    EXPECT_EQ(0, d.count_in_log("Preparing for suicide")) << "never entered the loop";
    auto calls = ltesim_call_log(root);
    std::erase(calls, "LAPI_RegisterCallbackResponse dev=-");  // the indication table's
    EXPECT_THAT(calls, ElementsAre("LAPI_LTEAPIOpen dev=-", "LAPI_Initialize dev=-", "LAPI_DeInitialize dev=-"));
}

TEST(SdkBringUp, OpensInOrderAndClosesInOrderOnSigterm)
{
    Sysroot root;
    Daemon d(root);
    ASSERT_TRUE(d.start());
    LtesimClient sim(root);
    ASSERT_TRUE(sim.connected());
    const auto names = sim.call_names();
    ASSERT_GE(names.size(), 4u);
    // Registrations sit between the open and the initialisation.
    EXPECT_EQ("LAPI_LTEAPIOpen", names.front());
    const auto at = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
    EXPECT_LT(at("LAPI_LTEAPIOpen"), at("LAPI_Initialize"));
    EXPECT_LT(at("LAPI_Initialize"), at("LAPI_SetLogConfig"));
    EXPECT_LT(at("LAPI_SetLogConfig"), at("LAPI_Misc_Initialize"));
    EXPECT_LT(at("LAPI_Misc_Initialize"), static_cast<long>(names.size()));
    for (long i = 1; i < at("LAPI_Initialize"); ++i)
        EXPECT_EQ("LAPI_RegisterCallbackResponse", names[static_cast<size_t>(i)]);

    ASSERT_TRUE(sim.wait_online()) << "no bring-up call may fall among the closing ones";
    ASSERT_EQ("ok", sim.command("clear"));
    EXPECT_EQ(0, d.stop(SIGTERM));
    const auto log = ltesim_call_log(root);
    ASSERT_GE(log.size(), 3u);
    EXPECT_THAT(std::vector(log.end() - 3, log.end()),
                ElementsAre("LAPI_AllCallbackUnRegister dev=-", "LAPI_DeInitialize dev=-", "LAPI_LTEAPIClose dev=-"));
    EXPECT_FALSE(root.exists("/var/tmp/ltesim.sock")) << "the control socket closes with the SDK";
}

TEST(SdkBringUp, MalformedControlLinesAnswerErrAndLeaveTheDaemonAlone)
{
    Sysroot root;
    Daemon d(root);
    ASSERT_TRUE(d.start());
    LtesimClient sim(root);
    ASSERT_TRUE(sim.connected());
    // Bad hex, odd digits, no handler registered for 10, unknown names, a huge line.
    const std::string lines[] = {"inject 75 1 0g", "inject 75 1 abc", "inject 10 1 00", "inject 999 1 00",
                                 "fail LAPI_NoSuchCall 1", "answer LAPI_GetBootImageType xyz", "set no_such_knob 1",
                                 "frobnicate", std::string(200000, 'a')};
    for (const std::string& line : lines)
        EXPECT_THAT(sim.command(line), ::testing::StartsWith("err")) << line.substr(0, 40);
    EXPECT_EQ("ok", sim.command("set delay_ms 0")) << "the connection survives it all";
    EXPECT_TRUE(d.running());
    RawClient c(root, "after");
    EXPECT_EQ(0, c.open());
    EXPECT_EQ(0, d.stop(SIGTERM));
}

}  // namespace
}  // namespace cnxd::test
