#include "ind/ind.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>

#include "base/be.h"
#include "base/capture.h"
#include "base/fd.h"
#include "base/path.h"
#include "ind/ind_body.h"
#include "ind/ind_layout.h"
#include "lapi_size.h"
#include "modem/cm_printf.h"
#include "server/delivery.h"

namespace cnxd {
namespace {

#define IND(order, id, name, event, fwd, title, body) ind_row{order, id, #name, &name, event, fwd, title, body},
#define IND_AGAIN IND
#define IND_OTHER(order, id, name) ind_row{order, id, #name, &name, IND_EVENT_NONE, ind_nothing, nullptr, nullptr},
constexpr ind_row rows[] = {
#include "ind/ind.def"
};

constexpr size_t IND_REGISTRATIONS = 170;
static_assert(std::size(rows) == IND_REGISTRATIONS);

constexpr bool in_order(std::span<const ind_row> tbl)
{
    for (size_t i = 0; i < tbl.size(); ++i)
        if (tbl[i].order != i + 1 || tbl[i].cb_id >= LAPI_CB_MAX)
            return false;
    return true;
}
static_assert(in_order(rows), "rows are numbered 1, 2, ... in registration order, with valid ids");

constexpr bool ids_unique(std::span<const ind_row> tbl)
{
    std::array<bool, LAPI_CB_MAX> seen{};
    for (const ind_row& r : tbl) {
        if (seen[r.cb_id])
            return false;
        seen[r.cb_id] = true;
    }
    return true;
}
static_assert(ids_unique(rows), "one row per SDK callback id");

// A row forwards exactly when it has a 16-bit event. (Events 175 and 177
// have no subscription word: no client can ask for them.)
constexpr bool events_forwardable(std::span<const ind_row> tbl)
{
    for (const ind_row& r : tbl) {
        const bool none = r.event == IND_EVENT_NONE;
        if (none != (r.fwd.how == ind_fwd_len::nothing))
            return false;
        if (!none && (r.event < 0 || r.event > 0xffff))
            return false;
    }
    return true;
}
static_assert(events_forwardable(rows), "events match their forward column");

// The fixed forward lengths are the SDK's record sizes (lapi_cb.def), both
// ways: a row of a fixed length or of the device index alone has its
// callback's size there (0 for the index alone), and every size there is
// such a row's.
constexpr bool fixed_by_sdk(const ind_row& r)
{
    return r.fwd.how == ind_fwd_len::fixed || r.fwd.how == ind_fwd_len::index_only;
}

constexpr bool rows_sized_by_sdk(std::span<const ind_row> tbl)
{
    for (const ind_row& r : tbl) {
        const int32_t sdk = lapi_cb_record_size(r.cb_id);
        if (fixed_by_sdk(r) != (sdk != LAPI_CB_SIZE_VARIES))
            return false;
        if (fixed_by_sdk(r) && static_cast<uint32_t>(sdk) != (r.fwd.how == ind_fwd_len::fixed ? r.fwd.bytes : 0))
            return false;
    }
    return true;
}
static_assert(rows_sized_by_sdk(rows), "each fixed forward length is its callback's size in lapi_cb.def");

struct sdk_size {
    uint32_t cb_id;
    int32_t bytes;
};
#define LAPI_CB(id, size) sdk_size{id, size},
constexpr sdk_size sdk_sizes[] = {
#include "lapi_cb.def"
};

constexpr bool sdk_sizes_have_rows(std::span<const ind_row> tbl)
{
    for (const sdk_size& s : sdk_sizes) {
        const auto row = std::ranges::find(tbl, s.cb_id, &ind_row::cb_id);
        if (row == tbl.end() || !fixed_by_sdk(*row) || lapi_cb_record_size(s.cb_id) != s.bytes)
            return false;
    }
    return true;
}
static_assert(sdk_sizes_have_rows(rows), "each size of lapi_cb.def is a row's fixed forward length");

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

// The common shape of every usual-form handler.
void ind_run(const ind_row& row, uint32_t dev_idx, const void* data, uint32_t len)
{
    cm_printf(CM_TRACE, "[%s+]\n", row.name);
    ind_call call(row, dev_idx, data, len);
    capture({.kind = capture_kind::indication,
             .index = static_cast<uint16_t>(dev_idx),
             .a = row.cb_id,
             .b = static_cast<uint32_t>(row.event),
             .name = row.name,
             .bytes = call.record()});
    ind_tell_keeper(dev_idx, row.cb_id, call.record());
    ind_next next = ind_next::forward;
    if (row.body) {
        next = row.body(call);
    } else {
        call.title();
        record_print(cnxd_srv_send_log, ind_layout(row.cb_id), call.record());
    }
    if (next == ind_next::quiet)
        return;
    if (next == ind_next::forward)
        call.forward();
    cm_printf(CM_TRACE, "[%s-]\n", row.name);
}

uint32_t clamp_u32(uint64_t v)
{
    return static_cast<uint32_t>(std::min<uint64_t>(v, std::numeric_limits<uint32_t>::max()));
}

}  // namespace

const std::span<const ind_row> ind_callback_tbl{rows};

// ---- Handlers -------------------------------------------------------------

#define IND(order, id, name, event, fwd, title, body) \
    void name(uint32_t dev_idx, void* data, uint32_t len) { ind_run(rows[(order) - 1], dev_idx, data, len); }
#define IND_AGAIN(order, id, name, event, fwd, title, body)
#define IND_OTHER(order, id, name)
#include "ind/ind.def"

// ---- One call ---------------------------------------------------------------

ind_call::ind_call(const ind_row& row, uint32_t dev_idx, const void* data, uint32_t len)
    : event(static_cast<uint16_t>(row.event)),
      row_(row),
      dev_idx_(dev_idx),
      record_(data ? std::span<const uint8_t>(static_cast<const uint8_t*>(data), len) : std::span<const uint8_t>())
{
}

void ind_call::title() const
{
    cnxd_srv_send_log("\n%s(DEV_IDX(%d))\n", row_.title, static_cast<int>(dev_idx_));
}

void ind_call::forward() const
{
    if (row_.fwd.how == ind_fwd_len::nothing)
        return;
    const uint32_t n = ind_forward_len(row_, record_);
    const iovec rec{const_cast<uint8_t*>(record_.data()), n};
    forward(n ? std::span<const iovec>(&rec, 1) : std::span<const iovec>());
}

void ind_call::forward(std::span<const iovec> pieces) const
{
    if (row_.fwd.how == ind_fwd_len::nothing)
        return;
    uint8_t dev_be[4];
    store_be32(dev_be, dev_idx_);
    std::array<iovec, 4> gather{};
    gather[1] = {dev_be, sizeof dev_be};
    const size_t extra = std::min(pieces.size(), gather.size() - 2);
    std::copy_n(pieces.begin(), extra, gather.begin() + 2);
    cnxd_srv_send_sdk_cb_assemble_hci(event, gather.data(), static_cast<int>(2 + extra));
}

uint32_t ind_forward_len(const ind_row& row, std::span<const uint8_t> record)
{
    // The SDK defines each record's size; a shorter record than that is
    // forwarded as far as it goes, never beyond: kept on purpose rather than
    // forwarding the fixed length, which would read past the record.
    uint32_t n = 0;
    if (row.fwd.how == ind_fwd_len::fixed)
        n = row.fwd.bytes;
    else if (row.fwd.how == ind_fwd_len::rule)
        n = row.fwd.of(record);
    return std::min({n, clamp_u32(record.size()), IND_FWD_ROOM});
}

std::span<const uint8_t> ind_record_chunk(std::span<const uint8_t> record, size_t addr_off, size_t len_off)
{
    const auto* chunk = static_cast<const uint8_t*>(sdk_word_to_addr(load_be32(record, addr_off)));
    if (!chunk)
        return {};
    const auto at = reinterpret_cast<uintptr_t>(chunk);
    const auto start = reinterpret_cast<uintptr_t>(record.data());
    if (at < start || at >= start + record.size()) {
        cnxd_srv_send_log("chunk address outside the record (%u bytes): nothing forwarded\n",
                          static_cast<unsigned>(record.size()));
        return {};
    }
    const auto inside = record.subspan(at - start);
    return inside.first(std::min<size_t>(inside.size(), load_be32(record, len_off)));
}

bool ind_append_chunk(const char* path, uint32_t dev, std::span<const uint8_t> chunk, bool end_line)
{
    const unique_file f(std::fopen(cnxd_sysroot_path(path).c_str(), "a"));
    if (!f) {
        cnxd_srv_send_log("\nDEV INDEX : %d\n", static_cast<int>(dev));
        cnxd_srv_send_log("open fail %s\n", path);
        return false;
    }
    if (!chunk.empty())
        std::fwrite(chunk.data(), 1, chunk.size(), f.get());
    if (end_line)
        std::fputc('\n', f.get());
    return true;
}

// ---- Forward-length rules ----------------------------------------------------

uint32_t ind_len_record(std::span<const uint8_t> record)
{
    return clamp_u32(record.size());
}

uint32_t ind_len_binary_upload(std::span<const uint8_t> record)
{
    return clamp_u32(uint64_t{10} + load_be32(record, 6));
}

uint32_t ind_len_dm_log_ext(std::span<const uint8_t> record)
{
    return 8u + load_be16(record, 6);
}

uint32_t ind_len_protocol_info(std::span<const uint8_t> record)
{
    // 16-bit result, 16-bit type, then the type's data.
    constexpr uint32_t HEAD = 5;
    const uint16_t type = load_be16(record, 2);
    const uint8_t first = record.size() > 4 ? record[4] : 0;
    switch (type) {
    case 0: case 1: case 10: return HEAD + 4;
    case 2: return HEAD + (first < 255 ? 215 : 1713);
    case 4: return HEAD + 31;
    case 6: return HEAD + (first == 1 ? 11 : 2);
    case 7: return HEAD + 15;
    case 8: return HEAD + 2;
    case 9: case 11: return HEAD + 1;
    default: return HEAD;  // type 5 and unknown types carry no data
    }
}

// ---- Registration ----------------------------------------------------------

void ind_register_rows(uint32_t handle, std::span<const ind_row> tbl)
{
    for (const ind_row& row : tbl)
        if (LAPI_RegisterCallbackResponse(handle, row.cb_id, as_sdk_callback(row.handler), 0) != 0)
            cnxd_srv_send_log("%s registration failed\n", row.name);
}

void ind_register(uint32_t handle)
{
    ind_register_rows(handle, ind_callback_tbl);
}

void ind_unregister(uint32_t handle)
{
    trace(handle, "[%s+]\n", __func__);
    if (LAPI_AllCallbackUnRegister(handle) != 0)
        cnxd_srv_send_log("LAPI_AllCallbackUnRegister fail\n");
    trace(handle, "[%s-]\n", __func__);
}

}  // namespace cnxd
