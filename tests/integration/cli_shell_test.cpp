// cnxd-cli and the command shell end to end, against the daemon and its
// simulated modem: cnxd-cli's commands; and shell lines over the TCP
// command port, from cnxd-cli, command files and the modem, each row a
// line with what it prints (log text, the daemon's standard output) and
// what reaches the modem (the simulator's call record), on the sysroot's
// sample parameter files or files a row writes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <random>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "base/be.h"
#include "integration/harness.h"
#include "shell/cmd_table.h"

namespace cnxd::test {
namespace {

long entries(const std::string& dir) { return std::ranges::distance(std::filesystem::directory_iterator(dir)); }

// No shared block is left at the client indexes below `n`.
bool blocks_gone(const Sysroot& root, int n)
{
    for (int i = 0; i < n; ++i)
        if (shmget(root.ipc_key(i), 0, 0) >= 0)
            return false;
    return true;
}

class CliAndShell : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(daemon.start());
        sim = std::make_unique<LtesimClient>(root);
        ASSERT_TRUE(sim->connected());
    }
    // A clean stop: the daemon removes the IPC objects of clients still there.
    void TearDown() override { EXPECT_EQ(0, daemon.stop(SIGTERM)); }

    // Waits until `call` ("NAME dev=N HEX") has been recorded.
    bool called(const std::string& call)
    {
        return eventually([&] {
            const auto calls = sim->calls();
            return std::ranges::find(calls, call) != calls.end();
        });
    }
    int console_calls_with(const std::string& text)
    {
        const auto calls = sim->calls();
        return static_cast<int>(std::ranges::count_if(calls, [&](const std::string& c) {
            return c.starts_with("LAPI_SendDMCommand") && c.find(hex(text)) != std::string::npos;
        }));
    }

    Sysroot root;
    Daemon daemon{root};
    std::unique_ptr<LtesimClient> sim;
};

// The daemon's standard output without the timed lines of its own log,
// which its other threads write in between.
std::string untimed(const std::string& out)
{
    static const std::regex timed(R"(\d\d:\d\d:\d\d\.\d{3} cnxd\[\d+\] <\d> [^\n]*\n)");
    return std::regex_replace(out, timed, "");
}

// What one shell line did: the text it printed (to the log listeners,
// before the answer of the marker line behind it, then on the daemon's
// standard output) and the SDK calls it made, the shell's echoes left out.
struct Answer {
    std::string printed;
    std::vector<std::string> calls;
};

// Shell lines over the TCP command port, one at a time: each waits for its
// echo (one receive is one line), then a marker line ("cnxdf 0", which also
// keeps the debug flags off) whose answer shows that the line has ended.
class ShellLines {
public:
    ShellLines(const Daemon& daemon, LtesimClient& sim, const LogTail& log)
        : daemon_(daemon), sim_(sim), log_(log), tcp_(daemon.cmd_port()) {}

    Answer run(const std::string& line)
    {
        EXPECT_EQ("ok", sim_.command("clear"));
        const size_t from = log_.text().size();
        const size_t stdout_from = daemon_.log().size();
        tcp_.send_line(line);
        EXPECT_TRUE(eventually([&] {
            return std::ranges::any_of(sim_.calls(), [](const std::string& c) { return c.starts_with(ECHO_CALL); });
        })) << line;
        tcp_.send_line("cnxdf 0");
        const std::string mark = "cnxd_flags=0x00000000\n";
        std::string text;
        EXPECT_TRUE(eventually([&] { return (text = log_.text().substr(from)).find(mark) != std::string::npos; }))
            << line;
        Answer a{text.substr(0, text.find(mark)) + untimed(daemon_.log().substr(stdout_from)), {}};
        for (const std::string& c : sim_.calls())
            if (!c.starts_with(ECHO_CALL))
                a.calls.push_back(c);
        tcp_.wait_for("", 0ms);  // drains the console output
        return a;
    }

private:
    static constexpr const char* ECHO_CALL = "LAPI_CLI_CMD_RSP_DELIVER_IND";

    const Daemon& daemon_;
    LtesimClient& sim_;
    const LogTail& log_;
    TcpShell tcp_;
};

// Bytes at an offset of an otherwise zero record.
struct Patch {
    size_t off;
    const char* hex;
};

std::string record_hex(size_t size, const std::vector<Patch>& patches)
{
    std::string rec(2 * size, '0');
    for (const Patch& p : patches)
        rec.replace(2 * p.off, std::strlen(p.hex), p.hex);
    return rec.substr(0, 2 * size);
}

using namespace std::string_literals;

// What reached the modem's console: `bytes`, or a shell `line` as the TCP
// shell sends it on (with its newline and a NUL).
std::string dm(const std::string& bytes) { return "LAPI_SendDMCommand dev=1 " + hex(bytes); }
std::string console(const std::string& line) { return dm(line + "\n" + '\0'); }

// A line of 32 tokens (the shell takes at most 31): it reaches the modem.
const std::string TOKENS_32 = "cnxdf 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5";

// The RF status file, after its ON_OFF line.
const char* const RF = "rf_status_control.param";
// A tag line without its "=" ends the read, though the set follows whole.
const std::string FREQ_SYNTAX = "BAND=3\nSTART_EARFCN 1200\nSTART_EARFCN=1200\nEND_EARFCN=1949\n";
const std::string RF_REST = "\nINTERVAL_IDLE=1\nINTERVAL_CONNECT=1\nTHRESH_IDLE=1\nTHRESH_CONNECT=1\n";

const char* const BAD_MAC = "[cmd_change_mac_address   ] Invalid Input Parameter\n";
const char* const BAD_INDEX = "[do_cmd                   ] Invaild Device Index(1~127)\n";

const std::string LOG_CONFIG = "cm_set_log=1\nsdk_set_log=1\ncm_log_mod=4\ncm_log_level=2\ncm_log_file_size=0\n"
                               "cm_log_file_path=\ncm_log_time_stamp_enable=0\nsdk_log_mod=0\nsdk_log_level=3\n"
                               "sdk_log_file_size=0\nsdk_log_file_path=\nsdk_log_time_stamp_enable=0\n";

struct ShellRow {
    std::string line;
    std::string printed;  // a part of what it printed ("": not checked)
    // The call it made: the start of its "NAME dev=N HEX"; "-NAME": none
    // of that name.
    std::string call = {};
    std::vector<Patch> record = {};  // with patches: the call's whole record
    const char* file = nullptr;      // a file (parameter file by name) written for this row alone
    std::string text = {};
};

