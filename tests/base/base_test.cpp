// The base helpers: the sysroot helpers that keep a host run off the host,
// the child processes the daemon starts, the capture file's bounds, and the
// record printer's rules that the indications' end-to-end rows do not reach.
#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/be.h"
#include "base/capture.h"
#include "base/path.h"
#include "base/record.h"
#include "base/shell.h"

namespace cnxd {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::string_literals;

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
        const bool ok = cnxd_cmd_addr(&addr);
        EXPECT_EQ(std::pair(c.ok, c.expect), std::pair(ok, addr))
            << (c.root ? c.root : "-") << " " << (c.addr ? c.addr : "-");
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

// ---- The capture file: rotation into FILE.1 and counted drops, read back
// block by block.

struct Blocks {
    bool header = false;  // starts with a section header and one interface
    int records = 0;      // enhanced packet blocks that are not drop counts
    uint32_t dropped = 0; // the sum of the drop records
    size_t size = 0;
};

Blocks read_blocks(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), {}};
    Blocks r;
    r.size = b.size();
    r.header = b.size() >= 48 && load_be32(b.data()) == 0x0A0D0D0A && load_be32(b.data() + 28) == 1 &&
               load_be16(b.data() + 36) == CAPTURE_LINKTYPE;
    for (size_t at = 48; at + 36 <= b.size(); at += load_be32(b.data() + at + 4)) {
        if (load_be32(b.data() + at) != 6 || load_be32(b.data() + at + 4) < 36)
            break;
        const uint8_t* data = b.data() + at + 28;
        if (data[0] == static_cast<uint8_t>(capture_kind::drops))
            r.dropped += load_be32(data + 4);
        else
            ++r.records;
    }
    return r;
}

TEST(Capture, FilesStayBoundedAndCountWhatTheyDrop)
{
    struct Case {
        const char* what;
        size_t rotate, queue;
        int records;
        bool rotated;
        int dropped;
    };
    const Case cases[] = {
        {"within bounds", CAPTURE_DEFAULT_ROTATE, CAPTURE_QUEUE_BYTES, 100, false, 0},
        {"rotates at its size", 4096, CAPTURE_QUEUE_BYTES, 50, true, 0},  // one rotation
        {"a full queue drops and counts", CAPTURE_DEFAULT_ROTATE, 16, 50, false, 50},
    };
    const uint8_t bytes[64] = {1, 2, 3};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = "/tmp/cnxd-capture-test-" + std::to_string(getpid());
        ASSERT_EQ(capture_start(path.c_str(), c.rotate, c.queue), 0);
        for (int i = 0; i < c.records; ++i)
            capture({.kind = capture_kind::sdk_call, .index = 1, .name = "LAPI_Test", .bytes = bytes});
        capture_stop();
        const Blocks now = read_blocks(path);
        const Blocks before = read_blocks(path + ".1");
        EXPECT_TRUE(now.header);
        EXPECT_EQ(before.size != 0, c.rotated);
        if (c.rotated) {
            EXPECT_TRUE(before.header);
            EXPECT_LE(before.size, c.rotate);
            EXPECT_LE(now.size, c.rotate);
        }
        EXPECT_EQ(now.records + before.records, c.records - c.dropped);
        EXPECT_EQ(now.dropped, static_cast<uint32_t>(c.dropped));
        unlink(path.c_str());
        unlink((path + ".1").c_str());
    }
}

// ---- The record printer: each row a record's bytes, a field table and the
// text it prints.

std::string printed;

int sink(const char* fmt, ...)
{
    char buf[4096];
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    printed.append(buf, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buf) - 1)));
    return n;
}

constexpr const char* BANDWIDTH[] = {"1.4MHz", "3MHz", "5MHz", "10MHz"};
constexpr record_field CELL[] = {rec::snum("\tCELL_%d", 0, 2).with_sep(": ")};
constexpr record_field CELLS[] = {rec::array("NEIGHBOR CELL[%d]", 1, 2, 2, CELL).with_count(0, 1)};
static_assert(record_tbl_ok(CELLS));
constexpr record_field THREE_BYTES[] = {rec::num("three bytes", 0, 3)};
static_assert(!record_tbl_ok(THREE_BYTES));

