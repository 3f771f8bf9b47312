#include "modem/change_notification.h"

#include <sys/uio.h>

#include "base/be.h"
#include "modem/cm_printf.h"
#include "server/delivery.h"

namespace cnxd {
namespace {

constexpr uint16_t EVT_AIRPLANE_CHANGE = 166;
constexpr uint16_t EVT_CAMODE_CHANGE = 167;
constexpr uint16_t EVT_ROAM_ALLOW_CHANGE = 168;

// Prints the change and forwards device index and value to the clients.
void change_notification(const char* name, const char* title, const char* label, uint16_t event,
                         uint32_t dev, const uint8_t* value)
{
    cm_printf(CM_TRACE, "[%s+]\n", name);
    cnxd_srv_send_log(title, static_cast<int>(dev));
    cnxd_srv_send_log(label, *value);
    uint8_t dev_be[4];
    store_be32(dev_be, dev);
    uint8_t byte = *value;
    iovec pieces[3] = {{nullptr, 0}, {dev_be, sizeof dev_be}, {&byte, 1}};
    cnxd_srv_send_sdk_cb_assemble_hci(event, pieces, 3);
}

}  // namespace

void airplane_change_notification(uint32_t dev, const uint8_t* value)
{
    change_notification("airplane_change_notification", "\nAIRPLANE CHANGE INDICATION(DEV_IDX(%d))\n",
                        "Airplane Mode : %d\n", EVT_AIRPLANE_CHANGE, dev, value);
}

void camode_change_notification(uint32_t dev, const uint8_t* value)
{
    change_notification("camode_change_notification", "\nCA MODE CHANGE INDICATION(DEV_IDX(%d))\n",
                        "CA Mode : %d\n", EVT_CAMODE_CHANGE, dev, value);
}

void roam_allow_change_notification(uint32_t dev, const uint8_t* value)
{
    change_notification("roam_allow_change_notification", "\nROAM ALLOW CHANGE INDICATION(DEV_IDX(%d))\n",
                        "ROAM ALLOW : %d\n", EVT_ROAM_ALLOW_CHANGE, dev, value);
}

}  // namespace cnxd
