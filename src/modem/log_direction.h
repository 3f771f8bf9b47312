// Where the modem's own log output goes, and the DM console command that
// tells the modem.
#pragma once

#include <atomic>
#include <cstdint>

namespace cnxd {

// Log directions of the modem.
constexpr uint32_t ARM1_LOG_OFF = 0;
constexpr uint32_t ARM1_LOG_UART = 1;
constexpr uint32_t ARM1_LOG_CLIENTS = 2;
constexpr uint32_t ARM1_LOG_FILE = 3;
constexpr uint32_t ARM1_LOG_SPECIFIC_IDS = 4;

// The current direction; set from the shell, read by the command-output
// handler on the SDK's thread.
extern std::atomic<uint32_t> arm1_log_direction;

// Switches the modem log to `direction`: the daemon's log type, the copy of
// client log text to the system log, the modem's console buffering and the
// kernel's host log interface. Any value is stored; only 0 to 4 act.
void set_arm1_log_direction(uint32_t direction);
uint32_t get_arm1_log_direction();

}  // namespace cnxd
