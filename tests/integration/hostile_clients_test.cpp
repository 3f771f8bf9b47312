// Clients that leave at the worst moment, end to end with raw clients: one
// that exits while the daemon's walk over the client sockets is about to
// reach it, one that exits while its API request is being served, and many
// processes throwing random frames, closes and exits at a running daemon.
// After each the daemon serves a new session and stops at SIGTERM, cleanly
// and at once.
#include <gtest/gtest.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>

#include "base/be.h"
#include "integration/harness.h"

namespace cnxd::test {
namespace {

constexpr uint16_t kClose = 0x0102;
constexpr uint16_t kKeepAliveRsp = 0x8108;
constexpr uint16_t kAirplaneChange = 166;  // logs twice to identity-0 clients, on the main thread
// An SDK callback the daemon forwards (event 177, 8 bytes after the index).
const std::string kInjectIndication = "inject 75 1 0102030405060708";

class HostileClients : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(daemon.start()); }

    long open_fds() const
    {
        return std::ranges::distance(
            std::filesystem::directory_iterator("/proc/" + std::to_string(daemon.pid()) + "/fd"));
    }

    static std::string tail(const std::string& log) { return log.substr(log.size() > 4000 ? log.size() - 4000 : 0); }

    // A new session is served, and SIGTERM stops the daemon with status 0
    // within a few seconds (the random clients' device resets leave online
    // request threads to end, slow under ThreadSanitizer).
    void expect_served_then_clean_stop()
    {
        ASSERT_TRUE(daemon.running()) << "the daemon died";
        {
            RawClient fresh(root, "fresh");
            ASSERT_TRUE(fresh.open()) << "no answer to a new session";
            EXPECT_EQ(0, fresh.api_request(8, 1, {})) << "the new session's request";
            ASSERT_TRUE(fresh.send(hci_frame(kClose, {})));
            EXPECT_TRUE(eventually([&] { return shmget(fresh.ipc_key(), 0, 0) < 0; }));
        }
        EXPECT_EQ(0, daemon.stop(SIGTERM, 3s)) << tail(daemon.log());
    }

    Sysroot root;
    Daemon daemon{root};
};

// The walk over the client sockets serves B, whose request logs twice to
// the clients of identity 0; A, the record after B, has exited, so the
// second log finds it gone and releases it in the middle of the walk.
TEST_F(HostileClients, AClientReleasedInTheMiddleOfTheSocketWalk)
{
    RawClient b(root, "b");
    ASSERT_EQ(0, b.open({{0x55, 1}}));
    {
        RawClient a(root, "a");
        ASSERT_EQ(1, a.open({{0, 2}}));
        a.set_word(0, 1);  // gets the log frames
    }  // A exits without a close request: its socket file is gone.

    EXPECT_EQ(0, b.api_request(kAirplaneChange, 1, {1}));
    EXPECT_TRUE(daemon.wait_for_log("[DEVICE] client 1 seems detached"));
    expect_served_then_clean_stop();
}

