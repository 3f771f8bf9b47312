// The client keep-alive end to end: probes, answers, and the reboot that a
// silent client brings about (through the sysroot's stub reboot).
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "base/be.h"
#include "integration/harness.h"

namespace cnxd::test {
namespace {

TEST(KeepAlive, ASilentClientRebootsTheRouterAndAnAnsweringOneDoesNot)
{
    Sysroot root;
    for (const char* setting : {"ENABLE 1", "interval_time 1", "max_retry 2"})
        ASSERT_TRUE(root.confdb_set(std::string("config wan lte cnxdkeepalive ") + setting));
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start());
    EXPECT_TRUE(daemon.wait_for_log("start keep-alive"));

    RawClient answering(root, "answering");
    RawClient silent(root, "silent");
    ASSERT_EQ(0, answering.open({{0x11, 1}}));
    ASSERT_EQ(1, silent.open({{0x22, 2}}));

    std::atomic<bool> done{false};
    std::atomic<int> probes{0};
    std::thread answerer([&] {
        while (!done) {
            const auto f = answering.recv(100ms);
            if (f && f->size() == 8 && load_be16(f->data()) == 0x0107 && load_be16(f->data() + 2) == 0) {
                ++probes;
                answering.send(hci_frame(0x8108, {}));
            }
        }
    });
    // First pass 5 s after start, then every second: counts 1, 2, then the
    // pass that finds 2 reboots.
    EXPECT_TRUE(daemon.wait_for_log("Reboot System !!!", 20s));
    done = true;
    answerer.join();

    EXPECT_GE(probes.load(), 2) << "the answering client was probed each pass";
    EXPECT_EQ(0, daemon.count_in_log("cnxd client(0,")) << daemon.log();
    EXPECT_GE(daemon.count_in_log("cnxd client(1,0x00000022) didn't response keep_alive (2)"), 1);
    EXPECT_TRUE(eventually([&] { return root.read_file("/var/log/platform-calls.log").find("reboot") != std::string::npos; }));
    EXPECT_TRUE(daemon.running()) << "the daemon waits for the system to stop it";
    EXPECT_EQ(0, daemon.stop(SIGTERM));
}

TEST(KeepAlive, OffByDefault)
{
    Sysroot root;
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start());
    RawClient c(root, "c");
    ASSERT_EQ(0, c.open());
    EXPECT_FALSE(c.recv(6s)) << "no probe without the setting";
    EXPECT_EQ(0, daemon.count_in_log("start keep-alive"));
    EXPECT_EQ(0, daemon.stop(SIGTERM));
}

}  // namespace
}  // namespace cnxd::test
