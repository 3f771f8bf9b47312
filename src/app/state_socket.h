// The state socket: a read-only Unix stream socket in the sysroot's
// /var/tmp (CNXD_STATE_PATH, "/var/tmp/cnxd-state") that answers every connection with one
// JSON document of the daemon's state (clients, devices with their status
// and connection keeper, watchdog, DHCP) and closes it. `cnxd-cli status`,
// `inspect` and `top` read it.
#pragma once

#include <string>

namespace cnxd {

// The document as the socket gives it.
std::string state_document();

// Starts and stops the socket's thread (stop joins it).
void state_socket_start();
void state_socket_stop();

}  // namespace cnxd
