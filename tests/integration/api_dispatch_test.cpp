// Client API requests end to end: a raw client's HCI_API_REQUEST frames to
// the daemon, and what the simulated modem recorded of the SDK calls they
// became. The expected command -> SDK function pairs below are written out
// here on their own, apart from the daemon's command table, so that a slip
// in either one shows.
#include <gtest/gtest.h>
#include <sys/sem.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <memory>
#include <thread>

#include "base/be.h"
#include "integration/harness.h"

namespace cnxd::test {
namespace {

// How a command's data reach the SDK, as far as this test checks it here:
// Rec the data as the request record (shown when the modem knows its size),
// Dev the device index alone, List not even that, Own a row of its own
// (checked by the special-row tests).
enum Form { Rec, Dev, List, Own };

struct Expect {
    uint16_t id;
    std::vector<std::string> calls;  // in order; none: no SDK call
    Form form;
};

const Expect kCommands[] = {
    {0, {}, Own},
    {1, {"LAPI_LOOPBACK"}, Rec},
    {2, {"LAPI_GetBootImageType"}, Own},
    {3, {"LAPI_GetDeviceInformation"}, Own},
    {4, {"LAPI_GetDeviceInformationExtension"}, Own},
    {5, {"LAPI_GetNetworkInformation"}, Own},
    {6, {"LAPI_GetDeviceList"}, List},
    {7, {"LAPI_GetConnectionInfo"}, Own},
    {9, {"LAPI_GetGPIO"}, Own},
    {10, {"LAPI_SetGPIO"}, Rec},
    {13, {"LAPI_ConfigureNetworkInterface"}, Own},
    {14, {"LAPI_SetAPNType"}, Own},
    {15, {"LAPI_GetAPNType"}, Own},
    {16, {"LAPI_GetAPNTypeByDftEPSid"}, Own},
    {17, {"LAPI_DeleteAPNTypeFromTidNode"}, Own},
    {18, {"LAPI_AddSpecialTid"}, Own},
    {19, {}, Own},
    {20, {"LAPI_SetMTUSize"}, Rec},
    {21, {"LAPI_DevicePowerOff"}, Dev},
    {23, {"LAPI_DeviceReset"}, Dev},
    {25, {"LAPI_AttachRequest"}, Rec},
    {27, {"LAPI_AttachRequestEXT"}, Rec},
    {29, {"LAPI_DetachRequest"}, Rec},
    {32, {"LAPI_PDNConnRequest"}, Rec},
    {34, {"LAPI_PDNConnRequestEXT"}, Rec},
    {36, {"LAPI_PDNDisconnRequest"}, Own},
    {40, {"LAPI_PLMNSearchRequest"}, Rec},
    {42, {"LAPI_PLMNSearchExtRequest"}, Rec},
    {44, {"LAPI_PLMNListRequest"}, Dev},
    {46, {"LAPI_PLMNListExtRequest"}, Rec},
    {48, {"LAPI_PLMNListExt2Request"}, Rec},
    {51, {"LAPI_PLMNListAbortRequest"}, Dev},
    {55, {"LAPI_QuerySelectedPLMNRequest"}, Dev},
    {57, {"LAPI_SuspendRequest"}, Rec},
    {60, {"LAPI_OnlineRequest"}, Dev},
    {62, {"LAPI_OfflineRequest"}, Dev},
    {63, {"LAPI_OfflineRequestExtension"}, Rec},
    {67, {"LAPI_PLMNSearchStopRequest"}, Rec},
    {69, {"LAPI_ContentsResetAndDeleteRequest"}, Rec},
    {71, {"LAPI_PSInitRequest"}, Dev},
    {73, {"LAPI_BearerResourceAllocation"}, Rec},
    {74, {"LAPI_BearerResourceModification"}, Rec},
    {76, {"LAPI_BearerResourceRelease"}, Rec},
    {78, {"LAPI_HKADCReadRequest"}, Rec},
    {80, {"LAPI_MobileIDReadRequest"}, Rec},
    {82, {"LAPI_ICCIDReadRequest"}, Dev},
    {84, {"LAPI_MSISDNReadRequest"}, Dev},
    {86, {"LAPI_TemperatureReadRequest"}, Dev},
    {88, {"LAPI_OPLPNNReadRequest"}, Dev},
    {90, {"LAPI_SPNReadRequest"}, Dev},
    {92, {"LAPI_CalTemperReadRequest"}, Rec},
    {94, {"LAPI_NIDReadRequest"}, Rec},
    {96, {"LAPI_TZReadRequest"}, Rec},
    {99, {"LAPI_PLMNSearchStatusReadRequest"}, Dev},
    {101, {"LAPI_IndicationMaskReadRequest"}, Dev},
    {103, {"LAPI_ServinigCellFreqReadRequest"}, Dev},
    {105, {"LAPI_PLMNSearchIntervalIndexReadRequest"}, Dev},
    {107, {"LAPI_SIB1PmaxReadRequest"}, Dev},
    {109, {"LAPI_EMMInformationReadRequest"}, Dev},
    {111, {"LAPI_PLMNSearchModeReadRequest"}, Dev},
    {113, {"LAPI_EMMStateReadRequest"}, Dev},
    {129, {}, Own},
    {135, {"LAPI_ATCommandToDevice"}, Own},
    {137, {"LAPI_ATCommandToDeviceEXT"}, Own},
    {139, {"LAPI_GetCrashLogRequest"}, Dev},
    {141, {"LAPI_EraseCrashLogRequest"}, Dev},
    {143, {"LAPI_DownloadBinary"}, Rec},
    {145, {"LAPI_UploadBinary"}, Rec},
    {151, {"LAPI_IMSControlRequest"}, Own},
    {153, {"LAPI_SMSRequest"}, Own},
    {157, {"LAPI_UICCRequest"}, Rec},
    {166, {}, Own},
    {167, {}, Own},
    {168, {}, Own},
    {169, {"LAPI_ResumeRequest"}, Rec},
    {171, {"LAPI_UeModeChangeRequest"}, Rec},
    {173, {"LAPI_IPV4AddrChangeIndication"}, Rec},
    {174, {"LAPI_UESupportAlgorithmChangeRequest"}, Rec},
    {176, {"LAPI_UESupportAlgorithmReadRequest"}, Dev},
    {178, {"LAPI_ServiceRequest"}, Dev},
    {181, {"LAPI_DMLogReadRequest"}, Rec},
    {183, {"LAPI_DMLogExtReadRequest"}, Own},
    {185, {"LAPI_GetProtocolInfoRequest"}, Rec},
    {187, {"LAPI_SetProtocolInfoRequest"}, Rec},
    {189, {"LAPI_WatchdogRequest"}, Rec},
    {190, {"LAPI_WatchdogResponse"}, Rec},
    {191, {"LAPI_PLMNSearchIndexChangeRequest"}, Rec},
    {193, {"LAPI_AutomaticCellSearchStartRequest"}, Dev},
    {195, {"LAPI_IndicationMaskControlRequest"}, Rec},
    {197, {"LAPI_RFStatusReportControlRequest"}, Rec},
    {199, {"LAPI_DebugLogControlRequest"}, Rec},
    {201, {"LAPI_SaveEPSNSCNV"}, Dev},
    {203, {"LAPI_RFEventControlRequest"}, Rec},
    {212, {"LAPI_RFMeasureReportRequest"}, Rec},
    {215, {"LAPI_HostIPConnectRequest"}, Rec},
    {217, {"LAPI_EMMtimerCtrlRequest"}, Rec},
    {218, {"LAPI_PSMctrlRequest"}, Rec},
    {219, {"LAPI_LCSctrlRequest"}, Rec},
    {220, {"LAPI_LPPctrlRequest"}, Rec},
    {221, {"LAPI_EMMNIREATTACHctrlRequest"}, Rec},
    {222, {"LAPI_SMSOVERIPNETWORKctrlRequest"}, Rec},
    {223, {"LAPI_ExtDRXParamctrlRequest"}, Rec},
    {229, {"LAPI_VendorSpecificHCI"}, Rec},
    {231, {"LAPI_RRCCapabilityControlRequest"}, Rec},
    {233, {"LAPI_RRCCapabilityControlGetRequest"}, Rec},
    {235, {"LAPI_RRCFunctionControlRequest"}, Rec},
    {237, {"LAPI_RRCFunctionControlGetRequest"}, Rec},
    {239, {"LAPI_PHYTAInformationRequest"}, Rec},
    {241, {"LAPI_EMBMSControlRequest"}, Rec},
    {242, {"LAPI_EMBMSENCAPControlRequest"}, Rec},
    {244, {"LAPI_SetOprtcntRequest"}, Rec},
    {248, {"LAPI_SMSSubmitRequest"}, Rec},
    {254, {"LAPI_OTADMToUE"}, Rec},
    {257, {"LAPI_SetBackgroundScanConfig"}, Own},
    {258, {"LAPI_SetBackgroundScanMode"}, Own},
    {259, {"LAPI_SetLTEBackgroundScanMode"}, Own},
    {263, {"LAPI_SendDMCommand"}, Own},
    {265, {"LAPI_SetLTEInfo"}, Rec},
    {267, {"LAPI_BIPControlResult"}, Rec},
    {268, {"LAPI_BIPControlIndication"}, Rec},
    {272, {"LAPI_TINReadRequest"}, Dev},
    {274, {"LAPI_GUTIReadRequest"}, Dev},
    {276, {"LAPI_LPPControlRequest"}, Rec},
    {279, {"LAPI_GNSSControlResponse"}, Rec},
    {281, {"LAPI_LCSControlRequest"}, Rec},
    {284, {"LAPI_IMSSendSMSResult"}, Rec},
    {285, {"LAPI_IMSReceiveSMSMesg"}, Rec},
    {286, {"LAPI_IMSSessionEstablishmentRequest"}, Rec},
    {288, {"LAPI_IMSCallStatusUpdateRequest"}, Rec},
    {290, {"LAPI_SendSmsConfChangeInd"}, Own},
    {291, {"LAPI_IRATMeasControlRequest", "LAPI_TINReadRequest"}, Own},
    {294, {"LAPI_PLMNCSGListRequest"}, Dev},
    {296, {"LAPI_PLMNCSGListAbortRequest"}, Dev},
    {298, {"LAPI_PLMNCSGSelectRequest"}, Rec},
    {300, {"LAPI_PLMNCSGQuerySelectedRequest"}, Dev},
    {302, {"LAPI_PLMNCSGSetACSGLRequest"}, Rec},
    {303, {"LAPI_PLMNCSGGetCSGLRequest"}, Rec},
    {305, {"LAPI_VLTFlowRequest"}, Rec},
    {307, {"LAPI_VLTMediaRequest"}, Rec},
    {309, {"LAPI_VLTControlRequest"}, Rec},
    {312, {"LAPI_VLTPacketRequest"}, Rec},
    {314, {"LAPI_SetNASConfigRequest"}, Rec},
    {315, {"LAPI_GetNASConfigRequest"}, Dev},
    {317, {"LAPI_SetEARFCNExtendRequest"}, Rec},
    {318, {"LAPI_SetSupportUICCNormalFIDRequest"}, Rec},
    {321, {"LAPI_NtzControlResponse"}, Rec},
    {323, {"LAPI_NtzLogRequest"}, Rec},
    {324, {"LAPI_DmCtrlRequest"}, Rec},
    {326, {"LAPI_ReadT3402RemainValRequest"}, Dev},
    {328, {"LAPI_EMMSameAPNSupportRequest"}, Rec},
    {329, {"LAPI_ReadForbiddenTAListRequest"}, Dev},
    {331, {"LAPI_PHYFunctionControlRequest"}, Rec},
    {333, {"LAPI_PHYFunctionControlGetRequest"}, Rec},
    {335, {"LAPI_KeepCampOnAfterDetachRequest"}, Dev},
    {337, {"LAPI_SetConfigDHCPServer"}, Rec},
    {338, {"LAPI_GetConfigDHCPServer"}, Own},
    {339, {"LAPI_ConnDeviceLossIndNotiToATCM"}, Own},
    {340, {"LAPI_FactoryResetCtrlRequest"}, Rec},
    {342, {"LAPI_GetIpv6MtuSize"}, Own},
    {343, {"LAPI_UETestLoopModeResponse"}, Rec},
    {344, {"LAPI_5GAddSecurityCtrlRequest"}, Rec},
    {347, {"LAPI_5GNRControlRequest"}, Rec},
    {349, {"LAPI_SMSFormatSetRequest"}, Rec},
    {351, {"LAPI_IPV6_ICMP_Set_Request"}, Rec},
    {352, {"LAPI_PLMNCfgSetRequest"}, Rec},
    {354, {"LAPI_PLMNCfgGetRequest"}, Rec},
    {358, {"LAPI_IPV6_ICMP_5GNR_Result_Set_Request"}, Rec},
    {360, {}, Own},
    {361, {"LAPI_L2FunctionControlGetRequest"}, Rec},
    {363, {"LAPI_PowerModeSetRequest"}, Rec},
    {364, {"LAPI_ATCommandToDeviceV2"}, Own},
};

// A device index of its own per command, so that its calls stand apart
// from those the daemon makes for the modem (device 1).
uint32_t dev_of(uint16_t id) { return 1000u + id; }

struct Call {
    std::string name;
    std::string hex;
};

// The recorded calls by device index ("-" for calls without one).
std::map<std::string, std::vector<Call>> calls_by_dev(LtesimClient& sim)
{
    std::map<std::string, std::vector<Call>> out;
    for (const std::string& line : sim.calls()) {
        const size_t sp1 = line.find(' ');
        const size_t sp2 = line.find(' ', sp1 + 1);
        const std::string dev = line.substr(sp1 + 5, sp2 == std::string::npos ? std::string::npos : sp2 - sp1 - 5);
        out[dev].push_back({line.substr(0, sp1), sp2 == std::string::npos ? "" : line.substr(sp2 + 1)});
    }
    return out;
}

class ApiDispatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(daemon.start());
        sim = std::make_unique<LtesimClient>(root);
        ASSERT_TRUE(sim->connected());
        ASSERT_TRUE(sim->wait_online());
        client = add_client();
    }
    void TearDown() override
    {
        clients.clear();
        sim.reset();
        EXPECT_EQ(0, daemon.stop(SIGTERM));
    }

