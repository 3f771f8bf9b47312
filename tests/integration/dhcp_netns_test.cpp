// DHCP end to end with the real programs: the ISC DHCP server in a server
// network namespace, the daemon's DHCP manager with the sysroot's dhclient
// (the real ISC client with our hook script) in a client namespace, joined
// by a veth pair whose client end is lte0pdn0.
//
// The test itself (root, host namespace) builds the namespaces, the link
// and the server, then runs this binary again inside the client namespace
// ("ip netns exec", which also puts /etc/netns/NAME/resolv.conf in place of
// the host's) with only the inner test selected; that half drives the
// manager. Everything it made is removed again, also after a failure.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/be.h"
#include "base/path.h"
#include "core/timer.h"
#include "integration/harness.h"
#include "integration/harness_netns.h"
#include "modem/if_record.h"
#include "net/dhcpcd.h"
#include "net/lease_file.h"

namespace cnxd::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* INNER_ENV = "CNXD_DHCP_NETNS_INNER";
constexpr const char* SERVER_LEASES_ENV = "CNXD_DHCP_NETNS_SERVER_LEASES";
constexpr const char* CLIENT_IF = NetnsPair::CLIENT_IF;
constexpr const char* SERVER_IF = NetnsPair::SERVER_IF;
constexpr const char* SERVER_ADDR = "10.77.0.1/24";
// The server hands out 10.77.0.50 to 10.77.0.60 for two minutes.
constexpr const char* DHCPD_CONF = "ddns-update-style none;\n"
                                   "default-lease-time 120;\n"
                                   "max-lease-time 120;\n"
                                   "authoritative;\n"
                                   "subnet 10.77.0.0 netmask 255.255.255.0 {\n"
                                   "  range 10.77.0.50 10.77.0.60;\n"
                                   "}\n";

// The ISC server on the server end, handing out addresses for two minutes.
bool start_dhcpd(NetnsPair& ns, const std::string& dhcpd)
{
    std::ofstream(ns.dir() + "/dhcpd.conf") << DHCPD_CONF;
    std::ofstream(ns.dir() + "/dhcpd.leases").flush();
    ns.start_in_server({dhcpd, "-4", "-f", "-q", "-cf", ns.dir() + "/dhcpd.conf", "-lf", ns.dir() + "/dhcpd.leases",
                        "-pf", ns.dir() + "/dhcpd.pid", SERVER_IF},
                       "dhcpd.log");
    return ns.dhcp_server_listening(10s);
}

TEST(DhcpNetns, RealClientGetsLeaseFromRealServer)
{
    if (std::getenv(INNER_ENV))
        GTEST_SKIP() << "the outer half does not run inside the client namespace";
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create network namespaces";
    const std::string dhcpd = first_program({"/usr/sbin/dhcpd", "/sbin/dhcpd"});
    const std::string dhclient = first_program({"/sbin/dhclient", "/usr/sbin/dhclient"});
    if (dhcpd.empty() || dhclient.empty())
        GTEST_SKIP() << "the ISC DHCP client and server are not installed (scripts/deps installs them)";

    NetnsPair ns(SERVER_ADDR);
    if (const std::string why = ns.build(); !why.empty())
        GTEST_SKIP() << why;
    const auto server_log = [&] { return read_text(ns.dir() + "/dhcpd.log"); };
    ASSERT_TRUE(start_dhcpd(ns, dhcpd)) << "the DHCP server did not come up:\n" << server_log();

    const std::string self = fs::read_symlink("/proc/self/exe");
    setenv(INNER_ENV, "1", 1);
    setenv(SERVER_LEASES_ENV, (ns.dir() + "/dhcpd.leases").c_str(), 1);
    // The inner half's output goes where ours goes.
    const pid_t inner = fork();
    if (inner == 0) {
        execlp("ip", "ip", "netns", "exec", ns.client().c_str(), self.c_str(),
               "--gtest_filter=DhcpNetnsInner.*", static_cast<char*>(nullptr));
        _exit(127);
    }
    unsetenv(INNER_ENV);
    unsetenv(SERVER_LEASES_ENV);
    EXPECT_EQ(0, wait_child(inner, 120s)) << "the client-namespace half failed; server log:\n" << server_log();
}

// ---- The half that runs inside the client namespace ---------------------

int32_t mono_now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int32_t>(ts.tv_sec);
}

int state(int sid) { return std::atomic_ref<int>(dhcpcd_cur_state[sid]).load(); }

