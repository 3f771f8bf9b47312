// Opening and closing the LTE SDK, and bringing each modem device on line.
#pragma once

#include <array>
#include <cstdint>

#include "ltesdk.h"
#include "modem/online_request.h"

namespace cnxd {

// The SDK handle, filled by LAPI_LTEAPIOpen; the first argument of every
// later SDK call.
extern uint32_t hAPI;

// What the bring-up and the shutdown run of the subsystems above the modem,
// given by the daemon's wiring. Every step must be set.
struct lte_bringup_steps {
    // After the banner, before the SDK is initialised: registers every
    // indication callback with the handle.
    void (*register_handlers)(uint32_t handle);
    // The last step of a bring-up that succeeded: sets up the DHCP mailboxes.
    int (*init_mailboxes)();
    // The first step of the shutdown: unregisters every callback.
    void (*unregister_handlers)(uint32_t handle);
    // Right after it, while the SDK is still open: stops the DHCP managers.
    void (*stop_network)();
    // What a device's online request thread runs at its end.
    online_request_steps online;
    // After the online waits have ended, while the SDK is still open: ends
    // the watchdog's timers and threads.
    void (*stop_watchdog)();
};

// The "LTE DAEMON START" sequence: opens the SDK, logs the banner, registers
// the handlers, initialises the SDK, sets the default log configuration and
// sets up the mailboxes. 0 on success, -1 when the daemon must stop before
// its main loop.
int lte_daemon_start(const lte_bringup_steps& steps);
// Requests the daemon's stop (cnxd_request_stop), unregisters the handlers,
// stops the network side, ends the online waits (their threads are
// detached, and a shutdown does not wait for an init script), stops the
// watchdog and closes the SDK.
void lte_daemon_stop(const lte_bringup_steps& steps);

// The default log configuration: both blocks send print levels 2 and 4 to
// lte_print_callback.
std::array<uint8_t, LAPI_LOG_CONFIG_SIZE> default_log_config();
// The print callback of the log configuration: the text goes to the
// clients' log channel.
void lte_print_callback(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace cnxd