    RawClient* add_client()
    {
        clients.push_back(std::make_unique<RawClient>(root, "api" + std::to_string(clients.size())));
        RawClient* c = clients.back().get();
        const auto n = static_cast<uint32_t>(clients.size());
        EXPECT_TRUE(c->open({{0x5000 + n, 4000 + n}}).has_value());
        return c;
    }

    Sysroot root;
    Daemon daemon{root};
    std::unique_ptr<LtesimClient> sim;
    std::vector<std::unique_ptr<RawClient>> clients;
    RawClient* client = nullptr;
};

TEST_F(ApiDispatch, EveryCommandReachesItsSdkFunction)
{
    ASSERT_EQ(171u, std::size(kCommands));
    const Bytes data = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                        0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f};
    ASSERT_EQ("ok", sim->command("clear"));
    for (const Expect& e : kCommands)
        ASSERT_EQ(0, client->api_request(e.id, dev_of(e.id), data)) << "command " << e.id;

    auto by_dev = calls_by_dev(*sim);
    for (const Expect& e : kCommands) {
        SCOPED_TRACE("command " + std::to_string(e.id));
        const std::string dev = e.form == List ? "-" : std::to_string(dev_of(e.id));
        std::vector<std::string> names;
        for (const Call& c : by_dev[dev])
            names.push_back(c.name);
        if (e.form == List) {
            EXPECT_NE(names.end(), std::ranges::find(names, e.calls[0]));
            continue;
        }
        EXPECT_EQ(e.calls, names);
        if (names.empty())
            continue;
        const std::string& shown = by_dev[dev][0].hex;
        if (e.form == Dev) {
            EXPECT_EQ("", shown) << "no data are passed on";
        }
        if (e.form == Rec && !shown.empty()) {
            // The record: the data sent, then zeros up to its size.
            const std::string sent = hex(data).substr(0, std::min(shown.size(), 2 * data.size()));
            EXPECT_EQ(sent, shown.substr(0, sent.size()));
            EXPECT_EQ(std::string::npos, shown.find_first_not_of('0', sent.size()));
        }
    }

    // Failing SDK calls: the code in the result word, "NAME fail" logged;
    // only the console text's result is not kept.
    for (const Expect& e : kCommands) {
        if (e.calls.empty())
            continue;
        SCOPED_TRACE("command " + std::to_string(e.id));
        const std::string& fn = e.calls.back();
        const bool kept = fn != "LAPI_SendDMCommand";
        const std::string line = e.id == 364 ? "CMD_EVT_AT_COMMAND_TO_DEVICE_V2 fail" : fn + " fail";
        const int before = daemon.count_in_log(line);
        ASSERT_EQ("ok", sim->command("fail " + fn + " 37"));
        EXPECT_EQ(kept ? 37 : 0, client->api_request(e.id, dev_of(e.id), data));
        ASSERT_EQ("ok", sim->command("fail " + fn + " 0"));
        EXPECT_EQ(before + kept, daemon.count_in_log(line));
    }
}

