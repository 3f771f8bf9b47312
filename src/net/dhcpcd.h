// The DHCP client manager of the LTE data interfaces: one DHCP interface
// record, request mailbox and manager thread per sid (the APN table section
// an interface's APN belongs to), the platform's DHCP client program, and
// the lease it holds.
//
// This is what the configuring side sees of it: the start of a manager for
// an interface, the start request with its wait, the stop request, the
// result and record queries, and the notices the manager raises through
// callbacks the configuring side installs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace cnxd {

constexpr int DHCP_MAX_SID = 8;  // records, mailbox pairs and results 0..7

// Request codes posted to a manager's request mailbox.
constexpr int DHCPCD_START_REQ = 0;
constexpr int DHCPCD_STOP_REQ = 3;

// Result codes of a manager (dhcpcd_state; also posted to the response
// mailbox).
constexpr int DHCPCD_RESULT_START_FAILED = 1;
constexpr int DHCPCD_RESULT_STARTED = 2;
constexpr int DHCPCD_RESULT_STOPPED = 4;

// The byte of the interface record that receives the sid: the one after
// the APN class, which the SDK leaves unused.
constexpr size_t IFREC_SID = 273;

// The notices of the managers, their lease monitors and the expiry timer,
// called on those threads. Each returns what its send returned; the manager
// ignores it. A null member (or no record installed) drops that notice.
struct dhcpcd_notices {
    // The lease of `sid` was renewed: the interface's address for the
    // modem's device `dev_idx`, with the interface's default EPS bearer id
    // (low byte) as `type`.
    int (*ipv4_addr_changed)(uint32_t dev_idx, uint8_t sid, uint8_t type, const uint8_t* addr);
    int (*lease_expired)(uint8_t sid);
    int (*start_failed)(uint8_t sid);
};

// Installs the notice callbacks (a record that outlives every manager); null
// removes them.
void dhcpcd_set_notices(const dhcpcd_notices* notices);

// Creates the mailbox pool and gives each sid slot its pair (run once by
// the bring-up).
int mq_init_all();

// The sid of an APN: the first APN table section 1..8 whose apn_name is
// exactly `apn` (case-sensitive); 0 when none is.
int find_apn_sid(const char* apn, size_t len);

// For the interface record of an interface indication: the sid (above 0)
// of its APN, with a manager running for it; 0 when no APN section
// matches; -1 on error, also for an interface name that is not of the form
// "lte0pdn<digits>" (the name goes into the client's command line). Writes
// the sid back into the record.
//
// Sids 5 to 7 have no mailboxes (the pool of 10 gives pairs to slots 0 to
// 4 only): their record is filled and the sid returned, so the releasing
// side still finds the interface by name, but no manager thread is started,
// since no request could ever reach it. A start request for such a sid
// cannot be posted and dhcpcd_start_and_wait times out. The log says so
// when the record is filled.
int start_dhcpcd_manager(std::span<uint8_t> if_record);

// Posts DHCPCD_START_REQ to the manager of `sid` and waits for its client:
// up to 10 times, logs ":::::::: WAIT DHCP Complete :::::::::" to the
// clients' log, sleeps a second and looks for the result "started". 0 when
// it came, -1 after the tenth wait.
int dhcpcd_start_and_wait(int sid);
// Posts DHCPCD_STOP_REQ to the manager of `sid`: mq_send's result.
int dhcpcd_stop(int sid);
// The last result of the manager of `sid` (0 before the first one).
int dhcpcd_state(int sid);

// The interface name in the DHCP record of `sid` ("" when it is free).
std::array<char, 16> dhcpcd_if_name(int sid);
// The modem device of `sid`'s interface, to which its lease monitor reports
// renewed addresses; set by the configuring side once the client started.
void dhcpcd_set_dev_idx(int sid, uint32_t dev_idx);
uint32_t dhcpcd_dev_idx(int sid);

// Expiry of the lease of `cid` (a sid) on the monotonic clock, in seconds;
// 0 when it holds no lease.
int32_t dhcp_lease_expire_time(int cid);

// Stops every manager and lease monitor, stops each running DHCP client and
// removes its files, and frees the records, the timers and the results: no
// thread or client of the DHCP subsystem outlives the modem shutdown that
// calls it. mq_init_all and start_dhcpcd_manager work again afterwards.
void dhcpcd_shutdown();

// Interface address queries: 0 and the value when it is non-zero, else -1.
int check_if_ipaddr(const char* if_name);
int get_if_ipaddr(const char* if_name, uint8_t out[4]);
int get_if_netmask(const char* if_name, uint8_t out[4]);

}  // namespace cnxd