// A holds its busy semaphore, so its request waits in the daemon, and
// exits; an indication forwarded to it on the SDK's callback thread then
// finds it gone and releases it while the request is still being served.
TEST_F(HostileClients, AClientReleasedWhileItsRequestIsServed)
{
    LtesimClient sim(root);
    ASSERT_TRUE(sim.wait_online());
    {
        RawClient a(root, "a");
        ASSERT_EQ(0, a.open({{0x77, 3}}));
        a.subscribe_all();
        const int semid = semget(a.ipc_key(), 0, 0);
        ASSERT_EQ(0, semctl(semid, 0, SETVAL, 1));  // semaphore 0: busy
        ASSERT_TRUE(a.send(api_frame(2, 1, {})));   // boot image type, into the shared block
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_EQ("ok", sim.command(kInjectIndication));  // the peer refuses: released
    EXPECT_TRUE(daemon.wait_for_log("[DEVICE] client 0 seems detached"));
    EXPECT_TRUE(daemon.wait_for_log("ready_sem, semop() failed"));
    expect_served_then_clean_stop();
}

// ---- Random clients ----------------------------------------------------------

// One client process: opens, takes every frame it may get, throws random
// frames and leaves in a random way. It never sends command lines (those
// reach the shell).
[[noreturn]] void random_client(const Sysroot& root, int serial, unsigned seed)
{
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto c = std::make_unique<RawClient>(root, "r" + std::to_string(serial));
    // It waits for its answer however long the daemon is held up (by
    // clients with full sockets): a client that gave up after its answer was
    // sent would leave its record to the keep-alive, which is off here.
    const auto index = c->open({{static_cast<uint32_t>(pick(3)), static_cast<uint32_t>(getpid())}}, 60s);
    if (!index || *index == 0xFF)
        _exit(0);
    c->set_word(0, 1);
    c->subscribe_all();
    // Commands that touch nothing outside the daemon: the init flag,
    // unknown ids, answer reads, the lease check, a change notification.
    static constexpr uint16_t cmds[] = {0, 8, 2, 3, 5, 19, kAirplaneChange, 900};
    for (int n = pick(12); n > 0; --n) {
        if (pick(2))
            while (c->recv(0ms)) {
            }
        Bytes noise(static_cast<size_t>(pick(40)));
        for (auto& v : noise)
            v = static_cast<uint8_t>(rng());
        switch (pick(6)) {
        case 0:
            c->api_request(cmds[pick(std::size(cmds))], 1, noise, 2s);
            break;
        case 1:
            c->send(api_frame(cmds[pick(std::size(cmds))], 1, noise));  // and do not wait
            break;
        case 2:
            c->send(relay_frame(static_cast<uint32_t>(pick(3)), pick(2), hci_frame(0x0402, noise)));
            break;
        case 3:
            c->send(hci_frame(kKeepAliveRsp, {}));
            break;
        case 4: {
            // A frame of another id, whole or cut short (never a command line).
            Bytes f = hci_frame(static_cast<uint16_t>(0x0200 + pick(0x100)), noise);
            f.resize(static_cast<size_t>(pick(static_cast<int>(f.size()) + 1)));
            c->send(f);
            break;
        }
        default:
            std::this_thread::sleep_for(std::chrono::milliseconds(pick(50)));
        }
    }
    switch (pick(4)) {
    case 0:
        c->send(hci_frame(kClose, {}));
        break;
    case 1:
        c->send({});  // a zero-length datagram
        break;
    case 2:
        c->send(api_frame(cmds[pick(std::size(cmds))], 1, {}));  // gone before the answer
        break;
    default:
        break;  // gone without a word
    }
    c.reset();
    _exit(0);
}

TEST_F(HostileClients, RandomFramesClosesAndExitsFromManyProcesses)
{
    const char* given = std::getenv("CNXD_STRESS_SEED");
    const unsigned seed = given ? static_cast<unsigned>(std::strtoul(given, nullptr, 0)) : std::random_device{}();
    std::printf("random clients: seed %u (set CNXD_STRESS_SEED to repeat)\n", seed);
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 rng(seed);

    LtesimClient sim(root);  // the daemon serves it with a descriptor of its own
    ASSERT_TRUE(sim.wait_online());
    const long fds_at_start = open_fds();
    constexpr int kAtOnce = 8;
    const auto end = std::chrono::steady_clock::now() + 12s;
    std::vector<pid_t> running;
    int serial = 0;
    while (std::chrono::steady_clock::now() < end) {
        while (running.size() < kAtOnce) {
            const unsigned child_seed = static_cast<unsigned>(rng());
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0)
                random_client(root, serial, child_seed);
            running.push_back(pid);
            ++serial;
        }
        // Indications on the SDK's thread find the clients that left
        // without a word.
        sim.command(kInjectIndication);
        std::this_thread::sleep_for(50ms);
        std::erase_if(running, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == pid; });
    }
    for (const pid_t pid : running)
        EXPECT_EQ(0, wait_child(pid, 70s)) << "a client process hung";
    std::printf("random clients: %d processes\n", serial);

    // One more send finds every client that is left gone.
    ASSERT_TRUE(daemon.running());
    ASSERT_EQ("ok", sim.command(kInjectIndication));
    sim.command("sync");
    for (int i = 0; i < 15; ++i) {
        EXPECT_TRUE(eventually([&] { return shmget(root.ipc_key(i), 0, 0) < 0; }, 10s))
            << "shared block of index " << i << " left over";
        EXPECT_LT(semget(root.ipc_key(i), 0, 0), 0) << "semaphore set of index " << i << " left over";
    }
    {
        RawClient fresh(root, "fresh");
        ASSERT_TRUE(fresh.open());
        ASSERT_TRUE(fresh.send(hci_frame(kClose, {})));
    }
    EXPECT_TRUE(eventually([&] { return open_fds() == fds_at_start; }))
        << open_fds() << " descriptors, " << fds_at_start << " at start";
    expect_served_then_clean_stop();
}

}  // namespace
}  // namespace cnxd::test
