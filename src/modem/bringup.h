// Opening and closing the LTE SDK, and bringing each modem device on line.
#pragma once

namespace cnxd {

// The "LTE DAEMON START" sequence: opens and initialises the SDK and
// registers every indication handler. 0 on success, -1 when the daemon
// must stop before its main loop.
int lte_daemon_start();
// Unregisters the handlers and closes the SDK.
void lte_daemon_stop();

}  // namespace cnxd
