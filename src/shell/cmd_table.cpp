#include "shell/cmd_table.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "shell/auto_test.h"
#include "shell/cmd_debug.h"
#include "shell/cmd_help.h"
#include "shell/script.h"

namespace cnxd {
namespace {

using G = cmd_group;

// Rows in lookup order; help lists them by group, in this order within a
// group. Which group a command belongs to is ours to choose: the modem-side
// reads of identities and counters are device information, controls of the
// radio and data path are PS control, and the daemon's own switches, tools
// and tests are ETC. A null handler marks a command whose handler is not
// written yet: its lines reach the modem's console as any unknown line.
constexpr cmd_entry cmd_rows[] = {
    // Device information and control.
    {"gdi", nullptr, CMD_ID_GDI, G::device_info, "Get Device Information"},
    {"gdl", nullptr, 2, G::device_info, "Get Device List"},
    {"reset", nullptr, CMD_ID_RESET, G::ue, "Device Reset"},
    {"pf", nullptr, 4, G::ue, "Device Power Off"},
    // EMM and ESM control.
    {"at", nullptr, CMD_ID_AT, G::emm, "Attach"},
    {"atex", nullptr, 6, G::emm, "Attach Extension"},
    {"dt", nullptr, 7, G::emm, "Detach"},
    {"pc", nullptr, 8, G::esm, "PDN Connectivity"},
    {"pcex", nullptr, 9, G::esm, "PDN Connectivity Extension"},
    {"pd", nullptr, 10, G::esm, "PDN Disconnect"},
    {"br", nullptr, 11, G::esm, "Bearer Resource"},
    // PLMN selection.
    {"pls", nullptr, 12, G::plmn, "PLMN Search"},
    {"plse", nullptr, 13, G::plmn, "PLMN Search Extension"},
    {"plss", nullptr, 14, G::plmn, "PLMN Search Stop"},
    {"pll", nullptr, 15, G::plmn, "PLMN List"},
    {"pllext", nullptr, 16, G::plmn, "PLMN List Extension"},
    {"pllext2", nullptr, 17, G::plmn, "PLMN List Extension 2"},
    {"plla", nullptr, 18, G::plmn, "PLMN List Abort"},
    {"qspl", nullptr, 19, G::plmn, "Query Selected PLMN"},
    {"plsi", nullptr, 20, G::plmn, "PLMN Search Interval Index Read"},
    {"plsic", nullptr, 21, G::plmn, "PLMN Search Index Change"},
    {"plsr", nullptr, 22, G::plmn, "PLMN Search Status Read"},
    {"plsmr", nullptr, 23, G::plmn, "PLMN Search Mode Read"},
    {"acs", nullptr, 24, G::plmn, "Automatic Cell Search Start"},
    {"oprtrcnt", nullptr, 25, G::emm, "Attach and RRC Retry Count"},
    {"service", nullptr, 26, G::emm, "Service Request"},
    {"sus", nullptr, 27, G::emm, "Suspend"},
    {"resume", nullptr, 28, G::emm, "Resume"},
    // UE control.
    {"on", nullptr, 29, G::ue, "Online"},
    {"off", nullptr, 30, G::ue, "Offline"},
    {"download", nullptr, CMD_ID_DOWNLOAD, G::ue, "Firmware Download"},
    {"offx", nullptr, 32, G::ue, "Offline Extension"},
    {"hkadc", nullptr, 33, G::device_info, "HKADC Read"},
    {"mid", nullptr, 34, G::device_info, "Mobile Identity Read"},
    {"iccid", nullptr, 35, G::device_info, "ICCID Read"},
    {"msisdn", nullptr, 36, G::device_info, "MSISDN Read"},
    {"temperature", nullptr, 37, G::device_info, "Temperature Read"},
    {"nid", nullptr, 38, G::protocol_info, "NID Read"},
    {"tz", nullptr, 39, G::protocol_info, "Network Time Read"},
    {"indm", nullptr, 40, G::ps, "Indication Mask Control Read"},
    {"scf", nullptr, 41, G::protocol_info, "Serving Cell Frequency Read"},
    {"sib", nullptr, 42, G::protocol_info, "SIB1 Pmax Read"},
    {"emmi", nullptr, 43, G::protocol_info, "EMM Information Read"},
    {"emms", nullptr, 44, G::protocol_info, "EMM State Read"},
    {"tin", nullptr, 45, G::protocol_info, "TIN Read"},
    {"guti", nullptr, 46, G::protocol_info, "GUTI Read"},
    // UICC control.
    {"uicc", nullptr, 47, G::uicc, "UICC Control"},
    {"uiccext", nullptr, 48, G::uicc, "UICC Unlock"},
    {"bip", nullptr, 49, G::uicc, "BIP Control"},
    // DM log and protocol information.
    {"dm", nullptr, 50, G::dm_log, "DM Log Read"},
    {"dmext", nullptr, 51, G::dm_log, "DM Log Extension Read"},
    {"gpsinfo", nullptr, 52, G::protocol_info, "Get Protocol Information"},
    {"spsinfo", nullptr, 53, G::protocol_info, "Set Protocol Information"},
    // NV.
    {"nvup", nullptr, 54, G::nv, "NV Upload"},
    {"nvdown", nullptr, 55, G::nv, "NV Download"},
    // PS and RF control.
    {"indmc", nullptr, 56, G::ps, "Indication Mask Control"},
    {"rfsc", nullptr, 57, G::ps, "RF Status Report Control"},
    {"rfec", nullptr, 58, G::ps, "RF Event Control"},
    {"dbgc", nullptr, 59, G::dm_log, "Debug Log Control"},
    {"epsnsc", nullptr, 60, G::nv, "Save EPS NAS Security Context NV"},
    {"rfmr", nullptr, 61, G::ps, "RF Measure Report"},
    {"hic", nullptr, 62, G::ps, "Host IP Connect"},
    {"edrx", nullptr, 63, G::ps, "Extended DRX Parameter Control"},
    {"ctrl5gsecu", nullptr, 64, G::ps, "5G Additional Security Control"},
    {"con5gnr", nullptr, 65, G::ps, "5G NR Control"},
    {"lb", nullptr, 66, G::ps, "Loopback Start"},
    {"gp", nullptr, 67, G::ue, "Get GPIO Data"},
    {"sp", nullptr, 68, G::ue, "Set GPIO Data"},
    {"gc", nullptr, 69, G::device_info, "Get Crash Log"},
    {"ec", nullptr, 70, G::ue, "Erase Crash Log"},
    {"chmac", nullptr, 71, G::ue, "Change MAC Address"},
    {"chimei", nullptr, 72, G::ue, "Change IMEI"},
    {"slogconf", nullptr, 73, G::dm_log, "Set Log Config"},
    {"glogconf", nullptr, 74, G::dm_log, "Get Log Config"},
    {"cinfo", nullptr, 75, G::device_info, "Get Connection Information"},
    {"nstats", nullptr, 76, G::device_info, "Get Network Statistics"},
    {"vs", nullptr, 77, G::etc, "Vendor Specific"},
    {"rrccapa", nullptr, 78, G::protocol_info, "RRC Capability Control"},
    {"rrccapag", nullptr, 79, G::protocol_info, "RRC Capability Control Get"},
    {"rrcfunc", nullptr, 80, G::protocol_info, "RRC Function Control"},
    {"rrcfuncg", nullptr, 81, G::protocol_info, "RRC Function Control Get"},
    {"phyfunc", nullptr, 82, G::protocol_info, "PHY Function Control"},
    {"phyfuncg", nullptr, 83, G::protocol_info, "PHY Function Control Get"},
    {"phyta", nullptr, 84, G::protocol_info, "PHY TA Information"},
    {"plmncfgset", nullptr, 85, G::plmn, "PLMN Configuration Set"},
    {"plmncfgget", nullptr, 86, G::plmn, "PLMN Configuration Get"},
    {"l2funcg", nullptr, 87, G::protocol_info, "L2 Function Control Get"},
    {"plmncsgl", nullptr, 88, G::plmn, "CSG List"},
    {"plmncsga", nullptr, 89, G::plmn, "CSG List Abort"},
    {"plmncsgqs", nullptr, 90, G::plmn, "CSG Query Selected"},
    {"plmncsgs", nullptr, 91, G::plmn, "CSG Select"},
    {"plmncsgsl", nullptr, 92, G::plmn, "CSG Set Allowed CSG List"},
    {"plmncsggl", nullptr, 93, G::plmn, "CSG Get CSG List"},
    {"supalgoset", nullptr, 94, G::emm, "UE Support Algorithm Set"},
    {"supalgoread", nullptr, 95, G::emm, "UE Support Algorithm Read"},
    // The daemon itself.
    {"help", cmd_help, CMD_ID_HELP, G::etc, "Command List"},
    {"nasconf", nullptr, 98, G::emm, "NAS Configuration"},
    {"roamallow", nullptr, 99, G::plmn, "Roaming Allowed"},
    {"watchdog", cmd_watchdog, 100, G::etc, "Watchdog Mode"},
    {"sys", cmd_sys_resetsw, CMD_ID_SYS, G::etc, "Software Reset"},
    {"cmtest", nullptr, 103, G::etc, "CM Test Injection"},
    {"eip", nullptr, 104, G::etc, "Encapsulated Multicast Address"},
    {"host_dump", cmd_host_dump, CMD_ID_HOST_DUMP, G::etc, "Host Dump Address"},
    {"kern", nullptr, 106, G::etc, "Kernel Tool Command"},
    {"arm1log", cmd_arm1_log_control, 107, G::etc, "ARM1 Log Direction Control"},
    {"cnxdf", cmd_cnxd_flags, 108, G::etc, "CNXD Flags"},
    {"laf", cmd_api_flags, 109, G::etc, "LTE API Flags"},
    {"lsf", cmd_sdk_flags, 110, G::etc, "LTE SDK Flags"},
    {"cnxdst", cmd_cnxd_stuck, 111, G::etc, "Client Stuck Test"},
    {"cnxdcommf", cmd_common_flag, 112, G::etc, "Common Log Flag"},
    {"socksim", cmd_sock_sim, 113, G::etc, "Socket Simulation Test"},
    {"cnxdcinfo", cmd_client_info, 114, G::etc, "Client Information"},
    {"crash", cmd_crash, 115, G::etc, "Crash Console Log"},
    {"confdb", cmd_confdb, 116, G::etc, "Configuration Store Tool"},
    {"dm_en", cmd_dm_enable, 117, G::nv, "DM NV Write Enable"},
    {"dm_dis", cmd_dm_disable, 118, G::nv, "DM NV Write Disable"},
    // Automated test and scripts.
    {"test", cmd_auto_test, 119, G::etc, "Auto Test"},
    {"senddmfile", cmd_send_dm_file, 120, G::etc, "Send DM Command File"},
    // Diagnostics tool.
    {"x", nullptr, 121, G::etc, "Diagnostics Tool"},
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
static_assert(std::ranges::all_of(cmd_rows, [](const cmd_entry& e) {
                  return e.title && *e.title && static_cast<size_t>(e.group) < cmd_group_heading.size();
              }),
              "every command has a help title and group");

}  // namespace

const std::span<const cmd_entry> cmd_tbl(cmd_rows);

const cmd_entry* cmd_find(std::string_view word)
{
    const auto it = std::ranges::find_if(cmd_tbl, [&](const cmd_entry& e) { return word == e.word; });
    return it == cmd_tbl.end() ? nullptr : &*it;
}

}  // namespace cnxd
