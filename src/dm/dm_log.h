// The diagnostic-monitor log files.
#pragma once

namespace cnxd {

// Prepares the DM log directory and files at start-up.
void dm_log_init();

}  // namespace cnxd
