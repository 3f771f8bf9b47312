// The interface address queries of the DHCP manager.
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "base/fd.h"
#include "ltesdk.h"
#include "net/dhcpcd.h"

namespace cnxd {
namespace {

// SIOCGIFADDR or SIOCGIFNETMASK on `if_name`: 0 and the value when the
// kernel answers for that very name with a non-zero value, else -1.
int if_query(const char* if_name, unsigned long request, uint8_t out[4])
{
    UniqueFd sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock) {
        sdk_log(5, "[NETUTIL] socket:%s", std::strerror(errno));
        return -1;
    }
    ifreq req{};
    // At most 15 characters: a longer name is cut, and then the name the
    // kernel answers for differs from the one asked for.
    std::memcpy(req.ifr_name, if_name, strnlen(if_name, IFNAMSIZ - 1));
    req.ifr_addr.sa_family = AF_INET;
    if (ioctl(sock.get(), request, &req) < 0) {
        sdk_log(5, "[NETUTIL] ioctl:%s", std::strerror(errno));
        return -1;
    }
    if (std::strncmp(req.ifr_name, if_name, IFNAMSIZ) != 0)
        return -1;
    // The address sits in the sockaddr_in layout of the answer; its bytes
    // are already in network order, first number first.
    sockaddr_in sin{};
    std::memcpy(&sin, &req.ifr_addr, sizeof sin);
    uint8_t value[4];
    std::memcpy(value, &sin.sin_addr, sizeof value);
    if ((value[0] | value[1] | value[2] | value[3]) == 0)
        return -1;
    std::memcpy(out, value, sizeof value);
    return 0;
}

}  // namespace

int check_if_ipaddr(const char* if_name)
{
    uint8_t addr[4];
    return get_if_ipaddr(if_name, addr);
}

int get_if_ipaddr(const char* if_name, uint8_t out[4]) { return if_query(if_name, SIOCGIFADDR, out); }

int get_if_netmask(const char* if_name, uint8_t out[4]) { return if_query(if_name, SIOCGIFNETMASK, out); }

}  // namespace cnxd
