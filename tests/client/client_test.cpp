// The client library: its answer-area table, and sessions against an
// in-process server (strict frame decoding, keep-alive, API requests, relay).
#include <sys/socket.h>

#include <algorithm>
#include <chrono>

#include "client/inproc_daemon.h"
#include "frames.h"

namespace cnxd::test {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ClientFrames, AnswerAreasTileTheBlockAfterTheResultWord)
{
    size_t size = 0;
    EXPECT_EQ(2354u, cnxd_answer_area(6, &size));
    EXPECT_EQ(34052u, size);
    EXPECT_EQ(0u, cnxd_answer_area(25, &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(cnxd_answer_area(15, &size), cnxd_answer_area(16, &size));
    size_t end = shm::INIT_COMPLETE;
    for (const auto& a : client::answer_area_tbl) {
        EXPECT_TRUE(a.offset == end || a.cmd == 16) << "command " << a.cmd;
        end = a.offset + a.size;
    }
    EXPECT_EQ(size_t{CNXD_SHM_SIZE}, end);
}

TEST(ClientSession, NoDaemonIsReportedAsSuch)
{
    char tmpl[] = "/tmp/cnxd-u.XXXXXX";
    const std::string root = mkdtemp(tmpl);
    setenv("CNXD_ROOT", root.c_str(), 1);
    cnxd_reload_root();
    cnxd_session* s = nullptr;
    EXPECT_EQ(CNXD_E_NODAEMON, cnxd_open(0, 1, 500, &s)) << "no /var/tmp at all";
    std::filesystem::create_directories(root + "/var/tmp");
    EXPECT_EQ(CNXD_E_NODAEMON, cnxd_open(0, 1, 500, &s)) << "no server socket";
    EXPECT_EQ(nullptr, s);
    EXPECT_TRUE(std::filesystem::is_empty(root + "/var/tmp")) << "our socket file is removed";
    std::filesystem::remove_all(root);
    unsetenv("CNXD_ROOT");
    cnxd_reload_root();
}

struct Seen {
    std::vector<std::string> logs;
    std::vector<std::pair<uint16_t, Bytes>> events;
    std::vector<std::pair<uint16_t, Bytes>> notes;
    std::vector<uint16_t> frames;
};

cnxd_handlers recorder(Seen* seen)
{
    return {
        [](void* c, const char* t, size_t n) { static_cast<Seen*>(c)->logs.emplace_back(t, n); },
        [](void* c, uint16_t ev, const uint8_t* d, size_t n) {
            static_cast<Seen*>(c)->events.emplace_back(ev, Bytes(d, d + n));
        },
        [](void* c, uint32_t, uint16_t code, const uint8_t* d, size_t n) {
            static_cast<Seen*>(c)->notes.emplace_back(code, Bytes(d, d + n));
        },
        [](void* c, uint16_t id, const uint8_t*, size_t) { static_cast<Seen*>(c)->frames.push_back(id); },
        seen,
    };
}

class ClientWithDaemon : public ::testing::Test {
protected:
    InprocDaemon daemon;

    // Writes a datagram from the daemon's side of a client's socket.
    static void from_daemon(cnxd_session* s, const Bytes& d)
    {
        int sock = -1;
        {
            const std::lock_guard guard(cnxd_client_lock);
            sock = cnxd_client[cnxd_index(s)].esock.sock;
        }
        ASSERT_EQ(static_cast<ssize_t>(d.size()), send(sock, d.data(), d.size(), 0));
    }
};

TEST_F(ClientWithDaemon, DispatchHandsOutGoodFramesDropsBadOnesAndAnswersProbes)
{
    Session s = open_session(0);
    Seen seen;
    const cnxd_handlers h = recorder(&seen);
    cnxd_set_handlers(s.get(), &h);
    cnxd_client[cnxd_index(s.get())].ka_miss = 3;

    Bytes long_log = {0x81, 0x0b, 0x08, 0x1c};  // 2076 bytes of text: one too many
    long_log.resize(4 + 2076, 'x');
    const Bytes datagrams[] = {
        {0x81, 0x0b, 0x00, 0x02, 'h', 'i'},
        {0x81, 0x0b, 0x00, 0x09, 'h', 'i'},                    // cut short
        {0x81, 0x0b, 0x00},                                    // shorter than a header
        {},                                                    // empty
        long_log,
        {0x81, 0x07, 0x00, 0x05, 0x00, 0x1a, 0x00, 0x01, 0x77},  // event 26, data length 1
        {0x81, 0x07, 0x00, 0x05, 0x00, 0x1a, 0x00, 0x04, 0x77},  // inner length too long
        {0x04, 0x02, 0x00, 0x09, 0, 0, 0, 7, 0x00, 0x05, 0x00, 0x02, 0x42},  // notify, likewise
        {0x01, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},        // padded probe
        {0x12, 0x34, 0x00, 0x00},
    };
    for (const Bytes& d : datagrams)
        from_daemon(s.get(), d);
    int handled = 0;
    EXPECT_TRUE(eventually([&] { return (handled += std::max(0, cnxd_dispatch(s.get(), 100))) >= 10; }));

    EXPECT_EQ(std::vector<std::string>{"hi"}, seen.logs);
    ASSERT_EQ(1u, seen.events.size());
    EXPECT_EQ(26, seen.events[0].first);
    EXPECT_EQ(Bytes{0x77}, seen.events[0].second);
    EXPECT_TRUE(seen.notes.empty());
    EXPECT_EQ(std::vector<uint16_t>{0x1234}, seen.frames);
    EXPECT_EQ(6u, cnxd_rejected_frames(s.get()));
    EXPECT_TRUE(eventually([&] { return cnxd_client[cnxd_index(s.get())].ka_miss == 0; }))
        << "the probe was answered";
}

TEST_F(ClientWithDaemon, ApiRequestsCompleteAndTimeOutOnADeadDaemon)
{
    Session s = open_session(0);
    uint8_t* block = cnxd_shared_block(s.get());
    store_be32(block + CNXD_SHM_RESULT, 0xFFFFFFFF);
    int32_t result = -1;
    const uint8_t data[] = {1, 2};
    EXPECT_EQ(CNXD_OK, cnxd_api_request(s.get(), 8, 1, data, sizeof data, 3000, &result));
    EXPECT_EQ(0, result) << "the daemon cleared the result word";

    daemon.stop_loop();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CNXD_E_TIMEOUT, cnxd_api_request(s.get(), 0, 1, nullptr, 0, 300, &result));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(250));
    EXPECT_LT(took, std::chrono::seconds(5));
}

