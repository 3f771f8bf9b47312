// The PLMN selection commands written by hand: roaming allowed.
#include <cstdint>
#include <cstdlib>

#include "modem/change_notification.h"
#include "modem/cm_printf.h"
#include "shell/cmd_handlers.h"
#include "shell/cmd_request.h"

namespace cnxd {

int cmd_roamallow(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    if (dev == 0)
        return 0;
    const int value = std::atoi(argv[2]);
    if (value != 0 && value != 1) {
        cm_printf(CM_ERR, "[%-25s] Invalid 2nd param value [%d]\n", e.name, value);
        return 0;
    }
    const auto allowed = static_cast<uint8_t>(value);
    roam_allow_change_notification(dev, &allowed);
    cmd_leave(e);
    return 0;
}

}  // namespace cnxd
