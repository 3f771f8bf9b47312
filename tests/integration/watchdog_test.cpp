// The modem watchdog end to end: the daemon with the store's watchdog
// settings, the simulated modem answering or not, the sysroot's stub tools
// and status file standing in for the platform and its supervisor, and a
// log listener that stops reading.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "base/be.h"
#include "integration/harness.h"
#include "modem/cm_netif.h"
#include "server/hci.h"

namespace cnxd::test {
namespace {

const std::string kStatus = "/var/tmp/watchdog_status";

int count(const std::vector<std::string>& names, const std::string& name)
{
    return static_cast<int>(std::ranges::count(names, name));
}

// A network namespace (root only) where the modem's first PDN interface,
// lte0pdn0, is up with its address, so that a DHCP client started on it
// is at once taken as done. The destructor removes it.
class PdnNetns {
public:
    PdnNetns() : name_("cnxdwd" + std::to_string(getpid()))
    {
        const std::string n = "ip -n " + name_ + " ";
        ok_ = geteuid() == 0 && sh("ip netns add " + name_);
        for (const std::string& cmd : {n + "link add lte0pdn0 type veth peer name wdpeer0",
                                       n + "addr add 10.9.0.2/24 dev lte0pdn0", n + "link set wdpeer0 up",
                                       n + "link set lte0pdn0 up", n + "link set lo up"})
            ok_ = ok_ && sh(cmd);
    }
    ~PdnNetns() { sh("ip netns del " + name_); }
    bool ok() const { return ok_; }
    const std::string& name() const { return name_; }

private:
    static bool sh(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }
    std::string name_;
    bool ok_ = false;
};

// The sysroot's DHCP client program for the namespace above: writes its pid
// and a lease that runs out 3 s later, then idles until it is killed.
constexpr const char* kShortLeaseClient = R"sh(#!/bin/sh
while [ $# -gt 0 ]; do
    case "$1" in -pf) pf=$2; shift ;; -lf) lf=$2; shift ;; esac
    shift
done
echo $$ > "$pf"
at() { date -u -d "@$(( $(date +%s) + $1 ))" '+%w %Y/%m/%d %H:%M:%S'; }
printf 'lease {\n  interface "lte0pdn0";\n  fixed-address 10.9.0.2;\n  renew %s;\n  rebind %s;\n  expire %s;\n}\n' \
    "$(at 1)" "$(at 2)" "$(at 3)" > "$lf"
exec sleep 600
)sh";

// One watchdog case. The periods are 200 ms (retry) and 800 ms (expiry):
// the store holds twice as much.
struct WatchdogCase {
    const char* name;
    int retry_time;          // store value; 0 keeps the watchdog from starting
    bool enabled_at_start;   // else the store enables it after start-up, before the modem comes
    const char* mode;        // the shell's watchdog command argument
    const char* prevent;     // a file made before the start, or null
    bool answers;            // the simulated modem answers watchdog requests
    bool status_file;        // the status file holds 0 from the start; else it is missing
    // Within 3 s of the modem's coming:
    int expiries;            // "reset tk" lines
    int status;              // the status byte (-1: no file)
    bool watchdog_reboots;   // the console line, then sync and reboot
    int status_changes;      // changes the reset check reports ("We are Checking to Stop" after its first)
    bool supervisor_resets;  // then the supervisor's 0x0F is acknowledged and holds the watchdog
};

const WatchdogCase watchdog_cases[] = {
    {"AnsweringModemNeverExpires", 400, true, "normal", nullptr, true, false, 0, -1, false, 0, false},
    {"SilentModemAsksTheSupervisor", 400, true, "normal", nullptr, false, true, 2, 1, false, 1, false},
    {"SilentModemRebootsInRebootMode", 400, true, "reboot", nullptr, false, true, 1, 0, true, 0, false},
    {"PreventRebootAsksTheSupervisor", 400, true, "reboot", "/var/prevent_reboot", false, true, 2, 1, false, 1, false},
    {"PreventWatchdogDoesNothing", 400, true, "reboot", "/var/prevent_watchdog", false, true, 1, 0, false, 0, false},
    {"MissingRetryTimeNeverStarts", 0, true, "normal", nullptr, false, true, 0, 0, false, 0, false},
    {"EnabledAfterStartUpAnswersTheSupervisor", 400, false, "normal", nullptr, true, true, 0, 0, false, -1, true},
};

