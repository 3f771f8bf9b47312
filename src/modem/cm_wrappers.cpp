#include "modem/cm_wrappers.h"

#include "modem/cm_call.h"
#include "server/client.h"

namespace cnxd {

#define CM_WRAPPER(name, sdk_fn, form, result, fail_text)                                   \
    CM_RETURN_##result name(CM_PARAMS_##form)                                                \
    {                                                                                        \
        return static_cast<CM_RETURN_##result>(cm_request<sdk_fn>(#name, fail_text, CM_ARGS_##form)); \
    }
#include "modem/cm_wrappers.def"

void cm_print_cnxd_clientInfo_request()
{
    cm_enter(__func__);
    // The table goes to the daemon's log and to whoever asked, through the
    // print routine.
    cnxd_srv_dump_clients([](const char* line) { cm_printf(CM_INFO, "%s", line); });
    cm_leave(__func__);
}

int32_t cm_D2H_by_index(uint32_t index) { return D2H_by_index(hAPI, index); }
int32_t cm_D4H_by_index(uint32_t index) { return D4H_by_index(hAPI, index); }

int32_t cm_send_dm_command(std::string_view text)
{
    return LAPI_SendDMCommand(hAPI, 1, text.data(), static_cast<uint32_t>(text.size()));
}

}  // namespace cnxd
