#include "server/keepalive.h"

#include <sys/uio.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

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

void cnxd_keep_alive_timer_fn(uint32_t)
{
    uint8_t probe[8] = {};
    hci_put_header(probe, HCI_KEEP_ALIVE, 0);
    for (cnxd_client_rec& c : cnxd_client) {
        // Checked for every record, taken or free, before this pass's probe:
        // a count is only cleared by an answer.
        if (static_cast<int32_t>(c.ka_miss) >= static_cast<int32_t>(ka_settings.max_retry)) {
            sdk_log(3, "cnxd client(%d,0x%08x) didn't response keep_alive (%d)\n", c.idx, c.identity,
                    static_cast<int>(c.ka_miss));
            sdk_log(3, "Reboot System !!!\n");
            cnxd_system("reboot");
        }
        // The table lock keeps the main thread from closing (and a new
        // client from reusing) the socket under the write. The write itself
        // never waits: the socket is non-blocking and a full one is a miss.
        std::unique_lock guard(cnxd_client_lock);
        if (!c.connected())
            continue;
        iovec piece{probe, sizeof probe};
        if (writev(c.esock.sock, &piece, 1) < 0) {
            const int err = errno;
            sdk_log(3, "client(%d,0x%08x) %s %s(%u)", c.idx, c.identity, "cnxd_keep_alive_timer_fn",
                    std::strerror(err), static_cast<unsigned>(err));
        }
        ++c.ka_miss;
    }
    start_timer(&ka_timer, static_cast<int32_t>(1000 * ka_settings.interval));
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
    if (client->taken())
        client->ka_miss = 0;
    return 0;
}

}  // namespace cnxd
