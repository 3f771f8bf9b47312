// The DHCP client manager of the LTE data interfaces: one DHCP interface
// record, request mailbox and manager thread per sid (the APN table section
// an interface's APN belongs to), the platform's DHCP client program, and
// the lease it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/timer.h"

namespace cnxd {

constexpr int DHCP_MAX_SID = 8;  // records, mailbox pairs and results 0..7

// Request codes posted to a manager's request mailbox.
constexpr int DHCPCD_START_REQ = 0;
constexpr int DHCPCD_STOP_REQ = 3;

// Manager states.
constexpr int DHCPCD_STATE_RUNNING = 0;
constexpr int DHCPCD_STATE_STOPPED = 2;

// Result codes in dhcpcd_cur_state (also posted to the response mailbox).
constexpr int DHCPCD_RESULT_START_FAILED = 1;
constexpr int DHCPCD_RESULT_STARTED = 2;
constexpr int DHCPCD_RESULT_STOPPED = 4;

// The DHCP interface record of one sid.
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
// The last result of each sid's manager (0 before the first one).
extern int dhcpcd_cur_state[DHCP_MAX_SID];
// (response mailbox, request mailbox) of each sid; -1 for none.
extern int mq_id[DHCP_MAX_SID][2];

// The byte of the interface record that receives the sid: the one after
// the APN class, which the SDK leaves unused.
constexpr size_t IFREC_SID = 273;

// Creates the mailbox pool and gives each sid slot its pair.
int mq_init_all();
int mq_alloc();
// Posts `value`; 0, or -1 for an invalid or unused mailbox.
int mq_send(int id, int value);
// Waits for and takes the next value; -1 for an invalid mailbox, or once
// the pool is closed and the mailbox empty.
int mq_recv(int id);
// Closes the pool for shutdown: every waiting receiver returns. mq_init_all
// opens it again.
void mq_close_all();

// The sid of an APN: the first APN table section 1..8 whose apn_name is
// exactly `apn` (case-sensitive); 0 when none is.
int find_apn_sid(const char* apn, size_t len);

// For the interface record of an interface indication: the sid (above 0)
// of its APN, with a manager running for it; 0 when no APN section
// matches; -1 on error. Writes the sid back into the record.
//
// Sids 5 to 7 have no mailboxes (the pool of 10 gives pairs to slots 0 to
// 4 only): their record is filled and the sid returned, so the releasing
// side still finds the interface by name, but no manager thread is started,
// since no request could ever reach it. A start request for such a sid
// cannot be posted and the configuring side's wait for the result times
// out. The log says so when the record is filled.
int start_dhcpcd_manager(std::span<uint8_t> if_record);

// Stops every manager and lease monitor, stops each running DHCP client and
// removes its files, and frees the records, the timers and the results: no
// thread or client of the DHCP subsystem outlives the modem shutdown that
// calls it. mq_init_all and start_dhcpcd_manager work again afterwards.
void dhcpcd_shutdown();

// Expiry of the lease of `cid` (a sid) on the monotonic clock, in seconds;
// 0 when it holds no lease.
int32_t dhcp_lease_expire_time(int cid);

// Interface address queries: 0 and the value when it is non-zero, else -1.
int check_if_ipaddr(const char* if_name);
int get_if_ipaddr(const char* if_name, uint8_t out[4]);
int get_if_netmask(const char* if_name, uint8_t out[4]);

}  // namespace cnxd
