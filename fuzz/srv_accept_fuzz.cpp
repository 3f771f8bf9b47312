// A datagram on the server socket: the open handshake of a new client, or a
// frame that is no open request at all.
#include <cstddef>
#include <cstdint>
#include <span>

#include "server/client.h"
#include "support/server_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto& rig = cnxd::fuzz::ServerRig::get();
    if (rig.send_to_server(std::span<const uint8_t>(data, size)))
        cnxd::cnxd_srv_accept(rig.server());
    rig.settle();
    return 0;
}
