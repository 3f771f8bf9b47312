// The Unix-domain address of a socket path, shared by the daemon's server
// and the client library.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <string_view>

namespace cnxd {

// Fills `addr` with `path` (already mapped onto the sysroot); false when the
// path does not fit, and then `addr` holds no path.
inline bool make_unix_addr(std::string_view path, sockaddr_un* addr)
{
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    if (path.size() >= sizeof addr->sun_path)
        return false;
    std::memcpy(addr->sun_path, path.data(), path.size());
    return true;
}

}  // namespace cnxd
