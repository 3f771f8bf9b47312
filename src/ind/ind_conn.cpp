// Bodies of the connection and interface indications: the device arriving
// and leaving, protocol-stack initialisation and online, attach, detach,
// PDN connections and the data interfaces.
#include <algorithm>

#include "base/be.h"
#include "ind/ind_body.h"
#include "modem/bringup.h"
#include "server/delivery.h"

namespace cnxd {
namespace {

// Crash log result record: flag byte (0: last chunk), then the chunk as an
// address word and a 32-bit length.
constexpr size_t CRASH_FLAG = 0;
constexpr size_t CRASH_ADDR = 1;
constexpr size_t CRASH_LEN = 5;
// The chunk bytes forwarded with a crash log result.
constexpr uint32_t CRASH_FWD_CHUNK = 4;

void request_failed(const char* request, int32_t rc)
{
    cnxd_srv_send_log("%s fail [%d]\n", request, rc);
}

}  // namespace

ind_next ind_body_reset_response(ind_call& call)
{
    call.title();
    cnxd_srv_send_log("System is going to reset now\n");
    return ind_next::forward;
}

// Device insert -> crash log request -> crash log result -> protocol-stack
// initialisation -> its response -> online request: the chain that brings
// an inserted modem on line.
ind_next ind_body_dev_insert(ind_call& call)
{
    call.title();
    if (const int32_t rc = LAPI_GetCrashLogRequest(hAPI, call.dev_idx()); rc != 0)
        request_failed("LAPI_GetCrashLogRequest", rc);
    return ind_next::forward;
}

ind_next ind_body_get_crash_log_result(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    // Pieces: the flag byte and the first bytes of the chunk, each only as
    // far as the record and the chunk go.
    std::array<iovec, 2> pieces{};
    size_t count = 0;
    if (rec.size() > CRASH_FLAG)
        pieces[count++] = {const_cast<uint8_t*>(rec.data() + CRASH_FLAG), 1};
    if (void* chunk = sdk_word_to_addr(load_be32(rec, CRASH_ADDR)))
        pieces[count++] = {chunk, std::min(load_be32(rec, CRASH_LEN), CRASH_FWD_CHUNK)};
    call.forward(std::span(pieces.data(), count));
    if (const int32_t rc = LAPI_PSInitRequest(hAPI, call.dev_idx()); rc != 0)
        request_failed("LAPI_PSInitRequest", rc);
    return ind_next::done;
}

ind_next ind_body_ps_init_response(ind_call& call)
{
    call.title();
    cnxd_srv_send_log("Result : %d\n", static_cast<int32_t>(load_be32(call.record(), 0)));
    if (const int32_t rc = LAPI_OnlineRequest(hAPI, call.dev_idx()); rc != 0)
        request_failed("LAPI_OnlineRequest", rc);
    return ind_next::forward;
}

}  // namespace cnxd
