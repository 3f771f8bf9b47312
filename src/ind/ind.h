// Registration of the indication handlers with the LTE SDK: one table of
// rows, read by registration (and by the tests).
#pragma once

#include <cstdint>
#include <span>
#include <variant>

#include "ltesdk.h"

namespace cnxd {

// A handler in the form its callback id is delivered in.
using ind_handler = std::variant<LAPI_CALLBACK, LAPI_ASCII_CALLBACK, LAPI_CLI_RSP_CALLBACK>;

// Event code of a handler that forwards nothing to the clients.
constexpr int32_t IND_EVENT_NONE = -1;

// How much of the record a handler forwards after the device index.
struct ind_fwd_len {
    enum kind : uint8_t { none, fixed, rule };
    kind how = none;       // none: the device index alone
    uint32_t bytes = 0;    // fixed: this many bytes of the record
    uint32_t (*of)(std::span<const uint8_t> record) = nullptr;  // rule: computed
};

struct ind_row {
    uint16_t order;       // registration order, 1-based
    uint16_t cb_id;       // SDK callback id
    const char* name;     // the handler's name, for the logs
    ind_handler handler;
    int32_t event;        // forwarded event code, or IND_EVENT_NONE
    ind_fwd_len fwd;
};

// The callback table, in registration order.
extern const std::span<const ind_row> ind_callback_tbl;

// Registers every row with LAPI_RegisterCallbackResponse(handle, id,
// handler, 0); a failed row is logged and the next one goes on.
void ind_register(uint32_t handle);
// Drops every registration (LAPI_AllCallbackUnRegister).
void ind_unregister(uint32_t handle);

}  // namespace cnxd
