#include "modem/bringup.h"

namespace cnxd {

// The SDK is opened here once the modem interface is in place.
int lte_daemon_start() { return 0; }

void lte_daemon_stop() {}

}  // namespace cnxd
