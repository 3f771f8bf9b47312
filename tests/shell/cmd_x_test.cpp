// The diagnostics tool "x" in the test's sysroot: what each sub-command
// prints, the flash test on the sysroot's file-backed partition (and that
// no tool writes a host device), the checksum against sha256sum, the
// runner's order, modem pieces and bounds, and the serial test against a
// pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/mount.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gmock/gmock.h>

#include "base/fd.h"
#include "nv.h"
#include "shell/cmd_x.h"
#include "shell/shell_fixture.h"

namespace cnxd::test {
namespace {

class XTool : public ShellTest {
protected:
    XTool() { x_run_open(); }
    ~XTool() override
    {
        x_run_close();
        x_malloc_release();
        nv_set_log_mask(0);
    }

    // What the line printed on standard output (runs included: it waits
    // until every runner has ended).
    std::string x(const std::string& line)
    {
        testing::internal::CaptureStdout();
        dispatch(line);
        EXPECT_TRUE(eventually([] { return x_run_active() == 0; }, 20s));
        return testing::internal::GetCapturedStdout();
    }

    // A stub program in the sysroot's bin that logs its name like the
    // platform stubs.
    void stub(const std::string& name)
    {
        const std::string path = root_.path("/bin/" + name);
        std::ofstream(path) << "#!/bin/sh\necho \"" << name << " $*\" >> " << root_.path("/var/log/platform-calls.log")
                            << "\n";
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }

