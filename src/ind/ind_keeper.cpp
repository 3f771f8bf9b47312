// What the connection keeper hears of the indications: the facts it keeps
// per device, read from the records whose layouts this folder knows.
#include <cstdint>
#include <span>

#include "base/be.h"
#include "if_record.h"
#include "ind/ind_body.h"
#include "ind/ind_print.h"
#include "keeper/keeper.h"

namespace cnxd {
namespace {

// Where the keeper's value sits in a record; NO_VALUE: it takes none.
constexpr size_t NO_VALUE = SIZE_MAX;

struct keeper_row {
    uint32_t cb_id;
    keeper_fact fact;
    size_t value_at;  // a 16-bit field
};

constexpr keeper_row keeper_rows[] = {
    {2, keeper_fact::attach_answer, pdn_rsp::RESULT},       // ATTACH RESPONSE
    {3, keeper_fact::attach_answer, pdn_rsp::RESULT},       // ATTACH RESPONSE EXTENSION
    {4, keeper_fact::detach_answer, NO_VALUE},              // DETACH RESPONSE
    {6, keeper_fact::connect_answer, pdn_rsp::EPS_ID},      // PDN CONNECTIVITY RESPONSE
    {7, keeper_fact::connect_answer, pdn_rsp::EPS_ID},      // PDN CONNECTIVITY RESPONSE EXTENSION
    {8, keeper_fact::disconnect_answer, pdn_rsp::EPS_ID},   // PDN DISCONNECT RESPONSE
    {75, keeper_fact::device_change, NO_VALUE},             // LTE DEVICE INSERT
    {76, keeper_fact::device_change, NO_VALUE},             // LTE DEVICE REMOVE
    {77, keeper_fact::interface_ready, ifrec::EPS_BEARER},  // INTERFACE READY INDICATION
    {78, keeper_fact::interface_release, ifrec::EPS_BEARER},  // INTERFACE RELEASE INDICATION
};

}  // namespace

void ind_tell_keeper(uint32_t dev_idx, uint32_t cb_id, std::span<const uint8_t> record)
{
    for (const keeper_row& r : keeper_rows) {
        if (r.cb_id != cb_id)
            continue;
        // A record too short for its value (an attach answer without a
        // result) tells nothing.
        if (r.value_at != NO_VALUE && r.value_at + 2 > record.size())
            return;
        keeper_heard(dev_idx, r.fact, r.value_at == NO_VALUE ? 0 : load_be16(record, r.value_at));
        return;
    }
}

}  // namespace cnxd
