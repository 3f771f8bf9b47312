// The handlers' common shape against the real client table and sessions:
// the title, the forwarded frame, the event picked by the UICC status, the
// handlers that forward nothing, the byte dumps, failed registrations, and
// records of every length.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "base/be.h"
#include "client/inproc_daemon.h"
#include "ind/expected.h"
#include "ind/ind.h"
#include "ind/ind_print.h"
#include "ltesim.h"
#include "modem/bringup.h"
#include "modem/device.h"

namespace cnxd::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t HCI_SDK_CALLBACK_ID = 0x8107;
constexpr uint16_t HCI_LOG_ID = 0x810B;

// The daemon's client side and an open simulated SDK with every handler
// registered; a listener of the log channel and a subscriber of every event.
class Handlers : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(daemon.root() + "/etc");
        ASSERT_EQ(0, LAPI_LTEAPIOpen(&hAPI));
        ASSERT_EQ("ok\n", ltesim::control("set delay_ms 0"));
        // The bring-up chain's requests stay unanswered: the records handed
        // in here are the only ones.
        for (const char* req : {"LAPI_GetCrashLogRequest", "LAPI_PSInitRequest", "LAPI_OnlineRequest"})
            ASSERT_EQ("ok\n", ltesim::control(std::string("fail ") + req + " 1"));
        ind_register(hAPI);
        cnxd_set_receive(listener.get(), 1);
        cnxd_subscribe_all(subscriber.get(), 1);
    }
    void TearDown() override
    {
        LAPI_AllCallbackUnRegister(hAPI);
        EXPECT_EQ(0, LAPI_LTEAPIClose(hAPI));
    }

    // Frames of one kind received by `s` until none comes for a while.
    static std::vector<Bytes> drain(cnxd_session* s, uint16_t id, int ms = 200)
    {
        std::vector<Bytes> out;
        while (auto d = recv_datagram(s, ms))
            if (d->size() >= 2 && load_be16(d->data()) == id)
                out.push_back(*d);
        return out;
    }
    // The log text received, concatenated.
    std::string log_text()
    {
        std::string text;
        for (const Bytes& f : drain(listener.get(), HCI_LOG_ID))
            text.append(f.begin() + 4, f.end());
        return text;
    }

    InprocDaemon daemon;
    Session listener = open_session(0);
    Session subscriber = open_session(7);
};

const ind_row& row_named(const std::string& name)
{
    for (const ind_row& r : ind_callback_tbl)
        if (r.name == name)
            return r;
    ADD_FAILURE() << "no row " << name;
    return ind_callback_tbl[0];
}

void call(const std::string& name, uint32_t dev, Bytes rec)
{
    std::get<LAPI_CALLBACK>(row_named(name).handler)(dev, rec.empty() ? nullptr : rec.data(),
                                                     static_cast<uint32_t>(rec.size()));
}

TEST_F(Handlers, TitleThenOneFrameWithTheDeviceIndexAndTheFixedLength)
{
    Bytes rec(2300);
    for (size_t i = 0; i < rec.size(); ++i)
        rec[i] = static_cast<uint8_t>(i);
    call("ind_attach_response", 9, rec);
    EXPECT_NE(std::string::npos, log_text().find("\nATTACH RESPONSE(DEV_IDX(9))\n"));
    const auto frames = drain(subscriber.get(), HCI_SDK_CALLBACK_ID);
    ASSERT_EQ(1u, frames.size());
    const Bytes& f = frames[0];
    ASSERT_EQ(8u + 4 + 2192, f.size());
    EXPECT_EQ(4 + 4 + 2192, load_be16(&f[2]));  // frame length
    EXPECT_EQ(26, load_be16(&f[4]));            // event
    EXPECT_EQ(4 + 2192, load_be16(&f[6]));      // data length
    EXPECT_EQ(9u, load_be32(&f[8]));            // device index
    EXPECT_TRUE(std::equal(rec.begin(), rec.begin() + 2192, f.begin() + 12));

    // Shorter than the SDK's size: what is there, no more.
    call("ind_attach_response", 9, Bytes(100, 0xab));
    const auto short_frames = drain(subscriber.get(), HCI_SDK_CALLBACK_ID);
    ASSERT_EQ(1u, short_frames.size());
    EXPECT_EQ(8u + 4 + 100, short_frames[0].size());
}