// Parameter files as the sysroot's samples (docs/param) have them, unless
// a row writes its own.
const ShellRow SHELL_ROWS[] = {
    // What the shell takes and what it leaves to the modem.
    {"hello 1", "", console("hello 1")}, {"CNXDF 0x9", "", console("CNXDF 0x9")}, {TOKENS_32, "", console(TOKENS_32)},
    {"shell 1", "", console("shell 1")}, {"at", "", console("at")}, {"help", "\nat \t\tAttach\n", console("help")},
    {"cnxdf 0x10", "cnxd_flags=0x00000010\n", "-LAPI_SendDMCommand"},
    {"laf 010", "cnxd_api_flags=0x00000008\n", "-LAPI_SendDMCommand"},
    {"lsf 0x20", "lte_sdk_flags=0x00000020\n", "-LAPI_SendDMCommand"},
    {"cnxdst 0", "cnxdst=0x00000000\n", "-LAPI_SendDMCommand"},
    {"cnxdf 127", "cnxd_flags=0x0000007f\n", "-LAPI_SendDMCommand"}, {"cnxdf 128", BAD_INDEX, "-LAPI_SendDMCommand"},
    {"cnxdf -1", BAD_INDEX, "-LAPI_SendDMCommand"}, {"gdi 128", BAD_INDEX, "-LAPI_GetDeviceInformation"},
    {"x 200", BAD_INDEX, "-LAPI_SendDMCommand"}, {"rfsc 4294967297", BAD_INDEX, "-LAPI_RFStatus"},
    {"br 4294967296 0", BAD_INDEX, "-LAPI_Bearer"}, {"sys reset@@", "", "-LAPI_SendDMCommand"},
    {"sys status", "", console("sys status")}, {"sys reset@@", "", console("sys reset@@")},
    // Commands written by hand.
    {"gdi 1", "FW version : 5.0.12.4\n", "LAPI_GetDeviceInformationExtension dev=1"},
    {"gdl", "  1\tlte0                     \t00 1e 42 00 00 01\n", "LAPI_GetDeviceList"},
    {"cinfo 1", "There is no Connection Info\n", "LAPI_GetConnectionInfo dev=1"},
    {"nstats 1 9", "[cmd_get_network_statics_info] Invalid nic index\n", "-LAPI_GetNetworkInformation"},
    {"nstats 1 8", "NIC Index : 8\n", "LAPI_GetNetworkInformation dev=1"},
    {"chmac 1 00-11-22-33-44-555", BAD_MAC, "-LAPI_SetLTE"}, {"chmac 1 00-1a-2B-3c-4D-5e", "", "LAPI_SetLTEInfo"},
    {"chmac 1 00-1a-2b-3c-4d-5g", BAD_MAC, "-LAPI_SetLTE"}, {"chmac 1 00:1a:2b:3c:4d:5e", BAD_MAC, "-LAPI_SetLTE"},
    {"chmac 1 00-1a-2b-3c-4d", BAD_MAC, "-LAPI_SetLTE"}, {"chmac 1 00-1a-2b-3c-4d-5e-6f", BAD_MAC, "-LAPI_SetLTE"},
    {"chimei 1 49015420323751", "", "LAPI_SetLTEInfo dev=1"}, {"chimei 1 490154203237518", "", "LAPI_SetLTEInfo dev=1"},
    {"chimei 1 490154203237519", "[make_change_imei_req_param] !check_digit_valid\n", "-LAPI_SetLTEInfo"},
    {"chimei 1 4901", "make_change_imei_req_param argument length err", "-LAPI_SetLTEInfo"},
    {"chimei 1 4901542032375x", "", "-LAPI_SetLTEInfo"},
    {"roamallow 1 2", "[cmd_roamallow            ] Invalid 2nd param value [2]\n", ""},
    {"cmtest 1 13 0", "unkown test item : 13\n", "-LAPI_DeviceReset"},
    {"cmtest 1 5 6", "-------CM Test Usage-------\n", "-LAPI_DeviceReset"},
    {"uiccext 0 unlock 1", "cmd_uicc_ext_cmd: Device Index [0] was wrong.\n", ""},
    {"uiccext 1 unlock 3", "cmd_uicc_ext_cmd: Unlock Value [3] was wrong.\n", ""},
    {"eip 1 4 224.1.1.1", "add/del - add(1)/del(0)\n", "-LAPI_AddEncapsIP"},
    {"eip 1 4 224.100.100.1 192.168.0.10", "", "LAPI_AddEncapsIP dev=1"},
    {"bip 1 0", "", "LAPI_BIPControlResult dev=1"}, {"bip 1 1", "", "LAPI_BIPControlIndication dev=1"},
    {"bip 1 2", "[cmd_bip_control_request  ] Invalid Input Parameter\n", "-LAPI_BIPControl"},
    {"vs 1 5", "[cmd_vendor_specific      ] unknown vendor type 5\n", "-LAPI_VendorSpecificHCI"},
    {"plse 1", "", "LAPI_PLMNSearchExtRequest dev=1"},
    {"edrx 1 21 0", "[cmd_ext_drx_param_ctrl_request] Invalid Input Parameter\n", "-LAPI_ExtDRX"},
    {"edrx 1 0 10", "-------Extended DRX Parameter Control Request Usage-------\n", "-LAPI_ExtDRX"},
    {"br 1 3", "[cmd_bearer_resource_request] Invalid Input Parameter\n", "-LAPI_Bearer"},
    {"br 1 256", "", "LAPI_BearerResourceAllocation dev=1"},  // the mode's low byte
    {"br 1 12345678901", "[cmd_bearer_resource_request] Invalid Input Parameter\n", "-LAPI_Bearer"},
    {"br 1 4294967296",
     "See /var/lte/param/bearer_alloc.param other parameter\nSee /var/lte/param/bearer_modify.param other parameter\n",
     "-LAPI_Bearer"},
    {"plmncfgset 1 x", "[cmd_plmn_cfg_set         ] Invalid Input Parameter\n", "-LAPI_PLMNCfgSet"},
    {"ctrl5gsecu 1 0", "", "LAPI_5GAddSecurityCtrlRequest dev=1 ff000000000000000000000000000000ff"},
    {"ctrl5gsecu 1 2", "[cmd_5g_security_ctrl_request] Invalid Input Parameter\n", "-LAPI_5GAdd"},
    {"ctrl5gsecu 1 1", "", "LAPI_5GAddSecurityCtrlRequest dev=1 0100000000000000000000000000000001",
     {}, "ps_ctrl_5g_add_security.param", "EA0=1\nEA1=0\nIA0=1\n"},
    // Token counts and device indexes of the common request shape.
    {"dt 1", "Usage-------\n", "-LAPI_DetachRequest"}, {"dt 1 0 0", "Usage-------\n", "-LAPI_DetachRequest"},
    {"pls 1 0 0", "See /var/lte/param/plmn_search.param other parameter\n", "-LAPI_PLMNSearch"},
    {"", "", console("")}, {"host_dump 200", "host_dump 200\n", "-LAPI_SendDMCommand"},
    {"dt 0 0", "] Invalid Device ID\n", "-LAPI_DetachRequest"}, {"dt 128 0", BAD_INDEX, "-LAPI_DetachRequest"},
    {"reset 1", "", "LAPI_DeviceReset dev=1"}, {"pf 1", "", "LAPI_DevicePowerOff dev=1"},
    {"pll 1", "", "LAPI_PLMNListRequest dev=1"}, {"iccid 1", "", "LAPI_ICCIDReadRequest dev=1"},
    {"gc 1", "", "LAPI_GetCrashLogRequest dev=1"}, {"epsnsc 1", "", "LAPI_SaveEPSNSCNV dev=1"},
    {"guti 1", "", "LAPI_GUTIReadRequest dev=1"},
    {"plss 1 0", "", "LAPI_PLMNSearchStopRequest"}, {"plla 1", "", "LAPI_PLMNListAbortRequest"},
    {"qspl 1", "", "LAPI_QuerySelectedPLMNRequest"}, {"plsi 1", "", "LAPI_PLMNSearchIntervalIndexReadRequest"},
    {"plsic 1 1", "", "LAPI_PLMNSearchIndexChangeRequest"}, {"plsr 1", "", "LAPI_PLMNSearchStatusReadRequest"},
    {"plsmr 1", "", "LAPI_PLMNSearchModeReadRequest"}, {"acs 1", "", "LAPI_AutomaticCellSearchStartRequest"},
    {"service 1", "", "LAPI_ServiceRequest"}, {"resume 1 0", "", "LAPI_ResumeRequest"},
    {"hkadc 1 0", "", "LAPI_HKADCReadRequest"}, {"msisdn 1", "", "LAPI_MSISDNReadRequest"},
    {"temperature 1", "", "LAPI_TemperatureReadRequest"}, {"tz 1 0", "", "LAPI_TZReadRequest"},
    {"indm 1", "", "LAPI_IndicationMaskReadRequest"}, {"scf 1", "", "LAPI_ServinigCellFreqReadRequest"},
    {"sib 1", "", "LAPI_SIB1PmaxReadRequest"}, {"emmi 1", "", "LAPI_EMMInformationReadRequest"},
    {"emms 1", "", "LAPI_EMMStateReadRequest"}, {"tin 1", "", "LAPI_TINReadRequest"},
    {"rfmr 1 0", "", "LAPI_RFMeasureReportRequest"}, {"hic 1 0", "", "LAPI_HostIPConnectRequest"},
    {"ec 1", "", "LAPI_EraseCrashLogRequest"}, {"plmncsgl 1", "", "LAPI_PLMNCSGListRequest"},
    {"plmncsga 1", "", "LAPI_PLMNCSGListAbortRequest"}, {"plmncsgqs 1", "", "LAPI_PLMNCSGQuerySelectedRequest"},
    {"supalgoread 1", "", "LAPI_UESupportAlgorithmReadRequest"}, {"gp 1 1", "", "LAPI_GetGPIO"},
    {"supalgoset 1 1 1", "", "LAPI_UESupportAlgorithmChangeRequest"},
    {"plmncsggl 1 0", "", "LAPI_PLMNCSGGetCSGLRequest"}, {"rrcfuncg 1 0", "", "LAPI_RRCFunctionControlGetRequest"},
    {"l2funcg 1 0", "", "LAPI_L2FunctionControlGetRequest"}, {"plmncfgget 1 1", "", "LAPI_PLMNCfgGetRequest"},
    {"nvup 1 2", "", "LAPI_UploadBinary"}, {"plmncsgsl 1 0 1 45006 0 0 7", "", "LAPI_PLMNCSGSetACSGLRequest"},
    {"dbgc 1 0", "", "LAPI_DebugLogControlRequest"},
    // Packed numbers: the value just inside each range is taken, the one
    // just outside refused; ten digits saturate instead of wrapping.
    {"con5gnr 1 1", "", "LAPI_5GNRControlRequest dev=1"},
    {"con5gnr 1 2", "Invalid Input Parameter\n", "-LAPI_5GNRControlRequest"},
    {"oprtrcnt 1 256 3", "Invalid Input Parameter\n", "-LAPI_SetOprtcntRequest"},
    {"oprtrcnt 1 4294967297 3", "Invalid Input Parameter\n", "-LAPI_SetOprtcntRequest"},
    {"rrccapag 1 65536", "Invalid Input Parameter\n", "-LAPI_RRCCapabilityControlGetRequest"},
    {"plmncsgs 1 45006 7", "", "LAPI_PLMNCSGSelectRequest dev=1"},
    {"plmncsgs 1 45006", "Usage-------\n", "-LAPI_PLMNCSGSelectRequest"},
    {"nasconf 1 0 11 1", "Invalid Input Parameter\n", "-LAPI_SetNASConfigRequest"},
    {"pd 1 32 0", "Invalid Input Parameter\n", "-LAPI_PDNDisconnRequest"},
    {"pd 1 5 8", "Invalid Input Parameter\n", "-LAPI_PDNDisconnRequest"},
    {"pd 1 4 0", "Unknown default EPS id : 4 (default EPS id : 5 ~ 31)\n", "-LAPI_PDNDisconnRequest"},
    // Arguments through the builders and their checks.
    {"dt 1 2", "Unknown Detach Type : 2 (Detach Type : 0 ~ 1)\n", "-LAPI_DetachRequest"},
    {"sus 1 65536", "Unknown service type: 10000", "-LAPI_SuspendRequest"},
    {"sp 1 63 1", "", "LAPI_SetGPIO dev=1 3f01"},
    {"sp 1 64 1", "Unknown Set GPIO PIN Number : 64 (GPIO PIN Number : 1 ~ 63)\n", "-LAPI_SetGPIO"},
    {"mid 1 3", "Unknown MOBILE ID TYPE : 3 (MOBILE ID Type : 1 ~ 3)\n", "-LAPI_MobileIDReadRequest"},
    {"nid 1 1 15", "", "LAPI_NIDReadRequest dev=1"},
    {"nid 1 1 0", "(default EPS id : 1 ~ 15)\n", "-LAPI_NIDReadRequest"},
    {"nid 1 0 0", "", "LAPI_NIDReadRequest dev=1"},
    {"nid 1 0 1", "Unknown default EPS id : 1 (default EPS id : 0)\n", "-LAPI_NIDReadRequest"},
    {"nid 1 1", "Usage-------\n", "-LAPI_NIDReadRequest"},
    {"offx 1 4", "Unknown Offline Type : 4 (Offline Type : 0 ~ 3)\n", "-LAPI_OfflineRequestExtension"},
    {"dbgc 1 7", "Unknown Device DBEUG Level : 7", "-LAPI_DebugLogControlRequest"},
    {"dm 1 21 0 1 0", "", "LAPI_DMLogReadRequest dev=1 0015000100"},
    {"dm 1 22 0 1 0", "Unknown DM Log ID : 22 (DM LOG ID : 0 ~ 18)\n", "-LAPI_DMLogReadRequest"},
    {"dmext 1 0 16 5 0 1 2 3", "", "LAPI_DMLogExtReadRequest dev=1 0010050003010203"},
    {"dmext 1 0 16 5 0 1 256", "Invalid #7 parameter\n", "-LAPI_DMLogExtReadRequest"},
    {"dmext 1 2 16 5 0 1", "[dm_log_ext_read_req_param_check] Invalid Command\n", "-LAPI_DMLogExtReadRequest"},
    {"gpsinfo 1 11", "", "LAPI_GetProtocolInfoRequest dev=1 000b"},
    {"gpsinfo 1 12", "Unknown protocol info type : 12 (get protocol info type 0 ~ 9)\n", "-LAPI_GetProtocolInfo"},
    {"gpsinfo 1 2 8", "", "LAPI_GetProtocolInfoRequest dev=1 000208"},
    {"gpsinfo 1 2 9", "Unknown APN table index : 9 (APN table index 0 ~ 8)\n", "-LAPI_GetProtocolInfo"},
    {"gpsinfo 1 6 8", "Unknown operator id : 8 (operator id 0 ~ 7)\n", "-LAPI_GetProtocolInfo"},
    {"lb 1 1 3 500000 30000", "", "LAPI_LOOPBACK dev=1"},
    {"lb 1 1 3 500001 30000", "[loopback_start_param_check] Loopback count should be smaller than 500,000\n",
     "-LAPI_LOOPBACK"},
    {"lb 1 1 6 1 1", "Unknown Transfer Type : 6 (TRANSFER TYPE : 3~5)\n", "-LAPI_LOOPBACK"},
    {"uicc 1 0 4", "Unknown UICC APP type : 4 (UICC APP type : 1 ~ 3)\n", "-LAPI_UICCRequest"},
    {"uicc 1 0 x", "[make_uicc_control_req_param] Invalid AppType parameter\n", "-LAPI_UICCRequest"},
    {"uicc 1 8", "uicc_pin_cmd.param other parameter\nSee /var/lte/param/uicc_refresh.param other parameter\nSee "
                "/var/lte/param/uicc_usat_terminal_profile.param", "-LAPI_UICCRequest"},
    {"uicc 1 15", "[make_uicc_control_req_param] Invalid UICC control request type : 15\n", "-LAPI_UICCRequest"},
    {"rrccapa 1 9", "Not yet implemetation\n", "-LAPI_RRCCapabilityControlRequest"},
    {"rrccapa 1 25", "Invalid RRC Capability control request type : 25\n", "-LAPI_RRCCapabilityControlRequest"},
    {"rrcfunc 1 17", "Invalid RRC Function control request type : 17\n", "-LAPI_RRCFunctionControlRequest"},
    {"phyfunc 1 2", "Not yet implemetation\n", "-LAPI_PHYFunctionControlRequest"},
    {"spsinfo 1 9", "Invalid Set Protocol Info request type : 9\n", "-LAPI_SetProtocol"},
    {"spsinfo 1 3", "[make_set_protocol_info_file_param] Invalid Set Protocol Info request type : 3\n",
     "-LAPI_SetProtocol"},
    // Parameter files: what the readers take and refuse.
    {"rfsc 1", "", "LAPI_RFStatusReportControlRequest", {{0, "0001000a00050003012c"}}},
    {"rfsc 1", "[cmd_rf_status_report_control] Invalid File Parameter\n", "-LAPI_RFStatus", {}, RF,
     "ON_OFF=4294967297" + RF_REST},
    {"rfsc 1", "", "LAPI_RFStatusReportControl", {{0, "00010001000100010001"}}, RF, "# a\0c\nON_OFF=1"s + RF_REST},
    {"rfsc 1", "Unknown On Off Type : 2 (On Off Type : 0 ~ 1)\n", "-LAPI_RFStatus", {}, RF, "ON_OFF=2" + RF_REST},
    {"rfsc 1", "Unknown On Off Type : 65535 (On Off Type : 0 ~ 1)\n", "-LAPI_RFStatus", {}, RF,
     "ON_OFF=65535" + RF_REST},
    {"rfsc 1", "Invalid File Parameter\n-------RF Status Report Control Usage-------\ncmd>rfsc [dev_idx]\n"
               "See /var/lte/param/rf_status_control.param other parameter\n", "-LAPI_RFStatus", {}, RF,
     "ON_OFF=65536" + RF_REST},
    {"rrccapa 1 15", "[multiSetTagParser        ] syntax Error, Keep \"[TAG_NAME]=\"", "-LAPI_RRCCap", {},
     "rrc_set_supported_freq_range_list.param", FREQ_SYNTAX},
    {"rrccapa 1 15", "[cmd_rrc_capability_control] Invalid Input Parameter\n", "-LAPI_RRCCap", {},
     "rrc_set_supported_freq_range_list.param", FREQ_SYNTAX},
    {"spsinfo 1 7", "[cmd_set_protocol_info    ] Invalid File Parameter\n", "-LAPI_SetProtocol", {},
     "drx_info.param", "DRX_VAL=4294967296\nNON_DRX_TIMER=0\n"},
    {"spsinfo 1 4", "[TEST_LOG] -1 \n", "LAPI_SetProtocolInfoRequest dev=1", {}, "pls_info.param",
     "INTERVAL_0=30\nCOUNT_0=-1\n"},
    {"pc 1 1 3", "[cmd_pdn_connectivity_request] Invalid Input Parameter\n", "-LAPI_PDNConnRequest", {},
     "pdn_connect.param", "request_type=0\noptional_info=0\nUSE_GENERAL_PCO=0\nUSE_OPERATOR_PCO=0\n"},
    {"at 1 0 3", "[cmd_attach_request       ] Invalid Input Parameter\n", "-LAPI_AttachRequest", {}, "attach.param",
     "optional_info=0\n"},
    // The samples through their builders: the whole record where the
    // modem's record shows it, else that the request went out.
    {"indmc 1", "", "LAPI_IndicationMaskControlRequest", {{0, "010100000101010100000101010001000100000001"}}},
    {"rrccapa 1 1", "", "LAPI_RRCCapabilityControlRequest", {{0, "0001" "0001" "04"}}},
    {"rrccapa 1 2", "", "LAPI_RRCCapabilityControlRequest", {{0, "0002" "0002" "0605"}}},
    {"rrccapa 1 3", "", "LAPI_RRCCapabilityControlRequest", {{0, "0003" "0001" "05"}}},
    {"rrccapa 1 4", "", "LAPI_RRCCapabilityControlRequest", {{0, "0004" "0021" "03" "010307"}}},
    {"rrccapa 1 5", "", "LAPI_RRCCapabilityControlRequest", {{0, "0005" "0019" "7ffffffe"}, {28, "01"}}},
    {"rrccapa 1 6", "", "LAPI_RRCCapabilityControlRequest", {{0, "0006" "0001" "01"}}},
    {"rrccapa 1 7", "", "LAPI_RRCCapabilityControlRequest", {{0, "0007" "0005" "0100020100"}}},
    {"rrccapa 1 8", "", "LAPI_RRCCapabilityControlRequest", {{0, "0008" "0001" "02"}}},
    {"rrccapa 1 11", "", "LAPI_RRCCapabilityControlRequest", {{0, "000b" "0006" "010402030103"}}},
    {"rrccapa 1 15", "", "LAPI_RRCCapabilityControlRequest",
     {{0, "000f" "0013" "02" "03" "000004b0" "0000079d" "07" "00000abe" "00000d79"}}},
    {"rrccapa 1 17", "", "LAPI_RRCCapabilityControlRequest", {{0, "0011" "0022" "01" "02" "0307"}}},
    {"rrccapa 1 19", "", "LAPI_RRCCapabilityControlRequest", {{0, "0013" "0022" "01" "02" "0103"}}},
    {"rrccapa 1 20", "", "LAPI_RRCCapabilityControlRequest", {{0, "0014" "0002" "0402"}}},
    {"rrccapa 1 21", "", "LAPI_RRCCapabilityControlRequest", {{0, "0015" "0021" "02" "2902" "0303"}}},
    {"rrccapa 1 22", "", "LAPI_RRCCapabilityControlRequest", {{0, "0016" "0021" "02" "1d20"}}},
    {"phyfunc 1 0", "", "LAPI_PHYFunctionControlRequest", {{0, "0000" "0001" "01"}}},
    {"phyfunc 1 1", "", "LAPI_PHYFunctionControlRequest", {{0, "0001" "0042" "28" "02" "00000514" "00000b22"}}},
    {"phyfunc 1 4", "", "LAPI_PHYFunctionControlRequest", {{0, "0004" "0003" "01" "03e8"}}},
    {"pls 1", "", "LAPI_PLMNSearchRequest dev=1"}, {"pllext 1", "", "LAPI_PLMNListExtRequest dev=1"},
    {"pllext2 1", "", "LAPI_PLMNListExt2Request dev=1"}, {"br 1 0", "", "LAPI_BearerResourceAllocation dev=1"},
    {"br 1 1", "", "LAPI_BearerResourceModification dev=1"}, {"br 1 2", "", "LAPI_BearerResourceRelease dev=1"},
    {"rfec 1", "", "LAPI_RFEventControlRequest dev=1"}, {"phyfuncg 1 0", "", "LAPI_PHYFunctionControlGetRequest dev=1"},
    {"spsinfo 1 2", "", "LAPI_SetProtocolInfoRequest dev=1"}, {"spsinfo 1 6", "", "LAPI_SetProtocolInfoRequest dev=1"},
    {"spsinfo 1 7", "", "LAPI_SetProtocolInfoRequest dev=1"},
    // Parameter files the builders refuse, with the tag at fault.
    {"at 1", "[make_attach_req_param    ] Invalid parameter /var/lte/param/attach.param[optional_info]\n",
     "-LAPI_AttachRequest", {}, "attach.param", "optional_info=1 \n"},
    {"br 1 0", "[make_bearer_resource_alloc_req_param] Invalid parameter /var/lte/param/bearer_alloc.param[num_tft]\n",
     "-LAPI_Bearer", {}, "bearer_alloc.param", "default_eps_id=5\nT_QCI=1\nT_MAX_BIT_RATE_UL=0\nT_MAX_BIT_RATE_DL=0\n"
     "T_GUARANTEED_BIT_RATE_UL=0\nT_GUARANTEED_BIT_RATE_DL=0\nnum_tft=16\n"},
    {"br 1 0", "", "LAPI_BearerResourceAllocation dev=1", {}, "bearer_alloc.param", "default_eps_id=5\nT_QCI=1\n"
     "T_MAX_BIT_RATE_UL=0\nT_MAX_BIT_RATE_DL=0\nT_GUARANTEED_BIT_RATE_UL=0\nT_GUARANTEED_BIT_RATE_DL=0\nnum_tft=0\n"},
    {"pllext 1", "Invalid parameter /var/lte/param/plmn_list_ext.param[data_freq_num0]\n", "-LAPI_PLMNListExt", {},
     "plmn_list_ext.param", "mode=0\nband_num=1\ndata_band_num0=1\ndata_freq_num0=9\n"},
    {"rrccapa 1 15", "rrc_set_supported_freq_range_list.param: No tags, No value in param file.\n", "-LAPI_RRCCap", {},
     "rrc_set_supported_freq_range_list.param", "# BAND=3\n"},
    {"rrccapa 1 15", "rrc_set_supported_freq_range_list.param: Check Tag name and Value in param file.\n",
     "-LAPI_RRCCap", {}, "rrc_set_supported_freq_range_list.param", "BAND=3\nEND_EARFCN=5\n"},
    {"rrccapa 1 15", "Check Tag name and Value in param file.\n", "-LAPI_RRCCap", {},
     "rrc_set_supported_freq_range_list.param", "BAND=3\nBAND=4\nSTART_EARFCN=1\nEND_EARFCN=2\n"},
    {"rrccapa 1 16", "[make_rrc_capability_control_req_param] This model doesn't support CA !!!!\n", "-LAPI_RRCCap"},
    // The modem's log direction, and the daemon's own switches.
    {"arm1log 0", "", "-LAPI_SendDMCommand"}, {"arm1log 1", "", dm("ipc con always_buff 0")},
    {"arm1log 3", "", dm("ipc con always_buff 1")}, {"arm1log x", "Current direction: 3\n", "-LAPI_SendDMCommand"},
    {"arm1log 2", "", dm("ipc con always_buff 1")}, {"dm_dis", "CMD DM_DIS\n", "-LAPI_SendDMCommand"},
    {"dm_en", "CMD DM_EN\n", "-LAPI_SendDMCommand"}, {"crash", "usage: crash show\n", "-LAPI_SendDMCommand"},
    {"cnxdcommf 1", "cnxd_common_flag=0x00000001\n", "-LAPI_SendDMCommand"},
    {"socksim 100", "sock_sim=100\n", "-LAPI_SendDMCommand"}, {"cnxdf\t0x3", "", console("cnxdf\t0x3")},
    {TOKENS_32.substr(0, TOKENS_32.size() - 2), "cnxd_flags=0x00000005\n", "-LAPI_SendDMCommand"},
    // Command files and the test job.
    {"senddmfile", "no given file\n", "-LAPI_SendDMCommand"},
    {"senddmfile /var/tmp/none", "not found '/var/tmp/none'\n", "-LAPI_SendDMCommand"},
    {"senddmfile /var/tmp/cmds 0x10", "run_dm_cmd_file(/var/tmp/cmds) delay=16us\n", dm("ver\0"s), {},
     "/var/tmp/cmds", "cnxdf 0x3\nver\n"},
    {"test 1 1", "envstring(TEST_CMD) is null\n", "-LAPI_SendDMCommand"},
    {"test", "cmd>test cmd interval [command string]\n", "-LAPI_SendDMCommand"},
    {"test 1 1 lsf", "CM will execute [lsf] in every [1] seconds\n\n", "-LAPI_SendDMCommand"},
    {"test 1 1", "\nStopping existing Auto Test [cmd=lsf]\n\n", "-LAPI_SendDMCommand"},
    {"test 2", "cmd>test cmd interval [command string]\n", "-LAPI_SendDMCommand"},
    {"test 2 0", "\nStopping Auto Test [cmd=lsf]\n\n", "-LAPI_SendDMCommand"},
    {"test 2 0", "\nAuto Test is not in progress\n\n", "-LAPI_SendDMCommand"},
    // The diagnostics tool, on the sysroot's stand-ins of the router's
    // devices (a 64 KiB memory file, an 8-block flash partition, NV items).
    {"x", "there is not command name\ncmd_x: argc=1\n  argv[0]=x\n"}, {"x frob 1", "not fount command: x frob\n"},
    {"x test", "x_test\n"}, {"x var gw1 1", "lte_gateway_1=1\n"}, {"x var vifaddr -5", "ipv4_vif_addr=-5\n"},
    {"x var noradvdapn 0x10", "ipv6_no_radvd_apn=0x00000010\n"},
    {"x var frob", "ipv6_addr_chk=0\nipv6_dns_addr_chk=0\nipv6_no_radvd_apn=0x00000010\nlte_gateway_1=1\n"
                   "lte_subnet_class_c=0\nipv4_vif_addr=-5\n"},
    {"x sha256", "no given file path\n"}, {"x malloc 0x80000 3 1", "malloc: size=524288 cnt=3 mset=1\n"},
    {"x malloc", "malloc: size=1024 cnt=1 mset=0\n"},
    {"x malloc 0x2000000 3", "[1] malloc(33554432) fail\ndone\n"},  // 64 MiB kept at most on a host
    {"x malloc 0 0xffffffff", "] malloc(0) fail\ndone\n"}, {"x nvl 0x3", "nv log mask: 0x00000003\n"},
    {"x nvl 0", "nv log mask: 0x00000000\n"}, {"x nv", "not supported option\n"},
    {"x nv cmnf", "/var/tmp/cmnnvr.bin\n"},
    {"x mem vm", "Option:\n  vm: show memory value\n  wm: write value to memory\n"},
    {"x mem wm 0x102 0x11223344", "0x00000100: 00000000->11223344\n"},  // word-aligned
    {"x mem vm 0x100", "0x00000100: 11223344\n"},
    {"x mem vm 0x100 6", "0x00000100: 11223344 00000000\n"},  // 6 bytes: two words
    {"x mem wm 0x200 1 2 3 4 5", "0x00000200: 00000001 00000002 00000003 00000004\n0x00000210: 00000005\n"},
    {"x mem vm 0xfffc 8", "0x0000fffc+8: outside /dev/mem\n"},
    {"x mem wm 0x40 0x5a5a5a5a", "0x00000040: 00000000->5a5a5a5a\n"},
    {"x crash", "x crash: refused under a host sysroot"}, {"x assert", "x assert: refused under a host sysroot"},
    {"x while", "x while: refused under a host sysroot"}, {"x unaligned", "x unaligned: refused under a host sysroot"},
    {"x mtdt", "mtd3: 00080000 00010000 \"cnxd-test\"\n"}, {"x mtdt mtd3 0 0 1 0", "test_count should not be 0\n"},
    {"x mtdt mtd3 0 0 0 1", "block_nr should not be 0\n"}, {"x mtdt mtd3 2 0 1 1", "not supported op=2\n"},
    {"x mtdt mtd9 0 0 1 1", "mtd9 is not in /proc/mtd\n"},
    {"x mtdt mtd3 0 7 2 1", "block 7+2 is beyond the 8 blocks of mtd3\n"},
    {"x mtdt mtd3 1 0 2 2 0x0305", "[2/2] mtd3 op=1 ret=0\nmtd3 DONE ret=0\n"},
    {"x mtdt mtd3 0 0 8 2", "mtd3 DONE ret=0\n"}, {"x nvt 0 2 0 64 3 1", "nvt DONE ret=0\n"},
    {"x nvt 2 2 0 64 2 4", "[2/2] nvt op=2 ret=0\nnvt DONE ret=0\n"},
    {"x nvt 1 9 0 64 1", "[0] nv_read(9, 0, 64)=-1 fail\nnvt DONE ret=-1\n"},
    {"x nvt 3 2 0 64 1", "not supported op=3\n"}, {"x nvt 0 2 0 0 1", "size should be 1~65536\n"},
    {"x tty /dev/ttyNONE 115200", "tty open(/dev/ttyNONE) fail No such file or directory(2)\n"},
    {"x tty /dev/ttyNONE 12345", "##ERROR## Unknown baudrate type (12345)\n"},
    {"x tty /dev/ttyNONE", "usage: x tty [device] [baudrate]"},
    {"x mtdt mtd3 1 4 3 1", "block 5 (0x00050000) is bad\nmtd3 DONE ret=0\n", "", {}, "/dev/mtd3.bad", "0x50000\n"},
    {"x mtdt mtd3 1 4 3 1 2", "block 5 (0x00050000) is bad\nmtd3 DONE ret=-1\n", "", {}, "/dev/mtd3.bad", "0x50000\n"},
    // The firmware sample of the sysroot: 40000 bytes 0x55, as sha256sum sums them.
    {"x sha256 /var/update/sample.img",
     "/var/update/sample.img's sha256: b37958875c56cf0aa3567cc74b57ac1aa8067cb5a72d55e9792f3193f7f66a29\n"},
    // The log configuration, its file numbers turned into the SDK's and
    // back (the daemon's own log stays on the log channel).
    {"slogconf", "CM Set LOG Config\nmode[SEND LOG TO CM], level[LOUD]\nSDK Set LOG Config\nmode[LOG OFF], level[ALL]\n",
     "LAPI_SetLogConfig", {}, "log_config.param", LOG_CONFIG},
    {"glogconf", "CM Log config\nmode[SEND LOG TO CM], level[LOUD]\nSDK Log config\nmode[OFF], level[ALL]\n",
     "LAPI_GetLogConfig"},
};

