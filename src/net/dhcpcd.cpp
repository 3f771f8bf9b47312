#include "net/dhcpcd.h"

#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/be.h"
#include "base/fd.h"
#include "base/path.h"
#include "base/shell.h"
#include "config/confdb_access.h"
#include "ltesdk.h"
#include "modem/cm_netif.h"
#include "modem/if_record.h"
#include "net/lease_file.h"

namespace cnxd {

dhcpcd_info di[DHCP_MAX_SID];
int dhcpcd_cur_state[DHCP_MAX_SID];
int mq_id[DHCP_MAX_SID][2] = {{-1, -1}, {-1, -1}, {-1, -1}, {-1, -1},
                              {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}};

namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

constexpr const char* DHCP_PROGRAM = "/bin/dhclient";
constexpr const char* DHCP_ARGS =
    "-v -nw -pf /tmp/dhclient.pid.%d -cf /tmp/dhclient.conf.%d -lf /tmp/dhclient.leases.%d %s";
constexpr int APN_SECTIONS = 8;
constexpr size_t APN_MAX = ifrec::IPV4_ADDR - ifrec::APN_NAME;

// Waiting for the client's address: address timeout x 5 polls, 200 ms apart.
constexpr uint32_t ADDR_TIMEOUT = 7;
constexpr uint32_t ADDR_POLLS_PER_SECOND = 5;
constexpr auto ADDR_POLL = 200ms;
constexpr auto ADDR_SETTLE = 100ms;
// The client writes its lease file just after it has put the address on
// the interface: this long the manager waits for it before it reads the
// lease times, so a fresh lease is not taken for an expired one.
constexpr auto LEASE_FILE_WAIT = 1s;
// A stopped client gets this long to exit after SIGTERM, and then as long
// again after SIGKILL, before its files are removed, so that it cannot
// write them again behind the removal.
constexpr auto CLIENT_EXIT_WAIT = 2s;
constexpr auto CLIENT_EXIT_POLL = 20ms;

// The client writes a lease in several pieces: the monitor acts once no
// event came for MONITOR_SETTLE, or after MONITOR_BURST_MAX at the latest.
constexpr int MONITOR_SETTLE_MS = 150;
constexpr auto MONITOR_BURST_MAX = 2s;
constexpr size_t MONITOR_READ = 32768;

// The expiry timer takes at most this many milliseconds; a longer lease
// re-arms it from its callback until the expire moment.
constexpr int64_t TIMER_MS_MAX = INT32_MAX;
// Seconds of slack between the timer's real-time clock and the monotonic
// expire moment when the timer fires.
constexpr int32_t EXPIRE_SLACK = 2;

// What the daemon keeps per sid beside its record.
struct sid_runtime {
    std::thread manager;
    std::thread monitor;
    UniqueFd monitor_stop;  // eventfd: ends the monitor's wait
    // Guards the record's address, netmask and time words, written by the
    // manager and the monitor and read by the timer thread and by the
    // lease-still-valid query.
    std::mutex lease_lock;
};

std::array<sid_runtime, DHCP_MAX_SID> runtime;
// start_dhcpcd_manager against itself and against dhcpcd_shutdown.
std::mutex records_lock;
// Set by dhcpcd_shutdown: managers leave their loop, address waits end.
std::atomic<bool> dhcp_quit{false};

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

void set_result(int sid, int code)
{
    std::atomic_ref<int>(dhcpcd_cur_state[sid]).store(code);
}

void post_result(const dhcpcd_info& d, int sid, int code)
{
    mq_send(d.rsp_mq, code);
    set_result(sid, code);
}

std::atomic_ref<uint32_t> monitor_running(dhcpcd_info& d) { return std::atomic_ref<uint32_t>(d.monitor_running); }

int32_t monotonic_seconds(long* nsec = nullptr)
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    if (nsec)
        *nsec = ts.tv_nsec;
    return static_cast<int32_t>(ts.tv_sec);
}

// ---- The client program and its files ----------------------------------

// The client's pid from its pid file; 0 when there is none. Values that
// are no process of its own (0, 1, negative) count as none: a signal to
// them would reach a whole process group or every process.
int read_pid_file(const std::string& path)
{
    std::unique_ptr<FILE, FileCloser> f(std::fopen(cnxd_path(path).c_str(), "re"));
    if (!f) {
        dhcp_print("FAILED to read PID file %s\n\n", path.c_str());
        return 0;
    }
    int pid = 0;
    if (std::fscanf(f.get(), "%d", &pid) != 1 || pid <= 1)
        return 0;
    return pid;
}

