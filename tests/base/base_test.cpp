// The sysroot helpers that keep a host run off the host, and the child
// processes the daemon starts.
#include <gtest/gtest.h>

#include <pthread.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "base/path.h"
#include "base/shell.h"

namespace cnxd {
namespace {

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
