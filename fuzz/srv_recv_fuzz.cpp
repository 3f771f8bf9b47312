// A datagram from a connected client on its own socket: receive and
// dispatch by frame id (API request, command line, keep-alive answer,
// disconnection, relay to the other connected clients).
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/be.h"
#include "server/client.h"
#include "server/hci.h"
#include "support/server_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Command-line frames run shell commands (programs, the repeating test
    // job's thread): they have a target of their own that keeps to the
    // commands that are safe to run here. Skip them.
    if (size >= 2 && cnxd::load_be16(data) == cnxd::HCI_CLI_COMMAND)
        return 0;
    auto& rig = cnxd::fuzz::ServerRig::get();
    for (int i = 1; i < cnxd::fuzz::ServerRig::PEERS; ++i)
        rig.client(i);
    cnxd::cnxd_client_rec* sender = rig.client(0);
    if (rig.send_from_peer(0, std::span<const uint8_t>(data, size)))
        cnxd::cnxd_srv_recv(&sender->esock);
    rig.settle();
    return 0;
}
