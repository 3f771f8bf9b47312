// The daemon's entry point and its wiring: start-up in a fixed order, the
// event loop on the main thread, and shutdown in the reverse order. This is
// the one place that knows every subsystem; no other folder includes it.
#pragma once

#include "modem/bringup.h"

namespace cnxd {

int cnxd_main(int argc, char** argv);

constexpr const char* CNXD_PID_FILE = "/var/run/cnxd.pid";

// What the modem bring-up and shutdown take from the indication handlers and
// the DHCP side. The in-process tests bring the modem up with it too.
extern const lte_bringup_steps cnxd_bringup_steps;

}  // namespace cnxd
