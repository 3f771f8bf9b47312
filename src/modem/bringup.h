// Opening and closing the LTE SDK, and bringing each modem device on line.
#pragma once

#include <array>
#include <cstdint>

#include "ltesdk.h"

namespace cnxd {

// The SDK handle, filled by LAPI_LTEAPIOpen; the first argument of every
// later SDK call.
extern uint32_t hAPI;

// The "LTE DAEMON START" sequence: opens and initialises the SDK and
// registers every indication handler. 0 on success, -1 when the daemon
// must stop before its main loop.
int lte_daemon_start();
// Unregisters the handlers and closes the SDK.
void lte_daemon_stop();

// The default log configuration: both blocks send print levels 2 and 4 to
// lte_print_callback.
std::array<uint8_t, LAPI_LOG_CONFIG_SIZE> default_log_config();
// The print callback of the log configuration: the text goes to the
// clients' log channel.
void lte_print_callback(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace cnxd
