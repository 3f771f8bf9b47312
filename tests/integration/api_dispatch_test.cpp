// Client API requests end to end: a raw client's HCI_API_REQUEST frames,
// and what came of them: the SDK calls the simulated modem recorded ("NAME
// dev=N HEX", value arguments as big-endian fields), the result word, the
// answer areas of the shared block, the daemon's log and the frames
// subscribers receive.
#include <gtest/gtest.h>
#include <sys/sem.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <memory>

#include "base/be.h"
#include "cnxd_client.h"
#include "integration/harness.h"
#include "server/hci.h"

namespace cnxd::test {
namespace {

constexpr uint32_t DEV = 0x01020304;
const std::string D = " dev=16909060";

std::string zeros(size_t n) { return std::string(2 * n, '0'); }
Bytes text(const std::string& s) { return {s.begin(), s.end()}; }

// A value in this host's order, as a client writes the words the daemon
// hands on by value.
template <typename T>
Bytes host(T v)
{
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Bytes 4-6 of `seven` and a zero byte, read as a host word: its
// big-endian digits.
std::string second_word(const Bytes& seven)
{
    uint32_t w = 0;
    std::memcpy(&w, seven.data() + 4, 3);
    Bytes be(4);
    store_be32(be.data(), w);
    return hex(be);
}

const Bytes SEVEN = host<uint32_t>(0x0a0b0c0d) + Bytes{0xe1, 0xe2, 0xe3};

struct Row {
    const char* what;
    uint16_t cmd;
    Bytes data;
    Lines calls;
    int32_t result = 0;
    std::string fail = "";  // "NAME CODE": made to fail for this row
    std::string log = "";   // a line logged `times` times
    int times = 1;
    int req_len = -1;       // the request length, when not the data's
};

const Row rows[] = {
    {"a record of which 3 bytes arrive: zero-filled", 25, {0xaa, 0xbb, 0xcc},
     {"LAPI_AttachRequest" + D + " aabbcc" + zeros(349)}},
    {"the request length is not trusted", 10, {0x01}, {"LAPI_SetGPIO" + D + " 010000"}, 0, "", "", 1, 400},
    {"a TLV record as far as its own length says", 231, {0x00, 0x01, 0x00, 0x06, 0x11},
     {"LAPI_RRCCapabilityControlRequest" + D + " 0001000611" + zeros(5)}},
    {"the operation word after the interface record", 13, host<uint32_t>(1) + text("lte"),
     {"LAPI_ConfigureNetworkInterface" + D + " 6c7465" + zeros(589) + "00000001"}},
    {"a word by value", 14, host<uint32_t>(0x11223344), {"LAPI_SetAPNType" + D + " 11223344"}},
    {"two words of seven bytes", 17, SEVEN, {"LAPI_DeleteAPNTypeFromTidNode" + D + " 0a0b0c0d" + second_word(SEVEN)}},
    {"two words of seven bytes", 18, SEVEN, {"LAPI_AddSpecialTid" + D + " 0a0b0c0d" + second_word(SEVEN)}},
    {"the parameter with mode 3", 259, host<uint32_t>(3) + host<uint16_t>(0x0102),
     {"LAPI_SetLTEBackgroundScanMode" + D + " 000000030102"}},
    {"no parameter with another mode", 259, host<uint32_t>(2) + host<uint16_t>(0x0102),
     {"LAPI_SetLTEBackgroundScanMode" + D + " 000000020000"}},
    {"a word, then the rest and its length", 257, host<uint32_t>(9) + Bytes{0x51, 0x52},
     {"LAPI_SetBackgroundScanConfig" + D + " 000000095152"}},
    {"the whole text", 135, text("AT+CGMI"), {"LAPI_ATCommandToDevice" + D + " " + hex(text("AT+CGMI"))}},
    {"the text after its type byte", 137, Bytes{0x02} + text("AT+CGMR"),
     {"LAPI_ATCommandToDeviceEXT" + D + " " + hex(text("AT+CGMR"))}},
    {"the text without its last byte", 364, text("AT+CSQ\r"),
     {"LAPI_ATCommandToDeviceV2" + D + " " + hex(text("AT+CSQ"))}},
    {"message and length", 151, {0x01, 0x02, 0x03}, {"LAPI_IMSControlRequest" + D + " 010203"}},
    {"message and length", 153, {0x04}, {"LAPI_SMSRequest" + D + " 04"}},
    {"a text declared longer than received: zeros", 135, text("AT"),
     {"LAPI_ATCommandToDevice" + D + " 4154000000"}, 0, "", "", 1, 9},
    {"a length shorter than the index word: no text", 364, text("AT"), {"LAPI_ATCommandToDeviceV2" + D}, 0, "", "", 1,
     2},
    {"a failure: its code and name", 25, {}, {"LAPI_AttachRequest" + D + " " + zeros(352)}, 37,
     "LAPI_AttachRequest 37", "LAPI_AttachRequest fail"},
    {"a failure of the short form", 21, {1}, {"LAPI_DevicePowerOff" + D}, -5, "LAPI_DevicePowerOff -5",
     "LAPI_DevicePowerOff fail"},
    {"a failure of the text form", 364, text("AT"), {"LAPI_ATCommandToDeviceV2" + D + " 41"}, 2,
     "LAPI_ATCommandToDeviceV2 2", "CMD_EVT_AT_COMMAND_TO_DEVICE_V2 fail"},
    {"the console text's result is not kept", 263, text("ver"), {"LAPI_SendDMCommand" + D + " " + hex(text("ver"))},
     0, "LAPI_SendDMCommand -3", "LAPI_SendDMCommand fail", 0},
    {"measurement control fails: the TIN read's result counts", 291, {0x01},
     {"LAPI_IRATMeasControlRequest" + D, "LAPI_TINReadRequest" + D}, 0, "LAPI_IRATMeasControlRequest 3",
     "LAPI_IRATMeasControlRequest fail"},
    {"the TIN read fails", 291, {0x01}, {"LAPI_IRATMeasControlRequest" + D, "LAPI_TINReadRequest" + D}, 6,
     "LAPI_TINReadRequest 6", "LAPI_TINReadRequest fail"},
    {"an unknown command", 8, {1, 2, 3, 4}, {}, 0, "", "Unknown HCI (0x8)"},
    {"an unknown command", 0xFFFF, {}, {}, 0, "", "Unknown HCI (0xffff)"},
};

class ApiDispatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(daemon.start());
        sim = std::make_unique<LtesimClient>(root);
        ASSERT_TRUE(sim->wait_online());
        // The operator answer's own request is the bring-up's last: the
        // rows start once it has been made.
        ASSERT_TRUE(eventually([&] {
            return std::ranges::count(sim->calls(), "LAPI_GetProtocolInfoRequest dev=1 000600") == 1;
        }));
        client = add_client();
        block = client->attach();
        ASSERT_NE(nullptr, block);
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

    // Sends one request and waits for its completion: the result word.
    int32_t request(uint16_t cmd, uint32_t dev, const Bytes& data, int req_len = -1)
    {
        Bytes frame = api_frame(cmd, dev, data);
        if (req_len >= 0)
            store_be16(frame.data() + 6, static_cast<uint16_t>(req_len));
        EXPECT_TRUE(client->send(frame));
        EXPECT_TRUE(client->wait_done());
        return static_cast<int32_t>(load_be32(block + 1516));
    }

    Sysroot root;
    Daemon daemon{root};
    std::unique_ptr<LtesimClient> sim;
    std::vector<std::unique_ptr<RawClient>> clients;
    RawClient* client = nullptr;
    uint8_t* block = nullptr;
};

TEST_F(ApiDispatch, EachRequestBecomesItsSdkCallResultAndLog)
{
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what + (" (command " + std::to_string(r.cmd) + ")"));
        const std::string fn = r.fail.substr(0, r.fail.find(' '));
        if (!r.fail.empty()) {
            ASSERT_EQ("ok", sim->command("fail " + r.fail));
        }
        const int before = r.log.empty() ? 0 : daemon.count_in_log(r.log);
        ASSERT_EQ("ok", sim->command("clear"));
        EXPECT_EQ(r.result, request(r.cmd, DEV, r.data, r.req_len));
        EXPECT_EQ(r.calls, sim->calls());
        if (!r.log.empty()) {
            ASSERT_EQ("ok", sim->command("sync"));
            EXPECT_EQ(before + r.times, daemon.count_in_log(r.log)) << r.log;
        }
        if (!r.fail.empty()) {
            ASSERT_EQ("ok", sim->command("fail " + fn + " 0"));
        }
    }
    EXPECT_EQ(0, semctl(semget(client->ipc_key(), 0, 0), 0, GETVAL)) << "not busy after the answers";
    // A frame cut inside the request header completes without reaching the
    // modem: it does not say which device it is for. Requests sent back to
    // back complete in order.
    ASSERT_EQ("ok", sim->command("fail LAPI_DetachRequest 9"));
    ASSERT_EQ("ok", sim->command("clear"));
    const int short_before = daemon.count_in_log("Short HCI (0x19), 2 bytes");
    ASSERT_TRUE(client->send(hci_frame(0x0106, {0x00, 0x19})));
    ASSERT_TRUE(client->send(api_frame(29, 11)));
    ASSERT_TRUE(client->send(api_frame(44, 12)));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(client->wait_done());
    EXPECT_EQ(0u, load_be32(block + 1516)) << "the last request's result";
    const Lines calls = {"LAPI_DetachRequest dev=11", "LAPI_PLMNListRequest dev=12"};
    EXPECT_EQ(calls, sim->calls());
    ASSERT_EQ("ok", sim->command("sync"));
    EXPECT_EQ(short_before + 1, daemon.count_in_log("Short HCI (0x19), 2 bytes"));
}

