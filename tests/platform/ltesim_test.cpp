// The simulated SDK: its control language, the call record and the
// callback thread, seen through ltesdk.h and the control entry point.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "base/be.h"
#include "ltesdk.h"
#include "integration/harness.h"
#include "platform/ltesim_fixture.h"

namespace cnxd::test {
namespace {

using ::testing::StartsWith;
using Clock = std::chrono::steady_clock;

// What the handlers saw, in order.
struct Seen {
    uint32_t id;
    uint32_t dev;
    std::vector<uint8_t> bytes;
    std::thread::id thread;
    Clock::time_point at;
};

std::mutex seen_mu;
std::vector<Seen> seen;

template <uint32_t Id>
void record_cb(uint32_t dev, void* data, uint32_t len)
{
    std::lock_guard g(seen_mu);
    const auto* p = static_cast<const uint8_t*>(data);
    seen.push_back({Id, dev, {p, p + len}, std::this_thread::get_id(), Clock::now()});
}

void cli_cb(uint32_t, char* text, uint32_t len)
{
    std::lock_guard g(seen_mu);
    seen.push_back({LAPI_CB_CLI_CMD_RSP, 0, {text, text + len}, std::this_thread::get_id(), Clock::now()});
}

std::vector<Seen> seen_of(uint32_t id)
{
    std::lock_guard g(seen_mu);
    std::vector<Seen> out;
    for (const Seen& s : seen)
        if (s.id == id)
            out.push_back(s);
    return out;
}

class Ltesim : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, LAPI_LTEAPIOpen(&handle));
        ASSERT_EQ("ok\n", ltesim::control("set delay_ms 0"));
        std::lock_guard g(seen_mu);
        seen.clear();
    }
    void TearDown() override
    {
        LAPI_AllCallbackUnRegister(handle);
        EXPECT_EQ(0, LAPI_LTEAPIClose(handle));
    }
    void reg(uint32_t id, LAPI_CALLBACK fn) { ASSERT_EQ(0, LAPI_RegisterCallbackResponse(handle, id, fn, 0)); }

    SimRoot root;
    uint32_t handle = 0;
};

TEST_F(Ltesim, InjectDeliversTheExactBytesInOrderOnItsOwnThread)
{
    reg(2, record_cb<2>);
    EXPECT_EQ("ok\n", ltesim::control("inject 2 7 00010203"));
    EXPECT_EQ("ok\n", ltesim::control("inject 2 8 ff"));
    EXPECT_EQ("ok\n", ltesim::control("inject 2 9"));
    EXPECT_THAT(ltesim::control("inject 3 1 00"), StartsWith("err")) << "nothing registered for 3";
    ASSERT_EQ("ok\n", ltesim::control("sync"));
    const auto got = seen_of(2);
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ(7u, got[0].dev);
    EXPECT_EQ((std::vector<uint8_t>{0x00, 0x01, 0x02, 0x03}), got[0].bytes);
    EXPECT_EQ(8u, got[1].dev);
    EXPECT_EQ(std::vector<uint8_t>{0xff}, got[1].bytes);
    EXPECT_TRUE(got[2].bytes.empty());
    EXPECT_NE(std::this_thread::get_id(), got[0].thread);
}

// The record's forms (records, values, texts) are checked through the
// dispatcher's tests in tests/server; here calls without a device index,
// the end line and clearing.
TEST_F(Ltesim, CallsListEachCallUntilCleared)
{
    ASSERT_EQ("ok\n", ltesim::control("clear"));
    uint8_t list[34052];
    EXPECT_EQ(0, LAPI_GetDeviceList(handle, list));
    EXPECT_EQ(1u, load_be32(list)) << "one modem";
    EXPECT_EQ(0, LAPI_PSInitRequest(handle, 1));
    EXPECT_EQ("LAPI_GetDeviceList dev=-\nLAPI_PSInitRequest dev=1\nend\n", ltesim::control("calls"));
    ASSERT_EQ("ok\n", ltesim::control("clear"));
    EXPECT_EQ("end\n", ltesim::control("calls"));
}

TEST_F(Ltesim, ModelAnswersAttachWithTheInterfaceReady)
{
    reg(2, record_cb<2>);
    reg(77, record_cb<77>);
    uint8_t attach[352] = {};
    const char apn[] = "internet";
    std::copy(apn, apn + 8, attach + 2);
    ASSERT_EQ(0, LAPI_AttachRequest(handle, 1, attach));
    ASSERT_TRUE(eventually([] { return seen_of(77).size() == 1; }));
    ASSERT_EQ(1u, seen_of(2).size());
    const auto nic = seen_of(77)[0];
    ASSERT_EQ(592u, nic.bytes.size());
    EXPECT_STREQ("lte0pdn0", reinterpret_cast<const char*>(nic.bytes.data()));
    EXPECT_EQ(5, load_be16(nic.bytes.data() + 274));
    EXPECT_EQ((std::vector<uint8_t>{10, 0, 1, 2}), std::vector<uint8_t>(nic.bytes.begin() + 341, nic.bytes.begin() + 345));
    ASSERT_NE(nullptr, query_by_dft_eps_id(5));
    tid_list_clean();
    EXPECT_EQ(nullptr, query_by_dft_eps_id(5));
}

