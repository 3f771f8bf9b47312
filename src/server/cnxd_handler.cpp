#include "server/cnxd_handler.h"

#include <cstdio>

#include "ltesdk.h"
#include "server/sem.h"

namespace cnxd {

int cnxd_handler(cnxd_client_rec* client, std::span<const uint8_t> request)
{
    const bool trace = cnxd_api_flags & 1;
    if (trace) {
        std::printf("cnxd_api call Enter client_semid(%d), cliient_index(%d), client_id(%d)\n",
                    client->semid, client->idx, static_cast<int>(client->identity));
        std::printf("cnxd_api call cmd_evt (0x%04x),\n", load_be16(request, API_REQ_CMD));
    }
    ready_sem(client->semid);
    if (trace)
        std::printf("cnxd_api call sem_ready done.\n");
    store_be32(client->shm + shm::RESULT, 0);

    // The command table arrives with the request dispatch; until then every
    // command is unknown and completes with result 0.
    sdk_log(3, "Unknown HCI (0x%x)", load_be16(request, API_REQ_CMD));

    release_sem(client->semid);
    if (trace)
        std::printf("cnxd_api call Leave\n");
    return 0;
}

int cnxd_cli_command_handler(cnxd_client_rec* client, const HciFrame& frame)
{
    sdk_log(6, "[CLIENT %d] command line of %zu bytes (no shell yet)", client->idx,
            frame.payload.size());
    return 0;
}

}  // namespace cnxd
