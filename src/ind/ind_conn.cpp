// Bodies of the connection and interface indications: the device arriving
// and leaving, protocol-stack initialisation and online, attach, detach,
// PDN connections and the data interfaces.
#include <algorithm>
#include <array>

#include "base/be.h"
#include "ind/ind_body.h"
#include "modem/cm_wrappers.h"
#include "modem/device.h"
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

}  // namespace

ind_next ind_body_reset_response(ind_call& call)
{
    call.title();
    cnxd_srv_send_log("System is going to reset now\n");
    return ind_next::forward;
}

// Device insert -> crash log request -> crash log result -> protocol-stack
// initialisation -> its response -> online request: the chain that brings
// an inserted modem on line, while the device is not initialised.
ind_next ind_body_dev_insert(ind_call& call)
{
    call.title();
    cm_get_crash_log_request(call.dev_idx());
    set_init_complete(call.dev_idx(), 0);
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
    if (get_init_complete(call.dev_idx()) == 0)
        cm_ps_init_request(call.dev_idx());
    return ind_next::done;
}

ind_next ind_body_ps_init_response(ind_call& call)
{
    call.title();
    cnxd_srv_send_log("Result : %d\n", static_cast<int32_t>(load_be32(call.record(), 0)));
    // The first-time sequence (protocol information, settings, the online
    // request thread that marks the device initialised) starts here; so far
    // the online request alone.
    if (get_init_complete(call.dev_idx()) == 0)
        cm_online_request(call.dev_idx());
    return ind_next::forward;
}

}  // namespace cnxd
