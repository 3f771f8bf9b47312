// The NV commands: an item asked back from the modem or sent to it from
// its file.
#include <cstdlib>

#include "download/download.h"
#include "shell/cmd_handlers.h"
#include "shell/cmd_request.h"

namespace cnxd {
namespace {

int nv_transfer(int argc, char** argv, int (*transfer)(uint32_t dev, int item))
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    if (dev == 0)
        return 0;
    transfer(dev, std::atoi(argv[2]));
    cmd_leave(e);
    return 0;
}

}  // namespace

int cmd_nv_upload(int argc, char** argv) { return nv_transfer(argc, argv, cm_nv_upload); }

int cmd_nv_download(int argc, char** argv) { return nv_transfer(argc, argv, cm_nv_download); }

}  // namespace cnxd
