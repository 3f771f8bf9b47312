// The interface indications drive DHCP, end to end with the daemon itself
// and real programs: the built daemon runs inside a client network
// namespace holding lte0pdn0, the veth peer in a server namespace is served
// by dnsmasq, and the simulated modem reports the PDN interface of the APN
// of the store's first APN table section (sid 1) ready with its address to
// come from DHCP, and later released. The sysroot's dhclient runs the machine's ISC
// client with our hook script, which only sets the interface's address.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "base/be.h"
#include "integration/harness.h"
#include "integration/harness_ltesim.h"
#include "integration/harness_netns.h"
#include "modem/if_record.h"
#include "net/dhcpcd.h"
#include "server/hci.h"

namespace cnxd::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* APN = "dhcp.example";
constexpr const char* SERVER_CIDR = "10.77.0.1/25";
// Two-minute leases out of a /25, so the netmask on the interface shows
// that it came from the server (the modem's record says /24).
constexpr const char* DHCP_RANGE = "10.77.0.50,10.77.0.60,255.255.255.128,2m";
constexpr std::array<uint8_t, 4> LEASED_MASK = {255, 255, 255, 128};
constexpr uint32_t MODEM_DEV = 1;
constexpr uint16_t EV_IF_READY = 163;
constexpr uint16_t EV_IF_RELEASE = 164;
// The daemon waits up to 10 s for the client's address; generous beyond.
constexpr auto READY_BOUND = 40s;

// dnsmasq on the server end only: DHCP alone (no DNS), nothing read from
// the machine's configuration, its lease and pid files in the pair's
// private directory.
bool start_dnsmasq(NetnsPair& ns, const std::string& dnsmasq)
{
    ns.start_in_server({dnsmasq, "--keep-in-foreground", "--conf-file=/dev/null", "--port=0",
                        std::string("--interface=") + NetnsPair::SERVER_IF, "--bind-interfaces", "--no-resolv",
                        "--no-hosts", "--dhcp-authoritative", std::string("--dhcp-range=") + DHCP_RANGE,
                        "--dhcp-leasefile=" + ns.dir() + "/dnsmasq.leases", "--pid-file=" + ns.dir() + "/dnsmasq.pid",
                        "--user=root", "--log-dhcp", "--log-facility=-"},
                       "dnsmasq.log");
    return ns.dhcp_server_listening(10s);
}

// The address of the one lease in dnsmasq's lease file ("expiry mac address
// name client-id" per line), or "" before there is one.
std::string dnsmasq_lease(const NetnsPair& ns)
{
    std::istringstream in(read_text(ns.dir() + "/dnsmasq.leases"));
    std::string expiry, mac, addr;
    in >> expiry >> mac >> addr;
    return addr;
}

std::string dotted(const uint8_t* a)
{
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
           std::to_string(a[3]);
}

