// What the connection indications change, seen from outside: the
// emergency image at insert, the ADMIN PDN count of operator 7, and the
// network time that sets the clock (recorded in the sysroot, never the
// host's) and the zone.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <ctime>

#include "base/be.h"
#include "integration/harness.h"

namespace cnxd::test {
namespace {

TEST(Connections, TheEmergencyImageOnlyPrintsItsBanner)
{
    Sysroot root;
    root.write_file("/etc/ltesim.conf", "set device_present 0\nset boot_image_type 2\n");
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start());
    const LogTail log(root, true);
    LtesimClient sim(root);
    ASSERT_EQ("ok", sim.command("set device_present 1"));
    EXPECT_TRUE(log.wait_for("\033[1m\033[31mOnly Use 'download' Command\n\033[0m"));
    EXPECT_EQ(1, log.count("EMERGENCY MODE"));
    ASSERT_EQ("ok", sim.command("sync"));
    EXPECT_TRUE(log.events().empty()) << "no insert forwarded";
    EXPECT_EQ(0, std::ranges::count(sim.call_names(), "LAPI_GetCrashLogRequest"));
    EXPECT_EQ(0, daemon.stop(SIGTERM));
}

TEST(Connections, AnAttachWithItsAddressByNasStartsNoDhcpClient)
{
    Sysroot root;
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start());
    LtesimClient sim(root);
    ASSERT_TRUE(sim.wait_online());
    const LogTail log(root, true);
    RawClient c(root, "attacher");
    ASSERT_TRUE(c.open().has_value());
    Bytes attach(352, 0);
    std::ranges::copy(std::string("internet"), attach.begin() + 2);
    ASSERT_EQ(0, c.api_request(25, 1, attach));
    // The interface's configuration takes seconds on a loaded machine.
    ASSERT_TRUE(eventually([&] { return std::ranges::count(log.events(), 163) == 1; }, 20s)) << "interface ready";
    const auto events = log.events();
    EXPECT_LT(std::ranges::find(events, 26), std::ranges::find(events, 163)) << "the attach answer first";
    ASSERT_EQ(0, c.api_request(29, 1, {}));
    ASSERT_TRUE(eventually([&] { return std::ranges::count(log.events(), 164) == 1; }, 20s)) << "released";
    EXPECT_TRUE(log.wait_for("Network detached", 20s));
    EXPECT_EQ(0, daemon.count_in_log("Executed DHCP client"));
    EXPECT_FALSE(root.exists("/var/tmp/dhclient.pid.1"));
    EXPECT_EQ(0, daemon.stop(SIGTERM));
}

// A PDN answer for the ADMIN PDN the modem holds (bearer 7): result word,
// two causes, the bearer.
Bytes pdn_answer(uint16_t result, size_t len)
{
    Bytes r(len, 0);
    store_be16(r.data(), result);
    store_be16(r.data() + 6, 7);
    return r;
}

TEST(Connections, TheAdminPdnCountMovesOnlyOnItsResults)
{
    Sysroot root;
    ASSERT_TRUE(root.confdb_set("ltenv info operator 7"));
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start());
    LtesimClient sim(root);
    ASSERT_TRUE(sim.wait_online());
    ASSERT_EQ("ok", sim.command("pdn up 2 admin"));
    const struct {
        uint32_t id;  // 6 connectivity answer, 8 disconnect answer, 4 detach answer
        uint16_t result;
        int count;  // logged afterwards, or -1: nothing logged
    } steps[] = {
        {6, 0, -1}, {6, 1, 1}, {6, 5, 2}, {6, 2, -1}, {8, 102, -1}, {8, 101, 1},
        {8, 0xFFFF, 0}, {8, 107, -1},  // not below 0
        {6, 1, 1}, {4, 0, -1}, {8, 108, -1},  // the detach set it to 0
    };
    for (const auto& s : steps) {
        const int before = daemon.count_in_log("ADMIN PDN Reference count(");
        const Bytes rec = pdn_answer(s.result, s.id == 6 ? 747 : s.id == 8 ? 176 : 8);
        ASSERT_EQ("ok", sim.command("inject " + std::to_string(s.id) + " 1 " + hex(rec)));
        ASSERT_EQ("ok", sim.command("sync"));
        const std::string what = std::to_string(s.id) + "/" + std::to_string(s.result);
        EXPECT_TRUE(s.count < 0 ||
                    daemon.wait_for_log("ADMIN PDN Reference count(" + std::to_string(s.count) + ")", 2s))
            << what;
        EXPECT_EQ(before + (s.count >= 0 ? 1 : 0), daemon.count_in_log("ADMIN PDN Reference count(")) << what;
    }

    // Held twice, the modem's disconnect of the ADMIN PDN (named, not
    // numbered: the connection list gives its bearer) only drops a hold.
    const LogTail log(root);
    ASSERT_EQ("ok", sim.command("pdn down 2"));  // its TID entry went with the detach
    ASSERT_EQ("ok", sim.command("pdn up 2 admin"));
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ("ok", sim.command("inject 6 1 " + hex(pdn_answer(1, 747))));
    ASSERT_EQ("ok", sim.command("sync"));
    ASSERT_EQ("ok", sim.command("clear"));
    const std::string required = "inject 148 1 000005" + hex(std::string("admin")) + std::string(118, '0');
    ASSERT_EQ("ok", sim.command(required));
    EXPECT_TRUE(log.wait_for("Skip ADMIN PDN DISCONNECT REQUIRED INDICATION"));
    ASSERT_EQ("ok", sim.command(required));
    EXPECT_TRUE(log.wait_for("\nPDN DISCONNECT REQUEST(DEV_IDX(1))\n"));
    ASSERT_EQ("ok", sim.command("sync"));
    EXPECT_EQ(1, std::ranges::count_if(sim.calls(), [](const std::string& c) {
                  return c.starts_with("LAPI_PDNDisconnRequest dev=1 00070000" "05" "61646d696e");
              })) << "one request, for bearer 7";
    EXPECT_EQ(0, daemon.stop(SIGTERM));
}

