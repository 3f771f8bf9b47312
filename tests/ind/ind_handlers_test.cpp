// The handlers against the simulated SDK and the real client table: the
// common shape (title, one forwarded frame, the handlers that only print,
// byte dumps, failed registrations, records of every length) and what the
// interface indications name, print, configure and forward. Every row's
// event and length, and the UICC status rule, are checked end to end by
// the integration test of indication forwarding.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/be.h"
#include "client/inproc_daemon.h"
#include "if_record.h"
#include "ind/expected.h"
#include "ind/ind.h"
#include "dm/log_paths.h"
#include "ind/ind_print.h"
#include "ltesim.h"
#include "modem/bringup.h"
#include "modem/online_request.h"
#include "shell/log_direction.h"

namespace cnxd::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t HCI_SDK_CALLBACK_ID = 0x8107;
constexpr uint16_t HCI_LOG_ID = 0x810B;
constexpr uint32_t DEV = 1;
constexpr uint16_t HOST_DBG_CLI_CMD_ID = 189;
constexpr uint16_t PSM_STATUS_ID = 159;

// The daemon's client side and an open simulated SDK with every handler
// registered; a listener of the log channel and a subscriber of every event.
class Handlers : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(daemon.root() + "/etc");
        store_profiles({"internet", "IMS.Operator", "admin"});
        ASSERT_EQ(0, LAPI_LTEAPIOpen(&hAPI));
        // The bring-up chain's requests stay unanswered: the records handed
        // in here are the only ones.
        for (const char* line : {"set delay_ms 0", "fail LAPI_GetCrashLogRequest 1", "fail LAPI_PSInitRequest 1",
                                 "fail LAPI_OnlineRequest 1"})
            ASSERT_EQ("ok\n", ltesim::control(line));
        ind_register(hAPI);
        cnxd_set_receive(listener.get(), 1);
        cnxd_subscribe_all(subscriber.get(), 1);
    }
    void TearDown() override
    {
        LAPI_AllCallbackUnRegister(hAPI);
        online_requests_stop();  // of the initialisation answers handed in
        EXPECT_EQ(0, LAPI_LTEAPIClose(hAPI));
    }

    // The device's APN profiles 1, 2, ... and no more.
    void store_profiles(const std::vector<std::string>& names)
    {
        std::ofstream out(daemon.root() + "/etc/confdb.ini");
        for (size_t i = 0; i < names.size(); ++i)
            out << "[vemo cm_config apnprofile apn" << i + 1 << "]\napn_name=" << names[i] << "\n";
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
    std::string log_text()
    {
        std::string text;
        for (const Bytes& f : drain(listener.get(), HCI_LOG_ID, 100))
            text.append(f.begin() + 4, f.end());
        return text;
    }

    static const ind_row& row_named(const std::string& name)
    {
        for (const ind_row& r : ind_callback_tbl)
            if (r.name == name)
                return r;
        ADD_FAILURE() << "no row " << name;
        return ind_callback_tbl[0];
    }
    // Runs the handler `name` on `rec` and collects what it sent.
    void run(const std::string& name, Bytes rec, uint32_t dev = DEV)
    {
        std::get<LAPI_CALLBACK>(row_named(name).handler)(dev, rec.empty() ? nullptr : rec.data(),
                                                         static_cast<uint32_t>(rec.size()));
        frames = drain(subscriber.get(), HCI_SDK_CALLBACK_ID);
        log = log_text();
    }
    // The record forwarded in frame `i`, after the device index.
    Bytes record(size_t i) const { return {frames.at(i).begin() + 12, frames.at(i).end()}; }
    bool logged(const std::string& text) const { return log.find(text) != std::string::npos; }

    InprocDaemon daemon;
    Session listener = open_session(0);
    Session subscriber = open_session(7);
    std::vector<Bytes> frames;
    std::string log;
};

TEST_F(Handlers, TitleThenOneFrameWithTheDeviceIndexAndTheFixedLength)
{
    Bytes rec(2300);
    for (size_t i = 0; i < rec.size(); ++i)
        rec[i] = static_cast<uint8_t>(i);
    run("ind_attach_response", rec, 9);
    EXPECT_TRUE(logged("\nATTACH RESPONSE(DEV_IDX(9))\n")) << log;
    ASSERT_EQ(1u, frames.size());
    const Bytes& f = frames[0];
    EXPECT_EQ((Bytes{0x81, 0x07, 0x08, 0x98, 0, 26, 0x08, 0x94, 0, 0, 0, 9}), Bytes(f.begin(), f.begin() + 12))
        << "id, frame length, event, data length (4 + 2192), device index";
    EXPECT_EQ(Bytes(rec.begin(), rec.begin() + 2192), record(0));

    // Shorter than the SDK's size: what is there, no more.
    run("ind_attach_response", Bytes(100, 0xab));
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ(Bytes(100, 0xab), record(0));
}

