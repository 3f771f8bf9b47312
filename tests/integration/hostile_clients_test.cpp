// Many client processes throwing random frames, closes and exits at a
// running daemon; after them the daemon has released every one, serves a
// new session and stops at SIGTERM, cleanly and at once. (Clients that leave
// at the worst single moments are rows of the stop table.)
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

TEST(HostileClients, RandomFramesClosesAndExitsFromManyProcesses)
{
    const char* given = std::getenv("CNXD_STRESS_SEED");
    const unsigned seed = given ? static_cast<unsigned>(std::strtoul(given, nullptr, 0)) : std::random_device{}();
    std::printf("random clients: seed %u (set CNXD_STRESS_SEED to repeat)\n", seed);
    ::testing::Test::RecordProperty("seed", std::to_string(seed));
    std::mt19937 rng(seed);
    Sysroot root;
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start());
    LtesimClient sim(root);  // the daemon serves it with a descriptor of its own
    ASSERT_TRUE(sim.wait_online());
    const long fds_at_start = daemon.open_fds();
    constexpr size_t kAtOnce = 8;
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
    ASSERT_TRUE(daemon.running()) << "the daemon died";
    ASSERT_EQ("ok", sim.command(kInjectIndication));
    sim.command("sync");
    for (int i = 0; i < 15; ++i)
        EXPECT_TRUE(eventually([&] { return shmget(root.ipc_key(i), 0, 0) < 0 && semget(root.ipc_key(i), 0, 0) < 0; }, 10s))
            << "IPC objects of index " << i << " left over";
    EXPECT_TRUE(serves_a_session(root));
    EXPECT_TRUE(eventually([&] { return daemon.open_fds() == fds_at_start; }))
        << daemon.open_fds() << " descriptors, " << fds_at_start << " at start";
    // Within a few seconds: the clients' device resets leave online request
    // threads to end, slow under ThreadSanitizer.
    EXPECT_EQ(0, daemon.stop(SIGTERM, 3s));
    EXPECT_EQ("", leftovers(root));
}

}  // namespace
}  // namespace cnxd::test