void PrintTo(const WatchdogCase& c, std::ostream* os) { *os << c.name; }

// A daemon whose modem comes only when the test inserts it (online waits of 2 s).
struct Watchdog {
    Sysroot root;
    Daemon daemon{root};

    explicit Watchdog(const std::string& sim_conf = "") { root.write_file("/etc/ltesim.conf", "set device_present 0\n" + sim_conf); }
    bool start(std::vector<std::string> prefix = {})
    {
        prefix.insert(prefix.end(), {"env", "CNXD_ONLINE_WAIT_MS=2000"});
        return daemon.start({}, prefix);
    }
    bool enable(int retry_time) const
    {
        return root.confdb_set("config wan lte watchdog ENABLE 1") &&
               root.confdb_set("config wan lte watchdog retry_time " + std::to_string(retry_time)) &&
               root.confdb_set("config wan lte watchdog expired_time 1600");
    }
    std::vector<std::string> platform_calls() const
    {
        std::istringstream in(root.read_file("/var/log/platform-calls.log"));
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);)
            lines.push_back(l.substr(0, l.find_last_not_of(' ') + 1));
        return lines;
    }
    int platform_calls(const std::string& line) const { return count(platform_calls(), line); }
    int status() const
    {
        const std::string s = root.read_file(kStatus);
        return s.size() == 1 ? static_cast<uint8_t>(s[0]) : -1;
    }
    // Watchdog requests in the second after the record is cleared.
    int requests_in_a_second(LtesimClient& sim) const
    {
        EXPECT_EQ("ok", sim.command("clear"));
        std::this_thread::sleep_for(1s);
        return count(sim.call_names(), "LAPI_WatchdogRequest");
    }
};

class WatchdogTable : public ::testing::TestWithParam<WatchdogCase> {};

