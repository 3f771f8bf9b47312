// cnxd-cli against the daemon running in a sysroot.
#include <gtest/gtest.h>
#include <sys/shm.h>

#include <csignal>

#include "base/be.h"
#include "integration/harness.h"

namespace cnxd::test {
namespace {

// No shared block of any client index is left in the sysroot's key space.
bool no_ipc_left(const Sysroot& root)
{
    for (int i = 0; i < 15; ++i)
        if (shmget(root.ipc_key(i), 0, 0) >= 0)
            return false;
    return true;
}

class CliAgainstDaemon : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(daemon.start()); }
    // A clean stop: the daemon removes the IPC objects of clients still there.
    void TearDown() override { EXPECT_EQ(0, daemon.stop(SIGTERM)); }
    Sysroot root;
    Daemon daemon{root};
};

TEST_F(CliAgainstDaemon, ApiPrintsTheResultAndTheAnswerArea)
{
    Cli init(root, {"api", "0", "1"});
    EXPECT_EQ(0, init.wait());
    EXPECT_EQ("result 0\nanswer at 1520, 1 bytes:\n00\n", init.out()) << init.err();

    Cli unknown(root, {"api", "8", "1", "01:02"});
    EXPECT_EQ(0, unknown.wait()) << "an unknown command completes too";
    EXPECT_EQ("result 0\n", unknown.out());

    Cli bad(root, {"api", "0", "1", "abc"});
    EXPECT_EQ(2, bad.wait()) << "odd hex";
    EXPECT_TRUE(eventually([&] { return no_ipc_left(root); }));
}

TEST_F(CliAgainstDaemon, ClientsPrintsTheTableWithItsOwnSession)
{
    RawClient other(root, "other");
    ASSERT_EQ(0, other.open({{0x4242, 99}}));
    Cli clients(root, {"-t", "500", "clients"});
    EXPECT_EQ(0, clients.wait());
    const std::string out = clients.out();
    EXPECT_NE(std::string::npos, out.find("client->idx [0], id [0]\nclient->identity [0x00004242]\nclient->pid [99]\n"))
        << out;
    EXPECT_NE(std::string::npos, out.find("client->idx [1], id [1]")) << "the tool's own session";
    EXPECT_NE(std::string::npos, out.find("client->idx [14], id [255]")) << out;
}

TEST_F(CliAgainstDaemon, LogAndEventsPrintWhatTheDaemonDelivers)
{
    // One after the other, each with its words set in its shared block
    // before anything is relayed: log takes index 0 and sets its receive
    // word, events takes index 1 and sets the word of event 26 (word 5).
    auto shm_word_set = [&](int index, size_t word) {
        const int id = shmget(root.ipc_key(index), 0, 0);
        if (id < 0)
            return false;
        void* p = shmat(id, nullptr, SHM_RDONLY);
        if (p == reinterpret_cast<void*>(-1))
            return false;
        const bool set = load_be32(static_cast<const uint8_t*>(p) + 4 * word) != 0;
        shmdt(p);
        return set;
    };
    Cli log(root, {"log"});
    ASSERT_TRUE(eventually([&] { return shm_word_set(0, 0); }));
    Cli events(root, {"events", "26"});
    ASSERT_TRUE(eventually([&] { return shm_word_set(1, 5); }));
    RawClient peer(root, "peer");
    ASSERT_EQ(2, peer.open({{5, 77}}));

    // The peer has the daemon relay frames to every other identity.
    auto relay = [&](const Bytes& inner) {
        Bytes payload(5 + inner.size());
        payload[4] = 1;  // target identity 0, broadcast
        std::copy(inner.begin(), inner.end(), payload.begin() + 5);
        ASSERT_TRUE(peer.send(hci_frame(0x0105, payload)));
    };
    const std::string text = "hello from relay\n";
    relay(hci_frame(0x810B, Bytes(text.begin(), text.end())));
    relay(hci_frame(0x8107, {
                                0x00, 0x1a, 0x00, 0x08,  // event 26, data length 8
                                0x00, 0x00, 0x00, 0x01,  // device index 1
                                0xde, 0xad, 0xbe, 0xef,
                            }));

    // The simulated modem's bring-up text may come first.
    EXPECT_TRUE(eventually([&] { return log.out().find(text) != std::string::npos; })) << log.out();
    EXPECT_TRUE(eventually([&] { return events.out() == "event 26 dev 1 len 8: 00 00 00 01 de ad be ef\n"; }))
        << events.out();
    EXPECT_EQ(0, log.interrupt());
    EXPECT_EQ(0, events.interrupt());
    EXPECT_TRUE(eventually([&] { return daemon.count_in_log("request disconnection") == 2; }));
}

TEST(CliWithoutDaemon, SaysSoAndFails)
{
    Sysroot root;
    Cli cli(root, {"log"});
    EXPECT_EQ(1, cli.wait());
    EXPECT_NE(std::string::npos, cli.err().find("the daemon is not running")) << cli.err();
    Cli help(root, {"--help"});
    EXPECT_EQ(0, help.wait());
    EXPECT_NE(std::string::npos, help.out().find("api ID DEV [HEX]"));
    Cli unknown(root, {"frobnicate"});
    EXPECT_EQ(2, unknown.wait());
}

}  // namespace
}  // namespace cnxd::test
