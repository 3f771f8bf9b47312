// The modem watchdog end to end: the daemon with the store's watchdog
// settings, the simulated modem answering or not, the sysroot's stub tools
// and status file standing in for the platform and its supervisor.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sstream>

#include "integration/harness.h"

namespace cnxd::test {
namespace {

const std::string kStatus = "/var/tmp/watchdog_status";

struct Watchdog {
    Sysroot root;
    Daemon daemon{root};

    // Starts the daemon with the watchdog settings and a modem that is
    // inserted only by insert(), after the test has set what it needs.
    bool start(int retry_time, int expired_time)
    {
        root.write_file("/etc/ltesim.conf", "set device_present 0\n");
        for (const std::string& kv : {std::string("ENABLE 1"), "retry_time " + std::to_string(retry_time),
                                      "expired_time " + std::to_string(expired_time)})
            if (!root.confdb_set("config wan lte watchdog " + kv))
                return false;
        return daemon.start({}, {"env", "CNXD_ONLINE_WAIT_MS=2000"});
    }
    // The platform-call log's lines, without the stubs' trailing blank.
    std::vector<std::string> platform_calls() const
    {
        std::istringstream in(root.read_file("/var/log/platform-calls.log"));
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);)
            lines.push_back(l.substr(0, l.find_last_not_of(' ') + 1));
        return lines;
    }
    int platform_calls(const std::string& line) const
    {
        return static_cast<int>(std::ranges::count(platform_calls(), line));
    }
    int status() const
    {
        const std::string s = root.read_file(kStatus);
        return s.size() == 1 ? static_cast<uint8_t>(s[0]) : -1;
    }
};

// The modem supervisor's end of the message client: what the daemon sent it.
class Mdmwatch {
public:
    explicit Mdmwatch(const Sysroot& root) : fd_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string path = root.path("/var/run/msgsrv/_mdmwatch_");
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        bound_ = bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~Mdmwatch() { close(fd_); }
    bool bound() const { return bound_; }
    // The next message as hex, or "" when none comes within `bound`.
    std::string next(std::chrono::milliseconds bound = 3s) const
    {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(bound.count())) != 1)
            return "";
        std::string buf(64, '\0');
        const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
        return n < 0 ? "" : hex(buf.substr(0, static_cast<size_t>(n)));
    }

private:
    int fd_;
    bool bound_ = false;
};

int count(const std::vector<std::string>& names, const std::string& name)
{
    return static_cast<int>(std::ranges::count(names, name));
}

TEST(WatchdogE2E, AnAnsweringModemIsAskedEveryHalfRetryTimeAndNeverExpires)
{
    Watchdog w;
    ASSERT_TRUE(w.start(400, 2000));
    const LogTail log(w.root);
    const Mdmwatch mdmwatch(w.root);
    ASSERT_TRUE(mdmwatch.bound());
    LtesimClient sim(w.root);
    ASSERT_EQ("ok", sim.command("set device_present 1"));
    EXPECT_EQ("00020000", mdmwatch.next()) << "the online answer, to the supervisor";
    ASSERT_TRUE(log.wait_for("start retry(200ms) and expired(1000ms) timer")) << log.text();
    ASSERT_EQ("ok", sim.command("clear"));
    std::this_thread::sleep_for(2s);
    const int requests = count(sim.call_names(), "LAPI_WatchdogRequest");
    EXPECT_GE(requests, 6) << "one every 200 ms";
    EXPECT_LE(requests, 12);
    EXPECT_GE(log.count("lte_watchdog_kick, kick"), requests - 1);
    EXPECT_EQ(0, log.count("reset tk"));
    EXPECT_EQ(1, w.platform_calls("kern resettk crash on"));
    EXPECT_EQ(0, w.platform_calls("sync") + w.platform_calls("reboot"));

    // The first software reset switches the watchdog off for good.
    for (int i = 0; i < 2; ++i) {
        Cli reset(w.root, {"cmd", "sys", "reset@@"});
        EXPECT_EQ(0, reset.wait());
    }
    EXPECT_EQ("00000000", mdmwatch.next()) << "all off, once";
    EXPECT_EQ("", mdmwatch.next(300ms));
    EXPECT_TRUE(eventually([&] { return w.platform_calls("kern modem reset 0") == 2; }));
    EXPECT_EQ(1, log.count("WTD: lte_watchdog_AllOff!"));
    ASSERT_EQ("ok", sim.command("clear"));
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(0, count(sim.call_names(), "LAPI_WatchdogRequest"));
    EXPECT_EQ(0, w.daemon.stop(SIGTERM, 3s));
}

TEST(WatchdogE2E, AMissingPeriodKeepsItFromStarting)
{
    Watchdog w;
    ASSERT_TRUE(w.start(0, 2000));
    const LogTail log(w.root);
    LtesimClient sim(w.root);
    ASSERT_EQ("ok", sim.command("set device_present 1"));
    ASSERT_TRUE(log.wait_for("[online_request]Watchdog First start"));
    ASSERT_EQ("ok", sim.command("clear"));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(0, log.count("watchdog start!"));
    EXPECT_EQ(0, count(sim.call_names(), "LAPI_WatchdogRequest"));
    EXPECT_EQ(0, w.platform_calls("kern resettk crash on"));
    EXPECT_EQ(0, w.daemon.stop(SIGTERM, 3s));
}

