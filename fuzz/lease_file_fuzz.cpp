// A DHCP lease file as the DHCP client left it: the newest lease's renew,
// rebind and expire times and its addresses.
#include <cstddef>
#include <cstdint>
#include <span>

#include "net/lease_file.h"
#include "support/check.h"
#include "support/sysroot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr int sid = 1;
    const std::string path = cnxd::dhcp_file(cnxd::DHCP_LEASE_FILE, sid);
    cnxd::fuzz::write_root_file(path.c_str(), std::span<const uint8_t>(data, size));
    for (const char* keyword : {"renew ", "rebind ", "expire "}) {
        const long diff = cnxd::get_latest_lease_timediff(sid, keyword);
        cnxd::fuzz::expect(diff >= -cnxd::LEASE_TIMEDIFF_MAX && diff <= cnxd::LEASE_TIMEDIFF_MAX,
                           "time differences stay bounded");
    }
    uint8_t ip[4], mask[4], router[4], dns1[4], dns2[4];
    int32_t lease_time = 0;
    cnxd::get_dhcplease(sid, ip, mask, router, &lease_time, dns1, dns2);
    return 0;
}
