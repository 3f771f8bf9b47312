// The payload of an API request (command id, length, device index, data),
// handed straight to the request handler of a connected client. Whatever a
// request holds, it ends with exactly one completion; the first input also
// cuts every listed command inside its header and first words.
#include <sys/sem.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "api/cnxd_handler.h"
#include "base/be.h"
#include "server/hci.h"
#include "support/check.h"
#include "support/server_rig.h"

namespace {

void serve(std::span<const uint8_t> payload)
{
    auto& rig = cnxd::fuzz::ServerRig::get();
    cnxd::cnxd_client_rec* client = rig.client(0);
    cnxd::cnxd_handler(client, payload);
    cnxd::fuzz::expect(semctl(client->semid, cnxd::SEM_BUSY, GETVAL) == 0, "the busy semaphore is free");
    cnxd::fuzz::expect(semctl(client->semid, cnxd::SEM_DONE, GETVAL) == 1, "exactly one completion");
    rig.settle();
}

bool cut_every_command()
{
    for (unsigned id = 0; id <= 0xffff; ++id) {
        if (!cnxd::api_cmd_name(static_cast<uint16_t>(id)))
            continue;
        for (size_t n = 0; n <= cnxd::API_REQ_DATA + 4; ++n) {
            std::vector<uint8_t> payload(n, 0xff);
            if (n >= 2)
                cnxd::store_be16(payload.data(), static_cast<uint16_t>(id));
            serve(payload);
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool swept = cut_every_command();
    (void)swept;
    serve({data, size});
    return 0;
}