TEST_F(Handlers, HandlersWithoutAnEventOnlyPrint)
{
    run("ind_host_dbg_cli_cmd_indication", Bytes(16, 0));
    EXPECT_TRUE(logged("\nHOST DEBUG CLI COMMAND INDICATION(DEV_IDX(1))\n")) << log;
    EXPECT_TRUE(frames.empty());
    std::string text = "help";
    std::get<LAPI_ASCII_CALLBACK>(row_named("ind_ascii_from_device_indication").handler)(2, 3, text.data());
    std::string out = "modem says hi\n";
    std::get<LAPI_CLI_RSP_CALLBACK>(row_named("ind_cli_cmd_rsp").handler)(0, out.data(), 5);
    std::get<LAPI_CLI_RSP_CALLBACK>(row_named("ind_cli_cmd_rsp").handler)(0, nullptr, 5);
    EXPECT_TRUE(drain(subscriber.get(), HCI_SDK_CALLBACK_ID).empty());
    const std::string printed = log_text();
    EXPECT_NE(std::string::npos, printed.find("\nASCII FROM DEVICE INDICATION(DEV_IDX(2))\n")) << printed;
    EXPECT_NE(std::string::npos, printed.find("Message : help\n")) << printed;
}

// The output chunk travels inside the record, after the address and length
// words; it is forwarded only as far as it lies inside the record.
TEST_F(Handlers, CrashLogAndDebugPrintForwardOnlyWhatLiesInsideTheirRecord)
{
    const std::string text = "modem crash text";
    const std::string outside = "not in the record";
    struct Case {
        const char* handler;
        uint16_t event;
        size_t fields;   // the fixed fields before the chunk
        size_t addr_at;  // of the address word
        Bytes head;      // what is forwarded before the chunk
        size_t len;      // the length word
        bool points_outside;
        Bytes chunk;     // what is forwarded of it
    };
    const Bytes modem{'m', 'o', 'd', 'e', 'm'};
    const std::string dbg_dir = daemon.root() + "/var/lte/dev_crash_log";
    std::filesystem::create_directories(dbg_dir);
    std::filesystem::create_directories(daemon.root() + "/var/lte/dev_dbg_log");
    set_log_file_paths();
    const Case cases[] = {
        {"ind_get_crash_log_result", 140, 9, 1, {1}, 16, false, {'m', 'o', 'd', 'e'}},  // the first 4 bytes
        {"ind_debug_print_to_host", 205, 8, 0, {}, 5, false, modem},
        {"ind_debug_print_to_host", 205, 8, 0, {}, 1000, false, Bytes(text.begin(), text.end())},  // cut at the end
        {"ind_debug_print_to_host", 205, 8, 0, {}, 5, true, {}},
        {"ind_get_crash_log_result", 140, 9, 1, {1}, 5, true, {}},
    };
    for (const Case& c : cases) {
        Bytes rec(c.fields, 0);
        rec.insert(rec.end(), text.begin(), text.end());
        if (c.fields == 9)
            rec[0] = 1;  // more chunks follow
        const void* at = c.points_outside ? static_cast<const void*>(outside.data()) : &rec[c.fields];
        const uint32_t word = sdk_addr_to_word(at);
        store_be32(&rec[c.addr_at], word);
        store_be32(&rec[c.addr_at + 4], static_cast<uint32_t>(c.len));
        std::get<LAPI_CALLBACK>(row_named(c.handler).handler)(DEV, rec.data(), static_cast<uint32_t>(rec.size()));
        sdk_addr_release(word);
        frames = drain(subscriber.get(), HCI_SDK_CALLBACK_ID);
        ASSERT_EQ(1u, frames.size()) << c.handler;
        EXPECT_EQ(c.event, load_be16(&frames[0][4]));
        Bytes expect = c.head;
        expect.insert(expect.end(), c.chunk.begin(), c.chunk.end());
        EXPECT_EQ(expect, record(0)) << c.handler << " len " << c.len;
        if (c.points_outside) {
            EXPECT_NE(std::string::npos, log_text().find("chunk address outside the record")) << c.handler;
        }
    }
    run("ind_debug_print_to_host", Bytes(3, 0));  // cut short: no address
    ASSERT_EQ(1u, frames.size());
    EXPECT_TRUE(record(0).empty()) << "the device index alone";
    std::ifstream dbg(dbg_dir + "/dbg.log");
    EXPECT_EQ("modem" + text, std::string(std::istreambuf_iterator<char>(dbg), {})) << "the debug output kept";

    // Without its file the debug output goes nowhere.
    std::filesystem::remove_all(dbg_dir);
    run("ind_debug_print_to_host", Bytes(8, 0));
    EXPECT_TRUE(frames.empty());
    EXPECT_TRUE(logged("open fail /var/lte/dev_crash_log/dbg.log\n")) << log;
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
    print_ch("Z", Bytes{'x', 0, 'y'});
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

    // Made to fail in the simulator, every row is still tried and logged.
    LAPI_AllCallbackUnRegister(hAPI);
    ltesim::control("clear");
    ASSERT_EQ("ok\n", ltesim::control("fail LAPI_RegisterCallbackResponse -1"));
    ind_register(hAPI);
    const std::string printed = log_text();
    for (const ind_row& r : ind_callback_tbl)
        EXPECT_NE(std::string::npos, printed.find(std::string(r.name) + " registration failed\n")) << r.name;
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
    // Nobody listens, and the modem console's output goes to the (unheard)
    // log channel rather than standard output.
    cnxd_subscribe_all(subscriber.get(), 0);
    cnxd_set_receive(listener.get(), 0);
    const uint32_t direction = arm1_log_direction.exchange(0);
    std::mt19937 rng(20261206);
    for (const expected_row& want : expected_tbl) {
        const ind_row& row = ind_callback_tbl[static_cast<size_t>(want.order - 1)];
        // Host debug lines and power saving run commands; the command-line
        // and end-to-end tests give them their records.
        if (row.cb_id == HOST_DBG_CLI_CMD_ID || row.cb_id == PSM_STATUS_ID)
            continue;
        const uint32_t nominal = want.forward.how == fwd::bytes ? want.forward.n : 64;
        for (uint32_t len = 0; len <= 2 * nominal; ++len) {
            std::unique_ptr<uint8_t[]> rec(len ? new uint8_t[len] : nullptr);
            for (uint32_t i = 0; i < len; ++i)
                rec[i] = static_cast<uint8_t>(rng());
            char* text = reinterpret_cast<char*>(rec.get());
            std::visit(
                [&](auto fn) {
                    using F = decltype(fn);
                    if constexpr (std::is_same_v<F, LAPI_CALLBACK>) {
                        fn(1, rec.get(), len);
                    } else {
                        if (len)
                            rec[len - 1] = 0;  // the text forms end in a NUL
                        if constexpr (std::is_same_v<F, LAPI_CLI_RSP_CALLBACK>)
                            fn(0, text, len ? len - 1 : 0);
                        else if (len)
                            fn(1, static_cast<uint16_t>(len), text);
                    }
                },
                row.handler);
        }
    }
    arm1_log_direction = direction;
    EXPECT_TRUE(drain(subscriber.get(), HCI_SDK_CALLBACK_ID, 50).empty()) << "nothing reaches an unsubscribed client";
}

