// Client sessions end to end: the handshake, the table of 15, the IPC
// objects of each client, release on every way out, hostile input, and the
// sessions as the state socket shows them through cnxd-cli.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/sem.h>
#include <sys/shm.h>

#include <csignal>
#include <memory>
#include <thread>

#include "integration/harness.h"
#include "server/hci.h"

namespace cnxd::test {
namespace {

constexpr uint16_t kOpen = 0x0100;
constexpr uint16_t kClose = 0x0102;
constexpr uint16_t kRelay = 0x0105;
constexpr uint16_t kRequest = 0x0106;
constexpr uint16_t EMM_STATUS_EVENT = 115;

class Sessions : public ::testing::Test {
protected:
    // In an IPC namespace of its own where the test may make one (as root),
    // the first shared block and semaphore set get id 0.
    void SetUp() override
    {
        (void)unshare(CLONE_NEWIPC);
        ASSERT_TRUE(daemon.start());
    }
    void TearDown() override
    {
        clients.clear();
        EXPECT_EQ(0, daemon.stop(SIGTERM));
        EXPECT_EQ("", leftovers(root)) << "nothing of the clients survives the daemon";
    }

    RawClient& add_client()
    {
        return *clients.emplace_back(std::make_unique<RawClient>(root, "c" + std::to_string(clients.size())));
    }

    Sysroot root;
    Daemon daemon{root};
    std::vector<std::unique_ptr<RawClient>> clients;
};

TEST_F(Sessions, FifteenClientsGetIndexesAndTheirOwnIpcObjects)
{
    for (int i = 0; i < 15; ++i) {
        RawClient& c = add_client();
        ASSERT_EQ(i, c.open({{0x100 + i, 4000 + i}}));
        shmid_ds ds{};
        ASSERT_EQ(0, shmctl(shmget(c.ipc_key(), 0, 0), IPC_STAT, &ds));
        EXPECT_EQ(41172u, ds.shm_segsz);
        EXPECT_EQ(0666u, ds.shm_perm.mode & 0777);
        const int semid = semget(c.ipc_key(), 0, 0);
        semid_ds sds{};
        ASSERT_EQ(0, semctl(semid, 0, IPC_STAT, &sds));
        EXPECT_EQ(2u, sds.sem_nsems);
        EXPECT_EQ(0, semctl(semid, 0, GETVAL) + semctl(semid, 1, GETVAL));
    }
    RawClient& sixteenth = add_client();
    EXPECT_EQ(0xFF, sixteenth.open());
    EXPECT_TRUE(daemon.wait_for_log("[SERVER] fails serving connection request"));
    EXPECT_EQ(0, daemon.count_in_log("debug code cnxd_srv_alloc_client -1")) << "no index, no index line";
    EXPECT_TRUE(daemon.running());
    clients[4].reset();  // an API-only client ends without a close request
    EXPECT_EQ(4, add_client().open()) << "a full table frees the records of peers gone";
    EXPECT_EQ(0xFF, add_client().open());
}

TEST_F(Sessions, EveryWayOutReleasesTheSlotSocketAndIpcObjects)
{
    const long fds_before = daemon.open_fds();
    for (const Bytes& way : {hci_frame(kClose, {}), Bytes{}}) {  // a close request, a zero-length datagram
        SCOPED_TRACE(hex(way));
        RawClient& c = add_client();
        ASSERT_EQ(0, c.open());
        const int old_shm = shmget(c.ipc_key(), 0, 0);
        const int old_sem = semget(c.ipc_key(), 0, 0);
        ASSERT_GE(old_shm, 0);
        // The bring-up's store reads open descriptors of their own for a
        // moment: the client's socket is the one that stays.
        EXPECT_TRUE(eventually([&] { return daemon.open_fds() == fds_before + 1; }));
        ASSERT_TRUE(c.send(way));
        EXPECT_TRUE(eventually([&] { return client_leftovers(root).empty() && daemon.open_fds() == fds_before; }))
            << client_leftovers(root);
        RawClient& next = add_client();
        ASSERT_EQ(0, next.open()) << "the index is free again";
        EXPECT_NE(old_shm, shmget(next.ipc_key(), 0, 0)) << "a fresh shared block";
        EXPECT_NE(old_sem, semget(next.ipc_key(), 0, 0)) << "a fresh semaphore set";
        ASSERT_TRUE(next.send(hci_frame(kClose, {})));
        EXPECT_TRUE(eventually([&] { return client_leftovers(root).empty(); }));
    }
}

TEST_F(Sessions, StaleIpcObjectsMakeOnlyTheirIndexesFail)
{
    // What a killed daemon would leave behind: a shared block at index 2 and
    // a semaphore set at index 4, made first (so of id 0 in a namespace of
    // the test's own).
    const int stale = shmget(root.ipc_key(2), 64, 0666 | IPC_CREAT | IPC_EXCL);
    ASSERT_GE(stale, 0);
    const int stale_sem = semget(root.ipc_key(4), 2, 0666 | IPC_CREAT | IPC_EXCL);
    ASSERT_GE(stale_sem, 0);
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(i, add_client().open());

    EXPECT_EQ(2, add_client().open()) << "the failure answer names the index tried";
    EXPECT_TRUE(daemon.wait_for_log("Cannot create shm client2 key"));
    EXPECT_LT(semget(root.ipc_key(2), 0, 0), 0) << "no semaphore set made for the failed index";
    EXPECT_EQ(3, add_client().open()) << "later clients get other indexes";
    EXPECT_EQ(4, add_client().open());
    EXPECT_TRUE(daemon.wait_for_log("Cannot create sem client4 key"));
    EXPECT_EQ(5, add_client().open());

    shmctl(stale, IPC_RMID, nullptr);
    semctl(stale_sem, 0, IPC_RMID);
    RawClient& back = add_client();
    EXPECT_EQ(2, back.open()) << "the index works again once the stale block is gone";
    EXPECT_GE(shmget(back.ipc_key(), 0, 0), 0);
}

TEST_F(Sessions, RelayReachesTheFirstOfAnIdentityOrEveryOtherIdentity)
{
    // Identities 5 (the sender), 7, 7, 9, 5.
    const uint32_t identities[] = {5, 7, 7, 9, 5};
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(i, add_client().open({{identities[i], 0}}));
        clients.back()->set_word(0, 1);
    }
    RawClient &sender = *clients[0], &a7 = *clients[1], &b7 = *clients[2], &c9 = *clients[3], &same = *clients[4];

