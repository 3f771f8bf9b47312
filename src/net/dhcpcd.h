// The DHCP client manager of the LTE data interfaces.
#pragma once

namespace cnxd {

// Creates the request and result mailboxes of every DHCP interface; 0 on
// success.
int mq_init_all();

}  // namespace cnxd
