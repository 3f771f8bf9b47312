#include "msgclient.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/be.h"
#include "base/path.h"
#include "base/unix_addr.h"

namespace {

constexpr const char* MSGSRV_DIR = "/var/run/msgsrv/";

}  // namespace

// A handle is the descriptor of a datagram socket connected to the
// daemon's socket.
extern "C" int common_client_init(const char* name, int /*mode*/, int /*flags*/, int /*max_len*/)
{
    sockaddr_un addr;
    if (!name || !*name || std::strchr(name, '/') ||
        !cnxd::make_unix_addr(cnxd::cnxd_path(std::string(MSGSRV_DIR) + name), &addr))
        return -1;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

extern "C" int common_client_send_hci(int handle, uint16_t id, const void* payload, uint16_t len)
{
    if (handle < 0 || (len && !payload))
        return -1;
    std::vector<uint8_t> msg(4 + len);
    cnxd::store_be16(msg.data(), id);
    cnxd::store_be16(msg.data() + 2, len);
    if (len)
        std::memcpy(msg.data() + 4, payload, len);
    return send(handle, msg.data(), msg.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(msg.size()) ? 0 : -1;
}

extern "C" void common_client_exit(int handle)
{
    if (handle >= 0)
        close(handle);
}
