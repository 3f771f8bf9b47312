#include "shell/dispatcher.h"

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "download/download.h"
#include "modem/cm_printf.h"
#include "modem/cm_wrappers.h"
#include "server/delivery.h"
#include "shell/cmd_table.h"

namespace cnxd {

std::array<std::atomic<uint8_t>, CMD_DEVICE_TABLE_SIZE> g_emergency{};
static_assert(DOWNLOAD_DEVICE_TABLE_SIZE == CMD_DEVICE_TABLE_SIZE, "one device index range guards both tables");

namespace {

// Set by the first "sys" line that is not a reset: from then on every "sys"
// line also goes on to the modem.
std::atomic<bool> sys_forwarded{false};

constexpr const char* SYS_RESET_WORD = "reset@@";

// Commands still accepted for a device in emergency mode.
bool emergency_exempt(uint32_t id)
{
    return id == CMD_ID_GDI || id == CMD_ID_RESET || id == CMD_ID_DOWNLOAD || id == CMD_ID_HELP ||
           id == CMD_ID_RESERVED;
}

// A refusal in bold red, each piece its own log line.
void print_red(const char* text)
{
    cnxd_srv_send_log("\033[1m");
    cnxd_srv_send_log("\033[31m");
    cnxd_srv_send_log("%s", text);
    cnxd_srv_send_log("\033[0m");
}

void run(const cmd_entry& e, int argc, char** argv)
{
    if (e.handler)
        e.handler(argc, argv);
}

int do_sys(const cmd_entry& e, int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], SYS_RESET_WORD) == 0) {
        run(e, argc, argv);
        return sys_forwarded ? 0 : 1;
    }
    sys_forwarded = true;
    return 0;
}

// The device index of token 1 as atoi reads it, compared unsigned: a
// negative number is out of range too.
// The token as the target's atoi reads it: its long is 32 bits, so a value
// out of range saturates (and is then refused) instead of wrapping into
// the device range as a 64-bit long cut to int would.
uint32_t device_index(const char* token)
{
    const long v = std::clamp<long>(std::strtol(token, nullptr, 10), INT32_MIN, INT32_MAX);
    return static_cast<uint32_t>(static_cast<int32_t>(v));
}

}  // namespace

void get_token_arg(char* line, int* argc, char** argv)
{
    int n = 0;
    bool in_token = false;
    for (char* p = line; *p != '\0'; ++p) {
        if (*p == '\n') {
            *p = '\0';
            break;
        }
        if (*p == ' ') {
            *p = '\0';
            in_token = false;
            continue;
        }
        if (!in_token) {
            if (n == CMD_MAX_ARGS) {
                n = 0;
                break;
            }
            argv[n++] = p;
            in_token = true;
        }
    }
    *argc = n;
}

int do_cmd(char* line)
{
    int argc = 0;
    char* argv[CMD_MAX_ARGS + 1] = {};
    get_token_arg(line, &argc, argv);
    if (argc == 0)
        return 0;
    const cmd_entry* e = cmd_find(argv[0]);
    if (!e)
        return 0;
    if (e->id == CMD_ID_SYS)
        return do_sys(*e, argc, argv);
    if (e->id == CMD_ID_AT && argc == 1)
        return 0;
    // help prints the daemon's list and then reaches the modem, which
    // prints its own.
    const int result = e->id == CMD_ID_HELP ? 0 : 1;

    if (e->id == CMD_ID_HOST_DUMP || argc < 2) {
        run(*e, argc, argv);
    } else if (const uint32_t dev = device_index(argv[1]); dev >= CMD_DEVICE_TABLE_SIZE) {
        cm_printf(CM_ERR, "[%-25s] Invaild Device Index(1~127)\n", "do_cmd");
    } else if (g_emergency[dev] == EMERGENCY_MODE && !emergency_exempt(e->id)) {
        print_red("Device is Emergency Mode\n");
        return 1;
    } else if (downloading[dev] != 0) {
        char text[96];
        std::snprintf(text, sizeof text, "Now Firmware Downloading dev %d. Please Do Not Insert Command\n",
                      static_cast<int>(dev));
        print_red(text);
    } else {
        run(*e, argc, argv);
    }
    return e->handler ? result : 0;
}

int cmd_offer_line(std::string_view line, console_length length, void (*before_send)(std::string_view line),
                   capture_source source)
{
    capture({.kind = capture_kind::shell_line, .source = source, .bytes = capture_text(line)});
    std::string cut(line);
    if (do_cmd(cut.data()) != 0)
        return 1;
    if (before_send)
        before_send(line);
    // A std::string keeps a NUL behind its text.
    const std::string untouched(line);
    const size_t nul = length == console_length::with_nul ? 1 : 0;
    cm_send_dm_command(std::string_view(untouched.c_str(), untouched.size() + nul));
    return 0;
}

}  // namespace cnxd
