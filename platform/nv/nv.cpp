#include "nv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "base/fd.h"
#include "base/path.h"

namespace {

constexpr const char* NV_DIR = "/var/nv";
constexpr const char* CONSOLE_LOG = "/var/nv/console.log";
constexpr const char* RAM_IMAGE = "/var/tmp/cmnnvr.bin";
constexpr uint32_t LOG_READS = 1u << 0;
constexpr uint32_t LOG_WRITES = 1u << 1;
// Items larger than this are refused: the real items are a few KiB.
constexpr long ITEM_LIMIT = 1L << 20;

std::mutex nv_lock;  // one item operation at a time
std::atomic<uint32_t> log_mask{0};
std::atomic<bool> nv1_writable{true};

std::string item_path(int item)
{
    return cnxd::cnxd_path(std::string(NV_DIR) + "/item" + std::to_string(item) + ".bin");
}

bool usable(int item, int offset, int len)
{
    return item >= 0 && item <= NV_ITEM_MAX && offset >= 0 && len >= 0 && offset <= ITEM_LIMIT - len;
}

void console_log(const char* op, int item, int offset, int len, int result)
{
    if (FILE* f = std::fopen(cnxd::cnxd_path(CONSOLE_LOG).c_str(), "a")) {
        std::fprintf(f, "%s item %d offset %d len %d: %d\n", op, item, offset, len, result);
        std::fclose(f);
    }
}

bool write_all(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

int read_item(int item, void* dst, int offset, int len)
{
    cnxd::UniqueFd fd(::open(item_path(item).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return -1;
    std::vector<uint8_t> buf(static_cast<size_t>(len));
    const ssize_t n = ::pread(fd.get(), buf.data(), buf.size(), offset);
    if (n != len)
        return -1;
    std::copy(buf.begin(), buf.end(), static_cast<uint8_t*>(dst));
    return len;
}

int write_item(int item, const void* src, int offset, int len)
{
    ::mkdir(cnxd::cnxd_path(NV_DIR).c_str(), 0755);
    cnxd::UniqueFd fd(::open(item_path(item).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!fd)
        return -1;
    // pwrite past the end leaves a hole, which reads back as zero bytes.
    const ssize_t n = ::pwrite(fd.get(), src, static_cast<size_t>(len), offset);
    return n == len ? len : -1;
}

}  // namespace

extern "C" {

int nv_read(int item, void* dst, int offset, int len)
{
    if (!dst || !usable(item, offset, len))
        return -1;
    std::lock_guard g(nv_lock);
    const int result = read_item(item, dst, offset, len);
    if (log_mask & LOG_READS)
        console_log("read", item, offset, len, result);
    return result;
}

int nv_write(int item, const void* src, int offset, int len)
{
    if (!src || !usable(item, offset, len))
        return -1;
    std::lock_guard g(nv_lock);
    const int result = (item == 1 && !nv1_writable) ? -1 : write_item(item, src, offset, len);
    if (log_mask & LOG_WRITES)
        console_log("write", item, offset, len, result);
    return result;
}

int nv_rsync(void)
{
    std::lock_guard g(nv_lock);
    cnxd::UniqueFd dir(::open(cnxd::cnxd_path(NV_DIR).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return -1;
    ::syncfs(dir.get());
    return 0;
}

void nv_set_log_mask(uint32_t mask) { log_mask = mask; }

uint32_t nv_get_log_mask(void) { return log_mask; }

void nv_test_show_console_log(int (*print)(const char* fmt, ...))
{
    if (!print)
        return;
    std::lock_guard g(nv_lock);
    cnxd::FileLines in(cnxd::cnxd_path(CONSOLE_LOG));
    for (std::string line; in.next(line);)
        print("%s\n", line.c_str());
}

void nv_nv1_write_enable(void) { nv1_writable = true; }

void nv_nv1_write_disable(void) { nv1_writable = false; }

int cmn_nv_ram_flush(void)
{
    std::lock_guard g(nv_lock);
    cnxd::UniqueFd out(::open(cnxd::cnxd_path(RAM_IMAGE).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!out)
        return -1;
    std::vector<uint8_t> piece(4096);
    for (int item = 0; item <= NV_ITEM_MAX; ++item) {
        cnxd::UniqueFd in(::open(item_path(item).c_str(), O_RDONLY | O_CLOEXEC));
        for (ssize_t n; in && (n = ::read(in.get(), piece.data(), piece.size())) > 0;)
            if (!write_all(out.get(), piece.data(), static_cast<size_t>(n)))
                return -1;
    }
    return 0;
}

}  // extern "C"