TEST_F(CliAndShell, EachShellLinePrintsAndCallsAsItsRowSays)
{
    ASSERT_TRUE(sim->wait_online());
    const LogTail log(root);
    ShellLines shell(daemon, *sim, log);
    for (const ShellRow& r : SHELL_ROWS) {
        SCOPED_TRACE(r.line + (r.file ? std::string(" with ") + r.file : ""));
        const std::string file = r.file ? r.file : "";
        const std::string path = (file.starts_with('/') ? "" : "/var/lte/param/") + file;
        const std::string sample = r.file ? root.read_file(path) : "";
        if (r.file)
            root.write_file(path, r.text);
        const Answer a = shell.run(r.line);
        if (r.file)
            root.write_file(path, sample);
        EXPECT_NE(std::string::npos, a.printed.find(r.printed)) << a.printed;
        const std::string name = r.call.starts_with('-') ? r.call.substr(1) : r.call;
        const auto made = std::ranges::find_if(a.calls, [&](const std::string& c) {
            return !name.empty() && c.starts_with(name);
        });
        if (r.call.starts_with('-')) {
            EXPECT_EQ(a.calls.end(), made) << *made;
        } else if (!r.call.empty()) {
            ASSERT_NE(a.calls.end(), made) << ::testing::PrintToString(a.calls);
            const std::string rec = made->substr(std::min(made->size(), made->find("dev=1 ") + 6));
            EXPECT_TRUE(r.record.empty() || record_hex(rec.size() / 2, r.record) == rec) << *made;
        }
    }
    // Each line of a command file once, cut at 511 characters or at a NUL.
    root.write_file("/var/tmp/cmds", "cnxdf 0x3\n   ver\r\n\n" + std::string(600, 'y') + "\nab\0cd\nlast"s);
    const Answer file = shell.run("senddmfile /var/tmp/cmds 1000");
    const std::vector<std::string> sent = {dm("ver\0"s), dm("\0"s), dm(std::string(511, 'y') + '\0'), dm("ab\0"s),
                                           dm("last\0"s)};
    std::vector<std::string> consoled;
    for (const std::string& c : file.calls)
        if (c.starts_with("LAPI_SendDMCommand"))
            consoled.push_back(c);
    EXPECT_EQ(sent, consoled);
    for (const char* text : {"run_dm_cmd_file(/var/tmp/cmds) delay=1000us\n", "cnxd_flags=0x00000003\n", "RUN=[ver]\n"})
        EXPECT_NE(std::string::npos, file.printed.find(text)) << file.printed;
    // The flash test's counting pattern starts at loop + block; the bad
    // block is left erased. Tools write only the sysroot's stand-ins.
    const std::string flash = root.read_file("/dev/mtd3");
    EXPECT_EQ("\4\5\6\xff\xff\xff\6\7\x08",
              flash.substr(0x40000, 3) + flash.substr(0x50000, 3) + flash.substr(0x60000, 3));
    EXPECT_EQ("ZZZZ", root.read_file("/dev/mem").substr(0x40, 4));
    EXPECT_EQ("1\n\0"s, root.read_file("/var/tmp/commonlogcfg"));
    EXPECT_EQ("100", root.read_file("/var/tmp/socketsimtest")) << "the first three bytes of \"100\\n\"";
    EXPECT_NE(std::string::npos, root.read_file("/var/log/platform-calls.log").find("kern modem reset 0\n"));
}

