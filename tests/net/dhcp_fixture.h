// The DHCP manager run inside a test process, on top of the wrapper tests'
// set-up (sysroot whose store has APN sections 1 "internet" and 2 "ims",
// event loop, simulated modem): a scripted stand-in for the DHCP client
// program, the timer service, the mailbox pool, the notices of the
// interface configuration, and a library session of identity 1 that
// receives them.
#pragma once

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/fd.h"
#include "core/timer.h"
#include "modem/cm_fixture.h"
#include "modem/cm_netif.h"
#include "net/dhcpcd_record.h"
#include "net/lease_file.h"
#include "net/mailbox.h"
#include "server/hci.h"

namespace cnxd::test {

using namespace std::chrono_literals;

inline int32_t mono_now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int32_t>(ts.tv_sec);
}

// A lease block as the client writes it; times are seconds from now, in
// UTC (the client's default) or, with `epoch`, as seconds since the epoch
// (its "local" time format).
inline std::string lease_block(const std::string& addr, long renew, long rebind, long expire, bool epoch = false)
{
    const auto stamp = [epoch](long from_now) {
        const time_t t = time(nullptr) + from_now;
        if (epoch)
            return "epoch " + std::to_string(t) + "; # local time";
        tm utc{};
        gmtime_r(&t, &utc);
        char buf[64];
        strftime(buf, sizeof buf, "%w %Y/%m/%d %H:%M:%S", &utc);
        return std::string(buf);
    };
    return "lease {\n  interface \"lo\";\n  fixed-address " + addr +
           ";\n  option subnet-mask 255.255.255.0;\n  option routers 10.1.2.1;\n"
           "  option dhcp-lease-time " + std::to_string(expire) +
           ";\n  option domain-name-servers 10.1.2.53,10.1.2.54;\n  renew " + stamp(renew) +
           ";\n  rebind " + stamp(rebind) + ";\n  expire " + stamp(expire) + ";\n}\n";
}

inline std::string lease_file(int sid) { return dhcp_file(DHCP_LEASE_FILE, sid); }
inline std::string pid_file(int sid) { return dhcp_file(DHCP_PID_FILE, sid); }

// The interface the managers run on: of the modem's naming, and always with
// an address (127.0.0.1/8), being the loopback of a network namespace of
// the test's own.
constexpr const char* kIf = "lte0pdn1";

// Puts the calling thread, and so the managers, monitors and clients it
// starts, into a new network namespace whose loopback is renamed kIf and
// up; the host's interfaces stay untouched. The destructor returns the
// thread to the namespace it came from. Needs CAP_SYS_ADMIN (root).
class OwnNetns {
public:
    OwnNetns() : home_(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC))
    {
        if (!home_ || unshare(CLONE_NEWNET) != 0) {
            error_ = std::string("no network namespace of the test's own: ") + std::strerror(errno);
            return;
        }
        entered_ = true;
        error_ = rename_loopback();
    }
    ~OwnNetns()
    {
        if (entered_) {
            EXPECT_EQ(0, setns(home_.get(), CLONE_NEWNET));
        }
    }
    OwnNetns(const OwnNetns&) = delete;
    OwnNetns& operator=(const OwnNetns&) = delete;

    // Empty when the thread is in its namespace with kIf up.
    const std::string& error() const { return error_; }

private:
    static std::string rename_loopback()
    {
        UniqueFd sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        ifreq req{};
        std::snprintf(req.ifr_name, sizeof req.ifr_name, "lo");
        std::snprintf(req.ifr_newname, sizeof req.ifr_newname, "%s", kIf);
        if (ioctl(sock.get(), SIOCSIFNAME, &req) != 0)
            return std::string("cannot rename the loopback: ") + std::strerror(errno);
        std::snprintf(req.ifr_name, sizeof req.ifr_name, "%s", kIf);
        if (ioctl(sock.get(), SIOCGIFFLAGS, &req) != 0)
            return std::string("cannot read the flags of ") + kIf + ": " + std::strerror(errno);
        req.ifr_flags |= IFF_UP;
        if (ioctl(sock.get(), SIOCSIFFLAGS, &req) != 0)
            return std::string("cannot bring up ") + kIf + ": " + std::strerror(errno);
        return "";
    }

    UniqueFd home_;
    bool entered_ = false;
    std::string error_;
};

