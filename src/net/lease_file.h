// The DHCP client's files of one sid under /var/tmp (its pid file and its
// lease file), and what the daemon reads back from a lease file: the time
// left until the newest lease's renew, rebind and expire moments, and the
// addresses of the lease.
#pragma once

#include <cstdint>
#include <string>

namespace cnxd {

constexpr const char* DHCP_FILE_DIR = "/var/tmp";
constexpr const char* DHCP_PID_FILE = "dhclient.pid";
constexpr const char* DHCP_LEASE_FILE = "dhclient.leases";

// "/var/tmp/<base>.<sid>" in router form (callers map it with cnxd_path).
std::string dhcp_file(const char* base, int sid);

// Text of the DHCP subsystem for standard output, flushed at once so that
// it shows in a redirected log as it happens.
void dhcp_print(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Bound of every time difference, in seconds (34 years): absurd dates in a
// lease file stay far from overflowing the manager's 32-bit time words.
constexpr long LEASE_TIMEDIFF_MAX = 1L << 30;

// Seconds from now to the moment `keyword` ("renew ", "rebind ",
// "expire ") names in the newest lease of `sid`'s lease file, negative when
// it is past; 0 when the file is missing, empty or holds no such time.
long get_latest_lease_timediff(int sid, const char* keyword);

// Reads the newest values of `sid`'s lease file into the outputs that are
// not null (addresses 4 bytes, first number first). Returns 1 when the file
// was read, -1 when it does not exist.
int get_dhcplease(int sid, uint8_t* ipaddr, uint8_t* netmask, uint8_t* router, int32_t* lease_time,
                  uint8_t* dns1, uint8_t* dns2);

}  // namespace cnxd