TEST_F(ApiDispatch, AnswersLandAtTheirOffsetsOfTheSharedBlock)
{
    struct Answer {
        uint16_t id;
        std::string fn;
        size_t offset;
        Bytes bytes;
        Bytes data;
    };
    const Answer answers[] = {
        {2, "LAPI_GetBootImageType", 1521, {0x02}, {}},
        {3, "LAPI_GetDeviceInformation", 1522, {0x31, 0x32, 0x33}, {}},
        {4, "LAPI_GetDeviceInformationExtension", 1552, {0x41, 0x42}, {}},
        {5, "LAPI_GetNetworkInformation", 2326, {0x51, 0x52, 0x53, 0x54}, {}},
        {6, "LAPI_GetDeviceList", 2354, {0x00, 0x00, 0x00, 0x01, 0x61}, {}},
        {7, "LAPI_GetConnectionInfo", 36406, {0x00, 0x00, 0x00, 0x02, 0x71}, {0x00, 0x00, 0x00, 0x00}},
        {9, "LAPI_GetGPIO", 41146, {0x91, 0x92, 0x93}, {0x00, 0x05, 0x01}},
        {15, "LAPI_GetAPNType", 41149, {0x03}, {}},
        {16, "LAPI_GetAPNTypeByDftEPSid", 41149, {0x04}, {0x05, 0x00}},
        {338, "LAPI_GetConfigDHCPServer", 41151, {0xd1, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
                                                   0xdb, 0xdc, 0xdd, 0xde, 0xdf, 0xe0, 0xe1, 0xe2, 0xe3}, Bytes(18, 0)},
        {342, "LAPI_GetIpv6MtuSize", 41170, {0x05, 0xdc}, {0x00, 0x00, 0x00, 0x01}},
    };
    uint8_t* block = client->attach();
    ASSERT_NE(nullptr, block);
    for (const Answer& a : answers) {
        SCOPED_TRACE("command " + std::to_string(a.id));
        ASSERT_EQ("ok", sim->command("answer " + a.fn + " " + hex(a.bytes)));
        ASSERT_EQ(0, client->api_request(a.id, 1, a.data));
        EXPECT_EQ(a.bytes, Bytes(block + a.offset, block + a.offset + a.bytes.size()));
    }
}

