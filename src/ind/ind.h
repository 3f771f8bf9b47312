// Registration of the indication handlers with the LTE SDK, and the shape
// every handler follows: entry line, title, forward to the subscribed
// clients, exit line. The callback table (ind.def) is the one source of
// the handlers, their ids, events and forwarded lengths.
#pragma once

#include <sys/uio.h>

#include <cstdint>
#include <span>
#include <variant>

#include "ltesdk.h"

namespace cnxd {

// A handler in the form its callback id is delivered in.
using ind_handler = std::variant<LAPI_CALLBACK, LAPI_ASCII_CALLBACK, LAPI_CLI_RSP_CALLBACK>;

// Event code of a handler that forwards nothing to the clients.
constexpr int32_t IND_EVENT_NONE = -1;

// What a handler forwards after the device index (see ind.def).
struct ind_fwd_len {
    enum kind : uint8_t { nothing, index_only, fixed, rule, custom };
    kind how = nothing;
    uint32_t bytes = 0;                                          // fixed
    uint32_t (*of)(std::span<const uint8_t> record) = nullptr;  // rule
};

constexpr ind_fwd_len ind_fixed(uint32_t n) { return {ind_fwd_len::fixed, n, nullptr}; }
constexpr ind_fwd_len ind_rule(uint32_t (*of)(std::span<const uint8_t>)) { return {ind_fwd_len::rule, 0, of}; }
constexpr ind_fwd_len ind_index_only{ind_fwd_len::index_only};
constexpr ind_fwd_len ind_custom{ind_fwd_len::custom};
constexpr ind_fwd_len ind_nothing{ind_fwd_len::nothing};

// Forward-length rules: what the SDK defines for records whose size
// depends on their contents.
uint32_t ind_len_record(std::span<const uint8_t> record);         // as handed
uint32_t ind_len_binary_upload(std::span<const uint8_t> record);  // 10 + data length at 6
uint32_t ind_len_dm_log_ext(std::span<const uint8_t> record);     // 8 + data length at 6
uint32_t ind_len_protocol_info(std::span<const uint8_t> record);  // 5 + the type's data
uint32_t ind_len_uicc(std::span<const uint8_t> record);           // 6 + the command's answer (ind_layout.cpp)

// Room for record bytes in one HCI_SDK_CALLBACK frame after its 8 header
// bytes and the device index: nothing is forwarded beyond it.
constexpr uint32_t IND_FWD_ROOM = 4096 - 8 - 4;

// The output chunk a record points at with an address word at `addr_off`
// and a 32-bit length at `len_off` (crash log results, modem debug prints).
// The chunk travels inside the record after its fixed fields, so it is
// taken only as far as it lies inside the record's bytes; an address
// outside them gives no chunk and one log line, whatever the length says.
std::span<const uint8_t> ind_record_chunk(std::span<const uint8_t> record, size_t addr_off, size_t len_off);
// Appends `chunk` (and with `end_line` a newline) to the log file `path`
// (target form); false, after logging the device and the path, when the
// file cannot be opened.
bool ind_append_chunk(const char* path, uint32_t dev, std::span<const uint8_t> chunk, bool end_line);

class ind_call;

// What the common shape does once a body returns.
enum class ind_next {
    forward,  // forward as the row says, then the exit line
    done,     // the body has forwarded (or decided not to): only the exit line
    quiet,    // return at once, without the exit line
};

// A handler's behaviour beyond the common shape (ind_body.h). It runs after
// the entry line and prints its own title.
using ind_body = ind_next (*)(ind_call& call);

struct ind_row {
    uint16_t order;       // registration order, 1-based
    uint16_t cb_id;       // SDK callback id
    const char* name;     // the handler's name, for the logs
    ind_handler handler;
    int32_t event;        // forwarded event code, or IND_EVENT_NONE
    ind_fwd_len fwd;
    const char* title;    // title line text (nullptr for the other forms)
    ind_body body;        // nullptr: title and forward only
};

// One call of a usual-form handler, as its body sees it.
class ind_call {
public:
    ind_call(const ind_row& row, uint32_t dev_idx, const void* data, uint32_t len);

    const ind_row& row() const { return row_; }
    uint32_t dev_idx() const { return dev_idx_; }
    // The record exactly as the SDK handed it (empty for a null pointer).
    std::span<const uint8_t> record() const { return record_; }
    // The event to forward; a body may pick another for this call.
    uint16_t event = 0;

    // "\n<title>(DEV_IDX(%d))\n" through the clients' log channel.
    void title() const;
    // The device index, then the record's bytes as the row's forward says,
    // never more than the record holds.
    void forward() const;
    // The device index, then `pieces` (at most 2) in place of the record.
    void forward(std::span<const iovec> pieces) const;

private:
    const ind_row& row_;
    uint32_t dev_idx_;
    std::span<const uint8_t> record_;
};

// Bytes of the record the row forwards for `record`: at most its length.
uint32_t ind_forward_len(const ind_row& row, std::span<const uint8_t> record);

// The callback table, in registration order.
extern const std::span<const ind_row> ind_callback_tbl;

// Registers every row with LAPI_RegisterCallbackResponse(handle, id,
// handler, 0); a failed row is logged and the next one goes on.
void ind_register(uint32_t handle);
// The same for any rows (the table, or a part of it).
void ind_register_rows(uint32_t handle, std::span<const ind_row> rows);
// Drops every registration (LAPI_AllCallbackUnRegister).
void ind_unregister(uint32_t handle);

// Every handler, under its own name.
#define IND(order, id, name, event, fwd, title, body) void name(uint32_t dev_idx, void* data, uint32_t len);
#define IND_AGAIN(order, id, name, event, fwd, title, body)
#define IND_OTHER(order, id, name)
#include "ind/ind.def"
void ind_ascii_from_device_indication(uint32_t dev_idx, uint16_t msg_type, char* text);
void ind_cli_cmd_rsp(uint32_t unused, char* text, uint32_t len);

}  // namespace cnxd
