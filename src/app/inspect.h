// The inspection socket: a read-only Unix stream socket in the sysroot's
// /var/tmp (CNXD_INSPECT_PATH, "/var/tmp/cnxd-inspect") that answers every connection with one
// JSON document of the daemon's state (clients, devices, watchdog, DHCP) and
// closes it. `cnxd-cli inspect` and `cnxd-cli top` read it.
#pragma once

#include <string>

namespace cnxd {

// The document as the socket gives it.
std::string inspect_document();

// Starts and stops the socket's thread (stop joins it).
void inspect_start();
void inspect_stop();

}  // namespace cnxd