// The values a usage documents for each "[name]" of its command form after
// the device index: the lines "\tV : ..." or "\tA ~ B ..." of the name's
// block; a "reserved" line documents none.
using Ranges = std::vector<std::pair<int64_t, int64_t>>;
std::vector<Ranges> usage_args(const std::string& usage)
{
    static const std::regex value(R"(\t(-?\d+)(?: ~ (-?\d+))?(?: : (.*))?)");
    static const std::regex name(R"(\[([a-z_]+)\])");
    std::vector<std::string> names;
    std::map<std::string, Ranges> blocks;
    std::string block;
    std::istringstream in(usage);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (line.starts_with("cmd>") || line.starts_with("DM>")) {
            for (auto it = std::sregex_iterator(line.begin(), line.end(), name); it != std::sregex_iterator(); ++it)
                if ((*it)[1] != "dev_idx")
                    names.push_back((*it)[1]);
        } else if (line.starts_with("[") && line.ends_with("]")) {
            block = line.substr(1, line.size() - 2);
        } else if (std::regex_match(line, m, value) && !m[3].str().starts_with("reserved")) {
            blocks[block].emplace_back(std::stoll(m[1]), m[2].matched ? std::stoll(m[2]) : std::stoll(m[1]));
        }
    }
    std::vector<Ranges> args;
    for (const std::string& n : names)
        args.push_back(blocks[n]);
    return args;
}

