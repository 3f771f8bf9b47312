// Delivery to clients, with the real client table and clients set up by the
// real handshake (the library's sessions against an in-process server).
#include <fcntl.h>
#include <sys/uio.h>
#include <syslog.h>

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <thread>
#include <tuple>

#include "client/inproc_daemon.h"
#include "server/delivery.h"

// The lines the code under test gives syslog, kept here instead of going
// to the host's log.
namespace {
std::mutex syslog_mutex;
std::vector<std::string> syslog_lines;
}  // namespace

extern "C" void syslog(int, const char* fmt, ...)
{
    char line[4096];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    const std::lock_guard guard(syslog_mutex);
    syslog_lines.emplace_back(line);
}

namespace cnxd::test {
namespace {

// Forwards `record` for `event` as an indication handler does: piece 0
// reserved, piece 1 the device index, piece 2 the record.
void forward(uint16_t event, uint32_t dev, Bytes record)
{
    uint8_t dev_be[4];
    store_be32(dev_be, dev);
    iovec pieces[3] = {{nullptr, 0}, {dev_be, 4}, {record.data(), record.size()}};
    cnxd_srv_send_sdk_cb_assemble_hci(event, pieces, 3);
}

// A send has written its frames before it returns.
int count_frames(cnxd_session* s, int ms = 50)
{
    int n = 0;
    while (recv_datagram(s, ms))
        ++n;
    return n;
}

Bytes log_frame(const std::string& text)
{
    Bytes f = {0x81, 0x0b, 0, 0};
    store_be16(&f[2], static_cast<uint16_t>(text.size()));
    f.insert(f.end(), text.begin(), text.end());
    return f;
}

// Makes the peer of a session vanish behind the library's back.
void vanish(cnxd_session* s) { dup2(open("/dev/null", O_WRONLY | O_CLOEXEC), cnxd_fd(s)); }

const Bytes NOTIFY = {0x04, 0x02, 0x00, 0x08, 0, 0, 0, 0, 0x00, 0x05, 0x00, 0x00};  // code 5, no data

class Delivery : public ::testing::Test {
protected:
    void SetUp() override { cnxd_srv_set_dm_client(255); }
    void TearDown() override { cnxd_stuck = 0; }
    InprocDaemon daemon;
};

TEST_F(Delivery, EachSendReachesTheClientsItIsFor)
{
    // Identities 7, 9, 9, 3, 0 receiving and subscribed to events 26 and
    // 184; the last, of identity 0, subscribed but not receiving.
    std::vector<Session> clients;
    for (uint32_t id : {7u, 9u, 9u, 3u, 0u, 0u}) {
        clients.push_back(open_session(id));
        cnxd_set_receive(clients.back().get(), clients.size() < 6);
        cnxd_subscribe(clients.back().get(), 26, 1);
        cnxd_subscribe(clients.back().get(), 184, 1);
    }
    const auto got = [&] {
        std::vector<int> frames;
        for (auto& c : clients)
            frames.push_back(count_frames(c.get()));
        return frames;
    };
    using V = std::vector<int>;
    forward(26, 1, {1});
    EXPECT_EQ(V({1, 1, 1, 1, 1, 1}), got()) << "an indication: every subscriber once";
    forward(23, 1, {1});
    EXPECT_EQ(V({0, 0, 0, 0, 0, 0}), got()) << "an event without a subscription word";
    cnxd_srv_send_log("x");
    EXPECT_EQ(V({0, 0, 0, 0, 1, 0}), got()) << "log text: receiving clients of identity 0";
    const uint32_t ids[] = {7, 9, 0, 3};  // 3 comes after the end mark
    cnxd_srv_send_log_to_ids(ids, "to %s", "some");
    EXPECT_EQ(V({1, 1, 1, 0, 0, 0}), got()) << "log text to listed identities";
    cnxd_srv_send_hci_by_id(9, 0x100, NOTIFY);
    EXPECT_EQ(V({0, 1, 0, 0, 0, 0}), got()) << "a frame by identity: its first client";
    cnxd_srv_send_hci_by_id(0, 1, NOTIFY);
    EXPECT_EQ(V({1, 1, 1, 1, 1, 0}), got()) << "a frame to every receiving client";
    forward(184, 1, {1});
    EXPECT_EQ(V({0, 0, 0, 0, 0, 0}), got()) << "a DM report without a DM client";
    cnxd_srv_set_dm_client(40);  // beyond the mask: sets nothing
    cnxd_srv_set_dm_client(cnxd_index(clients[2].get()));
    forward(184, 1, {1});
    EXPECT_EQ(V({0, 0, 1, 0, 0, 0}), got()) << "a DM report to the DM client";
    cnxd_srv_set_dm_client(255);
    forward(184, 1, {1});
    EXPECT_EQ(V({0, 0, 0, 0, 0, 0}), got()) << "DM clients cleared";

    forward(26, 1, {0xde, 0xad, 0xbe, 0xef, 0x01, 0x02});
    const Bytes expected = {
        0x81, 0x07, 0x00, 0x0e,  // HCI_SDK_CALLBACK, length 14
        0x00, 0x1a, 0x00, 0x0a,  // event 26, data length 10
        0x00, 0x00, 0x00, 0x01,  // device index 1
        0xde, 0xad, 0xbe, 0xef, 0x01, 0x02,
    };
    EXPECT_EQ(expected, recv_datagram(clients[4].get(), 2000));
    // Log text is cut to one frame's 2075 bytes.
    cnxd_srv_send_log("%s", std::string(3000, 'x').c_str());
    EXPECT_EQ(log_frame(std::string(2075, 'x')), recv_datagram(clients[4].get(), 2000));
    cnxd_srv_send_log("a\nb");
    EXPECT_EQ(log_frame("a\nb"), recv_datagram(clients[4].get(), 2000));
    cnxd_srv_send_log("%s", "");  // a frame of its header alone
    EXPECT_EQ(log_frame(""), recv_datagram(clients[4].get(), 2000));
}

// With the log copied to the PC's syslog, the text is cut into lines at
// each newline and wherever the line buffer fills, across frames.
TEST_F(Delivery, LogTextCopiedToSyslogIsCutAtNewlinesAndAFullLine)
{
    g_is_qlog_to_pc = 1;
    syslog_lines.clear();
    cnxd_srv_send_log("a\nbc\n");
    cnxd_srv_send_log("%s", std::string(2075, 'x').c_str());
    cnxd_srv_send_log("%s", std::string(10, 'y').c_str());
    cnxd_srv_send_log("\n");
    g_is_qlog_to_pc = 0;
    const std::vector<std::string> expected = {"a", "bc", std::string(2075, 'x') + "yyyy", "yyyyyy"};
    const std::lock_guard guard(syslog_mutex);
    EXPECT_EQ(expected, syslog_lines);
}

TEST_F(Delivery, AFullClientHoldsTheSenderWhichResumesWhenItReads)
{
    Session slow = open_session(0);
    cnxd_set_receive(slow.get(), 1);
    // Large frames: some 50 of them fill the socket's send buffer.
    constexpr int kLines = 120;
    const std::string pad(2000, '.');
    std::atomic<bool> done = false;
    std::thread sender([&] {
        for (int i = 0; i < kLines; ++i)
            cnxd_srv_send_log("%d %s", i, pad.c_str());
        done = true;
    });
    EXPECT_TRUE(eventually([&] { return daemon.log_has("id=0 (id=0) retry to write retry_nr=1"); })) << daemon.log();
    EXPECT_FALSE(done);
    for (int i = 0; i < kLines; ++i) {
        const auto f = recv_datagram(slow.get(), 5000);
        ASSERT_TRUE(f) << "line " << i;
        EXPECT_EQ(std::to_string(i) + " " + pad, std::string(f->begin() + 4, f->end()));
    }
    sender.join();
    EXPECT_TRUE(done);
}

// A record released by a sender on another thread than the loop's is free
// for the very next open, also with every other record taken.
TEST_F(Delivery, ARecordReleasedByASenderGoesToTheNextOpen)
{
    std::vector<Session> clients;
    for (int i = 0; i < CNXD_MAX_CLIENTS; ++i) {
        clients.push_back(open_session(0));
        cnxd_set_receive(clients.back().get(), 1);
    }
    cnxd_session* extra = nullptr;
    EXPECT_EQ(CNXD_E_FULL, cnxd_open(1, 1, 3000, &extra)) << "a 16th client";
    vanish(clients[5].get());
    cnxd_srv_send_log("refused: released");
    Session next = open_session(9);
    EXPECT_EQ(5, cnxd_index(next.get()));
}

TEST_F(Delivery, AVanishedClientIsReleasedAtTheFirstRefusal)
{
    Session listener = open_session(0);
    Session subscriber = open_session(5);
    cnxd_set_receive(listener.get(), 1);
    cnxd_subscribe(subscriber.get(), 26, 1);
    daemon.stop_loop();  // releases would race with the loop's walk
    vanish(listener.get());
    vanish(subscriber.get());
    const int li = cnxd_index(listener.get());
    const int si = cnxd_index(subscriber.get());

    cnxd_srv_send_log("first");  // the peer refuses: released
    EXPECT_FALSE(cnxd_client[li].taken());
    forward(26, 1, {1});
    EXPECT_FALSE(cnxd_client[si].taken());
    const std::string refused = " Connection refused(" + std::to_string(ECONNREFUSED) + ")";
    for (const std::string& line :
         {"cnxd_srv_notify_hci : id=0 (id=0) retry to write retry_nr=0" + refused,
          "id=1 retry to writev retry_nr=0" + refused, std::string("[DEVICE] client 0 seems detached"),
          std::string("[DEVICE] client 1 seems detached")})
        EXPECT_TRUE(daemon.log_has(line)) << line;
}

// A sender lets the table lock go between the failed write and the
// release; a record handed to a new client meanwhile must stay that
// client's.
TEST_F(Delivery, AReleaseForAClientGoneSinceSparesTheRecordsNextClient)
{
    // The record as the table lock shows it: the loop's thread serves the
    // opens and closes.
    const auto record = [](int i) {
        std::lock_guard g(cnxd_client_lock);
        return std::tuple(cnxd_client[i].taken(), cnxd_client[i].generation, cnxd_client[i].identity);
    };
    int index = cnxd_index(open_session(3).get());
    const uint32_t gone = std::get<1>(record(index));
    EXPECT_TRUE(eventually([&] { return !std::get<0>(record(index)); }));
    Session next = open_session(4);
    ASSERT_EQ(index, cnxd_index(next.get())) << "the freed record is handed out again";
    cnxd_srv_release_gone(&cnxd_client[index], gone, SEND_MODE_FREE);
    EXPECT_EQ(std::tuple(true, gone + 1, 4u), record(index));
    cnxd_srv_release_gone(&cnxd_client[index], gone + 1, SEND_MODE_FREE);
    EXPECT_FALSE(std::get<0>(record(index)));
}

TEST_F(Delivery, StuckHoldsLogAndForwardingWhileApiRequestsComplete)
{
    Session s = open_session(0);
    cnxd_set_receive(s.get(), 1);
    cnxd_subscribe(s.get(), 26, 1);
    cnxd_stuck = 1;
    std::thread log_sender([] { cnxd_srv_send_log("held"); });
    std::thread forwarder([] { forward(26, 1, {}); });
    EXPECT_FALSE(recv_datagram(s.get(), 300)) << "nothing passes while stuck";
    int32_t result = -1;
    EXPECT_EQ(CNXD_OK, cnxd_api_request(s.get(), 0, 1, nullptr, 0, 3000, &result));
    EXPECT_EQ(0, result);
    cnxd_stuck = 0;
    EXPECT_TRUE(recv_datagram(s.get(), 5000)) << "both go out once released";
    EXPECT_TRUE(recv_datagram(s.get(), 5000));
    log_sender.join();
    forwarder.join();
}

// Without the API layer's handlers a request or command line is an unknown
// frame.
TEST(ServerFrames, AFrameWithoutAnInstalledHandlerIsLoggedAsUnknown)
{
    BareSysroot root;
    InprocServer server(cnxd_srv_handlers{});
    Session s = open_session(0);
    int32_t result = 0;
    EXPECT_EQ(CNXD_E_TIMEOUT, cnxd_api_request(s.get(), 0, 1, nullptr, 0, 300, &result));
    EXPECT_EQ(CNXD_OK, cnxd_send_command(s.get(), "help", 4));
    EXPECT_TRUE(eventually([] { return InprocServer::log_has("Unknown HCI (0x10a)"); }));
    EXPECT_TRUE(InprocServer::log_has("Unknown HCI (0x106)"));
}

}  // namespace
}  // namespace cnxd::test
