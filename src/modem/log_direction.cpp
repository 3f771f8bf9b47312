#include "modem/log_direction.h"

#include <iterator>

#include "base/shell.h"
#include "ltesdk.h"
#include "modem/cm_wrappers.h"
#include "server/delivery.h"

namespace cnxd {

namespace {

// How each direction sets things up.
struct log_direction_row {
    uint32_t qlog_to_pc;      // copy client log text to the system log
    int sdk_log_type;
    const char* console_cmd;  // DM console command, or none
    const char* kern_cmd;
};

constexpr log_direction_row log_direction_tbl[] = {
    /* off */ {0, SDK_LOG_TYPE_STDOUT, nullptr, "kern hlif -c"},
    /* UART */ {0, SDK_LOG_TYPE_STDOUT, "ipc con always_buff 0", "kern hlif c"},
    /* clients */ {1, SDK_LOG_TYPE_SYSLOG, "ipc con always_buff 1", "kern hlif -c"},
    /* file */ {1, SDK_LOG_TYPE_SYSLOG, "ipc con always_buff 1", "kern hlif -c"},
    /* specific ids */ {1, SDK_LOG_TYPE_SYSLOG, "ipc con always_buff 1", "kern hlif -c"},
};
static_assert(std::size(log_direction_tbl) == ARM1_LOG_SPECIFIC_ONLY + 1);

}  // namespace

void set_arm1_log_direction(uint32_t direction)
{
    if (direction < std::size(log_direction_tbl)) {
        const log_direction_row& row = log_direction_tbl[direction];
        g_is_qlog_to_pc = row.qlog_to_pc;
        sdk_set_log_type(row.sdk_log_type, "cnxd");
        if (row.console_cmd)
            cm_send_dm_command(row.console_cmd);
        cnxd_system(row.kern_cmd);
    }
    arm1_log_direction = direction;
}

}  // namespace cnxd
