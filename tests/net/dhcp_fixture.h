// The DHCP manager run inside a test process: a throw-away sysroot made by
// scripts/mkroot (its store has APN sections 1 "internet" and 2 "ims"), a
// scripted stand-in for the DHCP client program, the real client table,
// server socket and event loop on a thread of the test, the timer service,
// the mailbox pool, and a library session of identity 1 that receives the
// DHCP notices.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "inproc_loop.h"
#include "base/be.h"
#include "base/path.h"
#include "base/shell.h"
#include "cnxd_client.h"
#include "core/eloop.h"
#include "core/timer.h"
#include "modem/if_record.h"
#include "net/dhcpcd.h"
#include "net/lease_file.h"
#include "server/client.h"
#include "server/hci.h"

namespace cnxd::test {

using namespace std::chrono_literals;

template <typename Pred>
bool eventually(Pred pred, std::chrono::milliseconds bound = 10s)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

inline int32_t mono_now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int32_t>(ts.tv_sec);
}

inline std::string read_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A lease block as the client writes it; times are seconds from now.
inline std::string lease_block(const std::string& addr, long renew, long rebind, long expire)
{
    const auto stamp = [](long from_now) {
        const time_t t = time(nullptr) + from_now;
        tm local{};
        localtime_r(&t, &local);
        char buf[64];
        strftime(buf, sizeof buf, "%w %Y/%m/%d %H:%M:%S", &local);
        return std::string(buf);
    };
    return "lease {\n  interface \"lo\";\n  fixed-address " + addr +
           ";\n  option subnet-mask 255.255.255.0;\n  option routers 10.1.2.1;\n"
           "  option dhcp-lease-time " + std::to_string(expire) +
           ";\n  option domain-name-servers 10.1.2.53,10.1.2.54;\n  renew " + stamp(renew) +
           ";\n  rebind " + stamp(rebind) + ";\n  expire " + stamp(expire) + ";\n}\n";
}

// The 592-byte interface record of an interface indication.
inline std::vector<uint8_t> if_record(const std::string& name, const std::string& apn, uint16_t bearer = 5)
{
    std::vector<uint8_t> rec(ifrec::SIZE);
    std::copy(name.begin(), name.end(), rec.begin() + ifrec::NAME);
    store_be16(&rec[ifrec::EPS_BEARER], bearer);
    rec[ifrec::APN_LEN] = static_cast<uint8_t>(apn.size());
    std::copy(apn.begin(), apn.end(), rec.begin() + ifrec::APN_NAME);
    return rec;
}

// Without a sysroot: lease files under a bare throw-away CNXD_ROOT.
class LeaseRoot {
public:
    LeaseRoot()
    {
        char tmpl[] = "/tmp/cnxd-l.XXXXXX";
        dir_ = mkdtemp(tmpl);
        std::filesystem::create_directories(dir_ + "/var/tmp");
        setenv("CNXD_ROOT", dir_.c_str(), 1);
        cnxd_reload_root();
    }
    ~LeaseRoot()
    {
        unsetenv("CNXD_ROOT");
        cnxd_reload_root();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    LeaseRoot(const LeaseRoot&) = delete;
    LeaseRoot& operator=(const LeaseRoot&) = delete;

    std::string path(const std::string& target) const { return dir_ + target; }
    std::string lease_path(int sid) const { return path(dhcp_file(DHCP_LEASE_FILE, sid)); }
    void write_lease(int sid, const std::string& text) const
    {
        std::ofstream(lease_path(sid), std::ios::binary) << text;
    }

private:
    std::string dir_;
};

class DhcpFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/cnxd-d.XXXXXX";
        root_ = mkdtemp(tmpl);
        const std::string build = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
        ASSERT_EQ(0, std::system((std::string(CNXD_SOURCE_DIR) + "/scripts/mkroot " + root_ + " " + build).c_str()));
        old_path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("CNXD_ROOT", root_.c_str(), 1);
        cnxd_reload_root();
        cnxd_setup_host_path();
        install_fake_client();