TEST_F(ClientWithDaemon, RelayReachesTheTargetIdentityOrEveryOtherIdentity)
{
    Session sender = open_session(5);
    Session same = open_session(5);
    Session target = open_session(9);
    Session other = open_session(0);
    Seen seen_same, seen_target, seen_other;
    const cnxd_handlers hs[] = {recorder(&seen_same), recorder(&seen_target), recorder(&seen_other)};
    cnxd_session* receivers[] = {same.get(), target.get(), other.get()};
    for (int i = 0; i < 3; ++i) {
        cnxd_set_handlers(receivers[i], &hs[i]);
        cnxd_set_receive(receivers[i], 1);
    }
    const Bytes inner = {
        0x04, 0x02, 0x00, 0x09,  // HCI_NOTIFY, length 9
        0x00, 0x00, 0x00, 0x00,  // word
        0x00, 0x2a, 0x00, 0x01,  // code 42, data length 1
        0x99,
    };
    ASSERT_EQ(CNXD_OK, cnxd_relay(sender.get(), 9, 0, inner.data(), inner.size()));
    ASSERT_EQ(CNXD_OK, cnxd_relay(sender.get(), 0, 1, inner.data(), inner.size()));
    EXPECT_TRUE(eventually([&] {
        for (auto* r : receivers)
            cnxd_dispatch(r, 0);
        return seen_target.notes.size() == 2 && seen_other.notes.size() == 1;
    }));
    EXPECT_EQ(42, seen_target.notes[0].first);
    EXPECT_EQ(Bytes{0x99}, seen_target.notes[0].second);
    EXPECT_TRUE(seen_same.notes.empty()) << "a broadcast skips the sender's identity";
    EXPECT_EQ(CNXD_E_INVAL, cnxd_relay(sender.get(), 9, 0, inner.data(), 3)) << "no whole frame";
}

}  // namespace
}  // namespace cnxd::test
