#include "shell/cmd_table.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "shell/auto_test.h"
#include "shell/cmd_debug.h"
#include "shell/script.h"

namespace cnxd {
namespace {

// Rows in lookup order. A null handler marks a command whose handler is not
// written yet: its lines reach the modem's console as any unknown line.
constexpr cmd_entry cmd_rows[] = {
    // Device information and control.
    {"gdi", nullptr, CMD_ID_GDI},
    {"gdl", nullptr, 2},
    {"reset", nullptr, CMD_ID_RESET},
    {"pf", nullptr, 4},
    // EMM and ESM control.
    {"at", nullptr, CMD_ID_AT},
    {"atex", nullptr, 6},
    {"dt", nullptr, 7},
    {"pc", nullptr, 8},
    {"pcex", nullptr, 9},
    {"pd", nullptr, 10},
    {"br", nullptr, 11},
    // PLMN selection.
    {"pls", nullptr, 12},
    {"plse", nullptr, 13},
    {"plss", nullptr, 14},
    {"pll", nullptr, 15},
    {"pllext", nullptr, 16},
    {"pllext2", nullptr, 17},
    {"plla", nullptr, 18},
    {"qspl", nullptr, 19},
    {"plsi", nullptr, 20},
    {"plsic", nullptr, 21},
    {"plsr", nullptr, 22},
    {"plsmr", nullptr, 23},
    {"acs", nullptr, 24},
    {"oprtrcnt", nullptr, 25},
    {"service", nullptr, 26},
    {"sus", nullptr, 27},
    {"resume", nullptr, 28},
    // UE control.
    {"on", nullptr, 29},
    {"off", nullptr, 30},
    {"download", nullptr, CMD_ID_DOWNLOAD},
    {"offx", nullptr, 32},
    {"hkadc", nullptr, 33},
    {"mid", nullptr, 34},
    {"iccid", nullptr, 35},
    {"msisdn", nullptr, 36},
    {"temperature", nullptr, 37},
    {"nid", nullptr, 38},
    {"tz", nullptr, 39},
    {"indm", nullptr, 40},
    {"scf", nullptr, 41},
    {"sib", nullptr, 42},
    {"emmi", nullptr, 43},
    {"emms", nullptr, 44},
    {"tin", nullptr, 45},
    {"guti", nullptr, 46},
    // UICC control.
    {"uicc", nullptr, 47},
    {"uiccext", nullptr, 48},
    {"bip", nullptr, 49},
    // DM log and protocol information.
    {"dm", nullptr, 50},
    {"dmext", nullptr, 51},
    {"gpsinfo", nullptr, 52},
    {"spsinfo", nullptr, 53},
    // NV.
    {"nvup", nullptr, 54},
    {"nvdown", nullptr, 55},
    // PS and RF control.
    {"indmc", nullptr, 56},
    {"rfsc", nullptr, 57},
    {"rfec", nullptr, 58},
    {"dbgc", nullptr, 59},
    {"epsnsc", nullptr, 60},
    {"rfmr", nullptr, 61},
    {"hic", nullptr, 62},
    {"edrx", nullptr, 63},
    {"ctrl5gsecu", nullptr, 64},
    {"con5gnr", nullptr, 65},
    {"lb", nullptr, 66},
    {"gp", nullptr, 67},
    {"sp", nullptr, 68},
    {"gc", nullptr, 69},
    {"ec", nullptr, 70},
    {"chmac", nullptr, 71},
    {"chimei", nullptr, 72},
    {"slogconf", nullptr, 73},
    {"glogconf", nullptr, 74},
    {"cinfo", nullptr, 75},
    {"nstats", nullptr, 76},
    {"vs", nullptr, 77},
    {"rrccapa", nullptr, 78},
    {"rrccapag", nullptr, 79},
    {"rrcfunc", nullptr, 80},
    {"rrcfuncg", nullptr, 81},
    {"phyfunc", nullptr, 82},
    {"phyfuncg", nullptr, 83},
    {"phyta", nullptr, 84},
    {"plmncfgset", nullptr, 85},
    {"plmncfgget", nullptr, 86},
    {"l2funcg", nullptr, 87},
    {"plmncsgl", nullptr, 88},
    {"plmncsga", nullptr, 89},
    {"plmncsgqs", nullptr, 90},
    {"plmncsgs", nullptr, 91},
    {"plmncsgsl", nullptr, 92},
    {"plmncsggl", nullptr, 93},
    {"supalgoset", nullptr, 94},
    {"supalgoread", nullptr, 95},
    // The daemon itself.
    {"help", nullptr, CMD_ID_HELP},
    {"nasconf", nullptr, 98},
    {"roamallow", nullptr, 99},
    {"watchdog", nullptr, 100},
    {"sys", cmd_sys_resetsw, CMD_ID_SYS},
    {"cmtest", nullptr, 103},
    {"eip", nullptr, 104},
    {"host_dump", cmd_host_dump, CMD_ID_HOST_DUMP},
    {"kern", nullptr, 106},
    {"arm1log", cmd_arm1_log_control, 107},
    {"cnxdf", cmd_cnxd_flags, 108},
    {"laf", cmd_api_flags, 109},
    {"lsf", cmd_sdk_flags, 110},
    {"cnxdst", cmd_cnxd_stuck, 111},
    {"cnxdcommf", cmd_common_flag, 112},
    {"socksim", cmd_sock_sim, 113},
    {"cnxdcinfo", cmd_client_info, 114},
    {"crash", cmd_crash, 115},
    {"confdb", cmd_confdb, 116},
    {"dm_en", cmd_dm_enable, 117},
    {"dm_dis", cmd_dm_disable, 118},
    // Automated test and scripts.
    {"test", cmd_auto_test, 119},
    {"senddmfile", cmd_send_dm_file, 120},
    // Diagnostics tool.
    {"x", nullptr, 121},
};

constexpr bool words_and_ids_unique()
{
    for (auto a = std::begin(cmd_rows); a != std::end(cmd_rows); ++a)
        for (auto b = a + 1; b != std::end(cmd_rows); ++b)
            if (a->id == b->id || std::string_view(a->word) == b->word)
                return false;
    return true;
}
static_assert(words_and_ids_unique(), "command words and ids are unique");
static_assert(std::ranges::none_of(cmd_rows, [](const cmd_entry& e) {
                  return e.id == CMD_ID_RESERVED || e.id == CMD_ID_END;
              }),
              "ids 97 and 101 belong to no command");
static_assert(std::size(cmd_rows) == 119, "every command word of the shell");

}  // namespace

const std::span<const cmd_entry> cmd_tbl(cmd_rows);

const cmd_entry* cmd_find(std::string_view word)
{
    const auto it = std::ranges::find_if(cmd_tbl, [&](const cmd_entry& e) { return word == e.word; });
    return it == cmd_tbl.end() ? nullptr : &*it;
}

}  // namespace cnxd
