// The request dispatcher in-process: a client connected through the real
// handshake, the simulated SDK open, and requests handed straight to
// cnxd_handler; what reached the SDK is read from the simulator's call
// record ("NAME dev=N HEX", value arguments as big-endian fields).
#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "client/inproc_daemon.h"
#include "config/confdb_access.h"
#include "ind/ind_hooks.h"
#include "ltesim.h"
#include "modem/bringup.h"
#include "modem/device.h"
#include "server/cnxd_handler.h"

namespace cnxd::test {
namespace {

using Bytes = std::vector<uint8_t>;

std::string hex(const Bytes& b)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t v : b) {
        s += digits[v >> 4];
        s += digits[v & 15];
    }
    return s;
}

std::string zeros(size_t n) { return std::string(2 * n, '0'); }

std::string be32_hex(uint32_t v)
{
    Bytes b(4);
    store_be32(b.data(), v);
    return hex(b);
}

// Bytes of a value in this host's order, as a client writes the words the
// daemon hands on by value.
template <typename T>
Bytes host(T v)
{
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes text(const std::string& s) { return {s.begin(), s.end()}; }

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        session = open_session(0);
        ASSERT_TRUE(session);
        daemon.stop_loop();
        client = &cnxd_client[cnxd_index(session.get())];
        ASSERT_EQ(0, LAPI_LTEAPIOpen(&hAPI));
        ltesim::control("set delay_ms 0");
        ltesim::control("clear");
    }
    void TearDown() override
    {
        EXPECT_EQ(0, LAPI_LTEAPIClose(hAPI));
        g_operator = 0;
        g_vzw_admin_pdn_reference_count = 0;
    }

    // Serves one request; the request length is the data's unless given.
    // Returns the result word.
    int32_t request(uint16_t cmd, uint32_t dev, const Bytes& data, int req_len = -1)
    {
        Bytes payload(8);
        store_be16(payload.data(), cmd);
        store_be16(payload.data() + 2, static_cast<uint16_t>(req_len < 0 ? 4 + data.size() : req_len));
        std::memcpy(payload.data() + 4, &dev, 4);
        payload.insert(payload.end(), data.begin(), data.end());
        EXPECT_EQ(0, cnxd_handler(client, payload));
        return static_cast<int32_t>(load_be32(client->shm + shm::RESULT));
    }

    std::vector<std::string> calls()
    {
        std::istringstream in(ltesim::control("calls"));
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line) && line != "end";)
            out.push_back(line);
        ltesim::control("clear");
        return out;
    }

    InprocDaemon daemon;
    Session session;
    cnxd_client_rec* client = nullptr;
};

TEST_F(Dispatch, CommonRowGetsTheRecordZeroFilledToItsSize)
{
    // LAPI_AttachRequest reads a 352-byte record; only 3 bytes arrive.
    EXPECT_EQ(0, request(25, 0x01020304, {0xaa, 0xbb, 0xcc}));
    EXPECT_EQ((std::vector<std::string>{"LAPI_AttachRequest dev=16909060 aabbcc" + zeros(349)}), calls());

    // A request length beyond the received bytes changes nothing.
    EXPECT_EQ(0, request(10, 1, {0x01}, 400));
    EXPECT_EQ((std::vector<std::string>{"LAPI_SetGPIO dev=1 010000"}), calls());

    // A TLV record is read as long as its own length says: 4 + 6 bytes.
    EXPECT_EQ(0, request(231, 1, {0x00, 0x01, 0x00, 0x06, 0x11}));
    EXPECT_EQ((std::vector<std::string>{"LAPI_RRCCapabilityControlRequest dev=1 0001000611" + zeros(5)}),
              calls());
}

TEST_F(Dispatch, FailuresLandInTheResultWordAndTheLog)
{
    ltesim::control("fail LAPI_DetachRequest -5");
    ltesim::control("fail LAPI_PLMNListRequest 7");
    EXPECT_EQ(-5, request(29, 1, {}));
    EXPECT_EQ(7, request(44, 1, {}));
    EXPECT_TRUE(daemon.log_has("LAPI_DetachRequest fail"));
    EXPECT_TRUE(daemon.log_has("LAPI_PLMNListRequest fail"));
    EXPECT_EQ(0, request(25, 1, {})) << "the next request starts from 0";

    // The console text command: its result is neither stored nor logged.
    ltesim::control("fail LAPI_SendDMCommand -3");
    EXPECT_EQ(0, request(263, 2, text("ver")));
    EXPECT_EQ((std::vector<std::string>{"LAPI_DetachRequest dev=1", "LAPI_PLMNListRequest dev=1",
                                        "LAPI_AttachRequest dev=1 " + zeros(352),
                                        "LAPI_SendDMCommand dev=2 " + hex(text("ver"))}),
              calls());
    EXPECT_FALSE(daemon.log_has("LAPI_SendDMCommand fail"));
}

