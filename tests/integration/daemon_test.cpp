// The daemon as a process: its command line, detaching and its pid file, a
// failed SDK initialisation (driven through the simulated modem's boot-time
// file), and the client keep-alive with its settings and the reboot it
// brings about (through the sysroot's stub reboot). Its stop in every state
// is the table of stop_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
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

// ---- Client keep-alive -------------------------------------------------------
// The settings' edge cases, each with a daemon of its own and the stub reboot
// of the sysroot. The first pass comes 5 s after start.

const std::string kInjectIndication = "inject 75 1 0102030405060708";  // forwarded as event 177

bool is_probe(const std::optional<Bytes>& f)
{
    return f && f->size() == 8 && load_be16(f->data()) == 0x0107 && load_be16(f->data() + 2) == 0;
}

bool rebooted(const Sysroot& root)
{
    return root.read_file("/var/log/platform-calls.log").find("reboot") != std::string::npos;
}

// Counts the probes a client gets on a thread of its own, answering them
// when asked to.
class Prober {
public:
    Prober(RawClient& c, bool answer)
        : thread_([this, &c, answer] {
              while (!done_)
                  if (is_probe(c.recv(50ms))) {
                      ++probes;
                      if (answer)
                          c.send(hci_frame(0x8108, {}));
                  }
          })
    {
    }
    ~Prober()
    {
        done_ = true;
        thread_.join();
    }
    std::atomic<int> probes{0};

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

void no_probe_ever(const Sysroot& root, Daemon& d)
{
    RawClient c(root, "c");
    ASSERT_EQ(0, c.open());
    const Prober prober(c, false);
    std::this_thread::sleep_for(7s);
    EXPECT_EQ(0, prober.probes) << "no probe, not even at 5 s";
    EXPECT_EQ(0, d.count_in_log("start keep-alive"));
    EXPECT_TRUE(c.send(hci_frame(0x8108, {}))) << "an answer only clears a count";
    EXPECT_EQ(0, c.api_request(8, 1, {}));
    EXPECT_FALSE(rebooted(root));
}

// A missing retry count or interval (0) reboots nothing by accident: an
// answering client is probed once a second, and free records count nothing.
void a_pass_a_second_and_no_reboot(const Sysroot& root, Daemon& d)
{
    RawClient c(root, "c");
    ASSERT_EQ(0, c.open());
    const Prober prober(c, true);
    ASSERT_TRUE(eventually([&] { return prober.probes > 0; }, 15s));
    const int first = prober.probes;
    std::this_thread::sleep_for(2s);
    EXPECT_LE(prober.probes - first, 3) << "probes in the two seconds after the first pass";
    EXPECT_EQ(0, d.count_in_log("didn't response keep_alive"));
    EXPECT_FALSE(rebooted(root));
}

// A client whose socket is full and that never reads: a sender on the SDK's
// callback thread retries on it, holding the table lock, for as long as it
// stays. The passes go on all the same and it reaches the limit, while an
// answering client stays served.
void stuck_client_reaches_the_limit(const Sysroot& root, Daemon& d)
{
    LtesimClient sim(root);
    ASSERT_TRUE(sim.wait_online());
    RawClient served(root, "served");
    ASSERT_EQ(0, served.open({{0x44, 1}}));
    auto stuck = std::make_unique<RawClient>(root, "stuck");
    ASSERT_EQ(1, stuck->open({{0x33, 2}}));
    stuck->subscribe_all();
    {
        const Prober answering(served, true);
        for (int i = 0; i < 20; ++i)
            ASSERT_EQ("ok", sim.command(kInjectIndication));
        EXPECT_TRUE(d.wait_for_log("id=1 retry to writev retry_nr=1")) << "the sender waits on the full socket";
        EXPECT_TRUE(d.wait_for_log("cnxd client(1,0x00000033) didn't response keep_alive (3)", 20s));
        EXPECT_TRUE(eventually([&] { return rebooted(root); }));
        EXPECT_EQ(0, served.api_request(8, 1, {})) << "the answering client is still served";
        EXPECT_GE(answering.probes, 3);
        EXPECT_EQ(0, d.count_in_log("cnxd client(0,")) << "the answering client never counts up to the limit";
    }
    stuck.reset();  // gone: the sender's next writes find it so
    EXPECT_TRUE(d.wait_for_log("[DEVICE] client 1 seems detached"));
}

struct KeepAliveCase {
    const char* name;
    std::vector<std::string> settings;
    void (*check)(const Sysroot&, Daemon&);
};

const KeepAliveCase keep_alive_cases[] = {
    {"Enable0", {"ENABLE 0", "interval_time 1", "max_retry 1"}, no_probe_ever},
    {"MaxRetry0", {"ENABLE 1", "interval_time 1", "max_retry 0"}, a_pass_a_second_and_no_reboot},
    {"Interval0", {"ENABLE 1", "interval_time 0", "max_retry 1000000"}, a_pass_a_second_and_no_reboot},
    {"StuckClient", {"ENABLE 1", "interval_time 1", "max_retry 3"}, stuck_client_reaches_the_limit},
};

void PrintTo(const KeepAliveCase& c, std::ostream* os) { *os << c.name; }

class KeepAliveSetting : public ::testing::TestWithParam<KeepAliveCase> {};

TEST_P(KeepAliveSetting, ProbesAndRebootsAsSetThenServesAndStops)
{
    Sysroot root;
    for (const std::string& setting : GetParam().settings)
        ASSERT_TRUE(root.confdb_set("config wan lte cnxdkeepalive " + setting));
    Daemon d(root);
    ASSERT_TRUE(d.start());
    GetParam().check(root, d);
    EXPECT_TRUE(d.running()) << "the daemon waits for the system to stop it";
    RawClient fresh(root, "fresh");
    EXPECT_TRUE(fresh.open()) << "a new session is served";
    EXPECT_EQ(0, d.stop(SIGTERM, 1s));
}

INSTANTIATE_TEST_SUITE_P(Edges, KeepAliveSetting, ::testing::ValuesIn(keep_alive_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace cnxd::test