class DhcpFixture : public CmTest {
protected:
    DhcpFixture()
    {
        install_fake_client();
        EXPECT_EQ(0, timer_service_init());
        mq_init_all();
        cm_netif_init();
        session_ = open_session(1);
        cnxd_set_receive(session_.get(), 1);
    }
    ~DhcpFixture() override
    {
        dhcpcd_shutdown();
        timer_service_deinit();
    }

    // The stand-in client: logs its arguments, copies the lease template
    // (when there is one) to its lease file, and leaves a sleeping process
    // behind whose pid it writes to its pid file. The sysroot's bin/dhclient
    // is a link into the build tree: it is replaced, never written through.
    void install_fake_client() const
    {
        const std::string log = root_.path(kCallsLog), lease = root_.path(kTemplate);
        std::filesystem::remove(root_.path("/bin/dhclient"));
        root_.write("/bin/dhclient", "#!/bin/sh\n"
                                     "echo \"$*\" >> " + log + "\n"
                                     "while [ $# -gt 1 ]; do\n"
                                     "  case \"$1\" in -pf) pf=$2; shift;; -lf) lf=$2; shift;; esac\n"
                                     "  shift\n"
                                     "done\n"
                                     "sleep 600 </dev/null >/dev/null 2>&1 &\n"
                                     "echo $! > \"$pf\"\n"
                                     "[ -f " + lease + " ] && cp " + lease + " \"$lf\"\n"
                                     "exit 0\n");
        std::filesystem::permissions(root_.path("/bin/dhclient"), std::filesystem::perms::owner_all);
    }

    void set_lease_template(const std::string& text) const { root_.write(kTemplate, text); }
    std::vector<std::string> client_calls() const
    {
        std::vector<std::string> lines;
        std::istringstream in(root_.read(kCallsLog));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    static int state(int sid) { return dhcpcd_state(sid); }
    static void request(int sid, int code) { ASSERT_EQ(0, mq_send(mq_pair(sid)[MQ_REQ], code)); }

    // Starts the manager of the "internet" interface on `if_name` (sid 1)
    // and, with `start`, asks it to start the client and waits for that.
    void start_manager(const std::string& if_name = kIf, bool start = true)
    {
        auto rec = if_record(if_name, "internet");
        ASSERT_EQ(1, start_dhcpcd_manager(rec));
        if (start) {
            request(1, DHCPCD_START_REQ);
            ASSERT_TRUE(eventually([] { return state(1) == DHCPCD_RESULT_STARTED; }));
        }
    }

    // The next DHCP notice (code, sid) within `bound`; other frames are
    // skipped.
    std::optional<std::pair<uint16_t, uint8_t>> next_notice(std::chrono::milliseconds bound = 5s) const
    {
        for (const auto end = std::chrono::steady_clock::now() + bound; std::chrono::steady_clock::now() < end;) {
            // Header, then four zero bytes, the code, the length 1, the sid.
            const auto f = recv_datagram(session_.get(), 50);
            if (f && f->size() == 13 && load_be16(f->data()) == HCI_NOTIFY && load_be16(&(*f)[10]) == 1)
                return std::make_pair(load_be16(&(*f)[8]), (*f)[12]);
        }
        return std::nullopt;
    }

    static bool process_alive(pid_t pid)
    {
        if (pid <= 1 || kill(pid, 0) != 0)
            return false;
        const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
        const size_t end = stat.rfind(')');
        return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z';
    }

private:
    static constexpr const char* kCallsLog = "/var/log/dhclient-calls.log";
    static constexpr const char* kTemplate = "/var/log/lease.template";

    Session session_;
};

}  // namespace cnxd::test
