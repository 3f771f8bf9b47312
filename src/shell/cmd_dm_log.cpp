// The DM log commands written by hand: the DM report requests, which name
// a short line as such, setting the CM and SDK log configuration from its
// file, with the file's mode and level numbers turned into the SDK's, and
// printing the configuration in force.
#include <array>
#include <cstdint>

#include "base/be.h"
#include "dm/dm_filter.h"
#include "ltesdk.h"
#include "modem/cm_printf.h"
#include "modem/cm_wrappers.h"
#include "server/delivery.h"
#include "shell/cmd_handlers.h"
#include "shell/cmd_request.h"

namespace cnxd {
namespace {

constexpr uint16_t LOG_UNKNOWN = 255;
// The log configuration belongs to the SDK, not to a device.
constexpr uint32_t LOG_CONFIG_DEV = 0;

struct log_word {
    uint16_t file;  // the parameter file's number
    uint16_t sdk;   // the SDK's
    const char* set_name;
    const char* get_name;
};

constexpr log_word log_modes[] = {
    {0, LAPI_LOG_MODE_OFF, "LOG OFF", "OFF"},
    {1, LAPI_LOG_MODE_PRINT, "PRINT", "PRINT"},
    {2, LAPI_LOG_MODE_FILE, "FILE", "FILE"},
    {3, LAPI_LOG_MODE_PRINT_FILE, "PRINT & FILE", "PRINT & FILE"},
    {4, LAPI_LOG_MODE_CALLBACK, "SEND LOG TO CM", "SEND LOG TO CM"},
};
constexpr log_word log_levels[] = {
    {1, 6, "INFORMATION", "INFORMATION"},
    {2, 22, "LOUD", "LOUD"},
    {3, 86, "ALL", "ALL"},
};

// The word whose `key` member is `v`, or nullptr.
template <size_t N>
const log_word* find_word(const log_word (&words)[N], uint16_t log_word::*key, uint16_t v)
{
    for (const log_word& w : words)
        if (w.*key == v)
            return &w;
    return nullptr;
}

// Turns one block's file numbers into the SDK's, printing their names.
void translate_block(uint8_t* block, const char* title)
{
    cnxd_srv_send_log("%s", title);
    const log_word* mode = find_word(log_modes, &log_word::file, load_be16(block + LAPI_LOG_BLOCK_MODE));
    const log_word* level = find_word(log_levels, &log_word::file, load_be16(block + LAPI_LOG_BLOCK_LEVEL));
    cnxd_srv_send_log("mode[%s], ", mode ? mode->set_name : "");
    cnxd_srv_send_log("level[%s]\n", level ? level->set_name : "");
    store_be16(block + LAPI_LOG_BLOCK_MODE, mode ? mode->sdk : LOG_UNKNOWN);
    store_be16(block + LAPI_LOG_BLOCK_LEVEL, level ? level->sdk : LOG_UNKNOWN);
}

void print_block(const uint8_t* block, const char* title)
{
    cnxd_srv_send_log("%s", title);
    if (const log_word* mode = find_word(log_modes, &log_word::sdk, load_be16(block + LAPI_LOG_BLOCK_MODE)))
        cnxd_srv_send_log("mode[%s], ", mode->get_name);
    else
        cnxd_srv_send_log("Unknown log mode\n");
    if (const log_word* level = find_word(log_levels, &log_word::sdk, load_be16(block + LAPI_LOG_BLOCK_LEVEL)))
        cnxd_srv_send_log("level[%s]\n", level->get_name);
    else
        cnxd_srv_send_log("Unknown log level\n");
}

// The DM extension request: command, category, interval and count, then
// the item count and the items.
constexpr size_t DM_EXT_SIZE = 30;
constexpr size_t DM_EXT_ITEMS = 4;

// Whether the line has the row's least token count; prints why not.
bool enough_parameters(const cmd_entry& e, int argc)
{
    if (argc >= e.min_tokens)
        return true;
    cmd_begin(e);
    cm_printf(CM_ERR, "[%-25s] Not enough parameters\n", e.name);
    cmd_usage(e);
    return false;
}

}  // namespace

int cmd_dm_log_read(int argc, char** argv)
{
    return enough_parameters(cmd_row(argv[0]), argc) ? cmd_request(argc, argv) : 0;
}

int cmd_dm_log_ext_read(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    if (!enough_parameters(e, argc))
        return 0;
    const uint32_t dev = cmd_enter(e, argc, argv);
    std::array<uint8_t, DM_EXT_SIZE> rec{};
    if (dev == 0 || cmd_make(e, e.builder, rec, argc, argv) != 0 || cmd_check(e, e.builder, rec) != 0)
        return 0;
    cm_dm_log_ext_read(dev, s_filter_dm_db.data(), rec.data(), &rec[DM_EXT_ITEMS]);
    cmd_leave(e);
    return 0;
}

int cmd_set_log_config(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    cmd_begin(e);
    std::array<uint8_t, LAPI_LOG_CONFIG_SIZE> rec{};
    if (!cmd_tokens_ok(e, argc) || cmd_make(e, e.builder, rec, argc, argv) != 0 || cmd_check(e, e.builder, rec) != 0)
        return 0;
    translate_block(&rec[LAPI_LOG_CM_BLOCK], "CM Set LOG Config\n");
    translate_block(&rec[LAPI_LOG_SDK_BLOCK], "SDK Set LOG Config\n");
    cm_set_log_config(LOG_CONFIG_DEV, rec.data());
    cmd_leave(e);
    return 0;
}

int cmd_get_log_config(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    cmd_begin(e);
    std::array<uint8_t, LAPI_LOG_CONFIG_SIZE> rec{};
    if (!cmd_tokens_ok(e, argc) || cm_get_log_config(LOG_CONFIG_DEV, rec.data()) != 0)
        return 0;
    print_block(&rec[LAPI_LOG_CM_BLOCK], "CM Log config\n");
    print_block(&rec[LAPI_LOG_SDK_BLOCK], "SDK Log config\n");
    cmd_leave(e);
    return 0;
}

}  // namespace cnxd