    const Bytes inner = hci_frame(0x0402, {0, 0, 0, 0, 0, 20, 0, 1, 3});
    ASSERT_TRUE(sender.send(relay_frame(7, false, inner)));
    EXPECT_EQ(inner, a7.recv());
    EXPECT_FALSE(b7.recv(300ms)) << "only the lower index of identity 7";

    ASSERT_TRUE(sender.send(relay_frame(0, true, inner)));
    EXPECT_EQ(inner, a7.recv());
    EXPECT_EQ(inner, b7.recv());
    EXPECT_EQ(inner, c9.recv());
    EXPECT_FALSE(same.recv(300ms)) << "broadcast skips the sender's own identity";
    EXPECT_FALSE(sender.recv(100ms));

    clients[1].reset();  // a7 ends without a close request
    ASSERT_TRUE(sender.send(relay_frame(7, false, inner)));
    EXPECT_EQ(inner, b7.recv()) << "a first client of identity 7 found gone passes the frame on";
}

TEST_F(Sessions, MalformedInputNeverCrashesOrHangsTheDaemon)
{
    RawClient& stranger = add_client();
    // On the server socket: too short, wrong id, a length beyond the datagram.
    EXPECT_TRUE(stranger.send_to_server({0x01}));
    EXPECT_TRUE(stranger.send_to_server(hci_frame(kRequest, {1, 2, 3})));
    EXPECT_TRUE(stranger.send_to_server({0x01, 0x00, 0x00, 0x08, 0xAA}));  // open, length 8, 1 byte
    EXPECT_TRUE(daemon.wait_for_log("Not a SDK API OPEN request"));

    RawClient& c = add_client();
    ASSERT_EQ(1, c.open()) << "index 0 went to the truncated open request";
    const std::vector<Bytes> junk = {
        {0x01},                                        // shorter than a header
        {0x01, 0x06, 0xFF, 0xFF},                      // request, length 65535, no payload
        hci_frame(kRequest, {0x00}),                   // request cut inside its command id
        hci_frame(kRelay, {0, 0, 0, 7}),               // relay without flag and frame
        {0x01, 0x05, 0x00, 0x40, 0, 0, 0, 7, 1, 0x81}, // relay whose inner frame is cut
        hci_frame(0x7777, {1, 2, 3}),                  // unknown id
        Bytes(4096, 0xA5),              // a full datagram of noise
    };
    for (const auto& d : junk)
        ASSERT_TRUE(c.send(d));
    EXPECT_TRUE(daemon.wait_for_log("Unknown HCI (0x7777)"));
    EXPECT_EQ(0, c.api_request(8, 1, {})) << "the client is still served";

    // A flood of open requests from one address that never reads its
    // answers: the table fills, and the daemon does not wait for the reader.
    RawClient& flood = add_client();
    for (int i = 0; i < 200; ++i)
        flood.send_to_server(hci_frame(kOpen, {}));
    RawClient& late = add_client();
    EXPECT_EQ(0xFF, late.open());
    EXPECT_TRUE(daemon.running());
    int answers = 0;
    while (flood.recv(300ms))
        ++answers;
    EXPECT_GE(answers, 1) << "as many answers as its socket could queue";
    EXPECT_LE(answers, 200);
}

TEST_F(Sessions, ShowsEachClientAndDeviceAsJsonAndAsTablesAndARequestInFlight)
{
    LtesimClient sim(root);
    ASSERT_TRUE(sim.wait_online());
    RawClient& client = add_client();
    ASSERT_TRUE(client.open({{0x42, 99}}));
    client.set_word(0, 1);
    client.set_word(subscription_word(EMM_STATUS_EVENT), 1);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(client.api_request(3, 1, {}));

    Cli json(root, {"inspect", "--json"});
    ASSERT_EQ(json.wait(), 0) << json.err();
    const std::string doc = json.out();
    for (const char* member :
         {"\"identity\":66,\"pid\":99,\"events\":[\"NAS EMM STATUS INDICATION\"],\"log\":true,\"served\":3,"
          "\"in_flight\":null",
          "\"devices\":[{\"index\":1,\"init_complete\":", "\"watchdog\":{", "\"dhcp\":[]"})
        EXPECT_NE(doc.find(member), std::string::npos) << member << " not in " << doc;

    Cli tables(root, {"inspect"});
    ASSERT_EQ(tables.wait(), 0) << tables.err();
    const std::string out = tables.out();
    for (const char* text : {"Clients", "66", "NAS EMM STATUS INDICATION", "Devices", "Watchdog", "DHCP"})
        EXPECT_NE(out.find(text), std::string::npos) << text << " not in " << out;

    // A request the modem is slow to answer shows as in flight, by name
    // and age, in a document that a JSON parser takes.
    ASSERT_EQ("ok", sim.command("set call_delay_ms 1500"));
    std::thread request([&] { EXPECT_TRUE(client.api_request(3, 1, {})); });
    std::string live;
    EXPECT_TRUE(eventually([&] {
        Cli now(root, {"inspect", "--json"});
        live = now.wait() == 0 ? now.out() : "";
        return live.find("\"in_flight\":{\"command\":3,") != std::string::npos;
    })) << live;
    request.join();
    // Its time is the slowest of the four the client was served in.
    Cli after(root, {"inspect", "--json"});
    ASSERT_EQ(after.wait(), 0);
    const std::string served = after.out();
    const std::string key = "\"p99_us\":";
    const size_t p99 = served.find(key);
    ASSERT_NE(p99, std::string::npos) << served;
    EXPECT_GE(std::stol(served.substr(p99 + key.size())), 1'400'000) << served;
    root.write_file("/var/tmp/state.json", live);
    const std::string check =
        "python3 -c 'import json,sys; json.load(open(sys.argv[1]))' " + root.path("/var/tmp/state.json");
    EXPECT_EQ(0, std::system(check.c_str())) << live;
}

}  // namespace
}  // namespace cnxd::test