TEST_P(WatchdogTable, RequestsExpiriesAndTheStatusFileAsTheSettingsSay)
{
    const WatchdogCase& c = GetParam();
    Watchdog w("set ip_alloc 1\nset pdn_type 0\nset delay_ms 0\n");
    if (c.status_file)
        w.root.write_file(kStatus, std::string(1, '\0'));
    if (c.prevent)
        w.root.write_file(c.prevent, "");
    ASSERT_TRUE(!c.enabled_at_start || w.enable(c.retry_time));
    ASSERT_TRUE(w.start()) << w.daemon.log();
    const LogTail log(w.root);
    LtesimClient sim(w.root);
    ASSERT_EQ("ok", sim.command(std::string("set watchdog_answer ") + (c.answers ? "1" : "0")));
    EXPECT_EQ(0, Cli(w.root, {"cmd", "watchdog", c.mode}).wait());
    ASSERT_TRUE(c.enabled_at_start || w.enable(c.retry_time));
    // The reset check's first look (once a second since start-up) is over;
    // the listener may have come after it.
    std::this_thread::sleep_for(1200ms);
    const int first_looks = log.count("WTD: We are Checking to Stop");
    const int first_errors = log.count("WTD file Read Error");

    ASSERT_EQ("ok", sim.command("set device_present 1"));
    if (c.retry_time) {
        ASSERT_TRUE(eventually([&] { return count(sim.call_names(), "LAPI_WatchdogRequest") > 0; })) << log.text();
    } else {
        ASSERT_TRUE(log.wait_for("[online_request]Watchdog First start"));
    }
    const auto came = std::chrono::steady_clock::now();
    // Requests at the retry period, whatever the modem does.
    const int requests = w.requests_in_a_second(sim);
    EXPECT_GE(requests, c.retry_time ? 3 : 0) << "one every 200 ms";
    EXPECT_LE(requests, c.retry_time ? 8 : 0);
    EXPECT_TRUE(c.retry_time || log.count("watchdog start!") == 0);
    std::this_thread::sleep_until(came + 3s);

    EXPECT_EQ(c.expiries, log.count("expired_timer_func, reset tk")) << log.text();
    EXPECT_EQ(c.expiries == 2 ? 1 : 0, log.count("WTD: HCI RSP Fisrt Exp !!"));
    EXPECT_EQ(c.expiries == 2 ? 1 : 0, log.count("WTD: HCI RSP Second Exp !!"));
    EXPECT_EQ(c.status, w.status());
    if (c.status_changes >= 0) {
        // Reported when the byte or the read's outcome changes, not each second.
        EXPECT_LE(first_looks, 1);
        EXPECT_EQ(first_looks + c.status_changes, log.count("WTD: We are Checking to Stop"));
        EXPECT_LE(first_errors, c.status_file ? 0 : 1);
        EXPECT_EQ(first_errors, log.count("WTD file Read Error"));
    }
    EXPECT_EQ(c.retry_time ? 1 : 0, w.platform_calls("kern resettk crash on"));
    const auto calls = w.platform_calls();
    EXPECT_EQ(c.watchdog_reboots ? 1 : 0, count(calls, "reboot"));
    EXPECT_EQ(c.watchdog_reboots ? 1 : 0, count(calls, "sync"));
    EXPECT_TRUE(!c.watchdog_reboots || std::ranges::find(calls, "sync") < std::ranges::find(calls, "reboot"));
    EXPECT_EQ(c.watchdog_reboots ? "[cnxdaemon watchdog]:expired_timer_func: will reboot system\r\n" : "",
              w.root.read_file("/dev/console"));

    if (c.supervisor_resets) {
        // The reset check started with the watchdog, though the store did not
        // enable it at start-up.
        w.root.write_file(kStatus, std::string(1, '\x0f'));
        const auto written = std::chrono::steady_clock::now();
        ASSERT_TRUE(eventually([&] { return w.status() == 0x0A; }, 3s)) << log.text();
        EXPECT_LT(std::chrono::steady_clock::now() - written, 1500ms);
        ASSERT_TRUE(log.wait_for("lte_watchdog_stop, watchdog stop!"));
        EXPECT_EQ(1, count(sim.calls(), "LAPI_NotiArm1Reset dev=- 00000001"));
        EXPECT_TRUE(log.wait_for("WTD file : Done [a]")) << "its own acknowledgement holds it";
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(0, w.requests_in_a_second(sim)) << "stopped";
        w.root.write_file(kStatus, std::string(1, '\0'));
        EXPECT_TRUE(log.wait_for("WTD file : Time to Exit WTD mode: [wtd_sts:0]"));
    }
    EXPECT_EQ(0, w.daemon.stop(SIGTERM, 3s));
}

