#include "net/dhcpcd.h"

namespace cnxd {

// No mailbox exists yet: the DHCP manager brings its own set-up here.
int mq_init_all() { return 0; }

}  // namespace cnxd
