// Bodies of the informational indications, and the two handlers of the
// SDK's other callback forms.
#include <algorithm>
#include <string>

#include "base/be.h"
#include "base/shell.h"
#include "ind/ind_body.h"
#include "modem/cm_printf.h"
#include "dm/dm_report.h"
#include "server/delivery.h"
#include "shell/dispatcher.h"
#include "shell/log_direction.h"

namespace cnxd {
namespace {

// Debug print record: the output as an address word and a 32-bit length.
constexpr size_t DBG_ADDR = 0;
constexpr size_t DBG_LEN = 4;

// Host-debug command record: a 32-bit length, then the command text.
constexpr size_t HOST_DBG_LEN = 0;
constexpr size_t HOST_DBG_TEXT = 4;
// The modem's console takes lines shorter than this, with their NUL.
constexpr size_t HOST_DBG_LINE_SIZE = 1024;

constexpr uint16_t UICC_ACTIVATE_EVENT = 125;
constexpr uint16_t UICC_DEACTIVATE_EVENT = 126;

}  // namespace

// Registered for both activate and deactivate; the status byte tells them
// apart (a missing byte counts as 0).
ind_next ind_body_uicc_activeate_ind(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    const uint8_t status = rec.empty() ? 0 : rec[0];
    call.event = status ? UICC_ACTIVATE_EVENT : UICC_DEACTIVATE_EVENT;
    return ind_next::forward;
}

ind_next ind_body_debug_print_to_host(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    // The output lies where the record's address word points, inside the
    // record; a frame carries at most IND_FWD_ROOM bytes of it.
    const auto chunk = ind_record_chunk(rec, DBG_ADDR, DBG_LEN);
    iovec out{const_cast<uint8_t*>(chunk.data()), std::min<size_t>(chunk.size(), IND_FWD_ROOM)};
    call.forward(std::span<const iovec>(&out, out.iov_len ? 1 : 0));
    return ind_next::done;
}

// A DM report with result 0 (and its whole header) is printed into dm.log,
// then forwarded.
ind_next ind_body_dm_log_response(ind_call& call)
{
    call.title();
    if (call.record().size() >= 4 && load_be16(call.record(), 0) == 0)
        print_dm_msg(call.dev_idx(), call.record());
    return ind_next::forward;
}

ind_next ind_body_dm_log_ext_response(ind_call& call)
{
    call.title();
    if (call.record().size() >= 8 && load_be16(call.record(), 0) == 0)
        print_dm_ext_msg(call.dev_idx(), call.record());
    return ind_next::forward;
}

// A command line the modem sends up: "!..." runs on the router; any other
// line goes to the command shell and, when the shell does not take it, back
// to the modem's console.
ind_next ind_body_host_dbg_cli_cmd_indication(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    if (rec.size() < HOST_DBG_TEXT)
        return ind_next::done;
    // The length word is the modem's; the text is never read past the record.
    const size_t len = std::min<size_t>(load_be32(rec, HOST_DBG_LEN), rec.size() - HOST_DBG_TEXT);
    const auto text = rec.subspan(HOST_DBG_TEXT, len);
    std::string line(text.begin(), text.end());
    line.resize(std::min(line.find('\0'), line.size()));
    if (line.starts_with('!')) {
        cnxd_system(std::string_view(line).substr(1));
        return ind_next::done;
    }
    // A line that would not fit the console's buffer with its NUL is dropped
    // rather than cut: a cut command could do something else.
    if (len >= HOST_DBG_LINE_SIZE) {
        cnxd_srv_send_log("host debug command too long (%u bytes)\n", static_cast<unsigned>(len));
        return ind_next::done;
    }
    cmd_offer_line(std::string_view(reinterpret_cast<const char*>(text.data()), len));
    return ind_next::done;
}

void ind_ascii_from_device_indication(uint32_t dev_idx, uint16_t msg_type, char* text)
{
    cm_printf(CM_TRACE, "[%s+]\n", __func__);
    cnxd_srv_send_log("\nASCII FROM DEVICE INDICATION(DEV_IDX(%d))\n", static_cast<int>(dev_idx));
    cnxd_srv_send_log("Message Type : %d\n", msg_type);
    if (text)
        cnxd_srv_send_log("Message : %s\n", text);
    cm_printf(CM_TRACE, "[%s-]\n", __func__);
}

// The modem console's output, routed by the modem log direction.
void ind_cli_cmd_rsp(uint32_t unused, char* text, uint32_t len)
{
    cm_printf(CM_TRACE, "[%s+]\n", __func__);
    cli_cmd_rsp_route(unused, text, len);
    cm_printf(CM_TRACE, "[%s-]\n", __func__);
}

}  // namespace cnxd