    std::string file_bytes(const std::string& target, size_t at, size_t len)
    {
        return root_.read(target).substr(at, len);
    }
};

TEST_F(XTool, EachSubCommandPrints)
{
    const struct {
        const char* line;
        const char* printed;  // a part of what it printed
    } cases[] = {
        {"x", "there is not command name\ncmd_x: argc=1\n  argv[0]=x\n"},
        {"x frob 1", "not fount command: x frob\n"},
        {"x test", "x_test\n"},
        {"x var gw1 1", "lte_gateway_1=1\n"},
        {"x var vifaddr -5", "ipv4_vif_addr=-5\n"},
        {"x var noradvdapn 0x10", "ipv6_no_radvd_apn=0x00000010\n"},
        {"x var frob", "ipv6_addr_chk=0\nipv6_dns_addr_chk=0\nipv6_no_radvd_apn=0x00000010\nlte_gateway_1=1\n"
                       "lte_subnet_class_c=0\nipv4_vif_addr=-5\n"},
        {"x sha256", "no given file path\n"},
        {"x malloc 0x80000 3 1", "malloc: size=524288 cnt=3 mset=1\n"},
        {"x malloc 0x80000 3 1", "] malloc(524288)=0x"},
        {"x malloc", "malloc: size=1024 cnt=1 mset=0\ndone\n"},
        {"x malloc 0x2000000 3", "[1] malloc(33554432) fail\ndone\n"},  // 64 MiB kept at most on a host
        {"x malloc 0 0xffffffff", "] malloc(0) fail\ndone\n"},
        {"x nvl 0x3", "nv log mask: 0x00000003\n"},
        {"x nv", "not supported option\n"},
        {"x nv cmnf", "/var/tmp/cmnnvr.bin\n"},  // the ls line, the path under the sysroot
        {"x mem vm", "Option:\n  vm: show memory value\n  wm: write value to memory\n"},
        {"x mem wm 0x102 0x11223344", "0x00000100: 00000000->11223344\n"},  // word-aligned
        {"x mem vm 0x100", "0x00000100: 11223344\n"},
        {"x mem vm 0x100 6", "0x00000100: 11223344 00000000\n"},  // 6 bytes: two words
        {"x mem wm 0x200 1 2 3 4 5", "0x00000200: 00000001 00000002 00000003 00000004\n0x00000210: 00000005\n"},
        {"x mem vm 0xfffc 8", "0x0000fffc+8: outside /dev/mem\n"},  // the stand-in is 64 KiB
        {"x crash", "x crash: refused under a host sysroot"},
        {"x assert", "x assert: refused under a host sysroot"},
        {"x while", "x while: refused under a host sysroot"},
        {"x unaligned", "x unaligned: refused under a host sysroot"},
        {"x mtdt", "mtd3: 00080000 00010000 \"cnxd-test\"\n"},  // the usage shows the list
        {"x mtdt mtd3 0 0 1 0", "test_count should not be 0\n"},
        {"x mtdt mtd3 0 0 0 1", "block_nr should not be 0\n"},
        {"x mtdt mtd3 2 0 1 1", "not supported op=2\n"},
        {"x mtdt mtd9 0 0 1 1", "mtd9 is not in /proc/mtd\n"},
        {"x mtdt mtd3 0 7 2 1", "block 7+2 is beyond the 8 blocks of mtd3\n"},
        {"x mtdt mtd3 1 0 2 2 0x0305", "[2/2] mtd3 op=1 ret=0\nmtd3 DONE ret=0\n"},
        {"x mtdt mtd3 0 0 8 2", "mtd3 DONE ret=0\n"},
        {"x mtdt mtd3 0 2 2 1 0x9", "mtd3 DONE ret=0\n"},
        {"x nvt 0 2 0 64 3 1", "nvt DONE ret=0\n"},
        {"x nvt 1 2 0 64 3", "nvt DONE ret=0\n"},
        {"x nvt 2 2 0 64 2 4", "[2/2] nvt op=2 ret=0\nnvt DONE ret=0\n"},
        {"x nvt 1 9 0 64 1", "[0] nv_read(9, 0, 64)=-1 fail\nnvt DONE ret=-1\n"},
        {"x nvt 3 2 0 64 1", "not supported op=3\n"},
        {"x nvt 0 2 0 0 1", "size should be 1~65536\n"},
        {"x tty /dev/ttyNONE 115200", "tty open(/dev/ttyNONE) fail No such file or directory(2)\n"},
        {"x tty /dev/ttyNONE 12345", "##ERROR## Unknown baudrate type (12345)\n"},
        {"x tty /dev/ttyNONE", "usage: x tty [device] [baudrate]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_THAT(x(c.line), testing::HasSubstr(c.printed));
    }
    EXPECT_EQ(1u, lte_gateway_1);
    EXPECT_EQ(-5, ipv4_vif_addr);
    EXPECT_GE(x_malloc_release(), 8u) << "every block kept, none freed";
    lte_gateway_1 = 0;
    ipv4_vif_addr = 0;
    ipv6_no_radvd_apn = 0;
}

TEST_F(XTool, FlashTestSkipsOrStopsAtABadBlockAndWritesOnlyTheSysroot)
{
    root_.write("/dev/mtd3.bad", "0x10000\n");  // block 1
    const std::string out = x("x mtdt mtd3 1 0 3 1");
    EXPECT_THAT(out, testing::HasSubstr("block 1 (0x00010000) is bad\nmtd3 DONE ret=0\n"));
    // The counting pattern starts at loop + block; the bad block is left
    // erased.
    EXPECT_EQ(std::string("\x00\x01\x02", 3), file_bytes("/dev/mtd3", 0, 3));
    EXPECT_EQ(std::string(3, '\xff'), file_bytes("/dev/mtd3", 0x10000, 3));
    EXPECT_EQ(std::string("\x02\x03\x04", 3), file_bytes("/dev/mtd3", 0x20000, 3));
    EXPECT_THAT(x("x mtdt mtd3 1 0 3 1 2"), testing::HasSubstr("block 1 (0x00010000) is bad\nmtd3 DONE ret=-1\n"));

    // The test data, mixed 1:1 with zero fill in 512-byte slots.
    x("x mtdt mtd3 1 4 1 1 0x0201");
    EXPECT_EQ(std::string("\x00\x01\x02", 3), file_bytes("/dev/mtd3", 0x40000, 3));
    EXPECT_EQ(std::string("\x00\x00\x00", 3), file_bytes("/dev/mtd3", 0x40000 + 512, 3));
    x("x mem wm 0x40 0x5a5a5a5a");
    EXPECT_EQ("ZZZZ", file_bytes("/dev/mem", 0x40, 4)) << "written in the sysroot's memory file";
}

TEST_F(XTool, Sha256MatchesSha256sum)
{
    for (const size_t size : {size_t{0}, size_t{1}, size_t{64 * 1024}, size_t{1024 * 1024 + 1}}) {
        SCOPED_TRACE(size);
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(i * 7 + i / 251);
        const std::string target = "/var/tmp/sha-" + std::to_string(size);
        root_.write(target, bytes);
        const std::string out = x("x sha256 " + target);
        if (out.find("not built in") != std::string::npos)
            GTEST_SKIP() << "no libcrypto in this build";
        std::string expected(64, '\0');
        FILE* p = popen(("sha256sum " + root_.path(target)).c_str(), "r");
        ASSERT_NE(nullptr, p);
        ASSERT_EQ(1u, std::fread(expected.data(), 64, 1, p));
        pclose(p);
        EXPECT_EQ(target + "'s sha256: " + expected + "\n", out);
    }
}

TEST_F(XTool, RunRepeatsItsCommandsInOrderAndSendsTheModemPieces)
{
    stub("cmd1");
    stub("cmd2");
    platform_calls();
    calls();
    const std::string out = x("x run nr=3 sleep=10 cmd1; dm ver; cmd2");
    std::string expected =
        "x_run_cmd_main\ncmd_nr=3\ncmd[0]=\"cmd1\"\ncmd[1]=\"dm ver\"\ncmd[2]=\"cmd2\"\nrun_nr=3\nsleep=10ms\n";
    for (int pass = 0; pass < 3; ++pass)
        for (const char* cmd : {"cmd1", "dm ver", "cmd2"})
            expected += "[" + std::to_string(pass) + "] x_run \"" + cmd + "\"\n";
    EXPECT_EQ(expected, out);
    EXPECT_EQ("cmd1 \ncmd2 \ncmd1 \ncmd2 \ncmd1 \ncmd2 \n", platform_calls());
    const std::string ver = hex_of(std::string("ver\0", 4));  // its NUL counted
    EXPECT_EQ((Lines{ver, ver, ver}), texts_of(calls(), "LAPI_SendDMCommand"));

    // 33 pieces, two of them empty: the first 32 that are not run.
    std::string pieces;
    for (int i = 1; i <= 33; ++i)
        pieces += "a" + std::to_string(i) + "=;" + (i == 16 ? " ; " : "");
    const std::string cut = x("x run " + pieces);
    EXPECT_THAT(cut, testing::HasSubstr("cmd_nr=32\n"));
    EXPECT_THAT(cut, testing::HasSubstr("cmd[31]=\"a32=\"\n[0] x_run \"a1=\"\n"));
    EXPECT_THAT(cut, testing::Not(testing::HasSubstr("a33")));
    EXPECT_EQ("x_run_cmd_main\n", x("x run nolog cmd1"));
}

TEST_F(XTool, ShellStopEndsALongRunAndRefusesNewOnes)
{
    stub("cmd1");
    testing::internal::CaptureStdout();
    dispatch("x run nr=100000 sleep=1000 cmd1");
    ASSERT_TRUE(eventually([this] { return root_.read("/var/log/platform-calls.log").find("cmd1") != std::string::npos; }));
    const auto start = std::chrono::steady_clock::now();
    x_run_close();
    EXPECT_TRUE(eventually([] { return x_run_active() == 0; }, 900ms)) << "woken out of its pause";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);
    dispatch("x run cmd1");
    EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::HasSubstr("x run: the shell is stopping\n"));
}

// The far end of a pseudo-terminal pair: reads what the tool sends and,
// when asked, sends it back (a loopback plug).
class FarEnd {
public:
    explicit FarEnd(int master, bool echo) : master_(master), echo_(echo), thread_([this] { serve(); }) {}
    ~FarEnd() { received(); }
    // Everything it read; it stops reading.
    std::string received()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return got_;
    }

private:
    void serve()
    {
        char buf[256];
        for (;;) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) {
                if (stop_)
                    return;  // nothing left to read
                continue;
            }
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0)
                continue;
            got_.append(buf, static_cast<size_t>(n));
            if (echo_ && write(master_, buf, static_cast<size_t>(n)) != n)
                return;
        }
    }
    int master_;
    bool echo_;
    std::atomic<bool> stop_{false};
    std::string got_;
    std::thread thread_;
};