TEST_F(Handlers, UiccActivateTellsActivateFromDeactivateByTheStatusByte)
{
    const LAPI_CALLBACK h = std::get<LAPI_CALLBACK>(row_named("ind_uicc_activeate_ind").handler);
    for (const auto& [status, event] : {std::pair{0, 126}, std::pair{1, 125}, std::pair{0xff, 125}}) {
        Bytes rec = {static_cast<uint8_t>(status), 0, 0, 0};
        h(1, rec.data(), 4);
        const auto frames = drain(subscriber.get(), HCI_SDK_CALLBACK_ID);
        ASSERT_EQ(1u, frames.size()) << "status " << status;
        EXPECT_EQ(event, load_be16(&frames[0][4])) << "status " << status;
    }
}

TEST_F(Handlers, HandlersWithoutAnEventOnlyPrint)
{
    call("ind_psm_status_notify_ind", 1, Bytes(16, 0));
    call("ind_host_dbg_cli_cmd_indication", 1, Bytes(16, 0));
    std::string text = "help";
    std::get<LAPI_ASCII_CALLBACK>(row_named("ind_ascii_from_device_indication").handler)(2, 3, text.data());
    std::string out = "modem says hi\n";
    std::get<LAPI_CLI_RSP_CALLBACK>(row_named("ind_cli_cmd_rsp").handler)(0, out.data(), 5);
    std::get<LAPI_CLI_RSP_CALLBACK>(row_named("ind_cli_cmd_rsp").handler)(0, nullptr, 5);
    EXPECT_TRUE(drain(subscriber.get(), HCI_SDK_CALLBACK_ID).empty());
    const std::string log = log_text();
    EXPECT_NE(std::string::npos, log.find("\nPSM STATUS NOTIFY INDICATION(DEV_IDX(1))\n"));
    EXPECT_NE(std::string::npos, log.find("\nASCII FROM DEVICE INDICATION(DEV_IDX(2))\n"));
    EXPECT_NE(std::string::npos, log.find("Message : help\n"));
}

TEST_F(Handlers, CrashLogAndDebugPrintForwardTheChunkTheyPointAt)
{
    const std::string chunk = "modem crash text";
    const uint32_t word = sdk_addr_to_word(chunk.data());
    Bytes crash(9, 0);
    crash[0] = 1;  // more chunks follow
    store_be32(&crash[1], word);
    store_be32(&crash[5], static_cast<uint32_t>(chunk.size()));
    call("ind_get_crash_log_result", 1, crash);
    Bytes dbg(8, 0);
    store_be32(&dbg[0], word);
    store_be32(&dbg[4], 5);
    call("ind_debug_print_to_host", 1, dbg);
    call("ind_debug_print_to_host", 1, Bytes(3, 0));  // cut short: no address
    sdk_addr_release(word);

    const auto frames = drain(subscriber.get(), HCI_SDK_CALLBACK_ID);
    ASSERT_EQ(3u, frames.size());
    EXPECT_EQ(140, load_be16(&frames[0][4]));
    EXPECT_EQ((Bytes{0, 0, 0, 1, 1, 'm', 'o', 'd', 'e'}), Bytes(frames[0].begin() + 8, frames[0].end()));
    EXPECT_EQ(205, load_be16(&frames[1][4]));
    EXPECT_EQ((Bytes{0, 0, 0, 1, 'm', 'o', 'd', 'e', 'm'}), Bytes(frames[1].begin() + 8, frames[1].end()));
    EXPECT_EQ(4u, frames[2].size() - 8) << "the device index alone";
}

