// The PLMN selection commands written by hand: roaming allowed and the
// extended search with the web page's settings.
#include <array>
#include <cstdint>
#include <cstdlib>

#include "modem/change_notification.h"
#include "modem/cm_printf.h"
#include "modem/cm_wrappers.h"
#include "nv.h"
#include "shell/cmd_handlers.h"
#include "shell/cmd_request.h"

namespace cnxd {
namespace {

// The web page's LTE settings keep the extended search record in NV item
// 2 from its start; the command sends it as saved. Which item holds it is
// ours to choose: nothing else of the daemon uses that item.
constexpr int SEARCH_EXT_ITEM = 2;
constexpr size_t SEARCH_EXT_SIZE = 16;

}  // namespace

int cmd_plmn_search_ext_request(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    if (dev == 0)
        return 0;
    std::array<uint8_t, SEARCH_EXT_SIZE> rec{};
    if (nv_read(SEARCH_EXT_ITEM, rec.data(), 0, static_cast<int>(rec.size())) != static_cast<int>(rec.size())) {
        cm_printf(CM_ERR, "[%-25s] LTE settings read fail\n", e.name);
        return 0;
    }
    cm_plmn_search_ext_request(dev, rec.data());
    cmd_leave(e);
    return 0;
}

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