TEST_F(ApiDispatch, AnswersLandAtTheirOffsetsOfTheSharedBlockWhereTheLibraryLooks)
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
        {6, "LAPI_GetDeviceList", 2354, {0x00, 0x00, 0x00, 0x01, 0x61}, {}},
        {7, "LAPI_GetConnectionInfo", 36406, {0x00, 0x00, 0x00, 0x02, 0x71}, {0x00, 0x00, 0x00, 0x00}},
        {9, "LAPI_GetGPIO", 41146, {0x91, 0x92, 0x93}, {0x00, 0x05, 0x01}},
        {15, "LAPI_GetAPNType", 41149, {0x03}, {}},
        {16, "LAPI_GetAPNTypeByDftEPSid", 41149, {0x04}, {0x05, 0x00}},
        {338, "LAPI_GetConfigDHCPServer", 41151, Bytes(19, 0xd1), Bytes(18, 0)},
        {342, "LAPI_GetIpv6MtuSize", 41170, {0x05, 0xdc}, {0x00, 0x00, 0x00, 0x01}},
    };
    for (const Answer& a : answers) {
        SCOPED_TRACE("command " + std::to_string(a.id));
        ASSERT_EQ("ok", sim->command("answer " + a.fn + " " + hex(a.bytes)));
        ASSERT_EQ(0, request(a.id, 1, a.data));
        EXPECT_EQ(a.bytes, Bytes(block + a.offset, block + a.offset + a.bytes.size()));
        size_t size = 0;
        EXPECT_EQ(a.offset, cnxd_answer_area(a.id, &size)) << "the client library's offset";
    }
    // The connection information's request is copied in, zero-filled,
    // before the call, which fails here.
    ASSERT_EQ("ok", sim->command("fail LAPI_GetConnectionInfo 1"));
    std::memset(block + 36406, 0xee, 41146 - 36406);
    EXPECT_EQ(1, request(7, 1, {0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(Bytes({0, 0, 0, 1}) + Bytes(41146 - 36406 - 4, 0), Bytes(block + 36406, block + 41146));

    // Answers the daemon gives itself: the modem's start-up is over; device
    // 500 is outside the tables; no lease is held.
    EXPECT_TRUE(eventually([&] { return request(0, 1, {}) == 0 && block[1520] == 1; }));
    EXPECT_EQ(0, request(0, 500, {}));
    EXPECT_EQ(0, block[1520]);
    block[41150] = 9;
    EXPECT_EQ(0, request(19, 1, {0x01}));
    EXPECT_EQ(0, block[41150]);
}

TEST_F(ApiDispatch, ChangeNotificationsReachTheirSubscribers)
{
    // The three change events alone: the answer to the bring-up's last
    // request may still be on its way.
    for (const unsigned event : {0xa6, 0xa7, 0xa8})
        client->set_word(subscription_word(event), 1);
    ASSERT_EQ("ok", sim->command("clear"));
    EXPECT_EQ(0, request(166, 2, {0x01}));
    EXPECT_EQ(0, request(167, 2, {0x02}));
    EXPECT_EQ(0, request(168, 2, {}));
    // HCI_SDK_CALLBACK, length 9, event, data length 5, device index 2, the
    // mode byte (0 when none arrived).
    EXPECT_EQ((Bytes{0x81, 0x07, 0x00, 0x09, 0x00, 0xa6, 0x00, 0x05, 0, 0, 0, 2, 0x01}), client->recv());
    EXPECT_EQ((Bytes{0x81, 0x07, 0x00, 0x09, 0x00, 0xa7, 0x00, 0x05, 0, 0, 0, 2, 0x02}), client->recv());
    EXPECT_EQ((Bytes{0x81, 0x07, 0x00, 0x09, 0x00, 0xa8, 0x00, 0x05, 0, 0, 0, 2, 0x00}), client->recv());
    EXPECT_TRUE(sim->calls().empty()) << "no SDK call";
}

}  // namespace
}  // namespace cnxd::test