// True once `pid` has exited, also when its parent has not reaped it yet.
bool process_gone(pid_t pid)
{
    if (kill(pid, 0) != 0)
        return errno == ESRCH;
    std::ifstream stat(cnxd_path("/proc/" + std::to_string(pid) + "/stat"));
    std::string line;
    std::getline(stat, line);
    const size_t end = line.rfind(')');
    return end != std::string::npos && end + 2 < line.size() && line[end + 2] == 'Z';
}

bool wait_gone(pid_t pid)
{
    const auto end = steady_clock::now() + CLIENT_EXIT_WAIT;
    while (!process_gone(pid)) {
        if (steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(CLIENT_EXIT_POLL);
    }
    return true;
}

void kill_client(dhcpcd_info& d, int sid)
{
    if (d.pid <= 0)
        return;
    dhcp_print("[DHCP %d] kill PID %d\n", sid, d.pid);
    kill(d.pid, SIGTERM);
    if (!wait_gone(d.pid)) {
        kill(d.pid, SIGKILL);
        wait_gone(d.pid);
    }
    d.pid = 0;
}

void clear_dhcp_files(int sid)
{
    dhcp_print("[DHCP] clear sid = %d\n", sid);
    for (const char* base : {DHCP_PID_FILE, DHCP_LEASE_FILE}) {
        const std::string path = dhcp_file(base, sid);
        if (std::remove(cnxd_path(path).c_str()) != 0)
            dhcp_print("failed to remove %s\n", path.c_str());
    }
}

bool wait_for_lease_file(int sid)
{
    const std::string path = cnxd_path(dhcp_file(DHCP_LEASE_FILE, sid));
    const auto end = steady_clock::now() + LEASE_FILE_WAIT;
    for (;;) {
        std::ifstream f(path, std::ios::ate);
        if (f && f.tellg() > 0)
            return true;
        if (steady_clock::now() > end || dhcp_quit)
            return false;
        std::this_thread::sleep_for(ADDR_POLL / 4);
    }
}

void store_address(dhcpcd_info& d, int sid, const uint8_t addr[4], const uint8_t mask[4])
{
    std::lock_guard lock(runtime[sid].lease_lock);
    std::memcpy(d.ipaddr, addr, sizeof d.ipaddr);
    std::memcpy(d.netmask, mask, sizeof d.netmask);
}

// Runs the client in the background and waits for the interface's
// address. 0 when it came (the record then holds address and netmask).
int run_dhcpcd(dhcpcd_info& d, int sid)
{
    dhcp_print("%s(), if_name = %s\n\n", "run_dhcpcd", d.if_name);
    const std::string cmd = std::string(d.prog_path) + " " + d.prog_args + " &";
    dhcp_print("Executed DHCP client: %s\n", cmd.c_str());
    cnxd_system(cmd);

    bool got = false;
    for (uint32_t i = 0; i < d.addr_timeout * ADDR_POLLS_PER_SECOND && !dhcp_quit; ++i) {
        std::this_thread::sleep_for(ADDR_POLL);
        if (check_if_ipaddr(d.if_name) == 0) {
            got = true;
            break;
        }
    }
    if (got) {
        std::this_thread::sleep_for(ADDR_SETTLE);
        wait_for_lease_file(sid);
    }
    d.pid = read_pid_file(dhcp_file(DHCP_PID_FILE, sid));
    dhcp_print("[DHCP] SID %d has PID %d (%s)\n", sid, d.pid, d.if_name);
    if (!got) {
        sdk_log(5, "[DHCP] address allocation fail");
        return -1;
    }
    uint8_t addr[4]{};
    uint8_t mask[4]{};
    get_if_ipaddr(d.if_name, addr);
    get_if_netmask(d.if_name, mask);
    store_address(d, sid, addr, mask);
    return 0;
}

// ---- Lease times and the expiry timer -----------------------------------

void arm_expiry(dhcpcd_info& d, int64_t seconds)
{
    start_timer(&d.expire_timer, static_cast<int32_t>(std::clamp<int64_t>(seconds * 1000, 0, TIMER_MS_MAX)));
}

void set_dhcp_tm_info(int sid, bool on)
{
    dhcpcd_info& d = di[sid];
    if (!on) {
        {
            std::lock_guard lock(runtime[sid].lease_lock);
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
        std::lock_guard lock(runtime[sid].lease_lock);
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

// Timer callback (timer thread): the lease of sid `arg` has run out.
void dhcp_lease_expired(uint32_t arg)
{
    const int sid = static_cast<int>(arg);
    if (sid <= 0 || sid >= DHCP_MAX_SID)
        return;
    dhcpcd_info& d = di[sid];
    int32_t expire = 0;
    {
        std::lock_guard lock(runtime[sid].lease_lock);
        expire = d.dhcp_tm_info[4];
    }
    // A lease longer than one timer period is not over yet.
    if (const int64_t left = static_cast<int64_t>(expire) - monotonic_seconds(); left > EXPIRE_SLACK) {
        arm_expiry(d, left);
        return;
    }
    cm_dhcp_lease_expired(static_cast<uint8_t>(sid));
}

// ---- The lease monitor ---------------------------------------------------

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
    store_address(d, sid, addr, mask);
    cm_dhcp_ipv4_addr_changed(d.dev_idx, static_cast<uint8_t>(sid), d.dft_eps_id, addr);
}

// The monitor thread: watches with the inotify instance `ino` (watch `wd`)
// until `stop_fd` becomes readable or monitor running drops to 0.
void dhcpcd_lease_monitor(int sid, UniqueFd ino, int wd, int stop_fd)
{
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

// The watch is in place when this returns, so no write of the lease file
// after the start result is posted goes unheard.
void start_monitor(int sid)
{
    static constexpr const char* self = "dhcpcd_lease_monitor";
    sid_runtime& rt = runtime[sid];
    monitor_running(di[sid]).store(1);
    if (rt.monitor.joinable())
        return;
    UniqueFd ino(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    rt.monitor_stop.reset(eventfd(0, EFD_CLOEXEC));
    if (!ino || !rt.monitor_stop) {
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
        rt.monitor = std::thread(dhcpcd_lease_monitor, sid, std::move(ino), wd, rt.monitor_stop.get());
    } catch (const std::system_error&) {
        dhcp_print("%s() thread failed.\n", self);
    }
}

void stop_monitor(int sid)
{
    sid_runtime& rt = runtime[sid];
    monitor_running(di[sid]).store(0);
    if (rt.monitor_stop) {
        const uint64_t one = 1;
        if (write(rt.monitor_stop.get(), &one, sizeof one) < 0)
            dhcp_print("%s(): stop failed.\n", "dhcpcd_lease_monitor");
    }
    if (rt.monitor.joinable())
        rt.monitor.join();
    rt.monitor_stop.reset();
}

// ---- The manager ---------------------------------------------------------

void start_client(dhcpcd_info& d, int sid)
{
    // The result goes out last: whoever sees 2 finds the lease times set
    // and the lease file watched.
    if (run_dhcpcd(d, sid) == 0) {
        d.expire_timer = cnxd_timer{};
        init_timer(&d.expire_timer, dhcp_lease_expired, static_cast<uint32_t>(sid));
        set_dhcp_tm_info(sid, true);
        start_monitor(sid);
        post_result(d, sid, DHCPCD_RESULT_STARTED);
        return;
    }
    kill_client(d, sid);
    post_result(d, sid, DHCPCD_RESULT_START_FAILED);
    cm_dhcp_start_failed(static_cast<uint8_t>(sid));
}

// The monitor goes first, so that nothing the dying client writes is taken
// for a renewal and no renewal re-arms the timer after it was stopped.
void stop_client(dhcpcd_info& d, int sid)
{
    stop_monitor(sid);
    kill_client(d, sid);
    clear_dhcp_files(sid);
    post_result(d, sid, DHCPCD_RESULT_STOPPED);
    set_dhcp_tm_info(sid, false);
}

void dhcpcd_manager(int sid)
{
    dhcp_print("%s()\n\n", "dhcpcd_manager");
    dhcpcd_info& d = di[sid];
    int cur = DHCPCD_STATE_STOPPED;
    for (;;) {
        dhcp_print("[DHCP %d] dhcp manager wait.\n", sid);
        const int req = mq_recv(d.req_mq);
        if (dhcp_quit)
            break;
        dhcp_print("[DHCP %d] receive req = %d\n", sid, req);
        int next = 0;
        if (req == DHCPCD_START_REQ)
            next = DHCPCD_STATE_RUNNING;
        else if (req == DHCPCD_STOP_REQ)
            next = DHCPCD_STATE_STOPPED;
        else
            continue;
        dhcp_print("[DHCP %d] cur_state = %d, new_state = %d\n", sid, cur, next);
        if (next == cur)
            continue;
        if (next == DHCPCD_STATE_STOPPED) {
            stop_client(d, sid);
            cur = DHCPCD_STATE_STOPPED;
        } else {
            start_client(d, sid);
            if (std::atomic_ref<int>(dhcpcd_cur_state[sid]).load() == DHCPCD_RESULT_STARTED)
                cur = DHCPCD_STATE_RUNNING;
        }
    }
}

// Fills the free record of `sid` from the interface record; false (and the
// record free again) when the client's command line does not fit.
bool fill_record(dhcpcd_info& d, int sid, std::span<const uint8_t> if_record)
{
    d.dft_eps_id = static_cast<uint8_t>(load_be16(&if_record[ifrec::EPS_BEARER]));
    d.rsp_mq = mq_id[sid][0];
    d.req_mq = mq_id[sid][1];
    d.sid = static_cast<uint32_t>(sid);
    // The record's name field and ours are both 16 bytes: at most 15
    // characters and the terminator.
    std::array<char, sizeof d.if_name> name{};
    const auto* text = reinterpret_cast<const char*>(&if_record[ifrec::NAME]);
    std::memcpy(name.data(), text, strnlen(text, name.size() - 1));
    std::memcpy(d.if_name, name.data(), name.size());
    d.addr_timeout = ADDR_TIMEOUT;
    d.pid = 0;
    // The record's fields hold 127 characters each; a command line that
    // does not fit is refused rather than cut.
    const int path_len = std::snprintf(d.prog_path, sizeof d.prog_path, "%s", DHCP_PROGRAM);
    const int args_len = std::snprintf(d.prog_args, sizeof d.prog_args, DHCP_ARGS, sid, sid, sid, name.data());
    if (path_len < 0 || path_len >= static_cast<int>(sizeof d.prog_path) || args_len < 0 ||
        args_len >= static_cast<int>(sizeof d.prog_args)) {
        sdk_log(5, "[DHCP] invalid dhcpcd arguments");
        d.sid = 0;
        return false;
    }
    return true;
}

}  // namespace

int find_apn_sid(const char* apn, size_t len)
{
    for (int n = 1; n <= APN_SECTIONS; ++n) {
        char prefix[48];
        char node[48];
        std::snprintf(prefix, sizeof prefix, "confdb_wan_lte_apntable_apn%d", n);
        std::snprintf(node, sizeof node, "config wan lte apntable apn%d", n);
        confdb_value value{};
        const size_t got = ConfdbDump(prefix, node).read("", "apn_name", "0", value);
        if (got != 0 && got == len && std::memcmp(value.data(), apn, len) == 0)
            return n;
    }
    return 0;
}

int start_dhcpcd_manager(std::span<uint8_t> if_record)
{
    dhcp_print("%s()\n\n", "start_dhcpcd_manager");
    if (if_record.size() < ifrec::SIZE)
        return -1;
    const size_t apn_len = std::min<size_t>(if_record[ifrec::APN_LEN], APN_MAX);
    const int sid = find_apn_sid(reinterpret_cast<const char*>(&if_record[ifrec::APN_NAME]), apn_len);
    dhcp_print("[DHCP Manager] sid = %d\n", sid);
    if (sid == 0)
        return 0;
    // The records and mailbox pairs have 8 slots; sid 8 has none.
    if (sid < 1 || sid >= DHCP_MAX_SID)
        return -1;

    std::lock_guard lock(records_lock);
    dhcpcd_info& d = di[sid];
    if (d.sid != 0) {
        // One manager per sid: a later interface of the same APN shares it.
        if_record[IFREC_SID] = static_cast<uint8_t>(sid);
        return static_cast<int>(d.sid);
    }
    if (!fill_record(d, sid, if_record))
        return -1;
    if_record[IFREC_SID] = static_cast<uint8_t>(sid);
    if (d.req_mq < 0) {
        dhcp_print("[DHCP %d] no mailbox for this sid: no DHCP client manager\n", sid);
        return sid;
    }
    try {
        runtime[sid].manager = std::thread(dhcpcd_manager, sid);
    } catch (const std::system_error&) {
        sdk_log(3, "[DHCP] dhcpcd manager create error");
        d.sid = 0;
        return -1;
    }
    return sid;
}

int32_t dhcp_lease_expire_time(int cid)
{
    if (cid < 0 || cid >= DHCP_MAX_SID)
        return 0;
    std::lock_guard lock(runtime[cid].lease_lock);
    return di[cid].dhcp_tm_info[4];
}

void dhcpcd_shutdown()
{
    std::lock_guard lock(records_lock);
    dhcp_quit = true;
    mq_close_all();
    for (sid_runtime& rt : runtime)
        if (rt.manager.joinable())
            rt.manager.join();
    for (int sid = 1; sid < DHCP_MAX_SID; ++sid) {
        dhcpcd_info& d = di[sid];
        if (d.sid == 0)
            continue;
        stop_monitor(sid);
        if (d.pid > 0) {
            kill_client(d, sid);
            clear_dhcp_files(sid);
        }
        delete_timer(&d.expire_timer);
        std::lock_guard lease(runtime[sid].lease_lock);
        d = dhcpcd_info{};
    }
    for (int sid = 0; sid < DHCP_MAX_SID; ++sid) {
        set_result(sid, 0);
        mq_id[sid][0] = mq_id[sid][1] = -1;
    }
    dhcp_quit = false;
}

}  // namespace cnxd