TEST_F(Dispatch, UnknownIdsCompleteWithResultZero)
{
    store_be32(client->shm + shm::RESULT, 99);
    EXPECT_EQ(0, request(8, 1, {1, 2, 3}));
    EXPECT_EQ(0, request(365, 1, {}));
    EXPECT_EQ(0, request(0xffff, 1, {}));
    EXPECT_TRUE(daemon.log_has("Unknown HCI (0x8)"));
    EXPECT_TRUE(daemon.log_has("Unknown HCI (0xffff)"));
    EXPECT_TRUE(calls().empty());
}

TEST_F(Dispatch, ValueRowsHandOnWordsInHostOrder)
{
    // 13: operation word, then the 592-byte interface record.
    EXPECT_EQ(0, request(13, 1, cat({host<uint32_t>(1), {0x6c, 0x74, 0x65}})));
    // 14: the word in place of the record.
    EXPECT_EQ(0, request(14, 1, host<uint32_t>(0x11223344)));
    // 17, 18: words of bytes 0-3 and of bytes 4-6 with a zero byte.
    const Bytes seven = cat({host<uint32_t>(0x0a0b0c0d), {0xe1, 0xe2, 0xe3}});
    uint32_t second = 0;
    std::memcpy(&second, Bytes{0xe1, 0xe2, 0xe3, 0x00}.data(), 4);
    EXPECT_EQ(0, request(17, 1, seven));
    EXPECT_EQ(0, request(18, 1, seven));
    // 259: the 16-bit parameter only with mode 3.
    EXPECT_EQ(0, request(259, 1, cat({host<uint32_t>(3), host<uint16_t>(0x0102)})));
    EXPECT_EQ(0, request(259, 1, cat({host<uint32_t>(2), host<uint16_t>(0x0102)})));
    // 257: word, then the rest of the data and its length.
    EXPECT_EQ(0, request(257, 1, cat({host<uint32_t>(9), {0x51, 0x52}})));

    EXPECT_EQ((std::vector<std::string>{
                  "LAPI_ConfigureNetworkInterface dev=1 6c7465" + zeros(589) + "00000001",
                  "LAPI_SetAPNType dev=1 11223344",
                  "LAPI_DeleteAPNTypeFromTidNode dev=1 0a0b0c0d" + be32_hex(second),
                  "LAPI_AddSpecialTid dev=1 0a0b0c0d" + be32_hex(second),
                  "LAPI_SetLTEBackgroundScanMode dev=1 000000030102",
                  "LAPI_SetLTEBackgroundScanMode dev=1 000000020000",
                  "LAPI_SetBackgroundScanConfig dev=1 000000095152",
              }),
              calls());
}

TEST_F(Dispatch, TextRowsPassTheDeclaredLength)
{
    // 135: the whole text; 137: a type byte first; 364: the last byte
    // travels apart from the text.
    EXPECT_EQ(0, request(135, 1, text("AT+CGMI")));
    EXPECT_EQ(0, request(137, 1, cat({{0x02}, text("AT+CGMR")})));
    EXPECT_EQ(0, request(364, 1, text("AT+CSQ\r")));
    // 151 and 153: message and length.
    EXPECT_EQ(0, request(151, 1, {0x01, 0x02, 0x03}));
    EXPECT_EQ(0, request(153, 1, {0x04}));
    // Declared longer than received: the missing bytes are zeros.
    EXPECT_EQ(0, request(135, 1, text("AT"), 4 + 5));
    // Declared shorter than the index word: no text at all.
    EXPECT_EQ(0, request(364, 1, text("AT"), 2));

    EXPECT_EQ((std::vector<std::string>{
                  "LAPI_ATCommandToDevice dev=1 " + hex(text("AT+CGMI")),
                  "LAPI_ATCommandToDeviceEXT dev=1 " + hex(text("AT+CGMR")),
                  "LAPI_ATCommandToDeviceV2 dev=1 " + hex(text("AT+CSQ")),
                  "LAPI_IMSControlRequest dev=1 010203",
                  "LAPI_SMSRequest dev=1 04",
                  "LAPI_ATCommandToDevice dev=1 4154000000",
                  "LAPI_ATCommandToDeviceV2 dev=1",
              }),
              calls());

    ltesim::control("fail LAPI_ATCommandToDeviceV2 4");
    EXPECT_EQ(4, request(364, 1, text("AT\r")));
    EXPECT_TRUE(daemon.log_has("CMD_EVT_AT_COMMAND_TO_DEVICE_V2 fail"));
}

