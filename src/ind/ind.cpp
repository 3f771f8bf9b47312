#include "ind/ind.h"

#include <array>
#include <cstdio>

#include "server/delivery.h"

namespace cnxd {
namespace {

constexpr std::array<ind_row, 0> rows{};

constexpr bool in_order(std::span<const ind_row> tbl)
{
    for (size_t i = 0; i < tbl.size(); ++i)
        if (tbl[i].order != i + 1 || tbl[i].cb_id >= LAPI_CB_MAX)
            return false;
    return true;
}
static_assert(in_order(rows), "rows are numbered 1, 2, ... in registration order, with valid ids");

// The SDK takes every handler as LAPI_CALLBACK and calls the other forms
// back in their own form (see ltesdk.h).
LAPI_CALLBACK as_sdk_callback(const ind_handler& h)
{
    return std::visit(
        [](auto fn) { return reinterpret_cast<LAPI_CALLBACK>(reinterpret_cast<void (*)()>(fn)); }, h);
}

void trace(uint32_t handle, const char* fmt, const char* name)
{
    char line[64];
    std::snprintf(line, sizeof line, fmt, name);
    LAPI_Printf(handle, LAPI_PRINT_TRACE, line);
}

}  // namespace

const std::span<const ind_row> ind_callback_tbl{rows};

void ind_register(uint32_t handle)
{
    for (const ind_row& row : ind_callback_tbl)
        if (LAPI_RegisterCallbackResponse(handle, row.cb_id, as_sdk_callback(row.handler), 0) != 0)
            cnxd_srv_send_log("%s registration failed\n", row.name);
}

void ind_unregister(uint32_t handle)
{
    trace(handle, "[%s+]\n", __func__);
    if (LAPI_AllCallbackUnRegister(handle) != 0)
        cnxd_srv_send_log("LAPI_AllCallbackUnRegister fail\n");
    trace(handle, "[%s-]\n", __func__);
}

}  // namespace cnxd
