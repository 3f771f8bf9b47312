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
    Form form;
    const char* fn;  // null: no SDK call

    // The SDK calls in order: 291 reads the TIN after its request.
    std::vector<std::string> calls() const
    {
        if (!fn)
            return {};
        if (id == 291)
            return {fn, "LAPI_TINReadRequest"};
        return {fn};
    }
};

const Expect kCommands[] = {
    {0, Own, nullptr},                                      {1, Rec, "LAPI_LOOPBACK"},
    {2, Own, "LAPI_GetBootImageType"},                      {3, Own, "LAPI_GetDeviceInformation"},
    {4, Own, "LAPI_GetDeviceInformationExtension"},         {5, Own, "LAPI_GetNetworkInformation"},
    {6, List, "LAPI_GetDeviceList"},                        {7, Own, "LAPI_GetConnectionInfo"},
    {9, Own, "LAPI_GetGPIO"},                               {10, Rec, "LAPI_SetGPIO"},
    {13, Own, "LAPI_ConfigureNetworkInterface"},            {14, Own, "LAPI_SetAPNType"},
    {15, Own, "LAPI_GetAPNType"},                           {16, Rec, "LAPI_GetAPNTypeByDftEPSid"},
    {17, Own, "LAPI_DeleteAPNTypeFromTidNode"},             {18, Own, "LAPI_AddSpecialTid"},
    {19, Own, nullptr},                                     {20, Rec, "LAPI_SetMTUSize"},
    {21, Dev, "LAPI_DevicePowerOff"},                       {23, Dev, "LAPI_DeviceReset"},
    {25, Rec, "LAPI_AttachRequest"},                        {27, Rec, "LAPI_AttachRequestEXT"},
    {29, Rec, "LAPI_DetachRequest"},                        {32, Rec, "LAPI_PDNConnRequest"},
    {34, Rec, "LAPI_PDNConnRequestEXT"},                    {36, Own, "LAPI_PDNDisconnRequest"},
    {40, Rec, "LAPI_PLMNSearchRequest"},                    {42, Rec, "LAPI_PLMNSearchExtRequest"},
    {44, Dev, "LAPI_PLMNListRequest"},                      {46, Rec, "LAPI_PLMNListExtRequest"},
    {48, Rec, "LAPI_PLMNListExt2Request"},                  {51, Dev, "LAPI_PLMNListAbortRequest"},
    {55, Dev, "LAPI_QuerySelectedPLMNRequest"},             {57, Rec, "LAPI_SuspendRequest"},
    {60, Dev, "LAPI_OnlineRequest"},                        {62, Dev, "LAPI_OfflineRequest"},
    {63, Rec, "LAPI_OfflineRequestExtension"},              {67, Rec, "LAPI_PLMNSearchStopRequest"},
    {69, Rec, "LAPI_ContentsResetAndDeleteRequest"},        {71, Dev, "LAPI_PSInitRequest"},
    {73, Rec, "LAPI_BearerResourceAllocation"},             {74, Rec, "LAPI_BearerResourceModification"},
    {76, Rec, "LAPI_BearerResourceRelease"},                {78, Rec, "LAPI_HKADCReadRequest"},
    {80, Rec, "LAPI_MobileIDReadRequest"},                  {82, Dev, "LAPI_ICCIDReadRequest"},
    {84, Dev, "LAPI_MSISDNReadRequest"},                    {86, Dev, "LAPI_TemperatureReadRequest"},
    {88, Dev, "LAPI_OPLPNNReadRequest"},                    {90, Dev, "LAPI_SPNReadRequest"},
    {92, Rec, "LAPI_CalTemperReadRequest"},                 {94, Rec, "LAPI_NIDReadRequest"},
    {96, Rec, "LAPI_TZReadRequest"},                        {99, Dev, "LAPI_PLMNSearchStatusReadRequest"},
    {101, Dev, "LAPI_IndicationMaskReadRequest"},           {103, Dev, "LAPI_ServinigCellFreqReadRequest"},
    {105, Dev, "LAPI_PLMNSearchIntervalIndexReadRequest"},  {107, Dev, "LAPI_SIB1PmaxReadRequest"},
    {109, Dev, "LAPI_EMMInformationReadRequest"},           {111, Dev, "LAPI_PLMNSearchModeReadRequest"},
    {113, Dev, "LAPI_EMMStateReadRequest"},                 {129, Own, nullptr},
    {135, Own, "LAPI_ATCommandToDevice"},                   {137, Own, "LAPI_ATCommandToDeviceEXT"},
    {139, Dev, "LAPI_GetCrashLogRequest"},                  {141, Dev, "LAPI_EraseCrashLogRequest"},
    {143, Rec, "LAPI_DownloadBinary"},                      {145, Rec, "LAPI_UploadBinary"},
    {151, Own, "LAPI_IMSControlRequest"},                   {153, Own, "LAPI_SMSRequest"},
    {157, Rec, "LAPI_UICCRequest"},                         {166, Own, nullptr},
    {167, Own, nullptr},                                    {168, Own, nullptr},
    {169, Rec, "LAPI_ResumeRequest"},                       {171, Rec, "LAPI_UeModeChangeRequest"},
    {173, Rec, "LAPI_IPV4AddrChangeIndication"},            {174, Rec, "LAPI_UESupportAlgorithmChangeRequest"},
    {176, Dev, "LAPI_UESupportAlgorithmReadRequest"},       {178, Dev, "LAPI_ServiceRequest"},
    {181, Rec, "LAPI_DMLogReadRequest"},                    {183, Own, "LAPI_DMLogExtReadRequest"},
    {185, Rec, "LAPI_GetProtocolInfoRequest"},              {187, Rec, "LAPI_SetProtocolInfoRequest"},
    {189, Rec, "LAPI_WatchdogRequest"},                     {190, Rec, "LAPI_WatchdogResponse"},
    {191, Rec, "LAPI_PLMNSearchIndexChangeRequest"},        {193, Dev, "LAPI_AutomaticCellSearchStartRequest"},
    {195, Rec, "LAPI_IndicationMaskControlRequest"},        {197, Rec, "LAPI_RFStatusReportControlRequest"},
    {199, Rec, "LAPI_DebugLogControlRequest"},              {201, Dev, "LAPI_SaveEPSNSCNV"},
    {203, Rec, "LAPI_RFEventControlRequest"},               {212, Rec, "LAPI_RFMeasureReportRequest"},
    {215, Rec, "LAPI_HostIPConnectRequest"},                {217, Rec, "LAPI_EMMtimerCtrlRequest"},
    {218, Rec, "LAPI_PSMctrlRequest"},                      {219, Rec, "LAPI_LCSctrlRequest"},
    {220, Rec, "LAPI_LPPctrlRequest"},                      {221, Rec, "LAPI_EMMNIREATTACHctrlRequest"},
    {222, Rec, "LAPI_SMSOVERIPNETWORKctrlRequest"},         {223, Rec, "LAPI_ExtDRXParamctrlRequest"},
    {229, Rec, "LAPI_VendorSpecificHCI"},                   {231, Rec, "LAPI_RRCCapabilityControlRequest"},
    {233, Rec, "LAPI_RRCCapabilityControlGetRequest"},      {235, Rec, "LAPI_RRCFunctionControlRequest"},
    {237, Rec, "LAPI_RRCFunctionControlGetRequest"},        {239, Rec, "LAPI_PHYTAInformationRequest"},
    {241, Rec, "LAPI_EMBMSControlRequest"},                 {242, Rec, "LAPI_EMBMSENCAPControlRequest"},
    {244, Rec, "LAPI_SetOprtcntRequest"},                   {248, Rec, "LAPI_SMSSubmitRequest"},
    {254, Rec, "LAPI_OTADMToUE"},                           {257, Own, "LAPI_SetBackgroundScanConfig"},
    {258, Own, "LAPI_SetBackgroundScanMode"},               {259, Own, "LAPI_SetLTEBackgroundScanMode"},
    {263, Own, "LAPI_SendDMCommand"},                       {265, Rec, "LAPI_SetLTEInfo"},
    {267, Rec, "LAPI_BIPControlResult"},                    {268, Rec, "LAPI_BIPControlIndication"},
    {272, Dev, "LAPI_TINReadRequest"},                      {274, Dev, "LAPI_GUTIReadRequest"},
    {276, Rec, "LAPI_LPPControlRequest"},                   {279, Rec, "LAPI_GNSSControlResponse"},
    {281, Rec, "LAPI_LCSControlRequest"},                   {284, Rec, "LAPI_IMSSendSMSResult"},
    {285, Rec, "LAPI_IMSReceiveSMSMesg"},                   {286, Rec, "LAPI_IMSSessionEstablishmentRequest"},
    {288, Rec, "LAPI_IMSCallStatusUpdateRequest"},          {290, Own, "LAPI_SendSmsConfChangeInd"},
    {291, Own, "LAPI_IRATMeasControlRequest"},              {294, Dev, "LAPI_PLMNCSGListRequest"},
    {296, Dev, "LAPI_PLMNCSGListAbortRequest"},             {298, Rec, "LAPI_PLMNCSGSelectRequest"},
    {300, Dev, "LAPI_PLMNCSGQuerySelectedRequest"},         {302, Rec, "LAPI_PLMNCSGSetACSGLRequest"},
    {303, Rec, "LAPI_PLMNCSGGetCSGLRequest"},               {305, Rec, "LAPI_VLTFlowRequest"},
    {307, Rec, "LAPI_VLTMediaRequest"},                     {309, Rec, "LAPI_VLTControlRequest"},
    {312, Rec, "LAPI_VLTPacketRequest"},                    {314, Rec, "LAPI_SetNASConfigRequest"},
    {315, Dev, "LAPI_GetNASConfigRequest"},                 {317, Rec, "LAPI_SetEARFCNExtendRequest"},
    {318, Rec, "LAPI_SetSupportUICCNormalFIDRequest"},      {321, Rec, "LAPI_NtzControlResponse"},
    {323, Rec, "LAPI_NtzLogRequest"},                       {324, Rec, "LAPI_DmCtrlRequest"},
    {326, Dev, "LAPI_ReadT3402RemainValRequest"},           {328, Rec, "LAPI_EMMSameAPNSupportRequest"},
    {329, Dev, "LAPI_ReadForbiddenTAListRequest"},          {331, Rec, "LAPI_PHYFunctionControlRequest"},
    {333, Rec, "LAPI_PHYFunctionControlGetRequest"},        {335, Dev, "LAPI_KeepCampOnAfterDetachRequest"},
    {337, Rec, "LAPI_SetConfigDHCPServer"},                 {338, Own, "LAPI_GetConfigDHCPServer"},
    {339, Own, "LAPI_ConnDeviceLossIndNotiToATCM"},         {340, Rec, "LAPI_FactoryResetCtrlRequest"},
    {342, Own, "LAPI_GetIpv6MtuSize"},                      {343, Rec, "LAPI_UETestLoopModeResponse"},
    {344, Rec, "LAPI_5GAddSecurityCtrlRequest"},            {347, Rec, "LAPI_5GNRControlRequest"},
    {349, Rec, "LAPI_SMSFormatSetRequest"},                 {351, Rec, "LAPI_IPV6_ICMP_Set_Request"},
    {352, Rec, "LAPI_PLMNCfgSetRequest"},                   {354, Rec, "LAPI_PLMNCfgGetRequest"},
    {358, Rec, "LAPI_IPV6_ICMP_5GNR_Result_Set_Request"},   {360, Own, nullptr},
    {361, Rec, "LAPI_L2FunctionControlGetRequest"},         {363, Rec, "LAPI_PowerModeSetRequest"},
    {364, Own, "LAPI_ATCommandToDeviceV2"},
};

// A device index of its own per command, so that its calls stand apart
// from those the daemon makes for the modem (device 1).
uint32_t dev_of(uint16_t id) { return 1000u + id; }

// The recorded calls (name, data in hex) by device index ("-" for calls
// without one).
std::map<std::string, std::vector<std::pair<std::string, std::string>>> calls_by_dev(LtesimClient& sim)
{
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> out;
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
        for (const auto& [name, data] : by_dev[dev])
            names.push_back(name);
        if (e.form == List) {
            EXPECT_NE(names.end(), std::ranges::find(names, e.fn));
            continue;
        }
        EXPECT_EQ(e.calls(), names);
        if (names.empty())
            continue;
        const std::string& shown = by_dev[dev][0].second;
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
        if (!e.fn)
            continue;
        SCOPED_TRACE("command " + std::to_string(e.id));
        const std::string fn = e.calls().back();
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
