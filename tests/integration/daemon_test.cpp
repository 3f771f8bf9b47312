// The daemon as a process: its command line, its signals and pid file,
// opening and closing the LTE SDK (driven through the simulated modem's
// boot-time file and control socket), and the client keep-alive with the
// reboot a silent client brings about (through the sysroot's stub reboot).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

#include "base/be.h"
#include "integration/harness.h"

namespace cnxd::test {
namespace {

using ::testing::ElementsAre;

struct CommandResult {
    int status;
    std::string output;
};

CommandResult run_cnxd(const std::string& args)
{
    const std::string cmd = std::string(CNXD_BINARY) + " " + args + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    const int status = pclose(p);
    return {WEXITSTATUS(status), out};
}

constexpr const char* kUsageTail =
    " [-fvos:i:h]\n"
    "  -f                Debug type=stderr (default=syslog)\n"
    "  -v ~ -vvvv        Increase debug level\n"
    "  -o                Enable term color\n"
    "  -i {logfile}      Set log file\n"
    "  -s {size-string}  Max log file size string (ex. 2MB) \n"
    "  -g {loglevel}     set log level\n"
    "  -h                Show help\n";

TEST(DaemonCommandLine, HelpAndBadOptionsPrintTheUsage)
{
    const std::string usage = std::string("usage: ") + CNXD_BINARY + kUsageTail;
    const auto help = run_cnxd("-h");
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(usage, help.output);
    const auto bad = run_cnxd("-x");
    EXPECT_EQ(1, bad.status);
    EXPECT_EQ(usage, bad.output);
    const auto missing = run_cnxd("-g");
    EXPECT_EQ(1, missing.status) << "an option without its argument";
}

class DaemonLifecycle : public ::testing::TestWithParam<int> {};

// Start-up opens the SDK in order and writes the pid file; hang-ups, hostile
// control lines and idle seconds change nothing; each stop signal shuts the
// daemon down cleanly and closes the SDK in order.
TEST_P(DaemonLifecycle, StartsServesAndStopsCleanly)
{
    Sysroot root;
    Daemon d(root);
    ASSERT_TRUE(d.start());
    EXPECT_EQ(std::to_string(d.pid()) + "\n", root.read_file("/var/run/cnxd.pid"));
    LtesimClient sim(root);
    const auto names = sim.call_names();
    ASSERT_GE(names.size(), 4u);
    // Registrations sit between the open and the initialisation.
    EXPECT_EQ("LAPI_LTEAPIOpen", names.front());
    const auto at = [&](const std::string& n) { return std::ranges::find(names, n) - names.begin(); };
    EXPECT_LT(at("LAPI_Initialize"), at("LAPI_SetLogConfig"));
    EXPECT_LT(at("LAPI_SetLogConfig"), at("LAPI_Misc_Initialize"));
    EXPECT_LT(at("LAPI_Misc_Initialize"), std::ssize(names));
    for (long i = 1; i < at("LAPI_Initialize"); ++i)
        EXPECT_EQ("LAPI_RegisterCallbackResponse", names[static_cast<size_t>(i)]);

    d.signal(SIGHUP);
    d.signal(SIGHUP);
    // Bad hex, odd digits, no handler registered for 10, unknown names, a huge line.
    const std::string lines[] = {"inject 75 1 0g", "inject 75 1 abc", "inject 10 1 00", "inject 999 1 00",
                                 "fail LAPI_NoSuchCall 1", "answer LAPI_GetBootImageType xyz", "set no_such_knob 1",
                                 "frobnicate", std::string(200000, 'a')};
    for (const std::string& line : lines)
        EXPECT_THAT(sim.command(line), ::testing::StartsWith("err")) << line.substr(0, 40);
    EXPECT_EQ("ok", sim.command("set delay_ms 0")) << "the connection survives it all";
    RawClient c(root, "c");
    EXPECT_EQ(0, c.open()) << "still serving";
    // The keep-alive is off by default: its first pass would come 5 s after start.
    EXPECT_FALSE(c.recv(6s)) << "no probe without the setting";
    EXPECT_EQ(0, d.count_in_log("start keep-alive"));
    EXPECT_EQ(0, d.count_in_log("Preparing for suicide"));

    ASSERT_TRUE(sim.wait_online()) << "no bring-up call may fall among the closing ones";
    ASSERT_EQ("ok", sim.command("clear"));
    EXPECT_EQ(0, d.stop(GetParam()));
    const std::string log = d.log();
    const size_t suicide = log.find("Preparing for suicide");
    ASSERT_NE(std::string::npos, suicide) << log;
    EXPECT_NE(std::string::npos, log.find("cnxd terminated", suicide)) << log;
    EXPECT_FALSE(root.exists("/var/run/cnxd.pid"));
    const auto calls = ltesim_call_log(root);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_THAT(std::vector(calls.end() - 3, calls.end()),
                ElementsAre("LAPI_AllCallbackUnRegister dev=-", "LAPI_DeInitialize dev=-", "LAPI_LTEAPIClose dev=-"));
    EXPECT_FALSE(root.exists("/var/tmp/ltesim.sock")) << "the control socket closes with the SDK";
}

INSTANTIATE_TEST_SUITE_P(EachStopSignal, DaemonLifecycle, ::testing::Values(SIGTERM, SIGINT, SIGQUIT));

TEST(DaemonDetach, ReturnsAtOnceAndThePidFileNamesTheDaemon)
{
    Sysroot root;
    const std::string cmd = "CNXD_ROOT=" + root.dir() + " " + CNXD_BINARY + " -g 7 -i /var/log/cnxd.log";
    ASSERT_EQ(0, std::system(cmd.c_str()));
    std::string pid_text;
    ASSERT_TRUE(eventually([&] {
        pid_text = root.read_file("/var/run/cnxd.pid");
        return !pid_text.empty() && pid_text.back() == '\n';
    }));
    const pid_t pid = std::stoi(pid_text);
    EXPECT_EQ(0, kill(pid, 0)) << "the pid file names a running process";
    ASSERT_TRUE(eventually([&] { return root.read_file("/var/log/cnxd.log").find("cnxd started") != std::string::npos; }));

    kill(pid, SIGTERM);
    EXPECT_TRUE(eventually([&] { return kill(pid, 0) != 0; }, 10s));
    EXPECT_FALSE(root.exists("/var/run/cnxd.pid"));
    EXPECT_NE(std::string::npos, root.read_file("/var/log/cnxd.log").find("cnxd terminated"));
}

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

TEST(KeepAlive, ASilentClientRebootsTheRouterAndAnAnsweringOneDoesNot)
{
    Sysroot root;
    for (const char* setting : {"ENABLE 1", "interval_time 1", "max_retry 2"})
        ASSERT_TRUE(root.confdb_set(std::string("config wan lte cnxdkeepalive ") + setting));
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start());
    EXPECT_TRUE(daemon.wait_for_log("start keep-alive"));

