// What the hand-written command handlers do beyond the common shape: the
// IPv6 text, the NIC sum, the IMEI's check digit, the ADMIN PDN's holds
// and the messages of values out of range.
#include <cstring>
#include <filesystem>

#include "config/admin_pdn_count.h"
#include "config/confdb_access.h"
#include "ltesdk.h"
#include "modem/bringup.h"
#include "dm/log_paths.h"
#include "shell/cmd_handlers.h"
#include "shell/shell_fixture.h"

namespace cnxd::test {
namespace {

TEST(Ipv6Text, EightGroupsWithoutShortening)
{
    const struct {
        std::array<uint8_t, 16> addr;
        const char* text;
    } cases[] = {
        {{0x20, 0x01, 0x0d, 0xb8, 0x00, 0x01}, "2001:db8:01:0:0:0:0:0"},
        {{}, "0:0:0:0:0:0:0:0"},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xfe, 0x80}, "0:0:0:0:0:0:0:fe80"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, make_ipv6_addr(c.addr.data()));
}

class ShellHandlers : public ShellTest {
protected:
    ~ShellHandlers() override
    {
        g_operator = 0;
        g_vzw_admin_pdn_reference_count = 0;
    }
    // What the line printed and the SDK calls it made.
    std::pair<Lines, Lines> run(const std::string& line)
    {
        logs();
        calls();
        dispatch(line);
        Lines out = logs();
        return {out, calls()};
    }
    static size_t count_of(const Lines& calls, const std::string& name)
    {
        return static_cast<size_t>(std::ranges::count_if(calls, [&](const std::string& c) {
            return c.starts_with(name);
        }));
    }
};

TEST_F(ShellHandlers, PrintsAndCallsOfEachHandler)
{
    const struct {
        const char* line;
        const char* printed;  // among the texts printed
        const char* call;     // the SDK function called
        size_t calls;         // how often
    } cases[] = {
        {"nstats 1 9", "[cmd_get_network_statics_info] Invalid nic index\n", "LAPI_GetNetworkInformation", 0},
        {"nstats 1 8", "NIC Index : 8\n", "LAPI_GetNetworkInformation", 8},
        {"nstats 1 3", "NIC Index : 3\n", "LAPI_GetNetworkInformation", 1},
        {"chmac 1 00-11-22-33-44-555", "[cmd_change_mac_address   ] Invalid Input Parameter\n", "LAPI_SetLTEInfo", 0},
        {"chimei 1 49015420323751", "", "LAPI_SetLTEInfo", 1},  // completed with its check digit
        {"chimei 1 490154203237518", "", "LAPI_SetLTEInfo", 1},
        {"chimei 1 490154203237519", "[make_change_imei_req_param] !check_digit_valid\n", "LAPI_SetLTEInfo", 0},
        {"cinfo 1", "There is no Connection Info\n", "LAPI_GetConnectionInfo", 1},
        {"gdl", "  1\tlte0                     \t00 1e 42 00 00 01\n", "LAPI_GetDeviceList", 1},
        {"gdi 1", "FW version : 5.0.12.4\n", "LAPI_GetDeviceInformationExtension", 1},
        {"roamallow 1 2", "[cmd_roamallow            ] Invalid 2nd param value [2]\n", "LAPI_DeviceReset", 0},
        {"cmtest 1 13 0", "unkown test item : 13\n", "LAPI_DeviceReset", 0},
        {"cmtest 1 5 6", "-------CM Test Usage-------\n", "LAPI_DeviceReset", 0},
        {"br 1 3", "[cmd_bearer_resource_request] Invalid Input Parameter\n", "LAPI_BearerResourceAllocation", 0},
        {"uiccext 0 unlock 1", "cmd_uicc_ext_cmd: Device Index [0] was wrong.\n", "LAPI_DeviceReset", 0},
        {"uiccext 1 unlock 3", "cmd_uicc_ext_cmd: Unlock Value [3] was wrong.\n", "LAPI_DeviceReset", 0},
        {"eip 1 4 224.1.1.1", "add/del - add(1)/del(0)\n", "LAPI_AddEncapsIP", 0},
        {"eip 1 4 224.100.100.1 192.168.0.10", "", "LAPI_AddEncapsIP dev=1", 1},
        {"bip 1 0", "", "LAPI_BIPControlResult", 1},
        {"bip 1 2", "[cmd_bip_control_request  ] Invalid Input Parameter\n", "LAPI_BIPControl", 0},
        {"vs 1 2", "", "LAPI_VendorSpecificHCI", 1},
        {"vs 1 5", "[cmd_vendor_specific      ] unknown vendor type 5\n", "LAPI_VendorSpecificHCI", 0},
        {"plse 1", "", "LAPI_PLMNSearchExtRequest dev=1", 1},  // the record a fresh sysroot's NV item 2 holds
        // By the 5G NR switch (off), then from the file.
        {"ctrl5gsecu 1 0", "", "LAPI_5GAddSecurityCtrlRequest dev=1 ff000000000000000000000000000000ff", 1},
        {"ctrl5gsecu 1 1", "", "LAPI_5GAddSecurityCtrlRequest dev=1 01000000000000000000000000000000" "01", 1},
        {"ctrl5gsecu 1 2", "[cmd_5g_security_ctrl_request] Invalid Input Parameter\n", "LAPI_5GAdd", 0},
        // Ranges: ten digits saturate instead of wrapping into range, each
        // packed number has its request's range.
        {"rfsc 4294967297", "[do_cmd                   ] Invaild Device Index(1~127)\n", "LAPI_RFStatus", 0},
        {"rfsc 1", "[cmd_rf_status_report_control] Invalid File Parameter\n", "LAPI_RFStatus", 0},  // ON_OFF wraps no more
        {"br 4294967296 0", "[do_cmd                   ] Invaild Device Index(1~127)\n", "LAPI_Bearer", 0},
        {"br 1 4294967296", "[cmd_bearer_resource_request] Invalid Input Parameter\n", "LAPI_Bearer", 0},
        {"edrx 1 21 0", "[cmd_ext_drx_param_ctrl_request] Invalid Input Parameter\n", "LAPI_ExtDRX", 0},
        {"edrx 1 0 10", "-------Extended DRX Parameter Control Request Usage-------\n", "LAPI_ExtDRX", 0},
        {"edrx 1 20 9", "", "LAPI_ExtDRXParamctrlRequest dev=1", 1},
        // What failed picks the text: a composite's argument, a file.
        {"plmncfgset 1 x", "[cmd_plmn_cfg_set         ] Invalid Input Parameter\n", "LAPI_PLMNCfgSet", 0},
        {"rrccapa 1 15", "[multiSetTagParser        ] syntax Error, Keep \"[TAG_NAME]=\"\n", "LAPI_RRCCap", 0},
        {"rrccapa 1 15", "[cmd_rrc_capability_control] Invalid Input Parameter\n", "LAPI_RRCCap", 0},
        {"spsinfo 1 7", "[cmd_set_protocol_info    ] Invalid File Parameter\n", "LAPI_SetProtocol", 0},
        {"pc 1 1 3", "[cmd_pdn_connectivity_request] Invalid Input Parameter\n", "LAPI_PDNConnRequest", 0},
        {"at 1 0 3", "[cmd_attach_request       ] Invalid Input Parameter\n", "LAPI_AttachRequest", 0},
        {"spsinfo 1 4", "[TEST_LOG] -1 \n", "LAPI_SetProtocol", 1},  // the value read, not its tag
        {"spsinfo 1 5", "There is no operator specific inforamtion\n", "LAPI_SetProtocol", 0},  // operator 0
        {"spsinfo 1 3", "[make_set_protocol_info_file_param] Invalid Set Protocol Info request type : 3\n",
         "LAPI_SetProtocol", 0},
    };
    set_log_file_paths();
    std::filesystem::create_directories(root_.path(PARAM_DIR_DEFAULT));
    root_.write(std::string(PARAM_DIR_DEFAULT) + "ps_ctrl_5g_add_security.param", "EA0=1\nEA1=0\nIA0=1\n");
    root_.write(std::string(PARAM_DIR_DEFAULT) + "rf_status_control.param",
                "ON_OFF=4294967297\nINTERVAL_IDLE=1\nINTERVAL_CONNECT=1\nTHRESH_IDLE=1\nTHRESH_CONNECT=1\n");
    root_.write(std::string(PARAM_DIR_DEFAULT) + "rrc_set_supported_freq_range_list.param",
                "BAND=3\nSTART_EARFCN 1200\nEND_EARFCN=1949\n");
    root_.write(std::string(PARAM_DIR_DEFAULT) + "pdn_connect.param",
                "request_type=0\noptional_info=0\nUSE_GENERAL_PCO=0\nUSE_OPERATOR_PCO=0\n");
    root_.write(std::string(PARAM_DIR_DEFAULT) + "attach.param", "optional_info=0\n");
    root_.write(std::string(PARAM_DIR_DEFAULT) + "pls_info.param", "INTERVAL_0=30\nCOUNT_0=-1\n");
    root_.write(std::string(PARAM_DIR_DEFAULT) + "drx_info.param", "DRX_VAL=4294967296\nNON_DRX_TIMER=0\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto [out, made] = run(c.line);
        EXPECT_TRUE(!*c.printed || has(out, c.printed)) << ::testing::PrintToString(out);
        EXPECT_EQ(c.calls, count_of(made, c.call)) << ::testing::PrintToString(made);
    }
}

TEST_F(ShellHandlers, UiccUnlockHandsItsValueToTheInstalledUnlock)
{
    static uint32_t got = 0;
    cmd_set_uicc_unlock([](uint32_t dev, std::span<const uint8_t, CMD_UICC_UNLOCK_BLOCK> block) {
        got = dev * 10 + load_be32(block.data());
    });
    dispatch("uiccext 1 unlock 2");
    dispatch("uiccext 1 lock 1");  // another sub-command does nothing
    cmd_set_uicc_unlock(nullptr);
    EXPECT_EQ(12u, got);
}

TEST_F(ShellHandlers, AdminPdnDisconnectOnlyDropsAHoldWhileOthersHoldIt)
{
    std::array<uint8_t, 420> rec{};
    std::memcpy(&rec[2], "admin", 5);
    ASSERT_EQ(0, LAPI_PDNConnRequest(hAPI, 1, rec.data()));
    int bearer = 5;
    while (bearer < 32 && getApnTypeByDefEPSid(static_cast<uint16_t>(bearer)) != 2)
        ++bearer;
    ASSERT_LT(bearer, 32) << "the simulated modem gave the ADMIN PDN a bearer";
    const std::string line = "pd 1 " + std::to_string(bearer) + " 2";
    const struct {
        int op, count, count_after;
        size_t disconnects;
    } cases[] = {
        {OPERATOR_SPRINT, 3, 2, 0},  // others hold it
        {OPERATOR_SPRINT, 1, 1, 1},  // the last hold
        {OPERATOR_ATT, 3, 3, 1},     // the count is operator 7's
    };
    for (const auto& c : cases) {
        g_operator = c.op;
        g_vzw_admin_pdn_reference_count = static_cast<uint8_t>(c.count);
        const auto [out, made] = run(line);
        EXPECT_EQ(c.count_after, g_vzw_admin_pdn_reference_count) << c.op;
        EXPECT_EQ(c.disconnects, count_of(made, "LAPI_PDNDisconnRequest")) << c.op;
    }
}

}  // namespace
}  // namespace cnxd::test