TEST_F(Dispatch, IratControlThenTinReadWhoseResultCounts)
{
    ltesim::control("fail LAPI_IRATMeasControlRequest 3");
    EXPECT_EQ(0, request(291, 4, {0x01}));
    EXPECT_TRUE(daemon.log_has("LAPI_IRATMeasControlRequest fail"));
    ltesim::control("fail LAPI_IRATMeasControlRequest 0");
    ltesim::control("fail LAPI_TINReadRequest 6");
    EXPECT_EQ(6, request(291, 4, {0x01}));
    EXPECT_EQ((std::vector<std::string>{"LAPI_IRATMeasControlRequest dev=4", "LAPI_TINReadRequest dev=4",
                                        "LAPI_IRATMeasControlRequest dev=4", "LAPI_TINReadRequest dev=4"}),
              calls());
}

TEST_F(Dispatch, AnswerAreasAndRequestCopies)
{
    uint8_t* block = client->shm;
    ltesim::control("answer LAPI_GetGPIO 0a0b0c");
    EXPECT_EQ(0, request(9, 1, {0x07, 0x08, 0x09}));
    EXPECT_EQ((Bytes{0x0a, 0x0b, 0x0c}), Bytes(block + shm::GPIO, block + shm::GPIO + 3));
    // Without an answer the pin bytes 1-2 of the request stay in the area.
    ltesim::control("fail LAPI_GetGPIO 1");
    EXPECT_EQ(1, request(9, 1, {0x07, 0x08, 0x09}));
    EXPECT_EQ((Bytes{0x08, 0x09}), Bytes(block + shm::GPIO, block + shm::GPIO + 2));

    // 7: the request is copied into the area, zero-filled, before the call.
    ltesim::control("fail LAPI_GetConnectionInfo 1");
    std::fill(block + shm::CONNECTION_INFO, block + shm::GPIO, 0xee);
    EXPECT_EQ(1, request(7, 1, {0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(1u, load_be32(block + shm::CONNECTION_INFO));
    EXPECT_TRUE(std::all_of(block + shm::CONNECTION_INFO + 4, block + shm::GPIO, [](uint8_t b) { return b == 0; }));

    // 16: the bearer id in host order, the answer at the APN type area.
    ltesim::control("answer LAPI_GetAPNTypeByDftEPSid 02");
    EXPECT_EQ(0, request(16, 1, host<uint16_t>(6)));
    EXPECT_EQ(2, block[shm::APN_TYPE]);
    calls();
}

TEST_F(Dispatch, InitCompleteAndLeaseCheckNeedNoSdk)
{
    set_init_complete(1, 1);
    EXPECT_EQ(0, request(0, 1, {}));
    EXPECT_EQ(1, client->shm[shm::INIT_COMPLETE]);
    set_init_complete(1, 0);
    EXPECT_EQ(0, request(0, 1, {}));
    EXPECT_EQ(0, client->shm[shm::INIT_COMPLETE]);
    EXPECT_EQ(0, request(0, 500, {})) << "outside the device tables";
    EXPECT_EQ(0, client->shm[shm::INIT_COMPLETE]);

    client->shm[shm::DHCP_LEASE_VALID] = 9;
    EXPECT_EQ(0, request(19, 1, {0x01}));
    EXPECT_EQ(0, client->shm[shm::DHCP_LEASE_VALID]) << "no lease held";
    EXPECT_TRUE(calls().empty());
}

TEST_F(Dispatch, AdminPdnStaysUpWhileOthersHoldIt)
{
    // PDN connectivity for the APN "admin": the simulated modem gives it an
    // admin TID and the default bearer 5 + its slot, the first free slot
    // from 1 on.
    auto connect_admin = [&] {
        Bytes rec(420, 0);
        std::memcpy(rec.data() + 2, "admin", 5);
        EXPECT_EQ(0, request(32, 1, rec));
        calls();
    };
    auto bearer = [](uint8_t id) { return Bytes{0x00, id}; };
    g_operator = OPERATOR_VZW;
    connect_admin();  // slot 1, bearer 6
    g_vzw_admin_pdn_reference_count = 3;
    EXPECT_EQ(0, request(36, 1, bearer(6)));
    EXPECT_EQ(2, g_vzw_admin_pdn_reference_count);
    EXPECT_TRUE(calls().empty()) << "no disconnect reaches the modem";
    EXPECT_TRUE(daemon.log_has("ADMIN PDN Reference count(2)"));

    g_operator = OPERATOR_SPRINT;
    connect_admin();  // slot 1 stayed up: slot 2, bearer 7
    g_vzw_admin_pdn_reference_count = 1;
    EXPECT_EQ(0, request(36, 1, bearer(7)));
    EXPECT_EQ(1, g_vzw_admin_pdn_reference_count) << "left to the connection handlers";
    EXPECT_EQ((std::vector<std::string>{"LAPI_PDNDisconnRequest dev=1 0007" + zeros(67)}), calls());

    // Another operator: the count plays no part.
    g_operator = OPERATOR_ATT;
    connect_admin();  // slot 2 again
    g_vzw_admin_pdn_reference_count = 3;
    EXPECT_EQ(0, request(36, 1, bearer(7)));
    EXPECT_EQ(3, g_vzw_admin_pdn_reference_count);
    EXPECT_EQ(1u, calls().size());
}

TEST_F(Dispatch, SpecificIdentifierListThroughCommand360)
{
    auto rec = [](uint8_t op, uint32_t id) {
        Bytes r(5);
        r[0] = op;
        store_be32(r.data() + 1, id);
        return r;
    };
    for (uint32_t id = 1; id <= ARM1_LOG_SPECIFIC_IDS; ++id)
        request(360, 1, rec(1, 0x100 + id));
    EXPECT_FALSE(daemon.log_has("ind_set_arm1_log_specific_id fail"));
    request(360, 1, rec(1, 0x105));
    EXPECT_FALSE(daemon.log_has("ind_set_arm1_log_specific_id fail")) << "already listed";
    EXPECT_EQ(0, request(360, 1, rec(1, 0x999)));
    EXPECT_TRUE(daemon.log_has("ind_set_arm1_log_specific_id fail")) << "the list is full";

    request(360, 1, rec(0, 0x103));
    const auto list = arm1_log_specific_id_list();
    EXPECT_EQ(0u, list[2]);
    EXPECT_EQ(0x104u, list[3]);
    EXPECT_EQ(0u, list[ARM1_LOG_SPECIFIC_IDS]);
    for (uint32_t id = 1; id <= ARM1_LOG_SPECIFIC_IDS; ++id)
        request(360, 1, rec(2, 0x100 + id));
    EXPECT_EQ(decltype(list){}, arm1_log_specific_id_list());
}

TEST_F(Dispatch, ChangeNotificationsReachSubscribers)
{
    cnxd_subscribe(session.get(), 166, 1);
    cnxd_subscribe(session.get(), 168, 1);
    EXPECT_EQ(0, request(166, 2, {0x01}));
    EXPECT_EQ(0, request(167, 2, {0x01}));
    EXPECT_EQ(0, request(168, 2, {}));
    const Bytes airplane = {
        0x81, 0x07, 0x00, 0x09,  // HCI_SDK_CALLBACK, length 9
        0x00, 0xa6, 0x00, 0x05,  // event 166, data length 5
        0x00, 0x00, 0x00, 0x02,  // device index 2
        0x01,                    // airplane mode on
    };
    EXPECT_EQ(airplane, recv_datagram(session.get(), 2000));
    const Bytes roam = {0x81, 0x07, 0x00, 0x09, 0x00, 0xa8, 0x00, 0x05, 0x00, 0x00, 0x00, 0x02,
                        0x00 /* nothing arrived: 0 */};
    EXPECT_EQ(roam, recv_datagram(session.get(), 2000)) << "167 is not subscribed";
    EXPECT_TRUE(calls().empty());
}

TEST(CommandTable, NamesTheSdkFunctionOfEachRow)
{
    EXPECT_STREQ("LAPI_PDNDisconnRequest", api_cmd_name(36));
    EXPECT_STREQ("LAPI_IRATMeasControlRequest", api_cmd_name(291));
    EXPECT_EQ(nullptr, api_cmd_name(8));
    int known = 0;
    for (unsigned id = 0; id <= 0xffff; ++id)
        known += api_cmd_name(static_cast<uint16_t>(id)) != nullptr;
    EXPECT_EQ(171, known);
}

}  // namespace
}  // namespace cnxd::test