// A usage is the command's documentation: each value it lists is taken,
// and one just outside what it lists is refused before the modem.
TEST_F(CliAndShell, EveryValueAUsageListsIsTakenAndOneJustOutsideIsRefused)
{
    ASSERT_TRUE(sim->wait_online());
    const LogTail log(root);
    ShellLines shell(daemon, *sim, log);
    // Arguments whose values depend on another one or on a file, and a
    // sub-command word before the value.
    const std::set<std::string_view> dependent = {"nid", "gpsinfo", "spsinfo", "pc", "uiccext"};
    // Words that answer here or start a transfer, with no request of their own.
    const std::set<std::string_view> no_call = {"nvdown", "roamallow"};
    // A model that supports CA (a working band combination list).
    root.write_file("/var/lte/param/rrc_ca_combination_list_working.bin",
                    std::string("\1\2\3\4\xff", 5) + std::string(11, '\0') + "\1\3\xff");
    size_t tried = 0;
    for (const cmd_entry& e : cmd_tbl) {
        if (!e.usage || dependent.contains(e.word) || e.min_tokens < 3)
            continue;
        const std::vector<Ranges> args = usage_args(e.usage);
        if (args.empty() || std::ranges::any_of(args, [](const Ranges& r) { return r.empty(); }))
            continue;
        const auto line_with = [&](size_t i, int64_t v) {
            std::string line = std::string(e.word) + " 1";
            for (size_t j = 0; j < args.size(); ++j)
                line += " " + std::to_string(j == i ? v : args[j].front().first);
            return line;
        };
        const auto lists = [](const Ranges& r, int64_t v) {
            return std::ranges::any_of(r, [v](const auto& lh) { return v >= lh.first && v <= lh.second; });
        };
        for (size_t i = 0; i < args.size(); ++i)
            for (const auto& [lo, hi] : args[i]) {
                for (const int64_t v : {lo, hi}) {
                    const Answer a = shell.run(line_with(i, v));
                    for (const char* refusal : {"Usage-------", "nvalid", "nknown"})
                        EXPECT_EQ(std::string::npos, a.printed.find(refusal)) << line_with(i, v) << ": " << a.printed;
                    EXPECT_TRUE(!a.calls.empty() || no_call.contains(e.word)) << line_with(i, v);
                    ++tried;
                }
                for (const int64_t v : {lo - 1, hi + 1}) {
                    if (v < 0 || v > UINT32_MAX || lists(args[i], v))
                        continue;
                    // The interface set-up follows an earlier line's attach.
                    std::vector<std::string> calls = shell.run(line_with(i, v)).calls;
                    std::erase_if(calls, [](const std::string& c) { return c.starts_with("LAPI_ConfigureNetwork"); });
                    EXPECT_EQ(std::vector<std::string>{}, calls) << line_with(i, v);
                }
            }
    }
    EXPECT_GT(tried, 100u);
}

