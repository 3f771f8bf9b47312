#include "server/keepalive.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/capture.h"
#include "base/shell.h"
#include "config/confdb_access.h"
#include "core/timer.h"
#include "ltesdk.h"

namespace cnxd {
namespace {

constexpr int32_t FIRST_PASS_MS = 5000;

cnxd_keep_alive_settings ka_settings;
cnxd_timer ka_timer;

}  // namespace

int get_cnxd_keep_alive_setting(cnxd_keep_alive_settings* settings)
{
    if (!settings)
        return -1;
    *settings = {};
    {
        const ConfdbDump dump("confdb_wan_lte_cnxdkeepalive", "config wan lte cnxdkeepalive");
        settings->enable = static_cast<uint32_t>(dump.read_number("", "ENABLE"));
        if (settings->enable) {
            settings->interval = static_cast<uint32_t>(dump.read_number("", "interval_time"));
            settings->max_retry = static_cast<uint32_t>(dump.read_number("", "max_retry"));
        }
    }
    sdk_log(7, "%s, cnxd_keep_alive setting (enable=%d, expired_time=%d, max_retry_val=%d)\r\n",
            "get_cnxd_keep_alive_setting", static_cast<int>(settings->enable),
            static_cast<int>(settings->interval), static_cast<int>(settings->max_retry));
    return 0;
}

namespace {

// What one record gave the pass, read under its record lock.
struct ProbeResult {
    int idx;
    uint32_t identity;
    uint32_t misses;  // before this pass's probe
    int err;          // of a failed probe, else 0
};

// Sends the probe to a connected client. Under the record lock only, which
// a release takes to close the socket, so the descriptor cannot be closed
// (and its number reused) under the write; the table lock is not taken, so
// a sender waiting on a full client holds up no pass. The write never
// waits: a full socket fails at once and counts as a miss.
ProbeResult probe(cnxd_client_rec& c, const iovec& piece)
{
    std::lock_guard rec(c.lock);
    ProbeResult r{c.idx, c.identity, c.ka_miss, 0};
    const int fd = c.esock.sock;
    if (!c.connected() || fd < 0)
        return r;
    msghdr msg{};
    msg.msg_iov = const_cast<iovec*>(&piece);
    msg.msg_iovlen = 1;
    if (sendmsg(fd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL) < 0)
        r.err = errno;
    else
        capture({.kind = capture_kind::frame_out,
                 .index = c.idx,
                 .a = c.identity,
                 .bytes = {static_cast<const uint8_t*>(piece.iov_base), piece.iov_len}});
    ++c.ka_miss;
    return r;
}

}  // namespace

void cnxd_keep_alive_timer_fn(uint32_t)
{
    uint8_t bytes[8] = {};
    hci_put_header(bytes, HCI_KEEP_ALIVE, 0);
    const iovec piece{bytes, sizeof bytes};
    // Guards against rebooting the router by accident: a missing (0)
    // max_retry counts as 1, since 0 would reboot at the first pass, before
    // any client could answer; only taken records are checked, and a record
    // starts each client at 0 (cnxd_srv_alloc_client), so a client that left
    // with a high count reboots nothing later; one "reboot" per pass.
    const auto limit = std::max<int32_t>(1, static_cast<int32_t>(ka_settings.max_retry));
    bool reboot = false;
    for (cnxd_client_rec& c : cnxd_client) {
        const ProbeResult r = probe(c, piece);
        // With the count from before this pass's probe: only an answer
        // clears it.
        if (r.idx != CLIENT_FREE && static_cast<int32_t>(r.misses) >= limit) {
            sdk_log(3, "cnxd client(%d,0x%08x) didn't response keep_alive (%d)\n", r.idx, r.identity,
                    static_cast<int>(r.misses));
            reboot = true;
        }
        if (r.err)
            sdk_log(3, "client(%d,0x%08x) %s %s(%u)", r.idx, r.identity, "cnxd_keep_alive_timer_fn",
                    std::strerror(r.err), static_cast<unsigned>(r.err));
    }
    if (reboot) {
        sdk_log(3, "Reboot System !!!\n");
        cnxd_system("reboot");
    }
    // A missing (0) interval_time counts as one second: passes without a
    // pause would keep the timer thread busy probing.
    start_timer(&ka_timer, static_cast<int32_t>(1000 * std::max<uint32_t>(1, ka_settings.interval)));
}

void cnxd_keep_alive_start()
{
    get_cnxd_keep_alive_setting(&ka_settings);
    if (!ka_settings.enable)
        return;
    sdk_log(6, "start keep-alive");
    ka_timer = {};
    init_timer(&ka_timer, cnxd_keep_alive_timer_fn, 0);
    start_timer(&ka_timer, FIRST_PASS_MS);
}

void cnxd_keep_alive_stop() { delete_timer(&ka_timer); }

int cnxd_keep_alive_rsp(cnxd_client_rec* client, const HciFrame&)
{
    std::lock_guard rec(client->lock);
    if (client->taken()) {
        client->ka_miss = 0;
        client->stats.keepalive_answer = monotonic_ms();
    }
    return 0;
}

}  // namespace cnxd