std::vector<std::string> cmdline(pid_t pid)
{
    std::istringstream in(read_text("/proc/" + std::to_string(pid) + "/cmdline"));
    std::vector<std::string> args;
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

// The interface record of the next interface frame of `event`.
Bytes interface_record(RawClient& c, uint16_t event, std::chrono::milliseconds bound)
{
    const auto f = c.recv(bound);
    if (!f || f->size() < 12 + ifrec::SIZE) {
        ADD_FAILURE() << "no interface frame for event " << event;
        return {};
    }
    EXPECT_EQ(HCI_SDK_CALLBACK, load_be16(f->data()));
    EXPECT_EQ(event, load_be16(f->data() + 4));
    EXPECT_EQ(4 + ifrec::SIZE, load_be16(f->data() + 6));
    EXPECT_EQ(MODEM_DEV, load_be32(f->data() + 8));
    return Bytes(f->begin() + 12, f->end());
}

TEST(DhcpDaemonNetns, InterfaceReadyRunsTheRealClientAndTheReleaseStopsIt)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create network namespaces";
    const std::string dnsmasq = first_program({"/usr/sbin/dnsmasq", "/sbin/dnsmasq"});
    const std::string dhclient = first_program({"/sbin/dhclient", "/usr/sbin/dhclient"});
    if (dnsmasq.empty() || dhclient.empty())
        GTEST_SKIP() << "dnsmasq and the ISC DHCP client are not installed (scripts/deps installs them)";

    // Destroyed in reverse: the daemon stops first, then every namespace,
    // link and process goes, then the sysroot.
    Sysroot root;
    NetnsPair ns(SERVER_CIDR);
    if (const std::string why = ns.build(); !why.empty())
        GTEST_SKIP() << why;
    const auto server_log = [&] { return read_text(ns.dir() + "/dnsmasq.log"); };
    ASSERT_TRUE(start_dnsmasq(ns, dnsmasq)) << "dnsmasq did not come up:\n" << server_log();

    // APN table section 1 (sid 1) holds the APN of the modem's PDN, whose
    // IPv4 address is to come from DHCP.
    ASSERT_EQ(0, sh("CNXD_ROOT=" + root.dir() + " " + root.path("/bin/confdb") +
                    " set config wan lte apntable apn1 apn_name " + APN));
    root.write_file("/etc/ltesim.conf", "set ip_alloc 1\nset pdn_type 0\nset delay_ms 0\n");
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start({}, {"ip", "netns", "exec", ns.client()})) << daemon.log();
    LtesimClient sim(root);
    ASSERT_TRUE(sim.connected());
    ASSERT_EQ("ok", sim.command("sync")) << "the bring-up at start is past";
    RawClient events(root, "events");
    ASSERT_TRUE(events.open({{5, 0}}).has_value());
    events.set_word(subscription_word(EV_IF_READY), 1);
    events.set_word(subscription_word(EV_IF_RELEASE), 1);

    // Ready: the record reaches the clients with the address dnsmasq leased.
    ASSERT_EQ("ok", sim.command(std::string("pdn up 0 ") + APN));
    const Bytes ready = interface_record(events, EV_IF_READY, READY_BOUND);
    ASSERT_FALSE(ready.empty()) << daemon.log() << "\ndnsmasq:\n" << server_log();
    EXPECT_EQ(std::string(NetnsPair::CLIENT_IF), reinterpret_cast<const char*>(&ready[ifrec::NAME]));
    EXPECT_EQ(1, ready[ifrec::IP_ALLOC]) << "the allocation of the PDN's TID entry";
    EXPECT_EQ(1, ready[IFREC_SID]) << "the sid of the APN's table section";
    std::string leased;
    EXPECT_TRUE(eventually([&] { return !(leased = dnsmasq_lease(ns)).empty(); })) << server_log();
    EXPECT_EQ(leased, dotted(&ready[ifrec::IPV4_ADDR])) << server_log();
    EXPECT_TRUE(leased.starts_with("10.77.0.")) << leased;
    EXPECT_EQ(dotted(LEASED_MASK.data()), dotted(&ready[ifrec::IPV4_NETMASK]));
    EXPECT_EQ(1, daemon.count_in_log("Executed DHCP client: /bin/dhclient -v -nw -pf /tmp/dhclient.pid.1 "
                                     "-cf /tmp/dhclient.conf.1 -lf /tmp/dhclient.leases.1 lte0pdn0 &"));

    // The real client runs in the client namespace, with the hook script and
    // the manager's arguments (paths under the sysroot), and keeps its files.
    pid_t client = 0;
    std::istringstream(root.read_file("/var/tmp/dhclient.pid.1")) >> client;
    ASSERT_TRUE(process_alive(client)) << "pid file: " << root.read_file("/var/tmp/dhclient.pid.1");
    EXPECT_EQ(ns.client() + "\n", sh_output("ip netns identify " + std::to_string(client)));
    const std::vector<std::string> want = {"-v", "-nw", "-pf", root.path("/tmp/dhclient.pid.1"),
                                           "-cf", root.path("/tmp/dhclient.conf.1"),
                                           "-lf", root.path("/tmp/dhclient.leases.1"), NetnsPair::CLIENT_IF};
    const std::vector<std::string> args = cmdline(client);
    ASSERT_EQ(3 + want.size(), args.size());
    EXPECT_EQ(dhclient, args[0]);
    EXPECT_EQ("-sf", args[1]);
    EXPECT_TRUE(args[2].ends_with("/cnxd-dhclient-script")) << args[2];
    EXPECT_EQ(want, std::vector<std::string>(args.begin() + 3, args.end()));
    EXPECT_TRUE(eventually([&] {
        return root.read_file("/var/tmp/dhclient.leases.1").find("fixed-address " + leased + ";") != std::string::npos;
    })) << root.read_file("/var/tmp/dhclient.leases.1");

    // Release: the client is stopped and its files go.
    ASSERT_EQ("ok", sim.command("pdn down 0"));
    const Bytes released = interface_record(events, EV_IF_RELEASE, 15s);
    EXPECT_FALSE(released.empty());
    EXPECT_TRUE(eventually([&] { return !process_alive(client); }, 15s)) << daemon.log();
    EXPECT_TRUE(eventually([&] { return !root.exists("/var/tmp/dhclient.pid.1"); }, 15s));
    EXPECT_TRUE(eventually([&] { return !root.exists("/var/tmp/dhclient.leases.1"); }, 15s));
    EXPECT_EQ(1, daemon.count_in_log("[DHCP 1] receive req = 3"));

    EXPECT_EQ(0, daemon.stop(SIGTERM));
}

}  // namespace
}  // namespace cnxd::test
