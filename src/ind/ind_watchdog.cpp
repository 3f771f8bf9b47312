#include "ind/ind_watchdog.h"

#include "ind/ind_body.h"
#include "server/delivery.h"
#include "watchdog/watchdog.h"

namespace cnxd {

void ind_watchdog_start()
{
    int enable = 0;
    lte_watchdog_is_enable(&enable);
    if (!enable) {
        cnxd_srv_send_log("WTD: ind_watchdog_start__Cancel[Watchdog Disabled]\n");
        return;
    }
    cnxd_srv_send_log("WTD: ind_watchdog_start\n");
    wtd_print_date();
    lte_watchdog_start();
}

void ind_watchdog_stop()
{
    cnxd_srv_send_log("WTD: ind_watchdog_stop\n");
    lte_watchdog_stop();
}

void ind_watchdog_off() { lte_watchdog_AllOff(); }

void ind_watchdog_init()
{
    cnxd_srv_send_log("ind_watchdog_init()\r\n");
    lte_watchdog_init();
}

// A watchdog response re-arms the expiry timer of a running watchdog.
ind_next ind_body_watchdog_response(ind_call& call)
{
    call.title();
    if (lte_watchdog_is_running())
        lte_watchdog_kick();
    return ind_next::forward;
}

}  // namespace cnxd
