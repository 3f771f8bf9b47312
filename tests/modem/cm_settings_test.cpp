// The wrappers with records of their own: first-time settings, NAS
// configuration, 5G security, LTE information; and the print routine and the
// guarded copy.
#include <algorithm>
#include <cstring>

#include "modem/cm_fixture.h"
#include "modem/cm_memcpy.h"
#include "modem/cm_printf.h"
#include "modem/cm_wrappers.h"
#include "modem/device_tables.h"
#include "config/confdb_access.h"

namespace cnxd::test {
namespace {

using CmSettings = CmTest;

std::string zeros(size_t n) { return std::string(2 * n, '0'); }

TEST_F(CmSettings, SmsAntennaAndLayerRecordsCarryTheirBytes)
{
    cm_set_ext_earfcn_request(1, 0x12345);
    cm_set_SMSTimerRequest(1, 300);
    cm_set_SMSSaveConfigRequest(1, 2);
    cm_set_AntRxModeConfigRequest(1, 2);
    cm_set_DLULMaxLayerRequest(1, 4);
    cm_set_IntraBandCAmodeRequest(1, 3);
    EXPECT_EQ((Lines{
                  "LAPI_SetEARFCNExtendRequest dev=1 00012345",
                  // type 7, length 106, sub-type 3 (timer), 0, value 300; then sub-type 5 (save)
                  "LAPI_SMSSubmitRequest dev=1 0007006a0300" "0000012c" + zeros(100),
                  "LAPI_SMSSubmitRequest dev=1 0007006a0500" "00000002" + zeros(100),
                  "LAPI_PHYFunctionControlRequest dev=1 0003000102",  // type 3, length 1, the mode
                  // type 20, length 2, downlink 4, uplink 0
                  "LAPI_RRCCapabilityControlRequest dev=1 001400020400",
                  // type 11, length 6, four zero bytes, 0, the mode at 9
                  "LAPI_RRCCapabilityControlRequest dev=1 000b00060000000000" "03",
              }),
              calls());
    const Lines lines = logs();
    EXPECT_TRUE(std::ranges::count(lines, named("cm_set_DLULMaxLayerRequest", "dl_max_layer:4, ul_max_layer:0")));
    EXPECT_TRUE(std::ranges::count(lines, named("cm_set_IntraBandCAmodeRequest", "Intra_band CA mode option :0x3")));
}

TEST_F(CmSettings, DefaultsSendNothingAndSomeFailuresWriteNoExitLine)
{
    cm_set_IntraBandCAmodeRequest(1, 0);
    cm_set_KeepCampOnAfterDetachRequest(1, 0);
    EXPECT_EQ(Lines{}, calls());
    EXPECT_EQ((Lines{entry("cm_set_IntraBandCAmodeRequest"),
                     named("cm_set_IntraBandCAmodeRequest", "Default mode(Intra_band CA mode:0x0)"),
                     entry("cm_set_KeepCampOnAfterDetachRequest"),
                     named("cm_set_KeepCampOnAfterDetachRequest", "Keep camp on after detach option :0x0"),
                     leave("cm_set_KeepCampOnAfterDetachRequest")}),
              logs());

    // The SMS type and keep-camp requests refused: no exit line.
    sim("fail LAPI_SendSmsConfChangeInd 1");
    sim("fail LAPI_KeepCampOnAfterDetachRequest 1");
    cm_set_SMSConfigRequest(1, 0x101);
    cm_set_KeepCampOnAfterDetachRequest(1, 1);
    EXPECT_EQ(1, gSmsConfType.load()) << "the low byte";
    EXPECT_EQ((Lines{"LAPI_SendSmsConfChangeInd dev=1 00000001", "LAPI_KeepCampOnAfterDetachRequest dev=1"}),
              calls());
    const Lines lines = logs();
    ASSERT_EQ(6u, lines.size());
    EXPECT_EQ(named("cm_set_SMSConfigRequest", "SMS Config type :0x1"), lines[1]);
    EXPECT_EQ(entry("cm_set_KeepCampOnAfterDetachRequest"), lines[3]);
    for (const std::string& line : lines)
        EXPECT_FALSE(line.starts_with("[cm_set_") && line.ends_with("-]\n")) << line;

    // ...but a refused carrier aggregation mode has one.
    sim("fail LAPI_RRCCapabilityControlRequest 1");
    cm_set_IntraBandCAmodeRequest(1, 1);
    const Lines ca = logs();
    ASSERT_EQ(4u, ca.size());
    EXPECT_EQ(named("cm_set_IntraBandCAmodeRequest", "RRC Capability Control Set Request Failed"), ca[2]);
    EXPECT_EQ(leave("cm_set_IntraBandCAmodeRequest"), ca[3]);
}

TEST_F(CmSettings, NasConfigurationMapsIndexesToItems)
{
    EXPECT_EQ(1, set_nas_config(1, 11, 1));
    EXPECT_EQ(1, cm_nas_config_request(1, 0, -1, 1));
    EXPECT_EQ(Lines{}, calls());
    EXPECT_EQ((Lines{"[NAS_CONFIG]set_nas_config Invalid Idex:11 \n", "[NAS_CONFIG]set_nas_config Invalid Idex:-1 \n"}),
              logs());

    // Index 4 and 6 swap their items; 10 is the last.
    EXPECT_EQ(0, cm_nas_config_request(1, 0, 4, 9));
    EXPECT_EQ(0, set_nas_config(1, 6, 1));
    EXPECT_EQ(0, set_nas_config(1, 10, 0));
    EXPECT_EQ((Lines{"LAPI_SetNASConfigRequest dev=1 018509" + zeros(30),
                     "LAPI_SetNASConfigRequest dev=1 018401" + zeros(30),
                     "LAPI_SetNASConfigRequest dev=1 018a00" + zeros(30)}),
              calls());

    sim("fail LAPI_SetNASConfigRequest 3");
    sim("fail LAPI_GetNASConfigRequest 3");
    EXPECT_EQ(-1, set_nas_config(1, 0, 1));
    EXPECT_EQ(-1, cm_nas_config_request(1, 1, 0, 0));
    sim("fail LAPI_GetNASConfigRequest 0");
    EXPECT_EQ(0, cm_nas_config_request(1, 1, 0, 0));
    EXPECT_EQ((Lines{"LAPI_SetNASConfigRequest dev=1 018001" + zeros(30), "LAPI_GetNASConfigRequest dev=1",
                     "LAPI_GetNASConfigRequest dev=1"}),
              calls());
}

TEST_F(CmSettings, FiveGSecurityImeiAndLteInfoRecords)
{
    // The 5G security record follows the NR switch.
    ctr_5gnr_flag = 0;
    cm_5g_add_security_ctrl_request(1);
    ctr_5gnr_flag = 1;
    sim("fail LAPI_5GAddSecurityCtrlRequest 1");
    cm_5g_add_security_ctrl_request(1);
    ctr_5gnr_flag = 0;
    EXPECT_EQ((Lines{"LAPI_5GAddSecurityCtrlRequest dev=1 ff" + zeros(15) + "ff" + zeros(15),
                     "LAPI_5GAddSecurityCtrlRequest dev=1 01010101" + zeros(12) + "01010101" + zeros(12)}),
              calls());
    const Lines lines = logs();
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ(named("cm_5g_add_security_ctrl_request", "5G Additional Security Control Request fail"), lines[3]);

    // An IMEI change is recorded, then uploaded.
    const std::array<uint8_t, 9> imei{8, 0x3a, 0x21, 0x43, 0x65, 0x87, 0x09, 0x21, 0x43};
    std::array<uint8_t, 6> upload{0, 3, 0, 0, 1, 0};  // NV upload, item 1
    sim("fail LAPI_UploadBinary 4");
    cm_change_imei_address(2, upload.data(), imei);
    const pending_nv_change pending = take_pending_nv_change(2);
    EXPECT_TRUE(pending.imei);
    EXPECT_FALSE(pending.mac);
    EXPECT_EQ(imei, pending.imei_addr);
    EXPECT_FALSE(take_pending_nv_change(2).imei) << "taken once";
    EXPECT_EQ(Lines{"LAPI_UploadBinary dev=2 000300000100"}, calls());
    EXPECT_EQ((Lines{entry("cm_change_imei_address"), named("cm_change_imei_address", "Change IMEI Fail"),
                     leave("cm_change_imei_address")}),
              logs());

    // The LTE information logs only its failure, with the record type.
    std::array<uint8_t, 8> mac{0, 6, 1, 2, 3, 4, 5, 6};
    cm_set_lte_info(1, mac);
    sim("fail LAPI_SetLTEInfo 2");
    mac[0] = 1;
    cm_set_lte_info(1, mac);
    EXPECT_EQ((Lines{"LAPI_SetLTEInfo dev=1", "LAPI_SetLTEInfo dev=1"}), calls());
    EXPECT_EQ(Lines{named("cm_set_lte_info", "LAPI_SetLTEInfo (type : 1)")}, logs());
}

TEST_F(CmSettings, PrintIsCutNotSplitAndGuardedCopyRefusesNull)
{
    cm_printf(CM_INFO, "%s", std::string(3000, 'x').c_str());
    EXPECT_EQ(Lines{std::string(CM_PRINTF_MAX, 'x')}, logs());
    const uint32_t handle = hAPI;
    hAPI = 0;  // not the SDK's handle: LAPI_Printf refuses
    cm_printf(CM_ERR, "lost\n");
    hAPI = handle;
    EXPECT_EQ(Lines{"LAPI_Printf Failed\n"}, logs());

    uint8_t dst[4] = {};
    const uint8_t src[4] = {1, 2, 3, 4};
    EXPECT_EQ(nullptr, check_memcpy(nullptr, src, 4, "ind", 12));
    EXPECT_EQ(nullptr, check_memcpy(dst, nullptr, 4, "ind", 34));
    EXPECT_EQ(0, dst[0]);
    EXPECT_EQ(dst, check_memcpy(dst, src, 4, "ind", 56));
    EXPECT_EQ(0, std::memcmp(dst, src, 4));
    EXPECT_EQ((Lines{"[ind:12] memcpy:1st parameter is NULL.\n", "[ind:34] memcpy:2nd parameter is NULL.\n"}),
              logs());
}

TEST_F(CmSettings, ClientInfoPrintsTheTableBetweenItsEntryAndExit)
{
    cm_print_cnxd_clientInfo_request();
    const Lines got = logs();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(entry("cm_print_cnxd_clientInfo_request"), got.front());
    EXPECT_EQ(leave("cm_print_cnxd_clientInfo_request"), got.back());
    // In between, one line per free record (the fixture's listener holds
    // one more, with its own lines).
    const Lines table(got.begin() + 1, got.end() - 1);
    EXPECT_TRUE(std::ranges::count(table, "client->idx [14], id [255]\n"));
    EXPECT_GE(table.size(), 15u);
    EXPECT_EQ("ps \n", platform_calls());
}

}  // namespace
}  // namespace cnxd::test