TEST_F(Ltesim, DmReportsFollowIntervalAndCount)
{
    reg(89, record_cb<89>);
    uint8_t req[LAPI_DM_LOG_READ_SIZE] = {0x00, 0x05, 0 /* start */, 1 /* s */, 3 /* reports */};
    ASSERT_EQ(0, LAPI_DMLogReadRequest(handle, 1, req));
    ASSERT_TRUE(eventually([] { return seen_of(89).size() >= 3; }, 10s));
    std::this_thread::sleep_for(1500ms);
    const auto got = seen_of(89);
    ASSERT_EQ(3u, got.size()) << "no fourth report";
    for (size_t i = 1; i < got.size(); ++i)
        EXPECT_GE(got[i].at - got[i - 1].at, 800ms) << "report " << i;
    EXPECT_EQ(5, load_be16(got[0].bytes.data() + 2));
    EXPECT_EQ(4u + 6, got[0].bytes.size()) << "result, id and the TX power payload";
}

TEST_F(Ltesim, ConsoleAnswersThroughTheCommandResponseCallback)
{
    reg(LAPI_CB_CLI_CMD_RSP, reinterpret_cast<LAPI_CALLBACK>(reinterpret_cast<void (*)()>(cli_cb)));
    ASSERT_EQ(0, LAPI_SendDMCommand(handle, 1, "ver", 3));
    ASSERT_EQ(0, LAPI_SendDMCommand(handle, 1, "frob\n", 5));
    ASSERT_TRUE(eventually([] { return seen_of(LAPI_CB_CLI_CMD_RSP).size() == 2; }));
    const auto got = seen_of(LAPI_CB_CLI_CMD_RSP);
    EXPECT_THAT(std::string(got[0].bytes.begin(), got[0].bytes.end()), StartsWith("ltesim modem"));
    EXPECT_EQ("unknown command: frob\n", std::string(got[1].bytes.begin(), got[1].bytes.end()));
}

std::vector<std::string> printed;
void print_cb(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    char buf[256];
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    printed.emplace_back(buf);
}

TEST_F(Ltesim, PrintfPassesTheLevelsOfTheConfiguredMask)
{
    printed.clear();
    EXPECT_EQ(0, LAPI_Printf(handle, LAPI_PRINT_ERROR, "before config\n"));
    uint8_t cfg[LAPI_LOG_CONFIG_SIZE] = {1, 1};
    uint8_t* cm = cfg + LAPI_LOG_CM_BLOCK;
    store_be16(cm + LAPI_LOG_BLOCK_MODE, LAPI_LOG_MODE_CALLBACK);
    store_be16(cm + LAPI_LOG_BLOCK_LEVEL, 6);
    store_be32(cm + LAPI_LOG_BLOCK_CALLBACK, sdk_addr_to_word(reinterpret_cast<const void*>(&print_cb)));
    ASSERT_EQ(0, LAPI_SetLogConfig(handle, 0, cfg));
    LAPI_Printf(handle, LAPI_PRINT_ERROR, "error\n");
    LAPI_Printf(handle, LAPI_PRINT_INFO, "info\n");
    LAPI_Printf(handle, LAPI_PRINT_TRACE, "[trace+]\n");
    EXPECT_EQ((std::vector<std::string>{"error\n", "info\n"}), printed);
    store_be16(cm + LAPI_LOG_BLOCK_LEVEL, 22);
    ASSERT_EQ(0, LAPI_SetLogConfig(handle, 0, cfg));
    LAPI_Printf(handle, LAPI_PRINT_TRACE, "[trace+]\n");
    EXPECT_EQ("[trace+]\n", printed.back());
    uint8_t back[LAPI_LOG_CONFIG_SIZE] = {};
    ASSERT_EQ(0, LAPI_GetLogConfig(handle, 0, back));
    EXPECT_EQ(0, std::memcmp(cfg, back, sizeof cfg));

    if (sizeof(void*) == 4)
        return;  // there the word is the address itself
    // A client may hand any word as the callback: one that stands for no
    // address is never called.
    store_be32(cm + LAPI_LOG_BLOCK_CALLBACK, 0xdead);
    ASSERT_EQ(0, LAPI_SetLogConfig(handle, 0, cfg));
    LAPI_Printf(handle, LAPI_PRINT_ERROR, "lost\n");
    EXPECT_EQ("[trace+]\n", printed.back());
}

TEST(LtesimLifecycle, ConfRunsAtOpenAndCloseTakesTheSocketAway)
{
    SimRoot root("fail LAPI_Misc_Initialize 3\nset boot_image_type 2\nbogus line\n");
    uint32_t h = 0;
    ASSERT_EQ(0, LAPI_LTEAPIOpen(&h));
    EXPECT_EQ(0, access(root.path("/var/tmp/ltesim.sock").c_str(), F_OK));
    EXPECT_EQ(3, LAPI_Misc_Initialize(h));
    uint8_t boot = 0;
    LAPI_GetBootImageType(h, 1, &boot);
    EXPECT_EQ(2, boot);
    EXPECT_EQ(-1, LAPI_LTEAPIOpen(&h)) << "already open";
    EXPECT_EQ(0, LAPI_LTEAPIClose(h));
    EXPECT_NE(0, access(root.path("/var/tmp/ltesim.sock").c_str(), F_OK));
    EXPECT_EQ(-1, LAPI_PSInitRequest(h, 1)) << "closed";
}

}  // namespace
}  // namespace cnxd::test