// A modem that stops answering, with the expiry period (300 ms) shorter
// than the retry period (1 s): what the expiries do by mode and prevent file.
struct ExpiryCase {
    const char* name;
    const char* mode;          // watchdog command argument
    const char* prevent_file;  // created before the start, or null
    bool reboots;
    int status_after;          // the status byte once the expiries are over
    const char* log_line;      // printed on the way
};

const ExpiryCase expiry_cases[] = {
    {"RebootMode", "reboot", nullptr, true, 0, "expired_timer_func, reset tk"},
    {"NormalModeAsksTheSupervisor", "normal", nullptr, false, 1, "WTD: HCI RSP Second Exp !!"},
    {"PreventRebootAsksTheSupervisor", "reboot", "/var/prevent_reboot", false, 1, "WTD: HCI RSP Fisrt Exp !!"},
    {"PreventWatchdogDoesNothing", "reboot", "/var/prevent_watchdog", false, 0, "expired_timer_func, reset tk"},
};

void PrintTo(const ExpiryCase& c, std::ostream* os) { *os << c.name; }

class WatchdogExpiry : public ::testing::TestWithParam<ExpiryCase> {};

TEST_P(WatchdogExpiry, AHungModemIsHandledAsTheModeAndFilesSay)
{
    const ExpiryCase& c = GetParam();
    Watchdog w;
    w.root.write_file(kStatus, std::string(1, '\0'));
    if (c.prevent_file)
        w.root.write_file(c.prevent_file, "");
    ASSERT_TRUE(w.start(2000, 600));
    const LogTail log(w.root);
    LtesimClient sim(w.root);
    ASSERT_EQ("ok", sim.command("set watchdog_answer 0"));
    Cli mode(w.root, {"cmd", "watchdog", c.mode});
    EXPECT_EQ(0, mode.wait());
    ASSERT_TRUE(log.wait_for(std::string("New Watchdog Mode : ") +
                             (c.mode == std::string("reboot") ? "System Reboot" : "Normal (ARM1 Reload)")));
    ASSERT_EQ("ok", sim.command("set device_present 1"));
    ASSERT_TRUE(log.wait_for("watchdog start![Hold:0]")) << log.text();

    ASSERT_TRUE(log.wait_for(c.log_line, 5s)) << log.text();
    if (c.reboots) {
        ASSERT_TRUE(eventually([&] { return w.platform_calls("reboot") == 1; }));
        const auto calls = w.platform_calls();
        EXPECT_LT(std::ranges::find(calls, "sync"), std::ranges::find(calls, "reboot"));
        EXPECT_EQ("[cnxdaemon watchdog]:expired_timer_func: will reboot system\r\n",
                  w.root.read_file("/dev/console"));
    } else {
        EXPECT_TRUE(eventually([&] { return w.status() == c.status_after; }, 3s)) << w.status();
        std::this_thread::sleep_for(1s);
        EXPECT_EQ(c.status_after, w.status()) << "one request to the supervisor at most";
        EXPECT_EQ(0, w.platform_calls("reboot"));
    }
    EXPECT_EQ(0, w.daemon.stop(SIGTERM, 3s));
}

INSTANTIATE_TEST_SUITE_P(Cases, WatchdogExpiry, ::testing::ValuesIn(expiry_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// The supervisor resets the modem: the reset-check thread acknowledges,
// tells the SDK, and stops the watchdog, and the supervisor's 0 ends the
// hold.
TEST(WatchdogE2E, TheSupervisorsResetByteHoldsTheWatchdogWithinASecond)
{
    Watchdog w;
    w.root.write_file(kStatus, std::string(1, '\0'));
    ASSERT_TRUE(w.start(400, 2000));
    const LogTail log(w.root);
    LtesimClient sim(w.root);
    ASSERT_EQ("ok", sim.command("set device_present 1"));
    ASSERT_TRUE(log.wait_for("watchdog start![Hold:0]")) << log.text();
    ASSERT_EQ("ok", sim.command("clear"));

    w.root.write_file(kStatus, std::string(1, '\x0f'));
    const auto written = std::chrono::steady_clock::now();
    ASSERT_TRUE(eventually([&] { return w.status() == 0x0A; }, 3s));
    EXPECT_LT(std::chrono::steady_clock::now() - written, 1500ms);
    ASSERT_TRUE(log.wait_for("lte_watchdog_stop, watchdog stop!"));
    EXPECT_EQ(1, count(sim.calls(), "LAPI_NotiArm1Reset dev=- 00000001"));
    EXPECT_TRUE(log.wait_for("WTD file : Done [a]")) << "its own acknowledgement holds it";
    ASSERT_EQ("ok", sim.command("clear"));
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(0, count(sim.call_names(), "LAPI_WatchdogRequest")) << "stopped";

    w.root.write_file(kStatus, std::string(1, '\0'));
    EXPECT_TRUE(log.wait_for("WTD file : Time to Exit WTD mode: [wtd_sts:0]"));
    EXPECT_EQ(0, w.daemon.stop(SIGTERM, 3s));
}

}  // namespace
}  // namespace cnxd::test
