// The request dispatcher in-process: a client connected through the real
// handshake, its requests handed straight to cnxd_handler. What reached the
// simulated SDK is read from its call record ("NAME dev=N HEX", value
// arguments as big-endian fields).
#include <sys/sem.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "client/inproc_daemon.h"
#include "config/confdb_access.h"
#include "config/admin_pdn_count.h"
#include "ltesim.h"
#include "modem/bringup.h"
#include "api/cnxd_handler.h"
#include "modem/device_tables.h"
#include "shell/log_direction.h"
#include "sim.h"

namespace cnxd::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

std::string hex(const Bytes& b) { return ltesim::to_hex(b); }
std::string zeros(size_t n) { return std::string(2 * n, '0'); }
Bytes text(const std::string& s) { return {s.begin(), s.end()}; }

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

// The event loop is stopped: the test thread serves the client itself.
class Served : public ::testing::Test {
protected:
    void SetUp() override
    {
        session = open_session(0);
        ASSERT_TRUE(session);
        daemon.stop_loop();
        client = &cnxd_client[cnxd_index(session.get())];
    }
    InprocDaemon daemon;
    Session session;
    cnxd_client_rec* client = nullptr;
};

class Dispatch : public Served {
protected:
    void SetUp() override
    {
        Served::SetUp();
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

    Lines calls()
    {
        std::istringstream in(ltesim::control("calls"));
        Lines out;
        for (std::string line; std::getline(in, line) && line != "end";)
            out.push_back(line);
        ltesim::control("clear");
        return out;
    }
};

TEST_F(Dispatch, EachRowReadsItsArgumentsOnlyAsFarAsReceived)
{
    const Bytes seven = cat({host<uint32_t>(0x0a0b0c0d), {0xe1, 0xe2, 0xe3}});
    uint32_t tail = 0;  // 17, 18: bytes 4-6 and a zero byte, as a host word
    std::memcpy(&tail, "\xe1\xe2\xe3", 4);
    Bytes tail_be(4);
    store_be32(tail_be.data(), tail);
    struct Case {
        uint16_t cmd;
        Bytes data;
        std::string sdk, args;  // the call the SDK gets
        int req_len = -1;
    };
    const Case cases[] = {
        // A 352-byte record of which 3 bytes arrive: zero-filled.
        {25, {0xaa, 0xbb, 0xcc}, "LAPI_AttachRequest", "aabbcc" + zeros(349)},
        {10, {0x01}, "LAPI_SetGPIO", "010000", 400},  // the request length is not trusted
        // A TLV record is read as far as its own length says: 4 + 6 bytes.
        {231, {0x00, 0x01, 0x00, 0x06, 0x11}, "LAPI_RRCCapabilityControlRequest", "0001000611" + zeros(5)},
        // Words handed on by value, in host order. 13: the operation word
        // after the 592-byte interface record; 14: the word alone; 17, 18:
        // two words; 259: the 16-bit parameter only with mode 3; 257: a
        // word, then the rest of the data and its length.
        {13, cat({host<uint32_t>(1), {0x6c, 0x74, 0x65}}), "LAPI_ConfigureNetworkInterface",
         "6c7465" + zeros(589) + "00000001"},
        {14, host<uint32_t>(0x11223344), "LAPI_SetAPNType", "11223344"},
        {17, seven, "LAPI_DeleteAPNTypeFromTidNode", "0a0b0c0d" + hex(tail_be)},
        {18, seven, "LAPI_AddSpecialTid", "0a0b0c0d" + hex(tail_be)},
        {259, cat({host<uint32_t>(3), host<uint16_t>(0x0102)}), "LAPI_SetLTEBackgroundScanMode", "000000030102"},
        {259, cat({host<uint32_t>(2), host<uint16_t>(0x0102)}), "LAPI_SetLTEBackgroundScanMode", "000000020000"},
        {257, cat({host<uint32_t>(9), {0x51, 0x52}}), "LAPI_SetBackgroundScanConfig", "000000095152"},
        // Texts and their lengths. 135: the whole text; 137: after a type
        // byte; 364: without its last byte; 151, 153: message and length.
        {135, text("AT+CGMI"), "LAPI_ATCommandToDevice", hex(text("AT+CGMI"))},
        {137, cat({{0x02}, text("AT+CGMR")}), "LAPI_ATCommandToDeviceEXT", hex(text("AT+CGMR"))},
        {364, text("AT+CSQ\r"), "LAPI_ATCommandToDeviceV2", hex(text("AT+CSQ"))},
        {151, {0x01, 0x02, 0x03}, "LAPI_IMSControlRequest", "010203"},
        {153, {0x04}, "LAPI_SMSRequest", "04"},
        // Declared longer than received: zeros; shorter than the index
        // word: no text at all.
        {135, text("AT"), "LAPI_ATCommandToDevice", "4154000000", 4 + 5},
        {364, text("AT"), "LAPI_ATCommandToDeviceV2", "", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("command " + std::to_string(c.cmd));
        EXPECT_EQ(0, request(c.cmd, 0x01020304, c.data, c.req_len));
        EXPECT_EQ(Lines{c.sdk + " dev=16909060" + (c.args.empty() ? "" : " " + c.args)}, calls());
    }

    // 7: the request is copied into its answer area, zero-filled, before
    // the call.
    uint8_t* block = client->shm;
    ltesim::control("fail LAPI_GetConnectionInfo 1");
    std::fill(block + shm::CONNECTION_INFO, block + shm::GPIO, 0xee);
    EXPECT_EQ(1, request(7, 1, {0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(1u, load_be32(block + shm::CONNECTION_INFO));
    EXPECT_TRUE(std::all_of(block + shm::CONNECTION_INFO + 4, block + shm::GPIO, [](uint8_t b) { return b == 0; }));
}

TEST_F(Dispatch, ResultsThatAreNotKept)
{
    // 291: IRAT control, then the TIN read whose result alone counts.
    ltesim::control("fail LAPI_IRATMeasControlRequest 3");
    EXPECT_EQ(0, request(291, 4, {0x01}));
    EXPECT_TRUE(daemon.log_has("LAPI_IRATMeasControlRequest fail"));
    ltesim::control("fail LAPI_IRATMeasControlRequest 0");
    ltesim::control("fail LAPI_TINReadRequest 6");
    EXPECT_EQ(6, request(291, 4, {0x01}));
    // 263: the console text's result is neither stored nor logged (nor
    // does the 6 of the request before stay).
    ltesim::control("fail LAPI_SendDMCommand -3");
    EXPECT_EQ(0, request(263, 2, text("ver")));
    EXPECT_FALSE(daemon.log_has("LAPI_SendDMCommand fail"));
    EXPECT_EQ((Lines{"LAPI_IRATMeasControlRequest dev=4", "LAPI_TINReadRequest dev=4",
                     "LAPI_IRATMeasControlRequest dev=4", "LAPI_TINReadRequest dev=4",
                     "LAPI_SendDMCommand dev=2 " + hex(text("ver"))}),
              calls());
}

TEST_F(Dispatch, InitCompleteAndLeaseCheckNeedNoSdk)
{
    for (uint8_t flag : {1, 0}) {
        set_init_complete(1, flag);
        EXPECT_EQ(0, request(0, 1, {}));
        EXPECT_EQ(flag, client->shm[shm::INIT_COMPLETE]);
    }
    EXPECT_EQ(0, request(0, 500, {})) << "outside the device tables";
    EXPECT_EQ(0, client->shm[shm::INIT_COMPLETE]);

    client->shm[shm::DHCP_LEASE_VALID] = 9;
    EXPECT_EQ(0, request(19, 1, {0x01}));
    EXPECT_EQ(0, client->shm[shm::DHCP_LEASE_VALID]) << "no lease held";
    EXPECT_TRUE(calls().empty());
}

TEST_F(Dispatch, AdminPdnStaysUpWhileOthersHoldIt)
{
    // The simulated modem gives PDN connectivity for the APN "admin" an
    // admin TID and the default bearer 5 + its slot, the first free slot
    // from 1 on.
    struct Case {
        int op;
        int count, count_after;
        uint8_t bearer;
        size_t disconnects;
    };
    const Case cases[] = {
        {OPERATOR_VZW, 3, 2, 6, 0},     // others still hold it: nothing is sent
        {OPERATOR_SPRINT, 1, 1, 7, 1},  // the last one: the connection handlers lower the count
        {OPERATOR_ATT, 3, 3, 7, 1},     // another operator: the count plays no part
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("operator " + std::to_string(c.op));
        g_operator = c.op;
        Bytes rec(420, 0);
        std::memcpy(rec.data() + 2, "admin", 5);
        EXPECT_EQ(0, request(32, 1, rec));
        calls();
        g_vzw_admin_pdn_reference_count = c.count;
        EXPECT_EQ(0, request(36, 1, {0x00, c.bearer}));
        EXPECT_EQ(c.count_after, g_vzw_admin_pdn_reference_count);
        const Lines sent = calls();
        ASSERT_EQ(c.disconnects, sent.size());
        if (c.disconnects) {
            EXPECT_EQ("LAPI_PDNDisconnRequest dev=1 " + hex({0x00, c.bearer}) + zeros(67), sent[0]);
        }
    }
    EXPECT_TRUE(daemon.log_has("ADMIN PDN Reference count(2)"));
}

TEST_F(Dispatch, SpecificIdentifierListThroughCommand360)
{
    auto set = [&](uint8_t op, uint32_t id) {
        Bytes r(5);
        r[0] = op;
        store_be32(r.data() + 1, id);
        return request(360, 1, r);
    };
    for (uint32_t id = 1; id <= ARM1_LOG_SPECIFIC_IDS; ++id)
        set(1, 0x100 + id);
    set(1, 0x105);
    EXPECT_FALSE(daemon.log_has("ind_set_arm1_log_specific_id fail")) << "a listed id is no new entry";
    EXPECT_EQ(0, set(1, 0x999));
    EXPECT_TRUE(daemon.log_has("ind_set_arm1_log_specific_id fail")) << "the list is full";

    set(0, 0x103);
    const auto list = arm1_log_specific_id_list();
    EXPECT_EQ(0u, list[2]);
    EXPECT_EQ(0x104u, list[3]);
    EXPECT_EQ(0u, list[ARM1_LOG_SPECIFIC_IDS]);
    for (uint32_t id = 1; id <= ARM1_LOG_SPECIFIC_IDS; ++id)
        set(2, 0x100 + id);
    EXPECT_EQ(decltype(list){}, arm1_log_specific_id_list());
}

TEST_F(Dispatch, ChangeNotificationsReachSubscribers)
{
    cnxd_subscribe(session.get(), 166, 1);
    cnxd_subscribe(session.get(), 168, 1);
    EXPECT_EQ(0, request(166, 2, {0x01}));
    EXPECT_EQ(0, request(167, 2, {0x01}));  // not subscribed
    EXPECT_EQ(0, request(168, 2, {}));
    // HCI_SDK_CALLBACK, length 9, event, data length 5, device index 2, the
    // mode byte (0 when none arrived).
    for (const Bytes& tail : {Bytes{0xa6, 0x00, 0x05, 0, 0, 0, 2, 0x01}, Bytes{0xa8, 0x00, 0x05, 0, 0, 0, 2, 0x00}})
        EXPECT_EQ(cat({{0x81, 0x07, 0x00, 0x09, 0x00}, tail}), recv_datagram(session.get(), 2000));
    EXPECT_TRUE(calls().empty());
}

// Random and truncated requests with the SDK closed (each call still reads
// its arguments as the SDK would). Under the sanitizers a read past the
// received bytes fails: each request lives in a buffer of exactly its size.
// Whatever a request holds, it ends with exactly one completion.
class RandomRequests : public Served {
protected:
    void SetUp() override
    {
        Served::SetUp();
        for (unsigned id = 0; id <= 0xffff; ++id)
            if (api_cmd_name(static_cast<uint16_t>(id)))
                commands.push_back(static_cast<uint16_t>(id));
        ASSERT_EQ(171u, commands.size());
    }

    // Serves `payload`, then takes the completion as the client would.
    void serve(const Bytes& payload)
    {
        ASSERT_EQ(0, cnxd_handler(client, payload));
        ASSERT_EQ(0, semctl(client->semid, SEM_BUSY, GETVAL));
        ASSERT_EQ(1, semctl(client->semid, SEM_DONE, GETVAL));
        sembuf take{SEM_DONE, -1, IPC_NOWAIT};
        ASSERT_EQ(0, semop(client->semid, &take, 1));
    }

    std::vector<uint16_t> commands;
};

TEST_F(RandomRequests, NeverFaultAndAlwaysComplete)
{
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };

    for (int i = 0; i < 4000 && !HasFatalFailure(); ++i) {
        // Mostly listed commands, some ids that are not.
        const uint16_t cmd = pick(0, 3) ? commands[pick(0, static_cast<uint32_t>(commands.size() - 1))]
                                        : static_cast<uint16_t>(pick(0, 0xffff));
        const size_t data_len = pick(0, 1) ? pick(0, 16) : pick(0, HCI_MAX_FRAME - HCI_HEADER_LEN - API_REQ_DATA);
        Bytes payload(API_REQ_DATA + data_len);
        for (uint8_t& b : payload)
            b = static_cast<uint8_t>(pick(0, 255));
        store_be16(payload.data(), cmd);
        // A request length that fits, or any 16-bit value.
        store_be16(payload.data() + API_REQ_LEN, static_cast<uint16_t>(pick(0, 1) ? 4 + data_len : pick(0, 0xffff)));
        // Truncated anywhere, the header included.
        if (pick(0, 3) == 0)
            payload.resize(pick(0, static_cast<uint32_t>(payload.size())));
        serve(payload);
    }
}

TEST_F(RandomRequests, EveryCommandCutInsideItsHeaderOrFirstWords)
{
    for (uint16_t cmd : commands) {
        for (size_t n = 0; n <= API_REQ_DATA + 4 && !HasFatalFailure(); ++n) {
            Bytes payload(n, 0xff);
            if (n >= 2)
                store_be16(payload.data(), cmd);
            serve(payload);
        }
    }
}

}  // namespace
}  // namespace cnxd::test
