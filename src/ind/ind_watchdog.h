// The watchdog hooks of the indication handlers: what the network time and
// the watchdog response do to the modem watchdog.
#pragma once

namespace cnxd {

// Starts the watchdog when the store enables it (with the date line), else
// says why not.
void ind_watchdog_start();
void ind_watchdog_stop();
// Switches the watchdog off for good.
void ind_watchdog_off();
// Reads the settings and starts the reset-check thread when enabled.
void ind_watchdog_init();

}  // namespace cnxd
