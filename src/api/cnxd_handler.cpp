#include "api/cnxd_handler.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <source_location>
#include <string>

#include "base/capture.h"
#include "base/check_memcpy.h"
#include "config/confdb_access.h"
#include "dm/dm_filter.h"
#include "config/admin_pdn_count.h"
#include "ind/uicc_unlock.h"
#include "lapi_size.h"
#include "ltesdk.h"
#include "modem/bringup.h"
#include "modem/cm_wrappers.h"
#include "modem/change_notification.h"
#include "modem/device_tables.h"
#include "net/dhcpcd.h"
#include "server/sem.h"
#include "shell/dispatcher.h"
#include "shell/log_direction.h"

namespace cnxd {
namespace {

constexpr const char* SOURCE_NAME = "cnxd_handler";

// ---- What the SDK reads from a request ---------------------------------

// The SDK reads the records whose size lapi.def does not know as their own
// type says. We assume no record is longer than the largest command data a
// frame can carry, and hand such records over zero-filled to that size.
constexpr size_t MAX_COMMAND_DATA = HCI_MAX_FRAME - HCI_HEADER_LEN - API_REQ_DATA;

// The largest record a request can make the SDK read: a TLV record with a
// 16-bit length, or the declared length of a text.
constexpr size_t SCRATCH_SIZE = 4 + 0xFFFF;
static_assert(SCRATCH_SIZE >= LAPI_TRANSFER_LEN_FIELD + 4 + LAPI_TRANSFER_MAX_LEN && SCRATCH_SIZE >= MAX_COMMAND_DATA);

// The command data as the SDK reads them: what the client sent, then zeros
// up to the size the row reads, so that the SDK never reads past the bytes
// received. The dispatcher runs on the main thread only, one request at a
// time, so one buffer serves every request. It stays zero past the bytes
// the last request copied in (`scratch_used`): a request clears only what
// the one before it left, not the whole size the SDK may read. Nothing
// else writes there: an SDK function that writes an answer writes it into
// its row's answer area (checked at the command table).
std::array<uint8_t, SCRATCH_SIZE> scratch;
size_t scratch_used = 0;

using shm::area_size;

// ---- Copies out of a request ---------------------------------------------

// Every copy out of a request is guarded; a null address goes to the log.
void log_copy_report(const char* text) { sdk_log(3, "%s", text); }

// Bytes [from, from + size) of `src` into `dst`; what `src` lacks is zero,
// where `dst` is known to be zero from `dirty` on. Returns the bytes copied.
size_t copy_zero_filled(uint8_t* dst, std::span<const uint8_t> src, size_t from, size_t size, size_t dirty,
                        std::source_location loc = std::source_location::current())
{
    const size_t n = from < src.size() ? std::min(size, src.size() - from) : 0;
    if (n)
        check_memcpy(dst, src.data() + from, n, SOURCE_NAME, static_cast<int>(loc.line()), log_copy_report);
    if (dirty > n)
        std::fill(dst + n, dst + dirty, 0);
    return n;
}

void copy_zero_filled(uint8_t* dst, std::span<const uint8_t> src, size_t from, size_t size,
                      std::source_location loc = std::source_location::current())
{
    copy_zero_filled(dst, src, from, size, size, loc);
}

// One request being served.
struct ApiCall {
    uint8_t* block;                 // the client's shared block, held by the request
    uint32_t dev;                   // host order, handed on unchanged
    std::span<const uint8_t> rx;    // the command data as received
    uint32_t data_len;              // the request length - 4, never below 0
    const char* name;               // of the command's row

    uint8_t* area(size_t offset) const { return block + offset; }

    // Bytes [from, from + size) of the command data, zero-filled.
    uint8_t* data(size_t from, size_t size) const
    {
        const size_t n = copy_zero_filled(scratch.data(), rx, from, size, scratch_used);
        scratch_used = n;
        return scratch.data();
    }
    uint8_t* data(size_t size) const { return data(0, size); }

