// Output of the modem's command interpreter (SDK callback 188), routed by
// the modem log direction.
#pragma once

#include <cstdint>

namespace cnxd {

// Routes `text` (NUL-terminated, `len` bytes without the terminator) by
// arm1_log_direction: 0 the clients' log channel; 1 standard output; 2 the
// log channel and every command socket connection; 3 the SDK log, line by
// line; 4 the clients of the specific-id list. Other directions drop it, as
// does a null text. The first argument carries nothing.
void cli_cmd_rsp_route(uint32_t unused, char* text, uint32_t len);

}  // namespace cnxd
