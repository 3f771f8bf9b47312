// The DHCP managers: the records of the sids, one manager thread per sid
// that takes the start and stop requests from its mailbox, and the requests
// and queries of the configuring side.
#include "net/dhcpcd.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "base/be.h"
#include "base/thread_name.h"
#include "config/confdb_access.h"
#include "if_record.h"
#include "ltesdk.h"
#include "net/dhcpcd_record.h"
#include "net/lease_file.h"
#include "net/mailbox.h"
#include "server/delivery.h"

namespace cnxd {

dhcpcd_info di[DHCP_MAX_SID];
int dhcpcd_cur_state[DHCP_MAX_SID];

namespace {

constexpr const char* DHCP_PROGRAM = "/bin/dhclient";
constexpr const char* DHCP_ARGS =
    "-v -nw -pf /tmp/dhclient.pid.%d -cf /tmp/dhclient.conf.%d -lf /tmp/dhclient.leases.%d %s";
constexpr int APN_SECTIONS = 8;
constexpr size_t APN_MAX = ifrec::IPV4_ADDR - ifrec::APN_NAME;
constexpr uint32_t ADDR_TIMEOUT = 7;  // seconds to wait for an address

// The configuring side's wait for a started client: 10 polls, 1 s apart.
constexpr int START_WAIT_TRIES = 10;
constexpr auto START_WAIT_STEP = std::chrono::seconds(1);

// The modem names its PDN interfaces "lte0pdn" and a number, and the name
// goes into the client's command line, which the shell runs. Only that form
// is taken: digits alone after the prefix, the whole name within the 15
// characters of a Linux interface name (so that the record's 16-byte field
// holds its terminator and nothing is cut). No character of such a name
// means anything to the shell.
constexpr std::string_view IF_NAME_PREFIX = "lte0pdn";
constexpr size_t IF_NAME_MAX = ifrec::NAME_SIZE - 1;

std::array<std::thread, DHCP_MAX_SID> managers;
// start_dhcpcd_manager against itself, against dhcpcd_shutdown and against
// the interface name query.
std::mutex records_lock;
// Set by dhcpcd_shutdown: managers leave their loop, address waits end.
std::atomic<bool> dhcp_quit{false};
std::atomic<const dhcpcd_notices*> notices{nullptr};

bool valid_sid(int sid) { return sid >= 0 && sid < DHCP_MAX_SID; }

void set_result(int sid, int code) { std::atomic_ref<int>(dhcpcd_cur_state[sid]).store(code); }

void post_result(const dhcpcd_info& d, int sid, int code)
{
    mq_send(d.rsp_mq, code);
    set_result(sid, code);
}

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
    if (const dhcpcd_notices* n = dhcp_notices(); n && n->start_failed)
        n->start_failed(static_cast<uint8_t>(sid));
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
    name_thread("dhcpcd_manager", sid);
    dhcp_print("%s()\n\n", "dhcpcd_manager");
    dhcpcd_info& d = di[sid];
    int cur = DHCPCD_STATE_STOPPED;
    for (;;) {
        dhcp_print("[DHCP %d] dhcp manager wait.\n", sid);
        const int req = mq_recv(d.req_mq);
        if (dhcp_quit)
            break;
        dhcp_print("[DHCP %d] receive req = %d\n", sid, req);
        if (req == DHCPCD_EXPIRED_REQ) {
            if (const dhcpcd_notices* n = dhcp_notices(); n && n->lease_expired && cur == DHCPCD_STATE_RUNNING)
                n->lease_expired(static_cast<uint8_t>(sid));
            continue;
        }
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
            if (dhcpcd_state(sid) == DHCPCD_RESULT_STARTED)
                cur = DHCPCD_STATE_RUNNING;
        }
    }
}