TEST_F(ApiDispatch, UnknownCommandEndsTheWaitWithResultZero)
{
    EXPECT_EQ(0, client->api_request(8, 1, {1, 2, 3, 4}));
    EXPECT_TRUE(daemon.wait_for_log("Unknown HCI (0x8)", 2s));
    EXPECT_EQ(0, client->api_request(0xFFFF, 1, {}));
    EXPECT_EQ(0, semctl(semget(client->ipc_key(), 0, 0), 0, GETVAL)) << "not busy after the answer";
    // A frame cut inside the request header still completes.
    ASSERT_TRUE(client->send(hci_frame(0x0106, {0x00, 0x19})));
    EXPECT_TRUE(client->wait_done());
}

TEST_F(ApiDispatch, BackToBackRequestsCompleteInOrder)
{
    ASSERT_EQ("ok", sim->command("fail LAPI_DetachRequest 9"));
    ASSERT_EQ("ok", sim->command("clear"));
    // Both frames are out before the first completion is awaited.
    ASSERT_TRUE(client->send(api_frame(29, 11)));
    ASSERT_TRUE(client->send(api_frame(44, 12)));
    EXPECT_TRUE(client->wait_done());
    EXPECT_TRUE(client->wait_done());
    EXPECT_EQ(0u, load_be32(client->attach() + 1516)) << "the second request's result";
    EXPECT_EQ((std::vector<std::string>{"LAPI_DetachRequest dev=11", "LAPI_PLMNListRequest dev=12"}),
              sim->calls());
}

TEST_F(ApiDispatch, ClientsInterleaveWithoutMixingAnswers)
{
    // With the GPIO read failing, the area keeps each request's own pin
    // bytes: every client must find its own after each completion.
    ASSERT_EQ("ok", sim->command("fail LAPI_GetGPIO 2"));
    std::vector<RawClient*> all = {client, add_client(), add_client()};
    std::vector<std::thread> threads;
    std::vector<int> mixed(all.size(), 0);
    for (size_t k = 0; k < all.size(); ++k) {
        threads.emplace_back([&, k] {
            uint8_t* block = all[k]->attach();
            for (int n = 0; n < 100; ++n) {
                const Bytes pin = {static_cast<uint8_t>(k), static_cast<uint8_t>(n)};
                const auto rc = all[k]->api_request(9, static_cast<uint32_t>(k + 1), {0x00, pin[0], pin[1]});
                if (rc != 2 || Bytes(block + 41146, block + 41148) != pin)
                    ++mixed[k];
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ((std::vector<int>{0, 0, 0}), mixed);
}

}  // namespace
}  // namespace cnxd::test
