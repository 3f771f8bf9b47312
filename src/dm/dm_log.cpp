#include "dm/dm_log.h"

namespace cnxd {

// The DM log files are prepared here once DM reports are decoded.
void dm_log_init() {}

}  // namespace cnxd
