// The big-endian field helpers and the sysroot path helper.
#include <gtest/gtest.h>

#include <pthread.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "base/be.h"
#include "base/path.h"
#include "base/platform_call.h"
#include "base/shell.h"

namespace cnxd {
namespace {

TEST(BigEndian, RoundTripsAndReadsOnlyInsideTheBuffer)
{
    uint8_t buf[6] = {};
    store_be16(buf, 0x0106);
    store_be32(buf + 2, 0x8107A0B1);
    const uint8_t expect[6] = {0x01, 0x06, 0x81, 0x07, 0xA0, 0xB1};
    EXPECT_EQ(0, memcmp(buf, expect, sizeof buf));
    EXPECT_EQ(0x0106, load_be16(buf));
    EXPECT_EQ(0x8107A0B1u, load_be32(buf + 2));

    const std::span<const uint8_t> s(buf, 5);
    EXPECT_EQ(0x8107u, load_be16(s, 2));
    EXPECT_EQ(0u, load_be32(s, 2)) << "a field running past the received bytes reads as 0";
    EXPECT_EQ(0u, load_be16(s, 4));
}

// Paths may come from clients (log file names, for one): under a sysroot,
// climbing out of it with ".." must not work.
TEST(SysrootPath, DotDotNeverLeavesTheSysroot)
{
    setenv("CNXD_ROOT", "/tmp/root", 1);
    cnxd_reload_root();
    EXPECT_EQ("/tmp/root/var/tmp/x", cnxd_path("/var/tmp/x"));
    EXPECT_EQ("/tmp/root/etc/passwd", cnxd_path("/../../etc/passwd"));
    EXPECT_EQ("/tmp/root/var/log", cnxd_path("/var/tmp/../log"));
    EXPECT_EQ("relative/../x", cnxd_path("relative/../x"));
    EXPECT_EQ("/proc/self/status", cnxd_path("/proc/self/status")) << "read from the host";
    unsetenv("CNXD_ROOT");
    cnxd_reload_root();
    EXPECT_EQ("/var/tmp/../log", cnxd_path("/var/tmp/../log"));
}

// Under a sysroot, changing the system is only written down.
TEST(PlatformCalls, ASysrootRecordsTheClockInsteadOfSettingIt)
{
    const std::string root = testing::TempDir() + "cnxd_platform_root";
    std::filesystem::create_directories(root + "/var/log");
    setenv("CNXD_ROOT", root.c_str(), 1);
    cnxd_reload_root();
    const time_t before = time(nullptr);
    EXPECT_EQ(0, platform_set_clock(86400));
    EXPECT_EQ(0, platform_set_clock(1700000000));
    EXPECT_GE(time(nullptr), before) << "the host clock is untouched";
    std::ifstream in(root + "/var/log/platform-calls.log");
    std::string a, b;
    std::getline(in, a);
    std::getline(in, b);
    EXPECT_EQ("settimeofday 86400", a);
    EXPECT_EQ("settimeofday 1700000000", b);
    unsetenv("CNXD_ROOT");
    cnxd_reload_root();
    EXPECT_EQ("", platform_call_log());
    std::filesystem::remove_all(root);
}

// The command shell is a root shell: a host run keeps it on loopback.
TEST(CommandShellAddress, EveryAddressOnTheRouterLoopbackUnderASysroot)
{
    struct Case {
        const char* root;
        const char* addr;
        uint32_t expect;
        bool ok;
    };
    const Case cases[] = {
        {nullptr, nullptr, 0, true},
        {nullptr, "127.0.0.1", 0, true},  // the router ignores the variable
        {"/tmp/root", nullptr, 0x7F000001, true},
        {"/tmp/root", "", 0x7F000001, true},
        {"/tmp/root", "0.0.0.0", 0, true},
        {"/tmp/root", "192.168.7.1", 0xC0A80701, true},
        {"/tmp/root", "localhost", 0x7F000001, false},
        {"/tmp/root", "::1", 0x7F000001, false},
    };
    for (const Case& c : cases) {
        c.root ? setenv("CNXD_ROOT", c.root, 1) : unsetenv("CNXD_ROOT");
        c.addr ? setenv("CNXD_CMD_ADDR", c.addr, 1) : unsetenv("CNXD_CMD_ADDR");
        cnxd_reload_root();
        uint32_t addr = 1;
        EXPECT_EQ(c.ok, cnxd_cmd_addr(&addr)) << (c.root ? c.root : "-") << " " << (c.addr ? c.addr : "-");
        EXPECT_EQ(c.expect, addr) << (c.root ? c.root : "-") << " " << (c.addr ? c.addr : "-");
    }
    unsetenv("CNXD_ROOT");
    unsetenv("CNXD_CMD_ADDR");
    cnxd_reload_root();
}

// The daemon blocks its stop signals on every thread and ignores SIGPIPE;
// a program it starts must still be stopped by them.
TEST(ShellRunner, ChildrenStartWithNoSignalBlockedOrIgnored)
{
    const std::string out = testing::TempDir() + "cnxd_child_status";
    std::thread([&] {
        sigset_t block;
        sigemptyset(&block);
        for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGUSR1})
            sigaddset(&block, sig);
        pthread_sigmask(SIG_BLOCK, &block, nullptr);
        const auto old_pipe = std::signal(SIGPIPE, SIG_IGN);
        EXPECT_EQ(0, cnxd_system("grep -E '^Sig(Blk|Ign)' /proc/self/status > " + out));
        std::signal(SIGPIPE, old_pipe);
    }).join();
    std::ifstream in(cnxd_path(out));  // the runner puts the file under a sysroot
    std::string blk, ign;
    in >> blk >> blk >> ign >> ign;
    EXPECT_EQ("0000000000000000", blk);
    ASSERT_FALSE(ign.empty()) << "no status of the child in " << cnxd_path(out);
    const uint64_t ignored = std::stoull(ign, nullptr, 16);  // 64 bits also on a 32-bit target
    for (int sig : {SIGTERM, SIGHUP, SIGPIPE, SIGINT})
        EXPECT_EQ(0u, ignored & (uint64_t{1} << (sig - 1))) << "signal " << sig;
    std::remove(cnxd_path(out).c_str());
}

}  // namespace
}  // namespace cnxd
