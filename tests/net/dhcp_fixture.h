// The DHCP manager run inside a test process, on top of the wrapper tests'
// set-up (sysroot whose store has APN sections 1 "internet" and 2 "ims",
// event loop, simulated modem): a scripted stand-in for the DHCP client
// program, the timer service, the mailbox pool, the notices of the
// interface configuration, and a library session of identity 1 that
// receives them.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/timer.h"
#include "modem/cm_fixture.h"
#include "modem/cm_netif.h"
#include "net/dhcpcd_record.h"
#include "net/lease_file.h"
#include "net/mailbox.h"
#include "server/hci.h"

namespace cnxd::test {

using namespace std::chrono_literals;

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

    // The stand-in client: logs its arguments and leaves a sleeping process
    // behind whose pid it writes to its pid file. The sysroot's bin/dhclient
    // is a link into the build tree: it is replaced, never written through.
    void install_fake_client() const
    {
        const std::string log = root_.path(kCallsLog);
        std::filesystem::remove(root_.path("/bin/dhclient"));
        root_.write("/bin/dhclient", "#!/bin/sh\n"
                                     "echo \"$*\" >> " + log + "\n"
                                     "while [ $# -gt 1 ]; do\n"
                                     "  case \"$1\" in -pf) pf=$2; shift;; esac\n"
                                     "  shift\n"
                                     "done\n"
                                     "sleep 600 </dev/null >/dev/null 2>&1 &\n"
                                     "echo $! > \"$pf\"\n"
                                     "exit 0\n");
        std::filesystem::permissions(root_.path("/bin/dhclient"), std::filesystem::perms::owner_all);
    }

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

    Session session_;
};

}  // namespace cnxd::test