TEST_F(CliAndShell, SocketLinesReachTheShellOrTheModemAndConsoleOutputComesBack)
{
    TcpShell c(daemon.cmd_port());
    c.send_text("help\n");
    EXPECT_TRUE(c.wait_for("commands: help")) << "the modem's answer comes to the socket client";
    ASSERT_EQ("ok", sim->command("inject 188 1 68690068690a"));
    EXPECT_TRUE(c.wait_for(std::string("hi\0hi\n", 6))) << "console output byte for byte";
    c.send_text(std::string("foo\0bar\n", 8));
    EXPECT_TRUE(called("LAPI_SendDMCommand dev=1 " + hex(std::string("foo\0bar\n\0", 9)))) << "a NUL ends no line";
    c.send_text("  gdi 1\n");
    EXPECT_TRUE(called("LAPI_CLI_CMD_RSP_DELIVER_IND dev=1 09" + hex(std::string("  gdi 1\n\0", 9))))
        << "the echo keeps the spaces";
    EXPECT_TRUE(called("LAPI_GetDeviceInformationExtension dev=1")) << "gdi ran for device 1";
    const LogTail log(root);
    c.send_text("uicc 1 0\n");
    EXPECT_TRUE(log.wait_for("PUK2 Retry Count : 8\nICCID : 09 0a 0b 0c 0d 0e 0f 10 11 12 \n")) << "the UICC's status";
}

TEST_F(CliAndShell, CnxdCliLinesRunInTheDaemon)
{
    Cli flags(root, {"-t", "300", "cmd", "cnxdf", "0x5"});
    EXPECT_EQ(0, flags.wait());
    EXPECT_NE(std::string::npos, flags.out().find("cnxd_flags=0x00000005")) << flags.out();

    Cli ver(root, {"-t", "300", "cmd", "ver"});
    EXPECT_EQ(0, ver.wait());
    EXPECT_TRUE(called("LAPI_SendDMCommand dev=1 " + hex("ver"))) << "the line as the client sent it";
    EXPECT_EQ(0, console_calls_with("cnxdf"));
    EXPECT_TRUE(daemon.wait_for_log("ltesim modem")) << "with no socket client the console output goes to UART";

    // Without a command, each line of standard input is one command line.
    Cli piped(root, {}, "one\ntwo\n");
    EXPECT_EQ(0, piped.wait());
    EXPECT_TRUE(eventually([&] { return console_calls_with("one") == 1 && console_calls_with("two") == 1; }));
}

TEST_F(CliAndShell, ModemHostDebugLinesRunHereOrGoBackToTheConsole)
{
    const auto inject = [&](const std::string& text, uint32_t len) {
        Bytes rec(4);
        store_be32(rec.data(), len);
        rec.insert(rec.end(), text.begin(), text.end());
        return sim->command("inject 189 1 " + hex(rec));
    };
    ASSERT_EQ("ok", inject("!touch /var/tmp/from-modem", 26));
    EXPECT_TRUE(eventually([&] { return root.exists("/var/tmp/from-modem"); })) << "inside the sysroot";
    {
        // Gone once it has seen the line: a listener that stops reading
        // would hold up every later sender.
        const LogTail log(root);
        ASSERT_EQ("ok", inject("cnxdf 0x3", 9));
        EXPECT_TRUE(log.wait_for("cnxd_flags=0x00000003")) << "the shell took the line";
    }
    ASSERT_EQ("ok", inject("ver", 3));
    EXPECT_TRUE(called("LAPI_SendDMCommand dev=1 " + hex(std::string("ver\0", 4))));
    // A length word beyond the record reads only the record.
    ASSERT_EQ("ok", inject("shell 1", 4000));
    EXPECT_TRUE(called("LAPI_SendDMCommand dev=1 " + hex(std::string("shell 1\0", 8))));
    const std::string long_line(1024, 'x');  // no room for its NUL in the console's buffer
    ASSERT_EQ("ok", inject(long_line, 1024));
    ASSERT_EQ("ok", sim->command("sync"));
    EXPECT_EQ(0, console_calls_with(long_line));
    EXPECT_EQ(0, console_calls_with("cnxdf")) << "a line the daemon takes stays here";
    EXPECT_EQ(0, console_calls_with("touch"));
}

