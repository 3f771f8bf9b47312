#include "modem/bringup.h"

#include <cstdarg>

#include "base/be.h"
#include "base/stop.h"
#include "server/delivery.h"

namespace cnxd {

uint32_t hAPI;

namespace {

constexpr uint8_t LOG_SET = 1;
constexpr uint16_t LOG_LEVEL_DEFAULT = LAPI_PRINT_ERROR | LAPI_PRINT_INFO;
// The log configuration is the SDK's own setting, not a device's.
constexpr uint32_t LOG_CONFIG_DEV = 0;

void fill_log_block(uint8_t* block, uint32_t callback_word)
{
    store_be16(block + LAPI_LOG_BLOCK_MODE, LAPI_LOG_MODE_CALLBACK);
    store_be16(block + LAPI_LOG_BLOCK_LEVEL, LOG_LEVEL_DEFAULT);
    block[LAPI_LOG_BLOCK_TIME_STAMP] = 1;
    store_be32(block + LAPI_LOG_BLOCK_CALLBACK, callback_word);
}

}  // namespace

void lte_print_callback(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    cnxd_srv_vsend_log(fmt, ap);
    va_end(ap);
}

std::array<uint8_t, LAPI_LOG_CONFIG_SIZE> default_log_config()
{
    std::array<uint8_t, LAPI_LOG_CONFIG_SIZE> rec{};
    rec[0] = LOG_SET;
    rec[1] = LOG_SET;
    const uint32_t word = sdk_addr_to_word(reinterpret_cast<const void*>(&lte_print_callback));
    fill_log_block(rec.data() + LAPI_LOG_CM_BLOCK, word);
    fill_log_block(rec.data() + LAPI_LOG_SDK_BLOCK, word);
    return rec;
}

int lte_daemon_start(const lte_bringup_steps& steps)
{
    if (LAPI_LTEAPIOpen(&hAPI) != 0) {
        cnxd_srv_send_log("LTE CM START FAILED\n");
        return -1;
    }
    cnxd_srv_send_log("***************************************\n");
    cnxd_srv_send_log("*          LTE DAEMON START           *\n");
    cnxd_srv_send_log("***************************************\n");
    online_request_set_steps(steps.online);
    steps.register_handlers(hAPI);
    if (LAPI_Initialize(hAPI) != 0) {
        LAPI_DeInitialize(hAPI);
        cnxd_srv_send_log("LAPI_Initialize fail\n");
        return -1;
    }
    auto log_config = default_log_config();
    if (LAPI_SetLogConfig(hAPI, LOG_CONFIG_DEV, log_config.data()) != 0)
        cnxd_srv_send_log("Set Default Log config failed\n");
    if (LAPI_Misc_Initialize(hAPI) != 0) {
        // The SDK stays initialised; the daemon stops before its loop.
        cnxd_srv_send_log("LAPI_Misc_Initialize fail\n");
        return -1;
    }
    steps.init_mailboxes();
    return 0;
}

void lte_daemon_stop(const lte_bringup_steps& steps)
{
    // The modem's shutdown is the daemon's stop, however its loop ended:
    // whatever still waits or runs a script (an online request thread, which
    // nothing joins) gives up before the process exits under it.
    cnxd_request_stop();
    steps.unregister_handlers(hAPI);
    // Three steps added between the unregistration and the SDK's
    // de-initialisation: they end what the indications started (DHCP
    // clients, online request waits, the watchdog's requests), which would
    // otherwise call into an SDK that is gone. No interface indication can
    // start a DHCP manager any more.
    steps.stop_network();
    online_requests_stop();
    steps.stop_watchdog();
    if (const int32_t rc = LAPI_DeInitialize(hAPI); rc != 0)
        cnxd_srv_send_log("LAPI_DeInitialize failed [%d]\n", rc);
    if (const int32_t rc = LAPI_LTEAPIClose(hAPI); rc != 0)
        cnxd_srv_send_log("LAPI_LTEAPIClose failed [%d]\n", rc);
}

}  // namespace cnxd