INSTANTIATE_TEST_SUITE_P(Cases, WatchdogTable, ::testing::ValuesIn(watchdog_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// The next HCI_NOTIFY of `code` the client gets within `bound`.
bool notice_comes(const RawClient& c, uint16_t code, std::chrono::milliseconds bound)
{
    return eventually([&] {
        const auto f = c.recv(200ms);
        return f && f->size() >= 12 && load_be16(f->data()) == HCI_NOTIFY && load_be16(f->data() + 8) == code;
    }, bound);
}

// A log listener that stops reading holds up no timer: the watchdog's
// requests go on, the DHCP lease of the modem's PDN runs out 3 s after its
// client started and its end reaches the manager, and the keep-alive finds
// the silent listener and reboots.
TEST(WatchdogE2E, AStuckListenerHoldsUpNoTimer)
{
    PdnNetns ns;
    if (!ns.ok())
        GTEST_SKIP() << "needs root and a network namespace for the DHCP lease";
    Watchdog w("set ip_alloc 1\nset pdn_type 0\nset delay_ms 0\n");
    ASSERT_TRUE(w.enable(400));
    for (const char* kv : {"ENABLE 1", "interval_time 1", "max_retry 3"})
        ASSERT_TRUE(w.root.confdb_set(std::string("config wan lte cnxdkeepalive ") + kv));
    ASSERT_TRUE(w.root.confdb_set("config wan lte apntable apn1 apn_name dhcp.example"));
    w.root.write_file("/bin/dhclient", kShortLeaseClient);
    std::filesystem::permissions(w.root.path("/bin/dhclient"), std::filesystem::perms::owner_all);
    ASSERT_TRUE(w.start({"ip", "netns", "exec", ns.name()})) << w.daemon.log();
    LtesimClient sim(w.root);
    ASSERT_EQ("ok", sim.command("set watchdog_answer 1"));
    EXPECT_EQ(0, Cli(w.root, {"cmd", "watchdog", "normal"}).wait());
    ASSERT_EQ("ok", sim.command("set device_present 1"));
    ASSERT_TRUE(eventually([&] { return count(sim.call_names(), "LAPI_WatchdogRequest") > 0; }));

    RawClient notices(w.root, "notices");
    ASSERT_TRUE(notices.open({{1, 0}}).has_value());
    ASSERT_TRUE(notices.connect_to_daemon());
    notices.set_word(0, 1);
    std::string attach = read_text(std::string(CNXD_SOURCE_DIR) + "/docs/param/attach.param");
    attach.replace(attach.find("apn_name=internet"), 17, "apn_name=dhcp.example");
    w.root.write_file("/var/lte/param/attach.param", attach);
    ASSERT_TRUE(notices.send(hci_frame(HCI_CLI_COMMAND, Bytes{'a', 't', ' ', '1'})));
    ASSERT_TRUE(w.daemon.wait_for_log("Start expired timer for cid 1,")) << w.daemon.log();
    auto stuck = std::make_unique<RawClient>(w.root, "stuck");
    ASSERT_TRUE(stuck->open().has_value());
    stuck->set_word(0, 1);
    ASSERT_TRUE(w.daemon.wait_for_log("retry to write", 3s)) << "the listener's queue is full";

    const int requests = w.requests_in_a_second(sim);
    EXPECT_GE(requests, 3) << "one every 200 ms";
    EXPECT_LE(requests, 8);
    EXPECT_TRUE(w.daemon.wait_for_log("[DHCP 1] receive req = 5", 5s)) << w.daemon.log();
    EXPECT_TRUE(w.daemon.wait_for_log("Reboot System !!!", 10s));
    EXPECT_TRUE(eventually([&] { return w.platform_calls("reboot") >= 1; }));
    EXPECT_EQ(0, w.platform_calls("sync")) << "the keep-alive's reboot, not the watchdog's";
    EXPECT_EQ(1, w.platform_calls("kern resettk crash on"));
    EXPECT_EQ(-1, w.status()) << "no status file made";
    // Once the listener is gone the deliveries resume: the notice comes.
    stuck.reset();
    EXPECT_TRUE(notice_comes(notices, DHCP_NOTICE_LEASE_EXPIRED, 5s));
    EXPECT_EQ(0, w.daemon.stop(SIGTERM, 3s));
}

TEST(WatchdogE2E, TheFirstSoftwareResetSwitchesItOffForGood)
{
    Watchdog w;
    ASSERT_TRUE(w.enable(400));
    ASSERT_TRUE(w.start());
    const LogTail log(w.root);
    // The modem supervisor's end of the message client: what the daemon sent it.
    const RawClient mdmwatch(w.root, "/var/run/msgsrv/_mdmwatch_");
    const auto next = [&](std::chrono::milliseconds bound) {
        const auto message = mdmwatch.recv(bound);
        return message ? hex(*message) : "";
    };
    LtesimClient sim(w.root);
    ASSERT_EQ("ok", sim.command("set device_present 1"));
    EXPECT_EQ("00020000", next(3s)) << "the online answer, to the supervisor";
    ASSERT_TRUE(log.wait_for("start retry(200ms) and expired(800ms) timer")) << log.text();

    for (int i = 0; i < 2; ++i) {
        Cli reset(w.root, {"cmd", "sys", "reset@@"});
        EXPECT_EQ(0, reset.wait());
    }
    EXPECT_EQ("00000000", next(3s)) << "all off, once";
    EXPECT_EQ("", next(300ms));
    EXPECT_TRUE(eventually([&] { return w.platform_calls("kern modem reset 0") == 2; }));
    EXPECT_TRUE(log.wait_for("WTD: lte_watchdog_AllOff!"));
    ASSERT_EQ("ok", sim.command("clear"));
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(0, count(sim.call_names(), "LAPI_WatchdogRequest"));
    EXPECT_EQ(1, log.count("WTD: lte_watchdog_AllOff!"));
    EXPECT_EQ(0, w.daemon.stop(SIGTERM, 3s));
}

}  // namespace
}  // namespace cnxd::test
