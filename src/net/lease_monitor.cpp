// The lease of a running client: its times and the expiry timer they arm,
// and the monitor thread that watches the lease file for renewals.
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/fd.h"
#include "base/path.h"
#include "base/thread_name.h"
#include "net/dhcpcd_record.h"
#include "net/lease_file.h"
#include "net/mailbox.h"

namespace cnxd {
namespace {

using std::chrono::steady_clock;

// The client writes a lease in several pieces: the monitor acts once no
// event came for MONITOR_SETTLE, or after MONITOR_BURST_MAX at the latest.
constexpr int MONITOR_SETTLE_MS = 150;
constexpr auto MONITOR_BURST_MAX = std::chrono::seconds(2);
constexpr size_t MONITOR_READ = 32768;

// The expiry timer takes at most this many milliseconds; a longer lease
// re-arms it from its callback until the expire moment.
constexpr int64_t TIMER_MS_MAX = INT32_MAX;
// Seconds of slack between the timer's real-time clock and the monotonic
// expire moment when the timer fires.
constexpr int32_t EXPIRE_SLACK = 2;

// The monitor of one sid.
struct monitor_thread {
    std::thread thread;
    UniqueFd stop;  // eventfd: ends the monitor's wait
};

std::array<monitor_thread, DHCP_MAX_SID> monitors;
std::array<std::mutex, DHCP_MAX_SID> lease_locks;

int32_t monotonic_seconds(long* nsec = nullptr)
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    if (nsec)
        *nsec = ts.tv_nsec;
    return static_cast<int32_t>(ts.tv_sec);
}

void arm_expiry(dhcpcd_info& d, int64_t seconds)
{
    start_timer(&d.expire_timer, static_cast<int32_t>(std::clamp<int64_t>(seconds * 1000, 0, TIMER_MS_MAX)));
}

// Waits up to `timeout_ms` (-1: no bound) for events of the lease file's
// directory. -1: the monitor is to end; 0: nothing came; 1: events came,
// and `ours` is set when one of them names the lease file.
int wait_lease_events(int ino, int stop_fd, const std::string& name, int timeout_ms, std::vector<char>& buf,
                      bool& ours)
{
    pollfd fds[2] = {{ino, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    const int n = poll(fds, 2, timeout_ms);
    if (n < 0)
        return errno == EINTR ? 0 : -1;
    if (fds[1].revents)
        return -1;
    if (n == 0)
        return 0;
    const ssize_t len = read(ino, buf.data(), buf.size());
    if (len < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return 0;
        // A descriptor that cannot be read will not get better.
        dhcp_print("%s(): read error.\n", "dhcpcd_lease_monitor");
        return -1;
    }
    const auto size = static_cast<size_t>(len);
    for (size_t off = 0; off + sizeof(inotify_event) <= size;) {
        inotify_event ev{};
        std::memcpy(&ev, buf.data() + off, sizeof ev);
        const size_t name_at = off + sizeof ev;
        const size_t name_len = std::min<size_t>(ev.len, size - std::min(size, name_at));
        if (name_len > 0 && strnlen(buf.data() + name_at, name_len) == name.size() &&
            name.compare(0, name.size(), buf.data() + name_at, name.size()) == 0)
            ours = true;
        off = name_at + ev.len;
    }
    return 1;
}

// The lease file changed: new times, the interface's address, the modem.
void lease_renewed(int sid)
{
    dhcpcd_info& d = di[sid];
    set_dhcp_tm_info(sid, true);
    uint8_t addr[4]{};
    uint8_t mask[4]{};
    get_if_ipaddr(d.if_name, addr);
    dhcp_print("NIC: %s -- Renew IP address by DHCP client===> %d.%d.%d.%d\n", d.if_name, addr[0], addr[1],
               addr[2], addr[3]);
    get_if_netmask(d.if_name, mask);
    dhcp_print("NIC: %s -- Renew netmask by DHCP client===> %d.%d.%d.%d\n", d.if_name, mask[0], mask[1],
               mask[2], mask[3]);
    store_address(sid, addr, mask);
    if (const dhcpcd_notices* n = dhcp_notices(); n && n->ipv4_addr_changed)
        n->ipv4_addr_changed(dhcpcd_dev_idx(sid), static_cast<uint8_t>(sid), d.dft_eps_id, addr);
}

// The monitor thread: watches with the inotify instance `ino` (watch `wd`)
// until `stop_fd` becomes readable or monitor running drops to 0. One burst
// of changes (a client writes its lease file in several pieces, or replaces
// it) is one renewal, once the file has been quiet for a moment: a renewal
// per event would read a half-written file and send the address notice
// several times. A read error ends the monitor (it would repeat for ever).
void dhcpcd_lease_monitor(int sid, UniqueFd ino, int wd, int stop_fd)
{
    name_thread("lease_monitor", sid);
    dhcpcd_info& d = di[sid];
    const std::string lease = dhcp_file(DHCP_LEASE_FILE, sid);
    const std::string name = lease.substr(lease.rfind('/') + 1);
    std::vector<char> buf(MONITOR_READ);
    while (monitor_running(d).load() == 1) {
        bool ours = false;
        int rc = wait_lease_events(ino.get(), stop_fd, name, -1, buf, ours);
        if (rc < 0)
            break;
        if (!ours)
            continue;
        const auto end = steady_clock::now() + MONITOR_BURST_MAX;
        while (rc > 0 && steady_clock::now() < end)
            rc = wait_lease_events(ino.get(), stop_fd, name, MONITOR_SETTLE_MS, buf, ours);
        if (rc < 0)
            break;
        dhcp_print("%s is modified (renew).\n", lease.c_str());
        lease_renewed(sid);
    }
    inotify_rm_watch(ino.get(), wd);
    dhcp_print("Exit dhcpcd_lease_monitor(%d)\n", sid);
}

}  // namespace

std::mutex& lease_lock(int sid) { return lease_locks[static_cast<size_t>(sid)]; }

void store_address(int sid, const uint8_t addr[4], const uint8_t mask[4])
{
    dhcpcd_info& d = di[sid];
    std::lock_guard lock(lease_lock(sid));
    std::memcpy(d.ipaddr, addr, sizeof d.ipaddr);
    std::memcpy(d.netmask, mask, sizeof d.netmask);
}

void set_dhcp_tm_info(int sid, bool on)
{
    dhcpcd_info& d = di[sid];
    if (!on) {
        {
            std::lock_guard lock(lease_lock(sid));
            std::fill(std::begin(d.dhcp_tm_info), std::end(d.dhcp_tm_info), 0);
        }
        stop_timer(&d.expire_timer);
        dhcp_print("Clear di.dhcp_tm_info[%d].\n", sid);
        return;
    }
    long nsec = 0;
    const int32_t now = monotonic_seconds(&nsec);
    // Each difference is bounded well inside 32 bits, so the sums are too.
    const auto at = [&](const char* keyword) {
        return static_cast<int32_t>(now + get_latest_lease_timediff(sid, keyword));
    };
    const int32_t renew = at("renew ");
    const int32_t rebind = at("rebind ");
    const int32_t expire = at("expire ");
    {
        std::lock_guard lock(lease_lock(sid));
        d.dhcp_tm_info[0] = now;
        d.dhcp_tm_info[1] = static_cast<int32_t>(nsec);
        d.dhcp_tm_info[2] = renew;
        d.dhcp_tm_info[3] = rebind;
        d.dhcp_tm_info[4] = expire;
    }
    dhcp_print("Set monotime[%d] = %ld\n", sid, static_cast<long>(now));
    dhcp_print("Set renew[%d] = %ld\n", sid, static_cast<long>(renew));
    dhcp_print("Set rebind[%d] = %ld\n", sid, static_cast<long>(rebind));
    dhcp_print("Set expire[%d] = %ld\n", sid, static_cast<long>(expire));
    dhcp_print("Start expired timer for cid %d, %ld seconds.\n", sid, static_cast<long>(expire) - now);
    arm_expiry(d, static_cast<int64_t>(expire) - now);
}

void dhcp_lease_expired(uint32_t arg)
{
    const int sid = static_cast<int>(arg);
    if (sid <= 0 || sid >= DHCP_MAX_SID)
        return;
    dhcpcd_info& d = di[sid];
    int32_t expire = 0;
    {
        std::lock_guard lock(lease_lock(sid));
        expire = d.dhcp_tm_info[4];
    }
    // A lease longer than one timer period is not over yet.
    if (const int64_t left = static_cast<int64_t>(expire) - monotonic_seconds(); left > EXPIRE_SLACK) {
        arm_expiry(d, left);
        return;
    }
    mq_send(d.req_mq, DHCPCD_EXPIRED_REQ);
}

int32_t dhcp_lease_expire_time(int cid)
{
    if (cid < 0 || cid >= DHCP_MAX_SID)
        return 0;
    std::lock_guard lock(lease_lock(cid));
    return di[cid].dhcp_tm_info[4];
}

void start_monitor(int sid)
{
    static constexpr const char* self = "dhcpcd_lease_monitor";
    monitor_thread& m = monitors[static_cast<size_t>(sid)];
    monitor_running(di[sid]).store(1);
    if (m.thread.joinable())
        return;
    UniqueFd ino(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    m.stop.reset(eventfd(0, EFD_CLOEXEC));
    if (!ino || !m.stop) {
        dhcp_print("%s() fd failed.\n", self);
        return;
    }
    // The directory is watched rather than the file: the client may replace
    // its lease file instead of writing into it, and a watch on the old
    // file would hear nothing of the new one.
    const int wd = inotify_add_watch(ino.get(), cnxd_path(DHCP_FILE_DIR).c_str(),
                                     IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE);
    if (wd < 0) {
        dhcp_print("%s() wd failed.\n", self);
        return;
    }
    try {
        m.thread = std::thread(dhcpcd_lease_monitor, sid, std::move(ino), wd, m.stop.get());
    } catch (const std::system_error&) {
        dhcp_print("%s() thread failed.\n", self);
    }
}

void stop_monitor(int sid)
{
    monitor_thread& m = monitors[static_cast<size_t>(sid)];
    monitor_running(di[sid]).store(0);
    if (m.stop) {
        const uint64_t one = 1;
        if (write(m.stop.get(), &one, sizeof one) < 0)
            dhcp_print("%s(): stop failed.\n", "dhcpcd_lease_monitor");
    }
    if (m.thread.joinable())
        m.thread.join();
    m.stop.reset();
}

}  // namespace cnxd
