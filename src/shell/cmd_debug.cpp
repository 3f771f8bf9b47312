#include "shell/cmd_debug.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "base/fd.h"
#include "base/path.h"
#include "base/shell.h"
#include "ltesdk.h"
#include "modem/cm_wrappers.h"
#include "nv.h"
#include "server/delivery.h"
#include "shell/log_direction.h"
#include "watchdog/watchdog.h"

namespace cnxd {
namespace {

constexpr const char* COMMON_LOG_MARKER = "/var/tmp/commonlogcfg";
constexpr const char* SOCKET_SIM_MARKER = "/var/tmp/socketsimtest";
// Both marker files hold three bytes: a short text, its newline and NULs.
constexpr size_t MARKER_LEN = 3;

// "[value]" of a switch: decimal, octal or 0x-hex.
uint32_t switch_value(const char* text) { return static_cast<uint32_t>(std::strtoul(text, nullptr, 0)); }

// Sets `word` from the optional argument and prints it with `fmt`.
int flag_word(int argc, char** argv, uint32_t& word, const char* fmt)
{
    if (argc >= 2)
        word = switch_value(argv[1]);
    cnxd_srv_send_log(fmt, word);
    return 0;
}

void remove_marker(const char* path) { unlink(cnxd_sysroot_path(path).c_str()); }

// Replaces the marker file by one holding the first MARKER_LEN bytes of
// `text` (zero-padded).
void write_marker(const char* path, const char* text)
{
    remove_marker(path);
    char bytes[MARKER_LEN] = {};
    std::memcpy(bytes, text, std::min(std::strlen(text), MARKER_LEN));
    UniqueFd fd(open(cnxd_sysroot_path(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd || write(fd.get(), bytes, MARKER_LEN) != static_cast<ssize_t>(MARKER_LEN))
        cnxd_srv_send_log("write %s fail\n", path);
}

void arm1_log_usage()
{
    cnxd_srv_send_log("-------ARM1 Log Direction Control Usage-------\n");
    cnxd_srv_send_log("cmd>arm1log [direction]\n");
    cnxd_srv_send_log("[direction]\n");
    for (size_t d = 0; d < log_direction_tbl.size(); ++d)
        cnxd_srv_send_log("\t%zu : %s\n", d, log_direction_tbl[d].word);
    const uint32_t current = get_arm1_log_direction();
    cnxd_srv_send_log("Current direction: %d\n", static_cast<int>(current));
    if (current != ARM1_LOG_SPECIFIC_ONLY)
        return;
    for (const uint32_t id : arm1_log_specific_id_list())
        if (id != 0)
            cnxd_srv_send_log("\t\t list : 0x%08x \n", id);
}

// Joins every token, each followed by one space, and runs the line.
void run_joined(int argc, char** argv)
{
    std::string line;
    for (int i = 0; i < argc; ++i)
        line.append(argv[i]).push_back(' ');
    cnxd_system(line);
}

}  // namespace

int cmd_arm1_log_control(int argc, char** argv)
{
    if (argc >= 2 && argv[1][0] >= '0' && argv[1][0] <= '4')
        set_arm1_log_direction(static_cast<uint32_t>(argv[1][0] - '0'));
    else
        arm1_log_usage();
    return 0;
}

int cmd_host_dump(int argc, char** argv)
{
    if (argc == 2) {
        std::strncpy(g_host_dump_ip, argv[1], sizeof g_host_dump_ip - 1);
        g_host_dump_ip[sizeof g_host_dump_ip - 1] = '\0';
    }
    cnxd_srv_send_log("host_dump %s\n", g_host_dump_ip);
    return 0;
}

int cmd_cnxd_flags(int argc, char** argv)
{
    return flag_word(argc, argv, cnxd_flags, "cnxd_flags=0x%08x\n");
}

int cmd_api_flags(int argc, char** argv)
{
    return flag_word(argc, argv, cnxd_api_flags, "cnxd_api_flags=0x%08x\n");
}

int cmd_sdk_flags(int argc, char** argv)
{
    return flag_word(argc, argv, lte_sdk_flags, "lte_sdk_flags=0x%08x\n");
}

int cmd_cnxd_stuck(int argc, char** argv)
{
    const uint32_t value = argc >= 2 ? switch_value(argv[1]) : cnxd_stuck.load();
    // Stored before the print: while the switch is 1 every print waits, so
    // "cnxdst 0" must clear it before printing. After "cnxdst 1" this print
    // waits too, until a "cnxdst 0" from another connection clears it.
    cnxd_stuck = value;
    cnxd_srv_send_log("cnxdst=0x%08x\n", value);
    return 0;
}

int cmd_common_flag(int argc, char** argv)
{
    const uint32_t value = argc >= 2 ? switch_value(argv[1]) : 0xFFFFFFFFu;
    cnxd_srv_send_log("cnxd_common_flag=0x%08x\n", value);
    if (value == 1)
        write_marker(COMMON_LOG_MARKER, "1\n");
    else if (value == 0)
        remove_marker(COMMON_LOG_MARKER);
    return 0;
}

int cmd_sock_sim(int argc, char** argv)
{
    const int value = argc >= 2 ? static_cast<int>(switch_value(argv[1])) : -1;
    cnxd_srv_send_log("sock_sim=%d\n", value);
    if (value == 0) {
        remove_marker(SOCKET_SIM_MARKER);
    } else if (value > 0) {
        char text[16];
        std::snprintf(text, sizeof text, "%d\n", value);
        write_marker(SOCKET_SIM_MARKER, text);
    }
    return 0;
}

int cmd_client_info(int /*argc*/, char** /*argv*/)
{
    cm_print_cnxd_clientInfo_request();
    return 0;
}

int cmd_crash(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "show") == 0)
        nv_test_show_console_log(cnxd_srv_send_log);
    else
        cnxd_srv_send_log("usage: %s show\n", argv[0]);
    return 0;
}

int cmd_host_tool(int argc, char** argv)
{
    run_joined(argc, argv);
    return 0;
}

int cmd_dm_enable(int /*argc*/, char** /*argv*/)
{
    cnxd_srv_send_log("CMD DM_EN\n");
    nv_nv1_write_enable();
    return 0;
}

int cmd_dm_disable(int /*argc*/, char** /*argv*/)
{
    cnxd_srv_send_log("CMD DM_DIS\n");
    nv_nv1_write_disable();
    return 0;
}

// The first software reset switches the modem watchdog off for good and,
// when it was running, tells the supervisor that the daemon resets the
// modem itself.
int cmd_sys_resetsw(int /*argc*/, char** /*argv*/)
{
    static std::atomic<bool> first_done{false};
    if (!first_done.exchange(true)) {
        const int was_running = lte_watchdog_is_running();
        lte_watchdog_AllOff();
        if (was_running) {
            cnxd_srv_send_log("[%-25s] WTD: Mdmwatch All Off \n", "cmd_sys_resetsw");
            mdmwatch_send(MDMWATCH_CMD_ALL_OFF);
        }
    }
    cnxd_system("kern modem reset 0");
    return 0;
}

int cmd_watchdog(int argc, char** argv)
{
    cnxd_srv_send_log("Current Watchdog Mode : %s\n", watchdog_mode_name(watchdog_mode));
    const std::string_view arg = argc == 2 ? argv[1] : "";
    if (arg != "normal" && arg != "reboot") {
        cnxd_srv_send_log("Usage: watchdog [normal:reboot]\n");
        return 0;
    }
    watchdog_mode = arg == "reboot" ? WTD_MODE_REBOOT : WTD_MODE_NORMAL;
    cnxd_srv_send_log("New Watchdog Mode : %s\n", watchdog_mode_name(watchdog_mode));
    return 0;
}

}  // namespace cnxd