// The device `device` as the file `at` of the sysroot: a bind mount in a
// mount namespace of this thread alone (the tool runs on the caller's
// thread), since a link to the host's /dev is followed inside the sysroot.
// Mounting needs a test run as root.
class BoundDevice {
public:
    BoundDevice(const std::string& device, const std::string& at)
        : saved_(open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC))
    {
        std::ofstream{at};  // the mount point
        bound_ = saved_ && unshare(CLONE_NEWNS) == 0 &&
                 mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                 mount(device.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    ~BoundDevice()
    {
        if (saved_)
            setns(saved_.get(), CLONE_NEWNS);  // the thread's namespace and its mount go
    }
    BoundDevice(const BoundDevice&) = delete;
    BoundDevice& operator=(const BoundDevice&) = delete;
    bool bound() const { return bound_; }

private:
    UniqueFd saved_;
    bool bound_ = false;
};

TEST_F(XTool, TtySendsItsLinesAtTheRateOverAPseudoTerminal)
{
    int master = -1;
    int slave = -1;
    ASSERT_EQ(0, openpty(&master, &slave, nullptr, nullptr, nullptr));
    const UniqueFd m(master);
    const UniqueFd s(slave);  // kept open: the port's settings stay readable
    const BoundDevice port(ttyname(slave), root_.path("/dev/ttyPT"));
    if (!port.bound())
        GTEST_SKIP() << "no mount namespace for a pseudo-terminal in the sysroot: " << std::strerror(errno);
    std::string lines;
    for (int i = 0; i < 10; ++i)
        lines += "[" + std::to_string(i) + "] TTY send string\r\n";
    const struct {
        const char* line;
        bool echo;
        speed_t rate;
        const char* printed;
        std::string sent;
    } cases[] = {
        {"x tty /dev/ttyPT 115200 s cb", true, B115200, "[9] TTY recv ok\ntty /dev/ttyPT DONE ret=0\n", lines},
        {"x tty /dev/ttyPT 9600 so cb st", false, B9600, "tty baudrate check ok (9600)\n", lines},
        {"x tty ttyPT 9600 switch 115200 3 1 cb", false, B9600,
         "TTY switch test START(nr=3)\n  baudrate: 9600 <-> 115200\n  sleep_ms: 1\ntty baudrate check ok (9600)\n"
         "tty baudrate check ok (115200)\ntty baudrate check ok (9600)\nTTY switch test DONE(nr=3/3)\n",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        FarEnd far(master, c.echo);
        EXPECT_THAT(x(c.line), testing::HasSubstr(c.printed));
        EXPECT_TRUE(far.received().starts_with(c.sent));
        termios tio{};
        ASSERT_EQ(0, tcgetattr(master, &tio));  // a master reads its slave's settings
        EXPECT_EQ(c.rate, cfgetospeed(&tio));
    }
}

}  // namespace
}  // namespace cnxd::test