// An IPv4 interface with an address of its own (so no DHCP is started).
Bytes nic(const std::string& name, const std::string& apn, uint16_t eps)
{
    Bytes r(ifrec::SIZE, 0);
    std::copy(name.begin(), name.end(), r.begin() + ifrec::NAME);
    store_be16(&r[ifrec::EPS_BEARER], eps);
    r[ifrec::APN_LEN] = static_cast<uint8_t>(apn.size());
    std::copy(apn.begin(), apn.end(), r.begin() + ifrec::APN_NAME);
    const uint8_t addr[] = {10, 1, 2, 3, 255, 255, 255, 0};
    std::copy(std::begin(addr), std::end(addr), r.begin() + ifrec::IPV4_ADDR);
    return r;
}

// The operations of the LAPI_ConfigureNetworkInterface calls so far.
std::vector<uint32_t> configured()
{
    std::vector<uint32_t> ops;
    std::istringstream calls(ltesim::control("calls"));
    for (std::string line; std::getline(calls, line);)
        if (line.starts_with("LAPI_ConfigureNetworkInterface "))
            ops.push_back(static_cast<uint32_t>(std::stoul(line.substr(line.size() - 8), nullptr, 16)));
    ltesim::control("clear");
    return ops;
}

constexpr const char* READY = "ind_interface_ready_indication";
constexpr const char* RELEASE = "ind_interface_release_indication";
constexpr const char* CHANGE = "ind_interface_change_indication";

