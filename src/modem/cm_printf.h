// The levelled print routine of the request wrappers, indication handlers,
// shell, builders and checks. Its text travels through the SDK's print
// facility, which hands it (as the log configuration allows for the level)
// to the print callback and so to the clients' log channel.
#pragma once

#include <cstdint>

#include "ltesdk.h"

namespace cnxd {

constexpr uint16_t CM_ERR = LAPI_PRINT_ERROR;    // errors
constexpr uint16_t CM_INFO = LAPI_PRINT_INFO;    // information
constexpr uint16_t CM_TRACE = LAPI_PRINT_TRACE;  // function entry and exit

// Longest text of one print; longer text is cut, not split.
constexpr int CM_PRINTF_MAX = 1023;

void cm_printf(uint16_t level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace cnxd
