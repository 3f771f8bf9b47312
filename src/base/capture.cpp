#include "base/capture.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/be.h"

namespace cnxd {

namespace detail {
std::atomic<bool> capture_on{false};
}

namespace {

// pcapng, written big-endian with its byte-order magic: a section header,
// one interface, then one enhanced packet block per record.
constexpr uint32_t SHB_TYPE = 0x0A0D0D0A;
constexpr uint32_t IDB_TYPE = 1;
constexpr uint32_t EPB_TYPE = 6;
constexpr uint32_t BYTE_ORDER_MAGIC = 0x1A2B3C4D;
constexpr size_t SHB_LEN = 28;
constexpr size_t IDB_LEN = 20;
constexpr size_t EPB_HEAD = 28;  // type, length, interface, time (2), lengths (2)
constexpr size_t HEADER_LEN = SHB_LEN + IDB_LEN;

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    uint8_t b[4];
    store_be32(b, v);
    out.insert(out.end(), b, b + 4);
}

void put_file_header(std::vector<uint8_t>& out)
{
    put32(out, SHB_TYPE);
    put32(out, SHB_LEN);
    put32(out, BYTE_ORDER_MAGIC);
    put32(out, 0x00010000);  // version 1.0
    put32(out, 0xFFFFFFFF);  // section length not given
    put32(out, 0xFFFFFFFF);
    put32(out, SHB_LEN);
    put32(out, IDB_TYPE);
    put32(out, IDB_LEN);
    put32(out, uint32_t{CAPTURE_LINKTYPE} << 16);
    put32(out, 0);  // no snapshot length; microsecond stamps by default
    put32(out, IDB_LEN);
}

uint64_t now_us()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return uint64_t(ts.tv_sec) * 1000000 + uint64_t(ts.tv_nsec) / 1000;
}

size_t block_len(const capture_record& r)
{
    const size_t data = CAPTURE_RECORD_HEAD + r.name.size() + r.bytes.size();
    return EPB_HEAD + ((data + 3) & ~size_t{3}) + 4;
}

void put_block(std::vector<uint8_t>& out, const capture_record& r, uint64_t stamp)
{
    const size_t data = CAPTURE_RECORD_HEAD + r.name.size() + r.bytes.size();
    const auto total = static_cast<uint32_t>(block_len(r));
    put32(out, EPB_TYPE);
    put32(out, total);
    put32(out, 0);
    put32(out, static_cast<uint32_t>(stamp >> 32));
    put32(out, static_cast<uint32_t>(stamp));
    put32(out, static_cast<uint32_t>(data));
    put32(out, static_cast<uint32_t>(data));
    uint8_t head[CAPTURE_RECORD_HEAD];
    head[0] = static_cast<uint8_t>(r.kind);
    head[1] = static_cast<uint8_t>(r.source);
    store_be16(head + 2, r.index);
    store_be32(head + 4, r.a);
    store_be32(head + 8, r.b);
    store_be16(head + 12, static_cast<uint16_t>(r.name.size()));
    out.insert(out.end(), head, head + sizeof head);
    out.insert(out.end(), r.name.begin(), r.name.end());
    out.insert(out.end(), r.bytes.begin(), r.bytes.end());
    out.resize(out.size() + (4 - data % 4) % 4, 0);
    put32(out, total);
}

struct Capture {
    std::mutex lock;
    std::condition_variable wake;
    std::vector<uint8_t> queue;  // whole blocks, ready to write
    size_t queue_limit = 0;
    uint32_t dropped = 0;        // since the last drop record
    bool stopping = false;
    std::thread writer;
    // The writer's own.
    FILE* file = nullptr;
    std::string path;
    size_t rotate_bytes = 0;
    size_t written = 0;
};
Capture cap;

bool open_file()
{
    cap.file = std::fopen(cap.path.c_str(), "wb");
    if (!cap.file)
        return false;
    std::vector<uint8_t> header;
    put_file_header(header);
    std::fwrite(header.data(), 1, header.size(), cap.file);
    cap.written = header.size();
    return true;
}

// The previous file is kept as FILE.1; a failed reopen ends the capture.
void rotate()
{
    std::fclose(cap.file);
    std::rename(cap.path.c_str(), (cap.path + ".1").c_str());
    if (!open_file())
        detail::capture_on.store(false, std::memory_order_relaxed);
}

void write_blocks(const std::vector<uint8_t>& blocks)
{
    for (size_t at = 0; at + 8 <= blocks.size() && cap.file;) {
        const size_t len = load_be32(blocks.data() + at + 4);
        // A file always holds its header and at least one block.
        if (cap.written > HEADER_LEN && cap.written + len > cap.rotate_bytes)
            rotate();
        if (!cap.file)
            return;
        std::fwrite(blocks.data() + at, 1, len, cap.file);
        cap.written += len;
        at += len;
    }
}

void writer_main()
{
    std::vector<uint8_t> batch;
    for (;;) {
        uint32_t dropped;
        bool last;
        {
            std::unique_lock hold(cap.lock);
            cap.wake.wait(hold, [] { return cap.stopping || !cap.queue.empty() || cap.dropped; });
            batch.swap(cap.queue);
            dropped = cap.dropped;
            cap.dropped = 0;
            last = cap.stopping;
        }
        write_blocks(batch);
        batch.clear();
        if (dropped) {
            put_block(batch, {.kind = capture_kind::drops, .a = dropped}, now_us());
            write_blocks(batch);
            batch.clear();
        }
        if (cap.file)
            std::fflush(cap.file);
        if (last)
            return;
    }
}

size_t size_from_env(const char* name, size_t fallback)
{
    const char* v = std::getenv(name);
    if (!v || !*v)
        return fallback;
    char* end = nullptr;
    const unsigned long long n = std::strtoull(v, &end, 0);
    return end != v && n > 0 ? static_cast<size_t>(n) : fallback;
}

}  // namespace

void detail::capture_put(const capture_record& r)
{
    const uint64_t stamp = now_us();
    std::lock_guard hold(cap.lock);
    if (cap.stopping)
        return;
    if (cap.queue.size() + block_len(r) > cap.queue_limit) {
        ++cap.dropped;
        return;
    }
    const bool was_empty = cap.queue.empty();
    put_block(cap.queue, r, stamp);
    if (was_empty)
        cap.wake.notify_one();
}

int capture_start(const char* path, size_t rotate_bytes, size_t queue_bytes)
{
    if (cap.writer.joinable())
        return -1;
    cap.path = path;
    cap.rotate_bytes = rotate_bytes;
    if (!open_file())
        return -1;
    cap.queue_limit = queue_bytes;
    cap.stopping = false;
    cap.dropped = 0;
    cap.writer = std::thread(writer_main);
    detail::capture_on.store(true, std::memory_order_relaxed);
    return 0;
}

void capture_start_from_env()
{
    const char* path = std::getenv("CNXD_CAPTURE");
    if (!path || !*path)
        return;
    if (capture_start(path, size_from_env("CNXD_CAPTURE_SIZE", CAPTURE_DEFAULT_ROTATE)) != 0)
        std::fprintf(stderr, "cnxd: cannot write the capture file %s\n", path);
}

void capture_stop()
{
    if (!cap.writer.joinable())
        return;
    detail::capture_on.store(false, std::memory_order_relaxed);
    {
        std::lock_guard hold(cap.lock);
        cap.stopping = true;
    }
    cap.wake.notify_one();
    cap.writer.join();
    if (cap.file)
        std::fclose(cap.file);
    cap.file = nullptr;
    cap.queue.clear();
}

}  // namespace cnxd