    // A value the client wrote in its own byte order, like the device index.
    template <typename T>
    T host_value(size_t from) const
    {
        uint8_t bytes[sizeof(T)];
        copy_zero_filled(bytes, rx, from, sizeof bytes);
        T v;
        std::memcpy(&v, bytes, sizeof v);
        return v;
    }

    // The request record of an SDK function with request size rule `rule`.
    uint8_t* record(int rule) const
    {
        const size_t size = lapi_record_size(rule, data(lapi_record_head(rule)));
        return data(size ? size : MAX_COMMAND_DATA);
    }
};

// The result word := rc; a failure is logged with the function's name.
void store_result(const ApiCall& c, int32_t rc, const char* name)
{
    capture({.kind = capture_kind::sdk_call,
             .index = static_cast<uint16_t>(c.dev),
             .a = static_cast<uint32_t>(rc),
             .name = name,
             .bytes = c.rx});
    store_be32(c.area(shm::RESULT), static_cast<uint32_t>(rc));
    if (rc != 0)
        sdk_log(3, "%s fail", name);
}

// ---- Row functions by argument form ----------------------------------------

template <auto Fn, LapiSize S>
void row_req(ApiCall& c)
{
    static_assert(S.answer == 0, "a common row's SDK function writes no answer");
    store_result(c, Fn(hAPI, c.dev, c.record(S.request)), c.name);
}

template <auto Fn, LapiSize S>
void row_dev(ApiCall& c)
{
    store_result(c, Fn(hAPI, c.dev), c.name);
}

template <auto Fn, LapiSize S, size_t Area>
void row_answer(ApiCall& c)
{
    static_assert(S.request == 0 && S.answer <= static_cast<int>(area_size(Area)));
    store_result(c, Fn(hAPI, c.dev, c.area(Area)), c.name);
}

template <auto Fn, LapiSize S>
void row_value(ApiCall& c)
{
    store_result(c, Fn(hAPI, c.dev, c.host_value<uint32_t>(0)), c.name);
}

// Two words from 7 data bytes: bytes 0-3, then bytes 4-6 and a zero byte.
template <auto Fn, LapiSize S>
void row_values(ApiCall& c)
{
    uint8_t bytes[8] = {};
    copy_zero_filled(bytes, c.rx, 0, 7);
    uint32_t first;
    uint32_t second;
    std::memcpy(&first, bytes, 4);
    std::memcpy(&second, bytes + 4, 4);
    store_result(c, Fn(hAPI, c.dev, first, second), c.name);
}

template <auto Fn, LapiSize S, size_t Area>
void row_value_answer(ApiCall& c)
{
    static_assert(S.answer <= static_cast<int>(area_size(Area)));
    store_result(c, Fn(hAPI, c.dev, c.host_value<uint32_t>(0), c.area(Area)), c.name);
}

template <auto Fn, LapiSize S>
void row_msg(ApiCall& c)
{
    store_result(c, Fn(hAPI, c.dev, c.data(c.data_len), c.data_len), c.name);
}

// ---- One-row forms ---------------------------------------------------------

// The device list: no device index.
template <auto Fn, LapiSize S, size_t Area>
void row_device_list(ApiCall& c)
{
    static_assert(S.answer <= static_cast<int>(area_size(Area)));
    store_result(c, Fn(hAPI, c.area(Area)), c.name);
}

// The connection information: the request is copied into the answer area,
// which the SDK reads and overwrites.
template <auto Fn, LapiSize S, size_t Area>
void row_connection_info(ApiCall& c)
{
    static_assert(S.answer == static_cast<int>(area_size(Area)));
    copy_zero_filled(c.area(Area), c.rx, 0, area_size(Area));
    store_result(c, Fn(hAPI, c.dev, c.area(Area)), c.name);
}

// GPIO read: data bytes 1-2 (the pin) go to the answer area first.
template <auto Fn, LapiSize S, size_t Area>
void row_gpio(ApiCall& c)
{
    static_assert(S.answer <= static_cast<int>(area_size(Area)));
    copy_zero_filled(c.area(Area), c.rx, 1, 2);
    store_result(c, Fn(hAPI, c.dev, c.record(S.request), c.area(Area)), c.name);
}

// Interface configuration: the operation word, then the interface record.
template <auto Fn, LapiSize S>
void row_netif(ApiCall& c)
{
    const auto op = c.host_value<uint32_t>(0);
    store_result(c, Fn(hAPI, c.dev, c.data(4, static_cast<size_t>(S.request)), op), c.name);
}

template <auto Fn, LapiSize S, size_t Area>
void row_apn_type_by_eps_id(ApiCall& c)
{
    static_assert(S.answer <= static_cast<int>(area_size(Area)));
    const uint16_t dft_eps_id = load_be16(c.data(2));
    std::printf("9a, dft_eps_id = %d\n", dft_eps_id);
    store_result(c, Fn(hAPI, c.dev, c.area(Area), dft_eps_id), c.name);
}

constexpr uint8_t APN_TYPE_ADMIN = 2;

// Lowers the ADMIN PDN count when more than one connection holds it; false
// when the count is 1 or less.
bool release_admin_reference()
{
    const auto n = admin_pdn_release(1);
    if (n)
        sdk_log(6, "ADMIN PDN Reference count(%d)", *n);
    return n.has_value();
}

// PDN disconnect: an ADMIN PDN that other users still hold stays up. The
// ADMIN TID is deleted before the count is looked at, as the designed order
// has it: a later disconnect of the same bearer then no longer finds APN
// type 2 and goes to the modem while the count still says 2. Kept so; the
// count belongs to the connections the modem reports.
template <auto Fn, LapiSize S>
void row_pdn_disconnect(ApiCall& c)
{
    const uint16_t dft_eps_id = load_be16(c.data(2));
    const int apn_type = getApnTypeByDefEPSid(dft_eps_id);
    deleteTidByApnType(static_cast<uint8_t>(apn_type));
    const int32_t op = g_operator;
    if ((op == OPERATOR_VZW || op == OPERATOR_SPRINT) && apn_type == APN_TYPE_ADMIN && release_admin_reference())
        return;
    row_req<Fn, S>(c);
}

// Texts with their length: the request length decides how many bytes the
// SDK reads, beyond those received as zeros.
template <auto Fn, LapiSize S>
void row_at(ApiCall& c)
{
    const LAPI_AT_CMD rec{reinterpret_cast<const char*>(c.data(c.data_len)), c.data_len};
    store_result(c, Fn(hAPI, c.dev, &rec), c.name);
}

// A type byte, then the text.
template <auto Fn, LapiSize S>
void row_at_ext(ApiCall& c)
{
    const uint32_t text_len = c.data_len ? c.data_len - 1 : 0;
    const uint8_t* p = c.data(1 + text_len);
    LAPI_AT_CMD_EXT rec{};
    rec.type = p[0];
    rec.text = reinterpret_cast<const char*>(p + 1);
    rec.len = text_len;
    store_result(c, Fn(hAPI, c.dev, &rec), c.name);
}

// The text without its last byte, which travels on its own.
template <auto Fn, LapiSize S>
void row_at_v2(ApiCall& c)
{
    const uint32_t text_len = c.data_len ? c.data_len - 1 : 0;
    const uint8_t* p = c.data(c.data_len);
    LAPI_AT_CMD_V2 rec{};
    rec.text = reinterpret_cast<const char*>(p);
    rec.len = text_len;
    rec.last = c.data_len ? p[text_len] : 0;
    store_result(c, Fn(hAPI, c.dev, &rec), "CMD_EVT_AT_COMMAND_TO_DEVICE_V2");
}

// DM log extension read: the request, then the item count and items.
template <auto Fn, LapiSize S>
void row_dm_log_ext(ApiCall& c)
{
    constexpr auto req_len = static_cast<size_t>(S.request);
    const size_t items = c.data(req_len + 1)[req_len];
    uint8_t* p = c.data(req_len + 1 + items);
    store_result(c, Fn(hAPI, c.dev, s_filter_dm_db.data(), p, p + req_len), c.name);
}

template <auto Fn, LapiSize S>
void row_bgscan_config(ApiCall& c)
{
    const uint32_t len = c.data_len > 4 ? c.data_len - 4 : 0;
    const auto value = c.host_value<uint32_t>(0);
    store_result(c, Fn(hAPI, c.dev, value, c.data(4, len), len), c.name);
}

constexpr uint32_t LTE_BGSCAN_MODE_WITH_PARAM = 3;

template <auto Fn, LapiSize S>
void row_lte_bgscan_mode(ApiCall& c)
{
    const auto mode = c.host_value<uint32_t>(0);
    const uint16_t param = mode == LTE_BGSCAN_MODE_WITH_PARAM ? c.host_value<uint16_t>(4) : 0;
    store_result(c, Fn(hAPI, c.dev, mode, param), c.name);
}

// A text for the modem's console; its result is neither stored nor logged.
template <auto Fn, LapiSize S>
void row_dm_command(ApiCall& c)
{
    Fn(hAPI, c.dev, reinterpret_cast<const char*>(c.data(c.data_len)), c.data_len);
}

// Measurement control, then a TIN read whose result the client gets.
template <auto Fn, LapiSize S>
void row_irat_then_tin(ApiCall& c)
{
    row_req<Fn, S>(c);
    store_result(c, LAPI_TINReadRequest(hAPI, c.dev), "LAPI_TINReadRequest");
}

// ---- Commands without an SDK call ------------------------------------------

template <size_t Area>
void api_init_complete(ApiCall& c)
{
    *c.area(Area) = get_init_complete(c.dev);
}

int64_t monotonic_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec;
}

// Whether the lease of the connection (CID) in data byte 0 is still valid.
template <size_t Area>
void api_dhcp_lease_valid(ApiCall& c)
{
    const int cid = c.data(1)[0];
    *c.area(Area) = dhcp_lease_expire_time(cid) > monotonic_seconds() ? 1 : 0;
}

void api_uicc_unlock(ApiCall& c)
{
    ind_uicc_unlock(c.dev, std::span<const uint8_t, UICC_UNLOCK_BLOCK_LEN>(c.data(UICC_UNLOCK_BLOCK_LEN),
                                                                          UICC_UNLOCK_BLOCK_LEN));
}

void api_airplane_change(ApiCall& c) { airplane_change_notification(c.dev, c.data(1)); }
void api_camode_change(ApiCall& c) { camode_change_notification(c.dev, c.data(1)); }
void api_roam_allow_change(ApiCall& c) { roam_allow_change_notification(c.dev, c.data(1)); }

void api_specific_id_set(ApiCall& c)
{
    const std::span<const uint8_t, ARM1_LOG_SPECIFIC_REC_LEN> rec(c.data(ARM1_LOG_SPECIFIC_REC_LEN),
                                                                   ARM1_LOG_SPECIFIC_REC_LEN);
    if (ind_set_arm1_log_specific_id(rec) < 0)
        sdk_log(3, "ind_set_arm1_log_specific_id fail");
}

// ---- The command table -------------------------------------------------------

struct ApiCmd {
    uint16_t id;
    const char* name;
    void (*serve)(ApiCall&);
};

#define API_SDK(id, form, fn, ...) {id, #fn, &row_##form<fn, lapi_size::fn __VA_OPT__(, ) __VA_ARGS__>},
#define API_LOCAL(id, fn, ...) {id, #fn, &fn __VA_OPT__(<__VA_ARGS__>)},
constexpr ApiCmd api_cmd_tbl[] = {
#include "api/api_cmd.def"
};

// An SDK function that writes an answer has its row's answer area to write
// it into: the command data handed over stay as they were copied.
#define API_SDK(id, form, fn, ...) \
    static_assert(lapi_size::fn.answer == 0 || sizeof(#__VA_ARGS__) > 1, #fn " has no answer area");
#define API_LOCAL(id, fn, ...)
#include "api/api_cmd.def"

constexpr size_t API_CMD_COUNT = 171;
static_assert(std::size(api_cmd_tbl) == API_CMD_COUNT);
static_assert(std::ranges::is_sorted(api_cmd_tbl, std::ranges::less_equal{}, &ApiCmd::id) &&
                  std::ranges::adjacent_find(api_cmd_tbl, {}, &ApiCmd::id) == std::end(api_cmd_tbl),
              "command ids ascend without repeats");

const ApiCmd* find_cmd(uint16_t id)
{
    const auto* row = std::ranges::lower_bound(api_cmd_tbl, id, {}, &ApiCmd::id);
    return row != std::end(api_cmd_tbl) && row->id == id ? row : nullptr;
}

// The request's command served into `block`: its SDK call, answer and
// result word, or a log line when no row serves it.
void serve_request(uint8_t* block, uint16_t cmd, std::span<const uint8_t> request)
{
    // A frame cut before the end of its device index word does not say
    // which modem it is for, so it reaches none: like a command the table
    // does not know, it completes with the result word 0 and a log line.
    if (request.size() < API_REQ_DATA) {
        sdk_log(3, "Short HCI (0x%x), %zu bytes", cmd, request.size());
        return;
    }
    // Nothing in the command data is trusted: what did not arrive reads as
    // zeros, and the request length only says how long the texts are.
    constexpr uint32_t DEV_WORD_LEN = API_REQ_DATA - API_REQ_DEV;
    const uint32_t req_len = load_be16(request, API_REQ_LEN);
    ApiCall call{block, 0, request.subspan(API_REQ_DATA), req_len > DEV_WORD_LEN ? req_len - DEV_WORD_LEN : 0,
                 nullptr};
    uint8_t dev[sizeof call.dev];
    copy_zero_filled(dev, request, API_REQ_DEV, sizeof dev);
    std::memcpy(&call.dev, dev, sizeof dev);

    if (const ApiCmd* row = find_cmd(cmd)) {
        call.name = row->name;
        row->serve(call);
    } else {
        sdk_log(3, "Unknown HCI (0x%x)", cmd);
    }
}

}  // namespace

const char* api_cmd_name(uint16_t id)
{
    const ApiCmd* row = find_cmd(id);
    return row ? row->name : nullptr;
}

int cnxd_handler(cnxd_client_rec* client, std::span<const uint8_t> request)
{
    // The request holds the daemon's attachment of the client's shared
    // block until it is done. A release meanwhile (the client exited, or a
    // send on another thread found it gone) removes the block, which then
    // lives on, attached, for this request alone: the answers land in
    // memory that is still mapped and that no one reads. Skipping the
    // writes for a released client instead would need a check under the
    // lock around every write, and the SDK writes the answer areas itself,
    // during the call, where no check can reach.
    std::shared_ptr<uint8_t> block;
    int semid;
    int index;
    {
        std::lock_guard rec(client->lock);
        if (!client->taken())
            return 0;  // released since its frame was read
        semid = client->semid;
        index = client->idx;
        block = client->block_hold();
    }
    const uint16_t cmd = load_be16(request, API_REQ_CMD);
    const bool trace = cnxd_api_flags & 1;
    if (trace) {
        std::printf("cnxd_api call Enter client_semid(%d), cliient_index(%d), client_id(%d)\n", semid, index,
                    static_cast<int>(client->identity));
        std::printf("cnxd_api call cmd_evt (0x%04x),\n", cmd);
    }
    ready_sem(semid);
    if (trace)
        std::printf("cnxd_api call sem_ready done.\n");
    if (!block) {
        release_sem(semid);
        return 0;
    }
    store_be32(block.get() + shm::RESULT, 0);
    serve_request(block.get(), cmd, request);
    release_sem(semid);
    if (trace)
        std::printf("cnxd_api call Leave\n");
    return 0;
}

// A command line from a client: the shell's when the dispatcher takes it,
// else the modem console's, with the frame's text length.
int cnxd_cli_command_handler(cnxd_client_rec* /*client*/, const HciFrame& frame)
{
    cmd_offer_line(std::string_view(reinterpret_cast<const char*>(frame.payload.data()), frame.payload.size()),
                   console_length::as_given, nullptr, capture_source::client);
    return 0;
}

}  // namespace cnxd
