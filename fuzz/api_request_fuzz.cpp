// The payload of an API request (command id, length, device index, data),
// handed straight to the request handler of a connected client.
#include <cstddef>
#include <cstdint>
#include <span>

#include "api/cnxd_handler.h"
#include "support/server_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto& rig = cnxd::fuzz::ServerRig::get();
    cnxd::cnxd_handler(rig.client(0), std::span<const uint8_t>(data, size));
    rig.settle();
    return 0;
}
