#include "shell/log_direction.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>

#include "base/be.h"
#include "base/shell.h"
#include "ltesdk.h"
#include "modem/cm_wrappers.h"
#include "server/delivery.h"
#include "shell/cmd_socket.h"

namespace cnxd {

std::atomic<uint32_t> arm1_log_direction{ARM1_LOG_UART};
std::atomic<bool> arm1_log_keeps_daemon_log{false};

namespace {

// The identity list is written by the dispatcher (main thread) and read by
// the console output router (SDK callback thread).
std::mutex specific_id_lock;
uint32_t specific_id_list[ARM1_LOG_SPECIFIC_IDS];

void to_log_channel(std::string_view text)
{
    cnxd_srv_send_log("%.*s", static_cast<int>(text.size()), text.data());
}

// The routes print the text up to its first NUL ("%.*s" stops there), but
// the command-socket clients of direction 2 get it byte for byte.
void to_stdout(std::string_view text)
{
    std::fwrite(text.data(), 1, strnlen(text.data(), text.size()), stdout);
    std::fflush(stdout);
}

void to_log_and_sockets(std::string_view text)
{
    to_log_channel(text);
    cmd_socket_broadcast(text);
}

// Each non-empty line its own SDK log line.
void to_sdk_log(std::string_view text)
{
    for (size_t at = 0; at < text.size();) {
        const size_t nl = std::min(text.find('\n', at), text.size());
        if (nl > at)
            sdk_log(3, "%.*s", static_cast<int>(nl - at), text.data() + at);
        at = nl + 1;
    }
}

void to_specific_ids(std::string_view text)
{
    const auto ids = arm1_log_specific_id_list();
    cnxd_srv_send_log_to_ids(ids.data(), "%.*s", static_cast<int>(text.size()), text.data());
}

constexpr log_switch_step shell(const char* text) { return {false, text}; }
constexpr log_switch_step console(const char* text) { return {true, text}; }

// Direction 1 first does what direction 0 does ("kern hlif -c"), then
// switches the modem's console buffering off and the host log interface on.
// Of the two ways the direction's steps are told, this one is followed: it
// is the literal "as 0, then", and the interface ends up on either way.
constexpr log_direction_row rows[] = {
    {"OFF", 0, SDK_LOG_TYPE_STDOUT, {shell("kern hlif -c")}, to_log_channel},
    {"UART", 0, SDK_LOG_TYPE_STDOUT, {shell("kern hlif -c"), console("ipc con always_buff 0"), shell("kern hlif c")},
     to_stdout},
    {"Through cnxd_cli", 1, SDK_LOG_TYPE_SYSLOG, {console("ipc con always_buff 1"), shell("kern hlif -c")},
     to_log_and_sockets},
    {"FILE", 1, SDK_LOG_TYPE_SYSLOG, {console("ipc con always_buff 1"), shell("kern hlif -c")}, to_sdk_log},
    {"SPECIFIC ID", 1, SDK_LOG_TYPE_SYSLOG, {console("ipc con always_buff 1"), shell("kern hlif -c")},
     to_specific_ids},
};
static_assert(std::size(rows) == ARM1_LOG_SPECIFIC_ONLY + 1, "one row per direction, indexed by it");

int add_specific_id(uint32_t id)
{
    for (size_t slot = 0; slot < ARM1_LOG_SPECIFIC_IDS; ++slot) {
        if (specific_id_list[slot] == id) {
            cnxd_srv_send_log("already exist specific id (%zu, 0x%08x) \n", slot, id);
            return 1;
        }
        cnxd_srv_send_log("exist specific id (%zu, 0x%08x) \n", slot, specific_id_list[slot]);
    }
    for (size_t slot = 0; slot < ARM1_LOG_SPECIFIC_IDS; ++slot) {
        if (specific_id_list[slot] == 0) {
            specific_id_list[slot] = id;
            cnxd_srv_send_log("add specific id (%zu, 0x%08x) \n", slot, id);
            return 1;
        }
        cnxd_srv_send_log("exist specific id (%zu, 0x%08x) \n", slot, specific_id_list[slot]);
    }
    return -1;
}

int remove_specific_id(uint32_t id)
{
    for (size_t slot = 0; slot < ARM1_LOG_SPECIFIC_IDS; ++slot) {
        if (specific_id_list[slot] == id) {
            specific_id_list[slot] = 0;
            cnxd_srv_send_log("rm specific id (%zu, 0x%08x) \n", slot, id);
            return 1;
        }
        cnxd_srv_send_log("exist specific id (%zu, 0x%08x) \n", slot, specific_id_list[slot]);
    }
    return -1;
}

}  // namespace

const std::span<const log_direction_row> log_direction_tbl = rows;

uint32_t get_arm1_log_direction() { return arm1_log_direction; }

void set_arm1_log_direction(uint32_t direction)
{
    if (direction < std::size(rows)) {
        const log_direction_row& row = rows[direction];
        g_is_qlog_to_pc = row.qlog_to_pc;
        if (!arm1_log_keeps_daemon_log)
            sdk_set_log_type(row.sdk_log_type, "cnxd");
        for (const log_switch_step& step : row.steps) {
            if (!step.text)
                break;
            if (step.to_modem)
                cm_send_dm_command(step.text);
            else
                cnxd_system(step.text);
        }
    }
    arm1_log_direction = direction;
}

void cli_cmd_rsp_route(uint32_t /*unused*/, char* text, uint32_t len)
{
    if (!text)
        return;
    const uint32_t direction = get_arm1_log_direction();
    if (direction < std::size(rows))
        rows[direction].route(std::string_view(text, len));
}

int ind_set_arm1_log_specific_id(std::span<const uint8_t, ARM1_LOG_SPECIFIC_REC_LEN> rec)
{
    const uint8_t op = rec[0];
    const uint32_t id = load_be32(rec.data() + 1);
    cnxd_srv_send_log("Set arm1log specific (%d, 0x%08x) \n", op, id);
    std::lock_guard guard(specific_id_lock);
    return op == ARM1_LOG_SPECIFIC_ADD ? add_specific_id(id) : remove_specific_id(id);
}

std::array<uint32_t, ARM1_LOG_SPECIFIC_IDS + 1> arm1_log_specific_id_list()
{
    std::array<uint32_t, ARM1_LOG_SPECIFIC_IDS + 1> copy{};
    std::lock_guard guard(specific_id_lock);
    std::copy(std::begin(specific_id_list), std::end(specific_id_list), copy.begin());
    return copy;
}

}  // namespace cnxd
