#include "net/dhcpcd.h"

namespace cnxd {

dhcpcd_info di[DHCP_MAX_SID];
int dhcpcd_cur_state[DHCP_MAX_SID];
int mq_id[DHCP_MAX_SID][2] = {{-1, -1}, {-1, -1}, {-1, -1}, {-1, -1},
                              {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}};

// The manager, its mailboxes and the interface queries come with the DHCP
// client support; until then no interface gets DHCP.
int mq_init_all() { return 0; }
int mq_alloc() { return -1; }
int mq_send(int, int) { return -1; }
int mq_recv(int) { return -1; }
int start_dhcpcd_manager(std::span<uint8_t>) { return 0; }
int32_t dhcp_lease_expire_time(int) { return 0; }
int check_if_ipaddr(const char*) { return -1; }
int get_if_ipaddr(const char*, uint8_t*) { return -1; }
int get_if_netmask(const char*, uint8_t*) { return -1; }

}  // namespace cnxd