std::vector<std::string> cmdline(pid_t pid)
{
    const std::string raw = read_text("/proc/" + std::to_string(pid) + "/cmdline");
    std::vector<std::string> args;
    std::istringstream in(raw);
    for (std::string a; std::getline(in, a, '\0');)
        args.push_back(a);
    return args;
}

bool process_alive(pid_t pid)
{
    if (pid <= 1 || kill(pid, 0) != 0)
        return false;
    const std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
    const size_t end = stat.rfind(')');
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z';
}

TEST(DhcpNetnsInner, ManagerRunsTheRealClient)
{
    const char* server_leases = std::getenv(SERVER_LEASES_ENV);
    if (!std::getenv(INNER_ENV) || !server_leases)
        GTEST_SKIP() << "runs only inside the client namespace, started by DhcpNetns";
    Sysroot root;
    // Undone on every way out, so that no manager, monitor or client
    // outlives a failed check.
    struct InSysroot {
        explicit InSysroot(const Sysroot& r) : old_path(std::getenv("PATH") ? std::getenv("PATH") : "")
        {
            setenv("CNXD_ROOT", r.dir().c_str(), 1);
            cnxd_reload_root();
            cnxd_setup_host_path();
            timer_service_init();
            mq_init_all();
        }
        ~InSysroot()
        {
            dhcpcd_shutdown();
            timer_service_deinit();
            setenv("PATH", old_path.c_str(), 1);
            unsetenv("CNXD_ROOT");
            cnxd_reload_root();
        }
        std::string old_path;
    } in_sysroot(root);

    // The interface record of the "internet" APN's interface (section 1 of
    // the sysroot's store).
    std::vector<uint8_t> rec(ifrec::SIZE);
    const std::string apn = "internet";
    std::copy_n(CLIENT_IF, std::strlen(CLIENT_IF), rec.begin() + ifrec::NAME);
    store_be16(&rec[ifrec::EPS_BEARER], 5);
    rec[ifrec::APN_LEN] = static_cast<uint8_t>(apn.size());
    std::copy(apn.begin(), apn.end(), rec.begin() + ifrec::APN_NAME);
    ASSERT_EQ(1, start_dhcpcd_manager(rec));

    ASSERT_EQ(0, mq_send(mq_id[1][1], DHCPCD_START_REQ));
    ASSERT_TRUE(eventually([] { return state(1) == DHCPCD_RESULT_STARTED; }, 30s)) << "result " << state(1);

    // The real client, with the manager's arguments and our hook script.
    const pid_t client = di[1].pid;
    ASSERT_TRUE(process_alive(client));
    const std::vector<std::string> args = cmdline(client);
    const std::vector<std::string> want = {"-v", "-nw", "-pf", root.path("/tmp/dhclient.pid.1"),
                                           "-cf", root.path("/tmp/dhclient.conf.1"),
                                           "-lf", root.path("/tmp/dhclient.leases.1"), CLIENT_IF};
    ASSERT_GE(args.size(), want.size() + 3);
    EXPECT_EQ("-sf", args[1]);
    EXPECT_TRUE(args[2].ends_with("/cnxd-dhclient-script")) << args[2];
    EXPECT_EQ(want, std::vector<std::string>(args.begin() + 3, args.end()));

    // The record holds what the server handed out, as the lease says.
    const uint8_t* a = di[1].ipaddr;
    const std::string addr = std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
                             std::to_string(a[3]);
    EXPECT_TRUE(addr.starts_with("10.77.0.")) << addr;
    EXPECT_TRUE(eventually([&] { return read_text(server_leases).find("lease " + addr + " {") != std::string::npos; }))
        << read_text(server_leases);
    EXPECT_EQ((std::array<uint8_t, 4>{255, 255, 255, 0}), std::to_array(di[1].netmask));
    uint8_t leased[4] = {};
    EXPECT_EQ(1, get_dhcplease(1, leased, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0, std::memcmp(leased, a, 4));
    const int32_t left = dhcp_lease_expire_time(1) - mono_now();
    EXPECT_GT(left, 60);
    EXPECT_LE(left, 121);

    // A stop request ends the client and removes its files.
    ASSERT_EQ(0, mq_send(mq_id[1][1], DHCPCD_STOP_REQ));
    ASSERT_TRUE(eventually([] { return state(1) == DHCPCD_RESULT_STOPPED; }, 15s));
    EXPECT_FALSE(process_alive(client));
    EXPECT_FALSE(root.exists("/var/tmp/dhclient.pid.1"));
    EXPECT_FALSE(root.exists("/var/tmp/dhclient.leases.1"));
}

}  // namespace
}  // namespace cnxd::test