TEST_F(Handlers, ReadyNamesAnInterfaceFromOutsideByTheProfileWalk)
{
    const auto name = [&] { return std::string(reinterpret_cast<const char*>(&record(0)[ifrec::NAME])); };
    run(READY, nic("", "ims.operator", 5));  // its APN's profile does not stop the walk: the first unreadable one
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ("lte0pdn3", name());
    EXPECT_TRUE(logged("\nINTERFACE READY INDICATION(DEV_IDX(1))\nInterface request is from outside\n")) << log;
    EXPECT_TRUE(logged("Interface Name : lte0pdn3\n")) << log;

    store_profiles({"a", "", "c"});
    run(READY, nic("", "elsewhere", 5));  // an empty profile name equals the record's
    EXPECT_EQ("lte0pdn1", name());
    store_profiles({"a", "b", "c", "d", "e", "f", "g", "h"});
    run(READY, nic("", "elsewhere", 5));  // every profile read, none matched
    EXPECT_EQ("lte0pdn8", name());

    run(READY, nic("lte0pdn4", "internet", 5));  // named by the modem: kept
    EXPECT_EQ("lte0pdn4", name());
    EXPECT_FALSE(logged("from outside"));
}

TEST_F(Handlers, ReadyTakesTheAllocationOfTheTidEntryPrintsAndForwardsTheRecord)
{
    // The modem's own PDN in slot 2 (default EPS bearer 7), by DHCP.
    for (const char* line : {"set ip_alloc 1", "pdn up 2 somewhere", "sync"})
        ASSERT_EQ("ok\n", ltesim::control(line));
    drain(subscriber.get(), HCI_SDK_CALLBACK_ID);
    log_text();
    configured();

    Bytes rec = nic("lte0pdn2", "somewhere", 7);
    run(READY, rec);
    ASSERT_EQ(1u, frames.size());
    rec[ifrec::IP_ALLOC] = 1;  // byte 7 of the TID entry
    EXPECT_EQ(rec, record(0)) << "otherwise the record as handed";
    EXPECT_TRUE(logged("Date Path      : 0\nPDN IP Type    : 0\nNIC Type       : 0\nDefault EPS ID : 7\n"
                       "APN class      : 0\nAPN NI         : somewhere\n"))
        << log;
    EXPECT_TRUE(logged("IPv4 Address        : 10.1.2.3\nIPv4 Netmask        : 255.255.255.0\n")) << log;
    EXPECT_TRUE(logged("Print nic_info before CMD_EVT_INT_READY_IND ===> 10.1.2.3\n")) << log;
    EXPECT_EQ(std::vector<uint32_t>{3}, configured());

    // An unknown bearer keeps the record's allocation; both IP types print
    // the IPv4 block and the IPv6 error.
    rec = nic("lte0pdn3", "", 99);
    rec[ifrec::PDN_IP_TYPE] = 2;
    rec[ifrec::IPV6_ERROR] = 1;
    run(READY, rec);
    EXPECT_EQ(rec, record(0));
    EXPECT_TRUE(logged("Can't find TID by dft_eps_id (99).\n")) << log;
    EXPECT_TRUE(logged("IPv4 Secondary DNS  : 0.0.0.0\nIPv6 Error\n")) << log;
    EXPECT_FALSE(logged("APN NI")) << "no APN, no line";
}

TEST_F(Handlers, ReleaseAndChangeConfigureAndForwardOnlyWhatIsTheirs)
{
    Bytes rec = nic("lte0pdn0", "internet", 5);
    run(RELEASE, rec);
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ(rec, record(0));
    EXPECT_TRUE(logged("\nINTERFACE RELEASE INDICATION(DEV_IDX(1))\nInterface Name : lte0pdn0\n")) << log;
    EXPECT_EQ(std::vector<uint32_t>{0}, configured());

    Bytes detached(ifrec::SIZE, 0);
    store_be16(&detached[ifrec::EPS_BEARER], ifrec::BEARER_ALL);
    run(RELEASE, detached);
    EXPECT_EQ(1u, frames.size());
    EXPECT_TRUE(logged("Network detached\n")) << log;
    EXPECT_FALSE(logged("Interface Name"));
    EXPECT_EQ(std::vector<uint32_t>{0}, configured());

    // Not the daemon's data path: nothing beyond the entry line.
    rec[ifrec::DATA_PATH] = 1;
    run(RELEASE, rec);
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ("", log);
    EXPECT_TRUE(configured().empty());

    // A change reconfigures only on an IPv6 error.
    rec = nic("lte0pdn0", "internet", 5);
    run(CHANGE, rec);
    EXPECT_EQ(1u, frames.size());
    EXPECT_TRUE(configured().empty());
    rec[ifrec::IPV6_ERROR] = 1;
    run(CHANGE, rec);
    EXPECT_EQ(1u, frames.size());
    EXPECT_EQ(std::vector<uint32_t>{2}, configured());

    for (const char* name : {READY, RELEASE, CHANGE}) {
        run(name, {});
        EXPECT_TRUE(frames.empty()) << name;
        EXPECT_TRUE(logged("Invalid nic_info\n")) << name;
        EXPECT_FALSE(logged("INDICATION(DEV_IDX")) << name;
    }
}

}  // namespace
}  // namespace cnxd::test