// The network time record: zones and time from byte 512 on.
Bytes network_time(int local_flag, int8_t local_tz, int universal_flag, uint8_t year, int8_t tz)
{
    Bytes r(512, 0);
    r.insert(r.end(), {static_cast<uint8_t>(local_flag), static_cast<uint8_t>(local_tz),
                       static_cast<uint8_t>(universal_flag), year, 12, 7, 10, 30, 15, static_cast<uint8_t>(tz), 0, 0});
    return r;
}

TEST(Connections, NetworkTimeSetsTheClockAndZoneInTheSysrootOnly)
{
    tm t{15, 30, 10, 7, 11, 126, 0, 0, 0, 0, nullptr};  // 2026-12-07 10:30:15
    const time_t local = mktime(&t);
    const struct {
        const char* name;
        Bytes record;
        long long clock;  // -1: not set
        const char* zone_file;
        const char* stored;  // TIMEZONE afterwards
    } cases[] = {
        {"universal", network_time(1, -4, 1, 26, 8), local + 7200, "8\n", "2"},
        {"local", network_time(1, -4, 0, 26, 8), local - 3600, "8\n", "2"},
        {"no zone", network_time(0, 0, 0, 26, 0), local, "0\n", "0"},
        {"year 0", network_time(0, 0, 1, 0, 8), -1, "", "0"},
    };
    for (const auto& c : cases) {
        Sysroot root;
        ASSERT_TRUE(root.confdb_set("config system_time ENABLE 1"));
        ASSERT_TRUE(root.confdb_set("config system_time TIMEZONE 0"));
        Daemon daemon(root);
        ASSERT_TRUE(daemon.start());
        const LogTail log(root);
        LtesimClient sim(root);
        ASSERT_TRUE(sim.wait_online());
        const time_t host_before = time(nullptr);
        ASSERT_EQ("ok", sim.command("inject 112 1 " + hex(c.record)));
        ASSERT_TRUE(log.wait_for("WTD: ind_watchdog_start__Cancel[Watchdog Disabled]")) << c.name;
        EXPECT_GE(log.count("WTD: ind_watchdog_stop"), 1) << c.name;
        EXPECT_EQ(1, log.count("SYSTEM TIME Enable")) << c.name;
        const std::string calls = root.read_file("/var/log/platform-calls.log");
        if (c.clock < 0)
            EXPECT_EQ(std::string::npos, calls.find("settimeofday")) << c.name;
        else
            EXPECT_NE(std::string::npos, calls.find("settimeofday " + std::to_string(c.clock) + "\n"))
                << c.name << ": " << calls;
        EXPECT_EQ(c.zone_file, root.read_file("/var/tmp/timezone")) << c.name;
        EXPECT_NE(std::string::npos, root.read_file("/etc/confdb.ini").find(std::string("TIMEZONE=") + c.stored))
            << c.name;
        EXPECT_LE(std::abs(time(nullptr) - host_before), 5) << "the host clock is untouched";
        EXPECT_EQ(0, daemon.stop(SIGTERM));
    }
}

}  // namespace
}  // namespace cnxd::test
