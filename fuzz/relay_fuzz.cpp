// The payload of a relay frame (target identity, broadcast flag, inner
// frame), handed straight to the relay handler with other clients connected.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "server/client.h"
#include "support/server_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto& rig = cnxd::fuzz::ServerRig::get();
    for (int i = 1; i < cnxd::fuzz::ServerRig::PEERS; ++i)
        rig.client(i);
    cnxd::cnxd_client_rec* sender = rig.client(0);
    cnxd::HciFrame frame;
    frame.id = cnxd::HCI_CLIENT_RELAY;
    frame.len = static_cast<uint16_t>(std::min<size_t>(size, 0xFFFF));
    frame.payload = std::span<const uint8_t>(data, frame.len);
    cnxd::clnt_req_hci_to_client(sender, frame);
    rig.settle();
    return 0;
}
