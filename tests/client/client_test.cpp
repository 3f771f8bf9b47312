// The client library's sessions against an in-process server: strict frame
// decoding, keep-alive answers, API requests and their timeout (the relay
// between clients is checked end to end by the session tests).
#include <sys/socket.h>

#include <algorithm>
#include <chrono>

#include "client/inproc_daemon.h"

namespace cnxd::test {
namespace {

TEST(ClientSession, NoDaemonIsReportedAsSuch)
{
    BareSysroot root;
    std::filesystem::remove_all(root.root() + "/var/tmp");
    cnxd_session* s = nullptr;
    EXPECT_EQ(CNXD_E_NODAEMON, cnxd_open(0, 1, 500, &s)) << "no /var/tmp at all";
    std::filesystem::create_directories(root.root() + "/var/tmp");
    EXPECT_EQ(CNXD_E_NODAEMON, cnxd_open(0, 1, 500, &s)) << "no server socket";
    EXPECT_EQ(nullptr, s);
    EXPECT_TRUE(std::filesystem::is_empty(root.root() + "/var/tmp")) << "our socket file is removed";
}

void add(void* c, const std::string& what, uint16_t code, const uint8_t* d, size_t n)
{
    static_cast<Lines*>(c)->push_back(what + " " + std::to_string(code) + " " + std::string(d, d + n));
}

// What a session's handlers were handed, one line each.
cnxd_handlers recorder(Lines* seen)
{
    return {
        [](void* c, const char* t, size_t n) { static_cast<Lines*>(c)->push_back("log " + std::string(t, n)); },
        [](void* c, uint16_t ev, const uint8_t* d, size_t n) { add(c, "event", ev, d, n); },
        [](void* c, uint32_t, uint16_t code, const uint8_t* d, size_t n) { add(c, "note", code, d, n); },
        [](void* c, uint16_t id, const uint8_t*, size_t) { add(c, "frame", id, nullptr, 0); },
        seen,
    };
}

class ClientWithDaemon : public ::testing::Test {
protected:
    InprocDaemon daemon;
};

TEST_F(ClientWithDaemon, DispatchHandsOutGoodFramesDropsBadOnesAndAnswersProbes)
{
    Session s = open_session(0);
    Lines seen;
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
        {0x81, 0x07, 0x00, 0x05, 0x00, 0x1a, 0x00, 0x01, 'w'},  // event 26, data length 1
        {0x81, 0x07, 0x00, 0x05, 0x00, 0x1a, 0x00, 0x04, 'w'},  // inner length too long
        {0x04, 0x02, 0x00, 0x09, 0, 0, 0, 7, 0x00, 0x05, 0x00, 0x02, 0x42},  // notify, likewise
        {0x01, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},        // padded probe
        {0x12, 0x34, 0x00, 0x00},
    };
    int sock = -1;  // the daemon's side of the client's socket
    {
        const std::lock_guard guard(cnxd_client_lock);
        sock = cnxd_client[cnxd_index(s.get())].esock.sock;
    }
    for (const Bytes& d : datagrams)
        ASSERT_EQ(static_cast<ssize_t>(d.size()), send(sock, d.data(), d.size(), 0));
    int handled = 0;
    EXPECT_TRUE(eventually([&] { return (handled += std::max(0, cnxd_dispatch(s.get(), 100))) >= 10; }));
    EXPECT_EQ((Lines{"log hi", "event 26 w", "frame 4660 "}), seen);
    EXPECT_EQ(6u, cnxd_rejected_frames(s.get()));
    EXPECT_TRUE(eventually([&] { return cnxd_client[cnxd_index(s.get())].ka_miss == 0; })) << "the probe was answered";
}

TEST_F(ClientWithDaemon, ApiRequestsCompleteAndTimeOutOnADeadDaemon)
{
    Session s = open_session(0);
    store_be32(cnxd_shared_block(s.get()) + CNXD_SHM_RESULT, 0xFFFFFFFF);
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

}  // namespace
}  // namespace cnxd::test