    RawClient answering(root, "answering");
    RawClient silent(root, "silent");
    ASSERT_EQ(0, answering.open({{0x11, 1}}));
    ASSERT_EQ(1, silent.open({{0x22, 2}}));

    std::atomic<bool> done{false};
    std::atomic<int> probes{0};
    std::thread answerer([&] {
        while (!done) {
            const auto f = answering.recv(100ms);
            if (f && f->size() == 8 && load_be16(f->data()) == 0x0107 && load_be16(f->data() + 2) == 0) {
                ++probes;
                answering.send(hci_frame(0x8108, {}));
            }
        }
    });
    // First pass 5 s after start, then every second: counts 1, 2, then the
    // pass that finds 2 reboots.
    EXPECT_TRUE(daemon.wait_for_log("Reboot System !!!", 20s));
    done = true;
    answerer.join();

    EXPECT_GE(probes.load(), 2) << "the answering client was probed each pass";
    EXPECT_EQ(0, daemon.count_in_log("cnxd client(0,")) << daemon.log();
    EXPECT_GE(daemon.count_in_log("cnxd client(1,0x00000022) didn't response keep_alive (2)"), 1);
    EXPECT_TRUE(eventually([&] { return root.read_file("/var/log/platform-calls.log").find("reboot") != std::string::npos; }));
    EXPECT_TRUE(daemon.running()) << "the daemon waits for the system to stop it";
    EXPECT_EQ(0, daemon.stop(SIGTERM));
}

}  // namespace
}  // namespace cnxd::test
