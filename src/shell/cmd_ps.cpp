// The PS control commands written by hand: the 5G additional security
// control, by the 5G NR switch or from its parameter file.
#include <array>
#include <cstdint>
#include <cstdlib>

#include "modem/cm_wrappers.h"
#include "shell/cmd_handlers.h"
#include "shell/cmd_request.h"

namespace cnxd {

int cmd_5g_security_ctrl_request(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    if (dev == 0)
        return 0;
    switch (std::atoi(argv[2])) {
    case 0:
        cm_5g_add_security_ctrl_request(dev);
        break;
    case 1: {
        std::array<uint8_t, CM_5G_SECURITY_SIZE> rec{};
        if (cmd_make(e, e.builder, rec, argc, argv) != 0)
            return 0;
        cm_5g_add_security_ctrl_request(dev, rec);
        break;
    }
    default:
        cmd_invalid_input(e);
        return 0;
    }
    cmd_leave(e);
    return 0;
}

}  // namespace cnxd
