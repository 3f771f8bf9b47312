#include "server/keepalive.h"

namespace cnxd {

int cnxd_keep_alive_rsp(cnxd_client_rec* client, const HciFrame&)
{
    if (client->taken())
        client->ka_miss = 0;
    return 0;
}

}  // namespace cnxd

namespace cnxd {

// The probe pass runs here once the keep-alive settings can be read.
void cnxd_keep_alive_start() {}

void cnxd_keep_alive_stop() {}

}  // namespace cnxd
