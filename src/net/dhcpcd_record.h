// The DHCP interface records and what the three parts of the DHCP manager
// share: the manager thread (dhcpcd.cpp), the client program it runs
// (dhcp_client.cpp) and the lease monitor with the expiry timer
// (lease_monitor.cpp). Only this folder includes it; other folders use
// net/dhcpcd.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "core/timer.h"
#include "net/dhcpcd.h"

namespace cnxd {

// Manager states.
constexpr int DHCPCD_STATE_RUNNING = 0;
constexpr int DHCPCD_STATE_STOPPED = 2;

// The DHCP interface record of one sid.
//
// Filled by start_dhcpcd_manager (under its lock) before the sid's manager
// thread starts, and cleared by dhcpcd_shutdown after that thread ended; the
// name, bearer id, mailboxes and command line stay as filled. In between,
// `pid` is the manager's; the expiry timer is set up by the manager while
// it is stopped and otherwise changes only through the timer service; the
// address, netmask, time words and device index are read and written under
// the sid's lease_lock (manager, monitor, timer thread, configuring side
// and the lease query); `monitor_running` only through monitor_running().
struct dhcpcd_info {
    char if_name[16];
    uint8_t ipaddr[4];
    uint8_t netmask[4];
    uint8_t dft_eps_id;
    uint32_t dev_idx;
    int32_t rsp_mq;
    int32_t req_mq;
    uint32_t sid;  // 0: the record is free
    int32_t pid;   // the running client, 0 when none
    uint32_t monitor_running;
    uint32_t addr_timeout;
    char prog_path[128];
    char prog_args[128];
    // Monotonic time of the last lease (seconds, nanoseconds), then the
    // renew, rebind and expire times in monotonic seconds.
    int32_t dhcp_tm_info[5];
    cnxd_timer expire_timer;
};

extern dhcpcd_info di[DHCP_MAX_SID];
// The last result of each sid's manager (0 before the first one); read and
// written through std::atomic_ref.
extern int dhcpcd_cur_state[DHCP_MAX_SID];

// Guards the fields of di[sid] named above (lease_monitor.cpp).
std::mutex& lease_lock(int sid);
inline std::atomic_ref<uint32_t> monitor_running(dhcpcd_info& d) { return std::atomic_ref<uint32_t>(d.monitor_running); }

// True while dhcpcd_shutdown runs: waits end early, managers leave.
bool dhcp_quitting();
// The installed notices, or null.
const dhcpcd_notices* dhcp_notices();

// ---- The client program (dhcp_client.cpp) ----
// Runs the client in the background and waits for the interface's
// address. 0 when it came (the record then holds address and netmask).
int run_dhcpcd(dhcpcd_info& d, int sid);
// SIGTERM to a known client, SIGKILL when it does not go; forgets its pid.
void kill_client(dhcpcd_info& d, int sid);
// Removes the client's pid and lease files.
void clear_dhcp_files(int sid);

// ---- The lease monitor and the expiry timer (lease_monitor.cpp) ----
void store_address(int sid, const uint8_t addr[4], const uint8_t mask[4]);
// On: lease times from the lease file, expiry timer armed. Off: cleared,
// timer stopped.
void set_dhcp_tm_info(int sid, bool on);
// Timer callback: the lease of sid `arg` has run out. It posts
// DHCPCD_EXPIRED_REQ to the sid's manager, which sends the notice: a
// delivery may wait on a client that does not read, and the timer thread
// must never wait.
void dhcp_lease_expired(uint32_t arg);
constexpr int DHCPCD_EXPIRED_REQ = 5;
// The watch is in place when start_monitor returns, so no write of the
// lease file after the start result is posted goes unheard.
void start_monitor(int sid);
void stop_monitor(int sid);

}  // namespace cnxd
