// Switching where the modem's own log output goes (arm1_log_direction, kept
// with the per-device state in device.h).
#pragma once

#include <cstdint>

#include "modem/device.h"

namespace cnxd {

// Log directions of the modem besides ARM1_LOG_UART.
constexpr uint32_t ARM1_LOG_OFF = 0;
constexpr uint32_t ARM1_LOG_CLIENTS = 2;
constexpr uint32_t ARM1_LOG_FILE = 3;
constexpr uint32_t ARM1_LOG_SPECIFIC_ONLY = 4;

// Switches the modem log to `direction`: the daemon's log type, the copy of
// client log text to the system log, the modem's console buffering and the
// kernel's host log interface. Any value is stored in arm1_log_direction;
// only 0 to 4 act.
void set_arm1_log_direction(uint32_t direction);

}  // namespace cnxd
