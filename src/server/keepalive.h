// Client keep-alive: periodic probes and the reboot of a silent router.
#pragma once

#include "server/client.h"

namespace cnxd {

// HCI_KEEP_ALIVE_RSP from a client: its miss count starts again at 0.
int cnxd_keep_alive_rsp(cnxd_client_rec* client, const HciFrame& frame);

}  // namespace cnxd

namespace cnxd {

// Reads the keep-alive settings and, when enabled, arms the probe timer.
void cnxd_keep_alive_start();
// Deletes the probe timer.
void cnxd_keep_alive_stop();

}  // namespace cnxd