        eloop_init(&eloop);
        cnxd_srv_init();
        ASSERT_EQ(0, cnxd_srv_open());
        loop_ = std::thread([] { eloop_run(&eloop); });
        ASSERT_EQ(0, timer_service_init());
        mq_init_all();
        ASSERT_EQ(CNXD_OK, cnxd_open(1, static_cast<uint32_t>(getpid()), 3000, &session_));
        cnxd_set_receive(session_, 1);
    }

    void TearDown() override
    {
        dhcpcd_shutdown();
        timer_service_deinit();
        cnxd_close(session_);
        if (loop_.joinable()) {
            stop_event_loop(loop_);
        }
        cnxd_srv_deinit();
        setenv("PATH", old_path_.c_str(), 1);
        unsetenv("CNXD_ROOT");
        cnxd_reload_root();
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    // The stand-in client: logs its arguments, copies the lease template
    // (when there is one) to its lease file, and leaves a sleeping process
    // behind whose pid it writes to its pid file. The sysroot's bin/dhclient
    // is a link into the build tree: it is replaced, never written through.
    void install_fake_client() const
    {
        const std::string bin = path("/bin/dhclient");
        std::filesystem::remove(bin);
        std::ofstream(bin) << "#!/bin/sh\n"
                              "echo \"$*\" >> " << calls_log() << "\n"
                              "while [ $# -gt 1 ]; do\n"
                              "  case \"$1\" in -pf) pf=$2; shift;; -lf) lf=$2; shift;; esac\n"
                              "  shift\n"
                              "done\n"
                              "sleep 600 </dev/null >/dev/null 2>&1 &\n"
                              "echo $! > \"$pf\"\n"
                              "[ -f " << template_path() << " ] && cp " << template_path() << " \"$lf\"\n"
                              "exit 0\n";
        std::filesystem::permissions(bin, std::filesystem::perms::owner_all);
    }

    std::string path(const std::string& target) const { return root_ + target; }
    std::string calls_log() const { return path("/var/log/dhclient-calls.log"); }
    std::string template_path() const { return path("/var/log/lease.template"); }
    std::string lease_path(int sid) const { return path(dhcp_file(DHCP_LEASE_FILE, sid)); }
    std::string pid_path(int sid) const { return path(dhcp_file(DHCP_PID_FILE, sid)); }
    void set_lease_template(const std::string& text) const { std::ofstream(template_path()) << text; }

    std::vector<std::string> client_calls() const
    {
        std::vector<std::string> lines;
        std::istringstream in(read_text(calls_log()));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    static int state(int sid) { return std::atomic_ref<int>(dhcpcd_cur_state[sid]).load(); }
    static void request(int sid, int code) { ASSERT_EQ(0, mq_send(mq_id[sid][1], code)); }

    // Starts the manager of the "internet" interface on `if_name` (sid 1).
    void start_manager(const std::string& if_name)
    {
        auto rec = if_record(if_name, "internet");
        ASSERT_EQ(1, start_dhcpcd_manager(rec));
    }

    // The next DHCP notice (code, sid) within `bound`; other frames are
    // skipped.
    std::optional<std::pair<uint16_t, uint8_t>> next_notice(std::chrono::milliseconds bound = 5s) const
    {
        const auto end = std::chrono::steady_clock::now() + bound;
        std::vector<uint8_t> buf(HCI_MAX_FRAME);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            const int n = cnxd_recv(session_, buf.data(), buf.size(), static_cast<int>(left.count()));
            // Header, then four zero bytes, the code, the length 1, the sid.
            if (n == 13 && load_be16(buf.data()) == HCI_NOTIFY && load_be16(&buf[2]) == 9 &&
                load_be16(&buf[10]) == 1)
                return std::make_pair(load_be16(&buf[8]), buf[12]);
        }
    }

    static bool process_alive(pid_t pid)
    {
        if (pid <= 1 || kill(pid, 0) != 0)
            return false;
        const std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
        const size_t end = stat.rfind(')');
        return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z';
    }

    std::string root_;
    std::string old_path_;
    std::thread loop_;
    cnxd_session* session_ = nullptr;
};

}  // namespace cnxd::test