// Kept on purpose: the manager takes only the names the modem gives
// ("lte0pdn" and digits), since the name goes into the client's shell
// command line.
bool valid_if_name(std::string_view name)
{
    return name.size() > IF_NAME_PREFIX.size() && name.size() <= IF_NAME_MAX && name.starts_with(IF_NAME_PREFIX) &&
           std::all_of(name.begin() + IF_NAME_PREFIX.size(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Fills the free record of `sid` from the interface record; false (and the
// record free again) when the interface name is refused or the client's
// command line does not fit.
bool fill_record(dhcpcd_info& d, int sid, std::span<const uint8_t> if_record)
{
    const auto* text = reinterpret_cast<const char*>(&if_record[ifrec::NAME]);
    const std::string_view name(text, strnlen(text, ifrec::NAME_SIZE));
    if (!valid_if_name(name)) {
        sdk_log(5, "[DHCP] invalid interface name");
        return false;
    }
    d.dft_eps_id = static_cast<uint8_t>(load_be16(&if_record[ifrec::EPS_BEARER]));
    const auto pair = mq_pair(sid);
    d.rsp_mq = pair[MQ_RSP];
    d.req_mq = pair[MQ_REQ];
    d.sid = static_cast<uint32_t>(sid);
    std::fill(std::begin(d.if_name), std::end(d.if_name), '\0');
    std::copy(name.begin(), name.end(), d.if_name);
    d.addr_timeout = ADDR_TIMEOUT;
    d.pid = 0;
    // The record's fields hold 127 characters each; a command line that
    // does not fit is refused rather than cut.
    const int path_len = std::snprintf(d.prog_path, sizeof d.prog_path, "%s", DHCP_PROGRAM);
    const int args_len = std::snprintf(d.prog_args, sizeof d.prog_args, DHCP_ARGS, sid, sid, sid, d.if_name);
    if (path_len < 0 || path_len >= static_cast<int>(sizeof d.prog_path) || args_len < 0 ||
        args_len >= static_cast<int>(sizeof d.prog_args)) {
        sdk_log(5, "[DHCP] invalid dhcpcd arguments");
        d.sid = 0;
        return false;
    }
    return true;
}

}  // namespace

bool dhcp_quitting() { return dhcp_quit; }

const dhcpcd_notices* dhcp_notices() { return notices.load(); }

void dhcpcd_set_notices(const dhcpcd_notices* n) { notices.store(n); }

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
        managers[static_cast<size_t>(sid)] = std::thread(dhcpcd_manager, sid);
    } catch (const std::system_error&) {
        sdk_log(3, "[DHCP] dhcpcd manager create error");
        d.sid = 0;
        return -1;
    }
    return sid;
}

int dhcpcd_start_and_wait(int sid)
{
    mq_send(mq_pair(sid)[MQ_REQ], DHCPCD_START_REQ);
    for (int i = 0; i < START_WAIT_TRIES; ++i) {
        cnxd_srv_send_log(":::::::: WAIT DHCP Complete :::::::::\n");
        std::this_thread::sleep_for(START_WAIT_STEP);
        if (dhcpcd_state(sid) == DHCPCD_RESULT_STARTED)
            return 0;
    }
    return -1;
}

int dhcpcd_stop(int sid) { return mq_send(mq_pair(sid)[MQ_REQ], DHCPCD_STOP_REQ); }

int dhcpcd_state(int sid) { return valid_sid(sid) ? std::atomic_ref<int>(dhcpcd_cur_state[sid]).load() : 0; }

std::array<char, 16> dhcpcd_if_name(int sid)
{
    std::array<char, 16> name{};
    if (!valid_sid(sid))
        return name;
    std::lock_guard lock(records_lock);
    std::copy(std::begin(di[sid].if_name), std::end(di[sid].if_name), name.begin());
    return name;
}

void dhcpcd_set_dev_idx(int sid, uint32_t dev_idx)
{
    if (!valid_sid(sid))
        return;
    std::lock_guard lock(lease_lock(sid));
    di[sid].dev_idx = dev_idx;
}

uint32_t dhcpcd_dev_idx(int sid)
{
    if (!valid_sid(sid))
        return 0;
    std::lock_guard lock(lease_lock(sid));
    return di[sid].dev_idx;
}

void dhcpcd_shutdown()
{
    std::lock_guard lock(records_lock);
    dhcp_quit = true;
    mq_close_all();
    for (std::thread& manager : managers)
        if (manager.joinable())
            manager.join();
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
        std::lock_guard lease(lease_lock(sid));
        d = dhcpcd_info{};
    }
    for (int sid = 0; sid < DHCP_MAX_SID; ++sid)
        set_result(sid, 0);
    dhcp_quit = false;
}

}  // namespace cnxd