struct row {
    const char* what;
    Bytes bytes;
    std::vector<record_field> fields;
    std::string expect;
};

const row rows[] = {
    {"signedness and width",
     {0xFF, 0xFF, 0xFE, 0x80, 0, 0, 0},
     {rec::num("u8", 0, 1), rec::snum("s8", 0, 1), rec::num("u16", 1, 2), rec::snum("s16", 1, 2),
      rec::snum("s32", 3, 4), rec::num("u32", 3, 4), rec::hex("Flags", 3, 4)},
     "u8 : 255\ns8 : -1\nu16 : 65534\ns16 : -2\ns32 : -2147483648\nu32 : 2147483648\nFlags : 80000000\n"},
    {"scale and unit: tenths as %.1f, halves toward zero",
     {0xFD, 0xDB, 0xFF, 0xEB},  // -549, -21
     {rec::real1("TX Power", 0, 2, 10).with_unit("(dBm)"), rec::snum("RSRQ", 2, 2).with_scale(2)},
     "TX Power : -54.9(dBm)\nRSRQ : -10\n"},
    {"invalid markers: out of range, the 255 of a byte, a name past its table",
     {0xFF, 0x6A, 0xFF, 0x6B, 0, 0, 0, 6, 2},  // -150, -149, 6, 2
     {rec::snum("RSRP", 0, 2).with_valid(-149, INT16_MAX), rec::snum("RSRP", 2, 2).with_valid(-149, INT16_MAX),
      rec::num("Group", 0, 1).with_valid(0, 254), rec::name("BandWidth", 4, 4, BANDWIDTH).with_valid(0, 3),
      rec::name("BandWidth", 8, 1, BANDWIDTH), rec::name("Band", 4, 4, BANDWIDTH)},
     "RSRP : NV\nRSRP : -149\nGroup : NV\nBandWidth : NV\nBandWidth : 5MHz\nBand : 6\n"},
    {"texts: bounded, cut at NUL, counted; padded labels",
     {3, 'a', 'b', 'c', 'd', 0, 'e'},
     {rec::text("APN NI", 1, 8).with_pad(14).with_count(0, 1), rec::text("Name", 1, 8), rec::text("Two", 1, 2)},
     "APN NI         : abc\nName : abcd\nTwo : ab\n"},
    {"fields beyond the received bytes: numbers and addresses skipped, texts and blocks as far as they go",
     {'x', 'y', 0x01},
     {rec::num("gone", 2, 2), rec::ipv4("gone", 0), rec::text("Cut", 0, 8), rec::hex_block("Cut", 1, 4),
      rec::hex_block("None", 9, 4), rec::num("there", 2, 1)},
     "Cut : xy\x01\nCut : 79 01 \nNone : \nthere : 1\n"},
    {"array: the count capped by the maximum, numbered in heading and fields",
     {5, 0xFF, 0xFE, 0, 7, 0, 9},
     {CELLS[0]},
     "NEIGHBOR CELL[0]\n\tCELL_0: -2\nNEIGHBOR CELL[1]\n\tCELL_1: 7\n"},
    {"array: only whole elements that are there; a missing count is 0",
     {2, 0, 3, 0},
     {CELLS[0], rec::array("", 9, 2, 4, CELL).with_count(9, 1), rec::array("", 0, 3, 9, CELL)},
     "NEIGHBOR CELL[0]\n\tCELL_0: 3\n\tCELL_0: 512\n"},
    {"dump of 17 bytes: 16 to a line, NULs as they are",
     {'a', 0, 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 0},
     {rec::char_block("TXT", 0, 17), rec::hex_block("KEY", 0, 17), rec::char_block("TXT", 0, 3)},
     "TXT\na \0 b c d e f g h i j k l m n o \n\0 \n\nKEY\n61 00 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f \n00 \n\n"
     "TXT : a \0 b \n"s},
};

TEST(RecordPrint, PrintsEachRowAsExpected)
{
    for (const row& r : rows) {
        printed.clear();
        record_print(sink, r.fields, r.bytes);
        EXPECT_EQ(r.expect, printed) << r.what;
    }
}

}  // namespace
}  // namespace cnxd
