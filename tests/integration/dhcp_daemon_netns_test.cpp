// The interface indications drive DHCP, end to end with the daemon itself
// and real programs (run as root): the built daemon runs inside a client
// network namespace holding lte0pdn0, the veth peer in a server namespace is
// served by dnsmasq, and the simulated modem reports the PDN interface of
// the APN of the store's first APN table section (sid 1), which the shell's
// attach (typed by a client, with an attach file naming that APN) brings
// up, ready with its address to come from DHCP, a modem reset ends, the
// network's detach ends and the connection keeper's attach brings back, and
// the shell's detach releases. The sysroot's dhclient runs
// the machine's ISC client with our hook script.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/be.h"
#include "base/fd.h"
#include "base/path.h"
#include "if_record.h"
#include "net/dhcpcd.h"
#include "integration/harness.h"
#include "net/lease_file.h"
#include "server/hci.h"

namespace cnxd::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* APN = "dhcp.example";
constexpr const char* CLIENT_IF = "lte0pdn0";
constexpr const char* SERVER_IF = "srv0";
constexpr const char* SERVER_CIDR = "10.77.0.1/25";
// Two-minute leases out of a /25, so the netmask on the interface shows
// that it came from the server (the modem's record says /24).
constexpr const char* DHCP_RANGE = "10.77.0.50,10.77.0.60,255.255.255.128,2m";
constexpr uint32_t MODEM_DEV = 1;
constexpr uint16_t EV_IF_READY = 163;
constexpr uint16_t EV_IF_RELEASE = 164;
constexpr const char* FAR_ZONE = "Asia/Tokyo";

int sh(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

std::string sh_output(const std::string& cmd)
{
    std::string out;
    if (FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p))
            out += buf;
        pclose(p);
    }
    return out;
}

