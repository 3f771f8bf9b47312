// Client keep-alive: when the configuration store enables it, every
// connected client is probed at a fixed interval with HCI_KEEP_ALIVE, and
// probes left without an HCI_KEEP_ALIVE_RSP are counted. A client whose
// count reaches the limit makes the daemon reboot the router.
#pragma once

#include <cstdint>

#include "server/client.h"

namespace cnxd {

// Node "config wan lte cnxdkeepalive"; missing or empty keys read as 0.
struct cnxd_keep_alive_settings {
    uint32_t enable;
    uint32_t interval;   // seconds between probe passes ("interval_time")
    uint32_t max_retry;  // unanswered probes that trigger the reboot
};

// Reads the settings (interval and max_retry only when enabled); -1 for a
// null record, else 0.
int get_cnxd_keep_alive_setting(cnxd_keep_alive_settings* settings);

// Reads the settings once and, when enabled, arms the probe timer (first
// pass 5 s after start).
void cnxd_keep_alive_start();
// Deletes the probe timer.
void cnxd_keep_alive_stop();
// One probe pass, on the timer thread; re-arms itself.
void cnxd_keep_alive_timer_fn(uint32_t arg);

// HCI_KEEP_ALIVE_RSP from a client: its miss count starts again at 0.
int cnxd_keep_alive_rsp(cnxd_client_rec* client, const HciFrame& frame);

}  // namespace cnxd
