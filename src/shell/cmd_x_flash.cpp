// "x mtdt" and "x nvt": the flash (MTD) and NV stress tests of the
// diagnostics tool, with their test patterns.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "base/fd.h"
#include "base/path.h"
#include "base/stop.h"
#include "mtd.h"
#include "nv.h"
#include "shell/cmd_x.h"

namespace cnxd {
namespace {

// Option flags of both tests.
constexpr uint32_t F_TEST_DATA = 1u << 0;    // the built-in test data, else a counting pattern
constexpr uint32_t F_STOP_BAD = 1u << 1;     // stop at a block marked bad
constexpr uint32_t F_PROGRESS = 1u << 2;     // a line per loop
constexpr uint32_t F_WRITE_FIRST = 1u << 3;  // read test: write the data once, compare each read with it
constexpr unsigned MIX_SHIFT = 8;            // bits 8-15: copies mixed with zero fill
constexpr uint32_t MIX_MASK = 0xFF;
constexpr uint32_t MIX_MAX = 8;

// The contents of "test_data.bin", the test data of the flash and NV
// tests: an ascending byte ramp 0x00-0xFF, then a descending one, so that
// every byte value is written and read and every bit line flips both ways.
constexpr size_t TEST_DATA_LEN = 512;
constexpr std::array<uint8_t, TEST_DATA_LEN> test_data = [] {
    std::array<uint8_t, TEST_DATA_LEN> d{};
    for (size_t i = 0; i < TEST_DATA_LEN / 2; ++i) {
        d[i] = static_cast<uint8_t>(i);
        d[TEST_DATA_LEN - 1 - i] = static_cast<uint8_t>(i);
    }
    return d;
}();

// Mismatch lines printed per compare; a block that differs everywhere
// would print tens of thousands of lines.
constexpr unsigned MISMATCH_LINES = 256;

uint32_t number(const char* text) { return static_cast<uint32_t>(std::strtoul(text, nullptr, 0)); }

// `len` bytes of what a test writes. The test data is laid in slots of its
// length: with a mix m of 2 to 8 every m-th slot holds a copy and the
// others zeros (m 0 and 1: every slot a copy). The counting pattern starts
// at `seed`, so loops and blocks write different bytes.
std::vector<uint8_t> pattern(size_t len, uint32_t flags, uint32_t seed)
{
    std::vector<uint8_t> out(len);
    if (!(flags & F_TEST_DATA)) {
        for (size_t i = 0; i < len; ++i)
            out[i] = static_cast<uint8_t>(i + seed);
        return out;
    }
    const uint32_t mix = std::min((flags >> MIX_SHIFT) & MIX_MASK, MIX_MAX);
    for (size_t i = 0; i < len; ++i) {
        const size_t slot = i / TEST_DATA_LEN;
        out[i] = mix <= 1 || slot % mix == 0 ? test_data[i % TEST_DATA_LEN] : 0;
    }
    return out;
}

// True when `got` equals `want`; else prints the differing bytes, `at`
// being the offset of their first byte.
bool same_or_report(std::span<const uint8_t> want, std::span<const uint8_t> got, uint32_t at)
{
    unsigned count = 0;
    for (size_t i = 0; i < want.size(); ++i) {
        if (want[i] == got[i])
            continue;
        if (count == 0) {
            x_printf("[data mismatch]\n");
            x_printf("  count  offset    diff-data\n");
        }
        if (++count <= MISMATCH_LINES)
            x_printf("  %5d  %08x  %02x!=%02x\n", static_cast<int>(count), static_cast<uint32_t>(at + i), got[i],
                     want[i]);
    }
    if (count > MISMATCH_LINES)
        x_printf("  ... %u more\n", count - MISMATCH_LINES);
    return count == 0;
}

bool io_all(int fd, uint8_t* buf, size_t len, uint32_t at, bool write)
{
    while (len > 0) {
        const ssize_t n = write ? pwrite(fd, buf, len, at) : pread(fd, buf, len, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buf += n;
        len -= static_cast<size_t>(n);
        at += static_cast<uint32_t>(n);
    }
    return true;
}

// ---- mtdt

constexpr int MTDT_TOKENS = 6;  // mtdt dev op block block_nr test_count
constexpr int OP_READ = 0;
constexpr int OP_WRITE = 1;

void mtdt_usage()
{
    for (const char* line : {
             "usage: x mtdt [dev] [op] [block] [block_nr] [test_count] [flags]\n",
             "  op    0: read test, 1: write/read test\n",
             "  flags bit 0: built-in test data, else a counting pattern\n",
             "        bit 1: stop at a block marked bad\n",
             "        bit 2: progress each loop\n",
             "        bit 3: read test writes the test data once and compares each read with it\n",
             "        bits 8-15: test data mix, 0/1 copy, 2 copy and one zero fill, ... 8 copy and seven zero fills\n",
             "  ex) x mtdt mtd3 0 0 4 10\n",
             "      x mtdt mtd3 1 2 2 100 0x0105\n",
         })
        x_printf("%s", line);
    // The list as "cat /proc/mtd" shows it, read here so that a sysroot's
    // list is the one shown.
    x_printf("# cat %s\n", MTD_LIST_PATH);
    FileLines in(cnxd_sysroot_path(MTD_LIST_PATH));
    for (std::string line; in.next(line);)
        x_printf("%s\n", line.c_str());
}

struct mtd_test {
    std::string dev;
    int op = 0;
    uint32_t block = 0;
    uint32_t block_nr = 0;
    uint32_t test_count = 0;
    uint32_t flags = 0;
    mtd_partition part{};
    std::string host;  // the path opened
    UniqueFd fd;
};

// Whether block `b` may be used: a bad one is reported and skipped, and
// with F_STOP_BAD ends the test (`stop`).
bool usable_block(const mtd_test& t, uint32_t b, bool* stop)
{
    const uint32_t at = b * t.part.erasesize;
    const int bad = mtd_block_is_bad(t.fd.get(), t.host.c_str(), at);
    if (bad == 0)
        return true;
    x_printf(bad > 0 ? "block %u (0x%08x) is bad\n" : "block %u (0x%08x) bad block check fail\n", b, at);
    *stop = (t.flags & F_STOP_BAD) != 0;
    return false;
}

// Unlocks, erases and writes block `b` with `data`, then reads it back
// into `back`. 0, or -1 after printing what failed.
int write_block(const mtd_test& t, uint32_t b, std::vector<uint8_t>& data, std::vector<uint8_t>& back)
{
    const uint32_t at = b * t.part.erasesize;
    const char* failed = mtd_unlock(t.fd.get(), at, t.part.erasesize) != 0  ? "mtd_unlock"
                         : mtd_erase(t.fd.get(), at, t.part.erasesize) != 0 ? "mtd_erase"
                         : !io_all(t.fd.get(), data.data(), data.size(), at, true) ? "write"
                         : !io_all(t.fd.get(), back.data(), back.size(), at, false) ? "read"
                                                                                     : nullptr;
    if (!failed)
        return 0;
    x_printf("%s(0x%08x) fail %s(%d)\n", failed, at, std::strerror(errno), errno);
    return -1;
}

// One pass over the blocks; false when the test is to stop.
bool mtd_pass(const mtd_test& t, uint32_t loop, int* ret)
{
    std::vector<uint8_t> first(t.part.erasesize);
    std::vector<uint8_t> second(t.part.erasesize);
    for (uint32_t b = t.block; b < t.block + t.block_nr; ++b) {
        bool stop = false;
        if (!usable_block(t, b, &stop)) {
            if (stop) {
                *ret = -1;
                return false;
            }
            continue;
        }
        const uint32_t at = b * t.part.erasesize;
        if (t.op == OP_WRITE) {
            std::vector<uint8_t> data = pattern(t.part.erasesize, t.flags, loop + b);
            if (write_block(t, b, data, first) != 0 || !same_or_report(data, first, at))
                *ret = -1;
        } else if (!io_all(t.fd.get(), first.data(), first.size(), at, false) ||
                   !io_all(t.fd.get(), second.data(), second.size(), at, false)) {
            x_printf("read(0x%08x) fail %s(%d)\n", at, std::strerror(errno), errno);
            *ret = -1;
        } else if (t.flags & F_WRITE_FIRST) {
            if (!same_or_report(pattern(t.part.erasesize, t.flags, b), first, at))
                *ret = -1;
        } else if (!same_or_report(first, second, at)) {
            *ret = -1;
        }
    }
    return true;
}

// The read test's data, written once before its loops.
int write_first(const mtd_test& t)
{
    std::vector<uint8_t> back(t.part.erasesize);
    for (uint32_t b = t.block; b < t.block + t.block_nr; ++b) {
        bool stop = false;
        if (!usable_block(t, b, &stop)) {
            if (stop)
                return -1;
            continue;
        }
        std::vector<uint8_t> data = pattern(t.part.erasesize, t.flags, b);
        if (write_block(t, b, data, back) != 0)
            return -1;
    }
    return 0;
}

int do_mtd_test(mtd_test& t)
{
    const bool writes = t.op == OP_WRITE || (t.flags & F_WRITE_FIRST);
    t.fd = UniqueFd(x_open_device("/dev/" + t.dev, writes ? O_RDWR : O_RDONLY, &t.host));
    if (!t.fd) {
        x_printf("open(/dev/%s) fail %s(%d)\n", t.dev.c_str(), std::strerror(errno), errno);
        return -1;
    }
    int ret = 0;
    if (t.op == OP_READ && (t.flags & F_WRITE_FIRST) && write_first(t) != 0)
        return -1;
    for (uint32_t loop = 0; loop < t.test_count && !cnxd_stopping(); ++loop) {
        if (t.flags & F_PROGRESS)
            x_printf("[%u/%u] %s op=%d ret=%d\n", loop + 1, t.test_count, t.dev.c_str(), t.op, ret);
        if (!mtd_pass(t, loop, &ret))
            break;
    }
    return ret;
}

// ---- nvt

constexpr int NVT_TOKENS = 6;  // nvt op id offset size test_count
constexpr int NVT_BASIC = 0;
constexpr int NVT_READ = 1;
constexpr int NVT_WRITE = 2;
// The largest item range one test moves; NV items are a few KiB.
constexpr uint32_t NVT_SIZE_MAX = 64 * 1024;

void nvt_usage()
{
    for (const char* line : {
             "usage: x nvt [op] [nv_id] [offset] [size] [test_count] [flags]\n",
             "  op    0: basic (write, sync, read back and compare), 1: read (compare each read with the first), "
             "2: write (write and sync)\n",
             "  flags bit 0: built-in test data, else a counting pattern; bit 2: progress each loop\n",
             "  ex) x nvt 0 2 0 64 10\n",
         })
        x_printf("%s", line);
}

struct nv_test {
    int op;
    int id;
    int offset;
    int size;
    uint32_t count;
    uint32_t flags;
};

// One loop; false when an NV call failed.
bool nv_loop(const nv_test& t, uint32_t loop, std::vector<uint8_t>& first, int* ret)
{
    std::vector<uint8_t> got(static_cast<size_t>(t.size));
    if (t.op != NVT_READ) {
        std::vector<uint8_t> data = pattern(got.size(), t.flags, loop);
        if (const int n = nv_write(t.id, data.data(), t.offset, t.size); n != t.size) {
            x_printf("[%u] nv_write(%d, %d, %d)=%d fail\n", loop, t.id, t.offset, t.size, n);
            return false;
        }
        if (const int r = nv_rsync(); r != 0) {
            x_printf("[%u] nv_rsync()=%d fail\n", loop, r);
            return false;
        }
        first = std::move(data);
        if (t.op == NVT_WRITE)
            return true;
    }
    if (const int n = nv_read(t.id, got.data(), t.offset, t.size); n != t.size) {
        x_printf("[%u] nv_read(%d, %d, %d)=%d fail\n", loop, t.id, t.offset, t.size, n);
        return false;
    }
    if (first.empty())
        first = got;
    else if (!same_or_report(first, got, static_cast<uint32_t>(t.offset)))
        *ret = -1;
    return true;
}

}  // namespace

int x_mtdt(int argc, char** argv)
{
    if (argc < MTDT_TOKENS) {
        mtdt_usage();
        return 0;
    }
    mtd_test t;
    t.dev = argv[1];
    t.op = static_cast<int>(number(argv[2]));
    t.block = number(argv[3]);
    t.block_nr = number(argv[4]);
    t.test_count = number(argv[5]);
    t.flags = argc > MTDT_TOKENS ? number(argv[MTDT_TOKENS]) : 0;
    if (t.test_count == 0) {
        x_printf("test_count should not be 0\n");
        return 0;
    }
    if (t.block_nr == 0) {
        x_printf("block_nr should not be 0\n");
        return 0;
    }
    if (t.op != OP_READ && t.op != OP_WRITE) {
        x_printf("not supported op=%d\n", t.op);
        return 0;
    }
    if (t.dev.find('/') != std::string::npos || mtd_find(t.dev.c_str(), &t.part) != 0) {
        x_printf("%s is not in %s\n", t.dev.c_str(), MTD_LIST_PATH);
        mtdt_usage();
        return 0;
    }
    const uint32_t blocks = t.part.size / t.part.erasesize;
    if (t.block >= blocks || t.block_nr > blocks - t.block) {
        x_printf("block %u+%u is beyond the %u blocks of %s\n", t.block, t.block_nr, blocks, t.dev.c_str());
        mtdt_usage();
        return 0;
    }
    x_printf("%s DONE ret=%d\n", t.dev.c_str(), do_mtd_test(t));
    return 0;
}

int x_nvt(int argc, char** argv)
{
    if (argc < NVT_TOKENS) {
        nvt_usage();
        return 0;
    }
    const nv_test t{static_cast<int>(number(argv[1])), static_cast<int>(number(argv[2])),
                    static_cast<int>(number(argv[3])), static_cast<int>(number(argv[4])), number(argv[5]),
                    argc > NVT_TOKENS ? number(argv[NVT_TOKENS]) : 0};
    if (t.count == 0) {
        x_printf("test_count should not be 0\n");
        return 0;
    }
    if (t.size <= 0 || static_cast<uint32_t>(t.size) > NVT_SIZE_MAX) {
        x_printf("size should be 1~%u\n", NVT_SIZE_MAX);
        return 0;
    }
    if (t.op != NVT_BASIC && t.op != NVT_READ && t.op != NVT_WRITE) {
        x_printf("not supported op=%d\n", t.op);
        return 0;
    }
    int ret = 0;
    std::vector<uint8_t> first;  // what the last write wrote, or the first read
    for (uint32_t loop = 0; loop < t.count && !cnxd_stopping(); ++loop) {
        if (t.flags & F_PROGRESS)
            x_printf("[%u/%u] nvt op=%d ret=%d\n", loop + 1, t.count, t.op, ret);
        if (!nv_loop(t, loop, first, &ret)) {
            ret = -1;
            break;
        }
    }
    x_printf("nvt DONE ret=%d\n", ret);
    return 0;
}

}  // namespace cnxd
