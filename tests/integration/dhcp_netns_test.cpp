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
#include "modem/if_record.h"
#include "net/dhcpcd.h"
#include "net/lease_file.h"

namespace cnxd::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* INNER_ENV = "CNXD_DHCP_NETNS_INNER";
constexpr const char* SERVER_LEASES_ENV = "CNXD_DHCP_NETNS_SERVER_LEASES";
constexpr const char* CLIENT_IF = "lte0pdn0";
constexpr const char* SERVER_IF = "srv0";
constexpr const char* SERVER_ADDR = "10.77.0.1/24";
// The server hands out 10.77.0.50 to 10.77.0.60 for two minutes.
constexpr const char* DHCPD_CONF = "ddns-update-style none;\n"
                                   "default-lease-time 120;\n"
                                   "max-lease-time 120;\n"
                                   "authoritative;\n"
                                   "subnet 10.77.0.0 netmask 255.255.255.0 {\n"
                                   "  range 10.77.0.50 10.77.0.60;\n"
                                   "}\n";

std::string read_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string first_program(std::initializer_list<const char*> candidates)
{
    for (const char* p : candidates)
        if (access(p, X_OK) == 0)
            return p;
    return "";
}

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

// Starts argv as a child with its output appended to `log`.
pid_t spawn(const std::vector<std::string>& argv, const std::string& log)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (FILE* f = std::fopen(log.c_str(), "a")) {
            dup2(fileno(f), STDOUT_FILENO);
            dup2(fileno(f), STDERR_FILENO);
        }
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// Waits for `pid` up to `bound`; its exit status, or -1 (and it is killed).
int wait_child(pid_t pid, std::chrono::milliseconds bound)
{
    int status = 0;
    const bool done = eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; }, bound);
    if (!done) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The two namespaces, the veth pair between them, the client namespace's
// resolv.conf and the DHCP server; the destructor removes all of it and
// ends every process left in either namespace.
class NetnsPair {
public:
    NetnsPair()
        : client_("cnxdc" + std::to_string(getpid())), server_("cnxds" + std::to_string(getpid()))
    {
        char tmpl[] = "/tmp/cnxd-ns.XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    ~NetnsPair()
    {
        if (dhcpd_ > 0) {
            kill(dhcpd_, SIGTERM);
            wait_child(dhcpd_, 5s);
        }
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
    NetnsPair(const NetnsPair&) = delete;
    NetnsPair& operator=(const NetnsPair&) = delete;

    // Empty on success, else why it could not be built.
    std::string build()
    {
        if (sh("ip netns add " + client_) != 0)
            return "network namespaces are not allowed here (ip netns add failed)";
        if (sh("ip netns add " + server_) != 0)
            return "a second network namespace could not be made";
        const std::string c = "ip -n " + client_ + " ";
        const std::string s = "ip -n " + server_ + " ";
        for (const std::string& cmd : {c + "link add " + CLIENT_IF + " type veth peer name " + SERVER_IF,
                                       c + "link set " + SERVER_IF + " netns " + server_,
                                       c + "link set lo up", s + "link set lo up",
                                       s + "addr add " + SERVER_ADDR + " dev " + SERVER_IF,
                                       s + "link set " + SERVER_IF + " up", c + "link set " + CLIENT_IF + " up"})
            if (sh(cmd) != 0)
                return "could not set up the veth pair: " + cmd;
        // Whatever runs in the client namespace through "ip netns exec"
        // sees this file as /etc/resolv.conf, never the host's.
        made_etc_netns_ = !fs::exists("/etc/netns");
        fs::create_directories(netns_etc());
        std::ofstream(netns_etc() + "/resolv.conf") << "nameserver 10.77.0.1\n";
        return "";
    }

    bool start_server(const std::string& dhcpd)
    {
        std::ofstream(dir_ + "/dhcpd.conf") << DHCPD_CONF;
        std::ofstream(server_leases()).flush();
        dhcpd_ = spawn({"ip", "netns", "exec", server_, dhcpd, "-4", "-f", "-q", "-cf", dir_ + "/dhcpd.conf", "-lf",
                        server_leases(), "-pf", dir_ + "/dhcpd.pid", SERVER_IF},
                       dir_ + "/dhcpd.log");
        return eventually([&] { return !sh_output("ip netns exec " + server_ + " ss -Hlun sport = :67").empty(); },
                          10s);
    }

    const std::string& client() const { return client_; }
    std::string server_leases() const { return dir_ + "/dhcpd.leases"; }
    std::string server_log() const { return read_text(dir_ + "/dhcpd.log"); }

private:
    std::string netns_etc() const { return "/etc/netns/" + client_; }

    std::string client_;
    std::string server_;
    std::string dir_;
    pid_t dhcpd_ = -1;
    bool made_etc_netns_ = false;
};

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

    NetnsPair ns;
    if (const std::string why = ns.build(); !why.empty())
        GTEST_SKIP() << why;
    ASSERT_TRUE(ns.start_server(dhcpd)) << "the DHCP server did not come up:\n" << ns.server_log();

    const std::string self = fs::read_symlink("/proc/self/exe");
    setenv(INNER_ENV, "1", 1);
    setenv(SERVER_LEASES_ENV, ns.server_leases().c_str(), 1);
    // The inner half's output goes where ours goes.
    const pid_t inner = fork();
    if (inner == 0) {
        execlp("ip", "ip", "netns", "exec", ns.client().c_str(), self.c_str(),
               "--gtest_filter=DhcpNetnsInner.*", static_cast<char*>(nullptr));
        _exit(127);
    }
    unsetenv(INNER_ENV);
    unsetenv(SERVER_LEASES_ENV);
    EXPECT_EQ(0, wait_child(inner, 120s)) << "the client-namespace half failed; server log:\n" << ns.server_log();
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
