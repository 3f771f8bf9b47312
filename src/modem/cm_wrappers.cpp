#include "modem/cm_wrappers.h"

#include "modem/cm_call.h"
#include "server/client.h"

namespace cnxd {

#define CM_WRAPPER(name, sdk_fn, form, result, fail_text)                                          \
    CM_RETURN_##result name(CM_PARAMS_##form)                                                       \
    {                                                                                               \
        constexpr cm_sdk_fn sdk{#sdk_fn, lapi_size::sdk_fn.request};                                 \
        return static_cast<CM_RETURN_##result>(cm_request<sdk_fn>(sdk, #name, fail_text, CM_ARGS_##form)); \
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
    // The modem's console is its own party in a capture: the line as sent
    // (a terminating NUL, when sent, included).
    capture({.kind = capture_kind::console_line, .index = 1, .bytes = capture_text(text)});
    const int32_t rc = LAPI_SendDMCommand(hAPI, 1, text.data(), static_cast<uint32_t>(text.size()));
    cm_capture(cm_sdk_fn{"LAPI_SendDMCommand", 0}, rc, uint32_t{1});
    return rc;
}

}  // namespace cnxd