// A server and a client namespace joined by a veth pair, the client's
// /etc/netns/NAME/resolv.conf (which "ip netns exec" shows in place of the
// host's), and a private directory for the server's files. The destructor
// removes all of it and ends every process left in either namespace, also
// after a failed check.
class NetnsPair {
public:
    NetnsPair() : client_("cnxdc" + std::to_string(getpid())), server_("cnxds" + std::to_string(getpid()))
    {
        char tmpl[] = "/tmp/cnxd-ns.XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    ~NetnsPair()
    {
        for (const pid_t pid : servers_) {
            kill(pid, SIGTERM);
            wait_child(pid, 5s);
        }
        // Deleting a namespace removes its links.
        for (const std::string& ns : {client_, server_}) {
            std::istringstream pids(sh_output("ip netns pids " + ns));
            for (pid_t pid; pids >> pid;)
                kill(pid, SIGKILL);
            sh("ip netns del " + ns);
        }
        std::error_code ec;
        fs::remove_all(netns_etc(), ec);
        if (made_etc_netns_)
            fs::remove("/etc/netns", ec);
        fs::remove_all(dir_, ec);
    }

    // Empty on success, else why the namespaces could not be made.
    std::string build()
    {
        if (sh("ip netns add " + client_) != 0 || sh("ip netns add " + server_) != 0)
            return "network namespaces are not allowed here (ip netns add failed)";
        const std::string c = "ip -n " + client_ + " ";
        const std::string s = "ip -n " + server_ + " ";
        for (const std::string& cmd : {c + "link add " + CLIENT_IF + " type veth peer name " + SERVER_IF,
                                       c + "link set " + SERVER_IF + " netns " + server_, c + "link set lo up",
                                       s + "link set lo up", s + "addr add " + SERVER_CIDR + " dev " + SERVER_IF,
                                       s + "link set " + SERVER_IF + " up", c + "link set " + CLIENT_IF + " up"})
            if (sh(cmd) != 0)
                return "could not set up the veth pair: " + cmd;
        made_etc_netns_ = !fs::exists("/etc/netns");
        fs::create_directories(netns_etc());
        std::ofstream(netns_etc() + "/resolv.conf") << "nameserver 10.77.0.1\n";
        return "";
    }

    // dnsmasq on the server end only: DHCP alone, nothing read from the
    // machine's configuration, its files in the private directory.
    bool start_dnsmasq(const std::string& dnsmasq)
    {
        servers_.push_back(spawn({"ip", "netns", "exec", server_, dnsmasq, "--keep-in-foreground",
                                  "--conf-file=/dev/null", "--port=0", std::string("--interface=") + SERVER_IF,
                                  "--bind-interfaces", "--no-resolv", "--no-hosts", "--dhcp-authoritative",
                                  std::string("--dhcp-range=") + DHCP_RANGE, "--dhcp-leasefile=" + leases(),
                                  "--pid-file=" + dir_ + "/dnsmasq.pid", "--user=root", "--log-dhcp",
                                  "--log-facility=-"},
                                 server_log()));
        return eventually([&] { return !sh_output("ip netns exec " + server_ + " ss -Hlun sport = :67").empty(); },
                          10s);
    }
    // The address of the one lease ("expiry mac address ..."), or "".
    std::string leased() const
    {
        std::istringstream in(read_text(leases()));
        std::string expiry, mac, addr;
        in >> expiry >> mac >> addr;
        return addr;
    }
    std::string server_log() const { return dir_ + "/dnsmasq.log"; }
    const std::string& client() const { return client_; }

private:
    std::string netns_etc() const { return "/etc/netns/" + client_; }
    std::string leases() const { return dir_ + "/dnsmasq.leases"; }

    std::string client_;
    std::string server_;
    std::string dir_;
    std::vector<pid_t> servers_;
    bool made_etc_netns_ = false;
};

std::string dotted(const uint8_t* a)
{
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
           std::to_string(a[3]);
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
    if (!f || f->size() < 12 + ifrec::SIZE || load_be16(f->data()) != HCI_SDK_CALLBACK ||
        load_be16(f->data() + 4) != event || load_be16(f->data() + 6) != 4 + ifrec::SIZE ||
        load_be32(f->data() + 8) != MODEM_DEV) {
        ADD_FAILURE() << "no interface frame for event " << event;
        return {};
    }
    return Bytes(f->begin() + 12, f->end());
}

// A client's command-line frame.
Bytes command_line(const std::string& line) { return hci_frame(HCI_CLI_COMMAND, Bytes(line.begin(), line.end())); }

TEST(DhcpDaemonNetns, InterfaceReadyRunsTheRealClientAndAResetOrTheReleaseStopsIt)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create network namespaces";
    // Where Debian's dnsmasq-base and isc-dhcp-client put them.
    const std::string dnsmasq = "/usr/sbin/dnsmasq", dhclient = "/sbin/dhclient";
    if (access(dnsmasq.c_str(), X_OK) != 0 || access(dhclient.c_str(), X_OK) != 0)
        GTEST_SKIP() << "dnsmasq and the ISC DHCP client are not installed (scripts/deps installs them)";
    // One test at a time on this machine makes network namespaces.
    const UniqueFd lock(open("/tmp/netns.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    ASSERT_EQ(0, flock(lock.get(), LOCK_EX));

    // Destroyed in reverse: the daemon stops first, then every namespace,
    // link and process goes, then the sysroot.
    Sysroot root;
    NetnsPair ns;
    if (const std::string why = ns.build(); !why.empty())
        GTEST_SKIP() << why;
    const auto server_log = [&] { return read_text(ns.server_log()); };
    ASSERT_TRUE(ns.start_dnsmasq(dnsmasq)) << "dnsmasq did not come up:\n" << server_log();

    // APN table section 1 (sid 1) holds the APN of the modem's PDN, whose
    // IPv4 address is to come from DHCP.
    ASSERT_TRUE(root.confdb_set(std::string("config wan lte apntable apn1 apn_name ") + APN));
    root.write_file("/etc/ltesim.conf", "set ip_alloc 1\nset pdn_type 0\nset delay_ms 0\n");
    Daemon daemon(root);
    // The daemon runs nine hours east of UTC: the client writes its lease
    // times in UTC all the same.
    ASSERT_TRUE(daemon.start({}, {"ip", "netns", "exec", ns.client(), "env", std::string("TZ=") + FAR_ZONE}))
        << daemon.log();
    LtesimClient sim(root);
    ASSERT_EQ("ok", sim.command("sync")) << "the bring-up at start is past";
    RawClient events(root, "events");
    ASSERT_TRUE(events.open({{5, 0}}).has_value());
    events.set_word(subscription_word(EV_IF_READY), 1);
    events.set_word(subscription_word(EV_IF_RELEASE), 1);

    // Ready: the record reaches the clients with the address and netmask
    // dnsmasq leased, which it gets only once the manager's state is
    // "started". The daemon waits up to 10 s for the address.
    std::string attach = read_text(std::string(CNXD_SOURCE_DIR) + "/docs/param/attach.param");
    attach.replace(attach.find("apn_name=internet"), 17, std::string("apn_name=") + APN);
    root.write_file("/var/lte/param/attach.param", attach);
    ASSERT_TRUE(events.send(command_line("at 1"))) << "the shell's attach";
    const Bytes ready = interface_record(events, EV_IF_READY, 40s);
    ASSERT_FALSE(ready.empty()) << daemon.log() << "\ndnsmasq:\n" << server_log();
    EXPECT_EQ(std::string(CLIENT_IF), reinterpret_cast<const char*>(&ready[ifrec::NAME]));
    EXPECT_EQ(1, ready[ifrec::IP_ALLOC]) << "the allocation of the PDN's TID entry";
    EXPECT_EQ(1, ready[IFREC_SID]) << "the sid of the APN's table section";
    std::string leased;
    EXPECT_TRUE(eventually([&] { return !(leased = ns.leased()).empty(); })) << server_log();
    EXPECT_TRUE(leased.starts_with("10.77.0.")) << leased;
    EXPECT_EQ(leased, dotted(&ready[ifrec::IPV4_ADDR])) << server_log();
    EXPECT_EQ("255.255.255.128", dotted(&ready[ifrec::IPV4_NETMASK]));
    EXPECT_EQ(1, daemon.count_in_log("Executed DHCP client: /bin/dhclient -v -nw -pf /tmp/dhclient.pid.1 "
                                     "-cf /tmp/dhclient.conf.1 -lf /tmp/dhclient.leases.1 lte0pdn0 &"));

    // The real client runs in the client namespace, with the hook script and
    // the manager's arguments (paths under the sysroot), and keeps its files.
    pid_t client = 0;
    std::istringstream(root.read_file("/var/tmp/dhclient.pid.1")) >> client;
    ASSERT_TRUE(process_alive(client)) << "pid file: " << root.read_file("/var/tmp/dhclient.pid.1");
    EXPECT_EQ(ns.client() + "\n", sh_output("ip netns identify " + std::to_string(client)));
    std::string args = read_text("/proc/" + std::to_string(client) + "/cmdline");
    std::ranges::replace(args, '\0', ' ');
    const std::string hook = "/cnxd-dhclient-script ";
    ASSERT_NE(std::string::npos, args.find(hook)) << args;
    EXPECT_EQ(dhclient + " -sf ", args.substr(0, dhclient.size() + 5)) << args;
    EXPECT_EQ("-v -nw -pf " + root.path("/tmp/dhclient.pid.1") + " -cf " + root.path("/tmp/dhclient.conf.1") +
                  " -lf " + root.path("/tmp/dhclient.leases.1") + " " + CLIENT_IF + " ",
              args.substr(args.find(hook) + hook.size()));
    EXPECT_TRUE(eventually([&] {
        return root.read_file("/var/tmp/dhclient.leases.1").find("fixed-address " + leased + ";") != std::string::npos;
    })) << root.read_file("/var/tmp/dhclient.leases.1");
    // The two-minute lease arms the expiry timer for two minutes, in the
    // daemon's zone far from UTC as in the reader's here.
    const std::string armed = "Start expired timer for cid 1, ";
    const std::string out = daemon.log();
    ASSERT_NE(std::string::npos, out.find(armed)) << out;
    const long timer = std::atol(out.c_str() + out.find(armed) + armed.size());
    EXPECT_TRUE(timer > 100 && timer <= 121) << timer << ": not expired at once";
    setenv("CNXD_ROOT", root.dir().c_str(), 1);
    setenv("TZ", FAR_ZONE, 1);
    tzset();
    cnxd_reload_root();
    const long left = get_latest_lease_timediff(1, "expire ");
    unsetenv("TZ");
    tzset();
    EXPECT_TRUE(left > 60 && left <= 121) << left;
    // A renewal rewrites the lease file: the monitor reads the address again.
    root.write_file("/var/tmp/dhclient.leases.1", root.read_file("/var/tmp/dhclient.leases.1") + "\n");
    EXPECT_TRUE(daemon.wait_for_log("dhclient.leases.1 is modified (renew)")) << daemon.log();

    // The client stops, its lease monitor ends and (when no new client
    // follows at once) its files go.
    const auto ended = [&](int monitors, bool files = true) {
        EXPECT_TRUE(eventually([&] { return !process_alive(client); }, 15s)) << daemon.log();
        EXPECT_TRUE(!files || eventually([&] { return !root.exists("/var/tmp/dhclient.pid.1"); }, 15s));
        EXPECT_TRUE(!files || eventually([&] { return !root.exists("/var/tmp/dhclient.leases.1"); }, 15s));
        EXPECT_TRUE(eventually([&] { return daemon.count_in_log("Exit dhcpcd_lease_monitor(1)") == monitors; }, 15s));
    };
    // A new client runs with a lease of its own.
    const auto leased_again = [&] {
        ASSERT_FALSE(interface_record(events, EV_IF_READY, 40s).empty()) << daemon.log() << server_log();
        std::istringstream(root.read_file("/var/tmp/dhclient.pid.1")) >> client;
        EXPECT_TRUE(process_alive(client)) << "pid file: " << root.read_file("/var/tmp/dhclient.pid.1");
        EXPECT_TRUE(eventually([&] {
            return root.read_file("/var/tmp/dhclient.leases.1").find("fixed-address 10.77.0.") != std::string::npos;
        })) << "a new lease";
    };

    // The modem is removed and inserted again: its DHCP client, the
    // client's files and the lease monitor all go, and the next attach gets
    // a lease of its own.
    ASSERT_EQ("ok", sim.command("set device_present 0"));
    ended(1);
    ASSERT_EQ("ok", sim.command("set device_present 1"));
    ASSERT_TRUE(eventually([&] { return std::ranges::count(sim.call_names(), "LAPI_OnlineRequest") == 2; }, 15s));
    ASSERT_TRUE(events.send(command_line("at 1"))) << "the shell's attach after the reset";
    leased_again();

    // With the connection keeper on, the network's detach is followed by
    // the keeper's attach, and the new interface gets a lease of its own.
    ASSERT_TRUE(root.confdb_set("config wan lte autoconnect ENABLE 1"));
    ASSERT_EQ("ok", sim.command("pdn detach"));
    EXPECT_FALSE(interface_record(events, EV_IF_RELEASE, 15s).empty());
    ended(2, false);
    leased_again();

    // The client's detach releases every interface (and stands the keeper
    // down): the DHCP client is stopped and its files go.
    ASSERT_TRUE(events.send(command_line("dt 1 0"))) << "the shell's detach";
    EXPECT_FALSE(interface_record(events, EV_IF_RELEASE, 15s).empty());
    ended(3);
    EXPECT_EQ(3, daemon.count_in_log("[DHCP 1] receive req = 3"));
    EXPECT_EQ(3, std::ranges::count(sim.call_names(), "LAPI_AttachRequest")) << "the shell's two, the keeper's one";
    EXPECT_EQ(0, daemon.stop(SIGTERM));
    unsetenv("CNXD_ROOT");
    cnxd_reload_root();
}

}  // namespace
}  // namespace cnxd::test