TEST_F(Handlers, ByteDumpsAtSixteenAndSeventeenBytes)
{
    Bytes b(17);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<uint8_t>('a' + i);
    print_st("KEY", std::span(b).first(16));
    EXPECT_EQ("KEY : 61 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f 70 \n", log_text());
    print_st("KEY", b);
    EXPECT_EQ("KEY\n61 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f 70 \n71 \n\n", log_text());
    print_ch("TXT", std::span(b).first(16));
    EXPECT_EQ("TXT : a b c d e f g h i j k l m n o p \n", log_text());
    print_ch("TXT", b);
    EXPECT_EQ("TXT\na b c d e f g h i j k l m n o p \nq \n\n", log_text());
    const Bytes with_nul = {'x', 0, 'y'};
    print_ch("Z", with_nul);
    EXPECT_EQ(std::string("Z : x \0 y \n", 11), log_text()) << "a NUL byte travels as it is";
}

TEST_F(Handlers, AFailedRegistrationIsLoggedAndTheRowsAfterItGoOn)
{
    LAPI_AllCallbackUnRegister(hAPI);
    // The SDK refuses an id past its last; the rows around it register.
    const ind_row refused{2, LAPI_CB_MAX, "ind_refused", ind_callback_tbl[1].handler, 24, ind_index_only,
                          "REFUSED", nullptr};
    const ind_row rows[] = {ind_callback_tbl[0], refused, ind_callback_tbl[2]};
    ind_register_rows(hAPI, rows);
    EXPECT_EQ("ind_refused registration failed\n", log_text());
    EXPECT_EQ("ok\n", ltesim::control("inject 0 1"));
    EXPECT_EQ("ok\n", ltesim::control("inject 2 1 00"));
    EXPECT_NE("ok\n", ltesim::control("inject 1 1"));

    // Every row of the table is tried even when every one fails.
    LAPI_AllCallbackUnRegister(hAPI);
    ltesim::control("clear");
    ASSERT_EQ("ok\n", ltesim::control("fail LAPI_RegisterCallbackResponse -1"));
    ind_register(hAPI);
    const std::string log = log_text();
    for (const ind_row& r : ind_callback_tbl)
        EXPECT_NE(std::string::npos, log.find(std::string(r.name) + " registration failed\n")) << r.name;
    const std::string calls = ltesim::control("calls");
    size_t n = 0;
    for (size_t at = 0; (at = calls.find("LAPI_RegisterCallbackResponse", at)) != std::string::npos; ++at)
        ++n;
    EXPECT_EQ(ind_callback_tbl.size(), n);
}

// Every handler, with records of every length from none to twice what it
// forwards, of random bytes, each in a buffer of exactly that size: the
// sanitizers catch any read past it.
TEST_F(Handlers, RecordsOfEveryLengthNeverCrashAHandler)
{
    // Nobody reads here, so nobody listens either, and the modem console's
    // output goes to the (unheard) log channel rather than standard output.
    cnxd_subscribe_all(subscriber.get(), 0);
    cnxd_set_receive(listener.get(), 0);
    const uint32_t direction = arm1_log_direction.exchange(0);
    std::mt19937 rng(20261206);
    for (const expected_row& want : expected_tbl) {
        const ind_row& row = ind_callback_tbl[static_cast<size_t>(want.order - 1)];
        const uint32_t nominal = want.forward.how == fwd::bytes ? want.forward.n : 64;
        for (uint32_t len = 0; len <= 2 * nominal; ++len) {
            std::unique_ptr<uint8_t[]> rec(len ? new uint8_t[len] : nullptr);
            for (uint32_t i = 0; i < len; ++i)
                rec[i] = static_cast<uint8_t>(rng());
            std::visit(
                [&](auto fn) {
                    using F = decltype(fn);
                    if constexpr (std::is_same_v<F, LAPI_CALLBACK>) {
                        fn(1, rec.get(), len);
                    } else if constexpr (std::is_same_v<F, LAPI_CLI_RSP_CALLBACK>) {
                        if (len)
                            rec[len - 1] = 0;
                        fn(0, reinterpret_cast<char*>(rec.get()), len ? len - 1 : 0);
                    } else if (len) {
                        rec[len - 1] = 0;
                        fn(1, static_cast<uint16_t>(len), reinterpret_cast<char*>(rec.get()));
                    }
                },
                row.handler);
        }
    }
    arm1_log_direction = direction;
    EXPECT_TRUE(drain(subscriber.get(), HCI_SDK_CALLBACK_ID, 50).empty()) << "nothing reaches an unsubscribed client";
}

}  // namespace
}  // namespace cnxd::test