TEST_F(CliAndShell, HostileConnectionsLeaveNothingBehindAndDoNotHoldTheStop)
{
    const std::string fd_dir = "/proc/" + std::to_string(daemon.pid()) + "/fd";
    const std::string task_dir = "/proc/" + std::to_string(daemon.pid()) + "/task";
    {
        TcpShell first(daemon.cmd_port());
        first.send_text("ver\n");
        ASSERT_TRUE(first.wait_for("ltesim modem"));
    }
    // The first client's receiver may still be ending.
    std::this_thread::sleep_for(300ms);
    const long fds = entries(fd_dir);
    const long tasks = entries(task_dir);
    std::mt19937 rng(11);
    for (int i = 0; i < 30; ++i) {
        TcpShell c(daemon.cmd_port());
        std::string junk(1 + rng() % 1500, '\0');
        for (char& ch : junk)
            ch = static_cast<char>(rng());
        c.send_text(junk);
        // Served still: a later receive of the same connection runs.
        ASSERT_TRUE(eventually([&] {
            c.send_text("ver\n");
            return c.wait_for("ltesim modem", 200ms);
        }, 10s)) << "connection " << i;
    }
    EXPECT_TRUE(eventually([&] { return entries(fd_dir) <= fds && entries(task_dir) <= tasks; }))
        << entries(fd_dir) << " descriptors (" << fds << "), " << entries(task_dir) << " threads (" << tasks
        << ")";

    TcpShell silent(daemon.cmd_port());
    TcpShell half(daemon.cmd_port());
    half.send_text(std::string(300, 'z'));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, daemon.stop(SIGTERM, 10s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(CliAndShell, ApiPrintsTheResultAndTheAnswerArea)
{
    // The init-complete flag of device 1, set once the modem is on line.
    std::string last;
    EXPECT_TRUE(eventually(
        [&] {
            Cli init(root, {"api", "0", "1"});
            last = init.wait() == 0 ? init.out() : init.err();
            return last == "result 0\nanswer at 1520, 1 bytes:\n01\n";
        },
        10s))
        << last;

    Cli unknown(root, {"api", "8", "1", "01:02"});
    EXPECT_EQ(0, unknown.wait()) << "an unknown command completes too";
    EXPECT_EQ("result 0\n", unknown.out());

    Cli bad(root, {"api", "0", "1", "abc"});
    EXPECT_EQ(2, bad.wait()) << "odd hex";
    EXPECT_TRUE(eventually([&] { return blocks_gone(root, 15); }));
}

TEST_F(CliAndShell, ClientsPrintsTheTableWithItsOwnSession)
{
    RawClient other(root, "other");
    ASSERT_EQ(0, other.open({{0x4242, 99}}));
    Cli clients(root, {"-t", "500", "clients"});
    EXPECT_EQ(0, clients.wait());
    const std::string out = clients.out();
    EXPECT_NE(std::string::npos, out.find("client->idx [0], id [0]\nclient->identity [0x00004242]\nclient->pid [99]\n"))
        << out;
    EXPECT_NE(std::string::npos, out.find("client->idx [1], id [1]")) << "the tool's own session";
    EXPECT_NE(std::string::npos, out.find("client->idx [14], id [255]")) << out;
}

TEST_F(CliAndShell, LogAndEventsPrintWhatTheDaemonDelivers)
{
    // One after the other, each with its words set in its shared block
    // before anything is relayed: log takes index 0 and sets its receive
    // word, events takes index 1 and sets the word of event 26 (word 5).
    auto shm_word_set = [&](int index, size_t word) {
        const int id = shmget(root.ipc_key(index), 0, 0);
        if (id < 0)
            return false;
        void* p = shmat(id, nullptr, SHM_RDONLY);
        if (p == reinterpret_cast<void*>(-1))
            return false;
        const bool set = load_be32(static_cast<const uint8_t*>(p) + 4 * word) != 0;
        shmdt(p);
        return set;
    };
    Cli log(root, {"log"});
    ASSERT_TRUE(eventually([&] { return shm_word_set(0, 0); }));
    Cli events(root, {"events", "26"});
    ASSERT_TRUE(eventually([&] { return shm_word_set(1, 5); }));
    RawClient peer(root, "peer");
    ASSERT_EQ(2, peer.open({{5, 77}}));

    // The peer has the daemon relay frames to every other identity.
    const std::string text = "hello from relay\n";
    ASSERT_TRUE(peer.send(relay_frame(0, true, hci_frame(0x810B, Bytes(text.begin(), text.end())))));
    // Event 26, data length 8, device index 1, data.
    ASSERT_TRUE(peer.send(relay_frame(0, true, hci_frame(0x8107, {0x00, 0x1a, 0x00, 0x08, 0x00, 0x00, 0x00, 0x01,
                                                                   0xde, 0xad, 0xbe, 0xef}))));

    // The simulated modem's bring-up text may come first.
    EXPECT_TRUE(eventually([&] { return log.out().find(text) != std::string::npos; })) << log.out();
    EXPECT_TRUE(eventually([&] {
        return events.out() == "event 26 (ATTACH RESPONSE) dev 1 len 8: 00 00 00 01 de ad be ef\n";
    })) << events.out();
    EXPECT_EQ(0, log.interrupt());
    EXPECT_EQ(0, events.interrupt());
    // Released, by their close requests or (when log text to a closed socket
    // comes first) by the failed send.
    EXPECT_TRUE(eventually([&] { return blocks_gone(root, 2); }));
}

// The test job sends an AT command to the AT client (identity 1) as an
// AT frame: its text with the blanks outside quotes left out.
TEST_F(CliAndShell, TestJobSendsAtCommandsToTheAtClient)
{
    RawClient at(root, "at");
    ASSERT_TRUE(at.open({{1, 0}}).has_value());
    at.set_word(0, 1);
    TcpShell c(daemon.cmd_port());
    c.send_line("test 1 1 at + cfun = \"a b\"");
    std::optional<Bytes> frame;
    EXPECT_TRUE(eventually([&] { return (frame = at.recv(100ms)) && frame->size() > 4 && (*frame)[0] == 0x03; }));
    c.send_line("test 2 0");
    ASSERT_TRUE(frame);
    ASSERT_EQ(2060u, frame->size());
    // Frame 0x0300 of 2056 bytes: a zero word, the text's length and the text with its NUL.
    EXPECT_EQ("03000808" "00000000" "0000000d" + hex("at+cfun=\"a b\"") + "00",
              hex(Bytes(frame->begin(), frame->begin() + 26)));
}

// Console output goes to the first ten clients of the command port; the
// eleventh is served without it, and a freed slot is taken again.
TEST_F(CliAndShell, ConsoleOutputGoesToTheFirstTenClients)
{
    std::vector<std::unique_ptr<TcpShell>> clients;
    for (int i = 0; i < 10; ++i) {
        clients.push_back(std::make_unique<TcpShell>(daemon.cmd_port()));
        clients.back()->send_line("ver");
        ASSERT_TRUE(clients.back()->wait_for("ltesim modem")) << "client " << i;
    }
    TcpShell eleventh(daemon.cmd_port());
    eleventh.send_line("ver");
    ASSERT_TRUE(eventually([&] { return std::ranges::count(sim->calls(), console("ver")) == 11; })) << "served";
    EXPECT_FALSE(eleventh.wait_for("ltesim modem", 1s)) << "served, but without output";
    clients.front().reset();
    EXPECT_TRUE(eventually([&] {
        TcpShell late(daemon.cmd_port());
        late.send_line("ver");
        return late.wait_for("ltesim modem", 500ms);
    }, 10s)) << "a freed slot is taken again";
}

// At start-up the script directory runs (the model's RF script first) and,
// once the modem is on line, the init script with its blanks normalised.
TEST(ShellScripts, StartUpRunsTheScriptDirectoryThenTheInitScript)
{
    Sysroot root;
    root.write_file("/etc/sysconfig/script/lte_scr/scr_config", "delay_us=5\ndelay_us=7\n");
    root.write_file("/var/nv/item1.bin", std::string(8, '\0') + '\3');  // the variant byte of other models
    root.write_file("/etc/sysconfig/script/lte_scr/rf/mx_3", "rf line\n");
    root.write_file("/etc/sysconfig/script/lte_scr/a", "line a\n");
    root.write_file("/etc/sysconfig/script/lte_scr/b", "line b\n");
    root.write_file("/etc/sysconfig/script/lte_init_script", "\n  shell \t   1\n\n\n# cnxdf 9\ncnxdf\t \t0x7\nlast");
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start());
    LtesimClient sim(root);
    ASSERT_TRUE(sim.wait_online());
    Cli flags(root, {"-t", "300", "cmd", "cnxdf"});
    EXPECT_EQ(0, flags.wait());
    EXPECT_NE(std::string::npos, flags.out().find("cnxd_flags=0x00000007")) << flags.out();
    const std::vector<std::string> order = {dm("rf line\0"s), dm("line a\0"s), dm("line b\0"s), dm("shell 1\0"s)};
    std::vector<std::string> sent;
    for (const std::string& c : sim.calls())
        if (std::ranges::find(order, c) != order.end())
            sent.push_back(c);
    if (sent.size() == order.size())
        std::sort(sent.begin() + 1, sent.end() - 1);  // the directory's files in any order
    EXPECT_EQ(order, sent) << "the RF script first, the init script's one line for the modem last";
    EXPECT_EQ(0, daemon.stop(SIGTERM));
}

// "x run" repeats its commands in order, the modem's pieces to the
// console; a stop ends a long run at once.
TEST_F(CliAndShell, XRunRepeatsItsCommandsAndAStopEndsIt)
{
    // Stand-ins in the sysroot's bin that log their name like the platform stubs.
    for (const std::string name : {"cmd1", "cmd2"}) {
        const std::string log = root.path("/var/log/platform-calls.log");
        root.write_file("/bin/" + name, "#!/bin/sh\necho \"" + name + " $*\" >> " + log);
        std::filesystem::permissions(root.path("/bin/" + name), std::filesystem::perms::owner_all);
    }
    ASSERT_TRUE(sim->wait_online());
    TcpShell c(daemon.cmd_port());
    c.send_line("x run nr=3 sleep=10 cmd1; dm ver; cmd2");
    std::string expected =
        "x_run_cmd_main\ncmd_nr=3\ncmd[0]=\"cmd1\"\ncmd[1]=\"dm ver\"\ncmd[2]=\"cmd2\"\nrun_nr=3\nsleep=10ms\n";
    for (int pass = 0; pass < 3; ++pass)
        for (const char* cmd : {"cmd1", "dm ver", "cmd2"})
            expected += "[" + std::to_string(pass) + "] x_run \"" + cmd + "\"\n";
    EXPECT_TRUE(eventually([&] { return untimed(daemon.log()).find(expected) != std::string::npos; }, 10s));
    EXPECT_TRUE(eventually([&] {
        return root.read_file("/var/log/platform-calls.log").ends_with("cmd1 \ncmd2 \ncmd1 \ncmd2 \ncmd1 \ncmd2 \n");
    }));
    EXPECT_EQ(3, std::ranges::count(sim->calls(), dm("ver\0"s))) << "its NUL counted";

    c.send_line("x run nr=100000 sleep=1000 cmd1");
    ASSERT_TRUE(eventually([&] { return root.read_file("/var/log/platform-calls.log").ends_with("cmd2 \ncmd1 \n"); }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, daemon.stop(SIGTERM, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "woken out of its pause";
}

// "x tty" over a pseudo-terminal: the lines sent at the rate, what came
// back, the rate switches. The slave is bound on a file of the sysroot in a
// mount namespace of the test's own (which needs a test run as root),
// undone before the sysroot goes.
TEST(XTool, TtySendsItsLinesAtTheRateOverAPseudoTerminal)
{
    int master = -1;
    int slave = -1;
    ASSERT_EQ(0, openpty(&master, &slave, nullptr, nullptr, nullptr));
    Sysroot root;
    root.write_file("/dev/ttyPT", "");
    const std::string port = root.path("/dev/ttyPT");
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(ttyname(slave), port.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "no mount namespace for a pseudo-terminal in the sysroot: " << std::strerror(errno);
    const std::unique_ptr<const char, int (*)(const char*)> unbind(port.c_str(), umount);
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start());
    LtesimClient sim(root);
    ASSERT_TRUE(sim.wait_online());
    std::string lines;
    for (int i = 0; i < 10; ++i)
        lines += "[" + std::to_string(i) + "] TTY send string\r\n";
    const struct {
        const char* line;
        bool echo;
        speed_t rate;
        const char* printed;
        std::string sent;
    } cases[] = {
        {"x tty /dev/ttyPT 115200 s cb", true, B115200, "[9] TTY recv ok\ntty /dev/ttyPT DONE ret=0\n", lines},
        {"x tty /dev/ttyPT 9600 so cb st", false, B9600, "tty baudrate check ok (9600)\n", lines},
        {"x tty ttyPT 9600 switch 115200 3 1 cb", false, B9600,
         "TTY switch test START(nr=3)\n  baudrate: 9600 <-> 115200\n  sleep_ms: 1\ntty baudrate check ok (9600)\n"
         "tty baudrate check ok (115200)\ntty baudrate check ok (9600)\nTTY switch test DONE(nr=3/3)\n",
         ""},
    };
    const LogTail log(root);
    ShellLines shell(daemon, sim, log);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        // The far end reads what the tool sends and, when asked, sends it
        // back (a loopback plug).
        std::atomic<bool> stop{false};
        std::string got;
        std::thread far([&] {
            char buf[256];
            for (pollfd p{master, POLLIN, 0}; poll(&p, 1, 20) > 0 || !stop;) {
                const ssize_t n = (p.revents & POLLIN) ? read(master, buf, sizeof buf) : 0;
                got.append(buf, static_cast<size_t>(std::max<ssize_t>(n, 0)));
                if (c.echo && n > 0 && write(master, buf, static_cast<size_t>(n)) != n)
                    return;
            }
        });
        const Answer a = shell.run(c.line);
        stop = true;
        far.join();
        EXPECT_NE(std::string::npos, a.printed.find(c.printed)) << a.printed;
        EXPECT_TRUE(got.starts_with(c.sent));
        termios tio{};
        ASSERT_EQ(0, tcgetattr(master, &tio));  // a master reads its slave's settings
        EXPECT_EQ(c.rate, cfgetospeed(&tio));
    }
    EXPECT_EQ(0, daemon.stop(SIGTERM));
    close(slave);
    close(master);
}

// The device guards: a device whose modem runs its emergency image takes
// only gdi, reset, download and help; one that downloads takes nothing.
// Each refusal is printed in bold red.
TEST(ShellGuards, AnEmergencyImageTakesOnlyItsFewCommands)
{
    Sysroot root;
    root.write_file("/etc/ltesim.conf", "set device_present 0\nset boot_image_type 2\n");
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start());
    const LogTail log(root);
    LtesimClient sim(root);
    ASSERT_EQ("ok", sim.command("set device_present 1"));
    ASSERT_TRUE(log.wait_for("Only Use 'download' Command"));
    const std::string refused = "\033[1m\033[31mDevice is Emergency Mode\n\033[0m";
    const std::array<std::string, 3> rows[] = {
        {"cnxdf", "1", refused}, {"pls", "1", refused}, {"gdi", "1", "CM version : 3.7.16.1\n"},
        {"help", "1", "\nat \t\tAttach\n"}, {"download", "1", ""}, {"cnxdf", "2", "cnxd_flags=0x00000002\n"},
        {"reset", "1", ""}};
    for (const auto& [word, dev, printed] : rows) {
        Cli cli(root, {"-t", "300", "cmd", word, dev});
        EXPECT_EQ(0, cli.wait());
        const std::string out = cli.out();
        EXPECT_NE(std::string::npos, out.find(printed)) << word << ": " << out;
        EXPECT_EQ(printed == refused, out.find("Emergency Mode\n") != std::string::npos) << word << ": " << out;
    }
    EXPECT_EQ(0, daemon.stop(SIGTERM));
}

TEST_F(CliAndShell, ADownloadingDeviceTakesNoCommand)
{
    ASSERT_TRUE(sim->wait_online());
    ASSERT_EQ("ok", sim->command("set download_silent_chunk 1"));  // it never ends
    root.write_file("/var/tmp/fw.bin", std::string(3 * 16384, 'f'));
    Cli download(root, {"download", "1", "1", "/var/tmp/fw.bin"});
    const LogTail log(root);
    ShellLines shell(daemon, *sim, log);
    const std::string refused = "\033[1m\033[31mNow Firmware Downloading dev 1. Please Do Not Insert Command\n\033[0m";
    EXPECT_TRUE(eventually([&] { return shell.run("cnxdf 1").printed.find(refused) != std::string::npos; }));
    for (const char* line : {"gdi 1", "pls 1", "help 1"}) {
        const Answer a = shell.run(line);
        EXPECT_NE(std::string::npos, a.printed.find(refused)) << line;
        EXPECT_EQ(std::string(line) == "help 1", std::ranges::count(a.calls, console(line)) == 1) << line;
    }
    EXPECT_NE(std::string::npos, shell.run("cnxdf 2").printed.find("cnxd_flags=0x00000002\n"));
}

struct DownloadCase {
    const char* name;
    const char* knob;  // a simulator setting, or nullptr
    std::vector<std::string> args;
    int status;
    const char* out;  // the whole of standard output
    std::vector<const char*> err;  // in standard error
};

// An image of 32868 bytes: progress after each full chunk, then the
// result. Each download ends before the next begins (the one that fails
// when its end record has gone, so it comes last).
const DownloadCase DOWNLOAD_CASES[] = {
    {"taken", nullptr, {"1", "1", "/var/tmp/fw.bin"}, 0,
     "dev 1: 40%\ndev 1: 90%\ndownload complete [dev index : 1]\n", {}},
    {"no such file", nullptr, {"1", "1", "/var/tmp/none.bin"}, 1, "", {"] file open fail : "}},
    {"refused by the shell", nullptr, {"200", "1", "/var/tmp/fw.bin"}, 1, "",
     {"Invaild Device Index(1~127)", "cnxd-cli: the download did not begin\n"}},
    {"no device index", nullptr, {"one", "1", "/var/tmp/fw.bin"}, 2, "", {"\"one\" is no device index"}},
    {"CRC error at chunk 2", "set download_crc_chunk 2", {"1", "1", "/var/tmp/fw.bin"}, 1, "dev 1: 40%\n",
     {"] CRC ERROR\n", "download failed [dev index : 1]\n"}},
};

TEST_F(CliAndShell, DownloadFollowsTheDaemonsProgressToTheResult)
{
    root.write_file("/var/tmp/fw.bin", std::string(2 * 16384 + 100, 'f'));
    ASSERT_TRUE(sim->wait_online());
    for (const DownloadCase& c : DOWNLOAD_CASES) {
        SCOPED_TRACE(c.name);
        if (c.knob) {
            ASSERT_EQ("ok", sim->command(c.knob));
        }
        std::vector<std::string> args = {"download"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Cli cli(root, args);
        EXPECT_EQ(c.status, cli.wait(20s));
        EXPECT_EQ(c.out, cli.out());
        for (const char* text : c.err)
            EXPECT_NE(std::string::npos, cli.err().find(text)) << cli.err();
    }
}

TEST(CliWithoutDaemon, SaysSoAndFails)
{
    Sysroot root;
    Cli cli(root, {"log"});
    EXPECT_EQ(1, cli.wait());
    EXPECT_NE(std::string::npos, cli.err().find("the daemon is not running")) << cli.err();
    Cli help(root, {"--help"});
    EXPECT_EQ(0, help.wait());
    EXPECT_NE(std::string::npos, help.out().find("api ID DEV [HEX]"));
    Cli unknown(root, {"frobnicate"});
    EXPECT_EQ(2, unknown.wait());
}

// On a fresh sysroot (its seeded parameter files and store) the shell's
// attach brings the internet PDN's interface up, the statistics print each
// counter under its label, a PDN connectivity request from the store's
// table is sent, the detach brings the interface down; kern reaches only
// the sysroot's stub.
TEST_F(CliAndShell, AttachAndDetachTypedAtTheShell)
{
    std::string pdn = root.read_file("/var/lte/param/pdn_connect.param");
    pdn.replace(pdn.find("optional_info=1"), 15, "optional_info=0");  // the APN's fields from the store
    root.write_file("/var/lte/param/pdn_connect.param", pdn);
    ASSERT_TRUE(sim->wait_online());
    const LogTail log(root, true);
    TcpShell c(daemon.cmd_port());
    c.send_text("at 1\n");
    // The interface's configuration takes seconds on a loaded machine.
    ASSERT_TRUE(eventually([&] { return std::ranges::count(log.events(), 163) == 1; }, 20s)) << "interface ready";
    // The status document as Python's json reads it.
    const auto status_is = [&](const std::string& check) {
        Cli json(root, {"status", "1", "--json"});
        root.write_file("/var/tmp/status.json", json.wait() == 0 ? json.out() : "");
        const std::string py = "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); sys.exit(not (" + check +
                               "))' " + root.path("/var/tmp/status.json");
        return std::system(py.c_str()) == 0;
    };
    EXPECT_TRUE(status_is("d[\"online\"] and d[\"attach\"][\"state\"] == \"attached\" and "
                          "[(c[\"apn\"], c[\"ipv4\"]) for c in d[\"connections\"]] == [(\"internet\", \"10.0.1.2\")]"));
    // Serving-cell reports (extended DM type 73, RSRP, below its valid range; 75, SINR 16 dB).
    ASSERT_EQ("ok", sim->command("inject 90 1 0000000000490002ff6a"));
    ASSERT_EQ("ok", sim->command("inject 90 1 00000000004b00020010"));
    EXPECT_TRUE(eventually([&] {
        return status_is("d[\"cell\"][\"lte\"][\"rsrp\"] is None and d[\"cell\"][\"lte\"][\"sinr\"] == 16 and "
                         "d[\"cell\"][\"nr\"] is None");
    }));
    c.send_text("nstats 1 3\n");
    EXPECT_TRUE(
        log.wait_for("NIC Index : 3\nTX Packets : 1200\nTX bytes: 1500000\nTX dropped : 0\nRX Packets : 900\n"));
    c.send_text("pc 1 1 0\n");
    EXPECT_TRUE(eventually([&] {
        const auto calls = sim->calls();
        return std::ranges::any_of(calls, [](const std::string& c) { return c.starts_with("LAPI_PDNConnRequest "); });
    })) << "the store's PDN type passes the check";
    c.send_text("dt 1 0\n");
    EXPECT_TRUE(eventually([&] { return std::ranges::count(log.events(), 164) >= 1; }, 20s)) << "released";
    EXPECT_TRUE(eventually([&] {
        return status_is("d[\"attach\"][\"state\"] == \"detached\" and d[\"connections\"] == [] and "
                         "d[\"attach\"][\"detaches\"] == 1");
    }));
    c.send_text("kern modem status 42\n");
    EXPECT_TRUE(eventually([&] {
        return root.read_file("/var/log/platform-calls.log").find("kern modem status 42") != std::string::npos;
    }));
    EXPECT_EQ(0, console_calls_with("at 1")) << "the shell took its lines";
}

}  // namespace
}  // namespace cnxd::test
