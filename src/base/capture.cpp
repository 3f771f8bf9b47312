#include "base/capture.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/be.h"
#include "base/path.h"
#include "base/thread_name.h"

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

// Appends big-endian words and bytes at `at`.
struct Out {
    uint8_t* at;
    void word(uint32_t v)
    {
        store_be32(at, v);
        at += 4;
    }
    void bytes(const void* p, size_t n)
    {
        if (n)
            std::memcpy(at, p, n);
        at += n;
    }
};

void put_file_header(uint8_t* to)
{
    Out out{to};
    out.word(SHB_TYPE);
    out.word(SHB_LEN);
    out.word(BYTE_ORDER_MAGIC);
    out.word(0x00010000);  // version 1.0
    out.word(0xFFFFFFFF);  // section length not given
    out.word(0xFFFFFFFF);
    out.word(SHB_LEN);
    out.word(IDB_TYPE);
    out.word(IDB_LEN);
    out.word(uint32_t{CAPTURE_LINKTYPE} << 16);
    out.word(0);  // no snapshot length; microsecond stamps by default
    out.word(IDB_LEN);
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

// Writes the block of `r` (block_len(r) bytes) at `to`.
void put_block(uint8_t* to, const capture_record& r, uint64_t stamp)
{
    const size_t data = CAPTURE_RECORD_HEAD + r.name.size() + r.bytes.size();
    const auto total = static_cast<uint32_t>(block_len(r));
    Out out{to};
    out.word(EPB_TYPE);
    out.word(total);
    out.word(0);
    out.word(static_cast<uint32_t>(stamp >> 32));
    out.word(static_cast<uint32_t>(stamp));
    out.word(static_cast<uint32_t>(data));
    out.word(static_cast<uint32_t>(data));
    uint8_t head[CAPTURE_RECORD_HEAD];
    head[0] = static_cast<uint8_t>(r.kind);
    head[1] = static_cast<uint8_t>(r.source);
    store_be16(head + 2, r.index);
    store_be32(head + 4, r.a);
    store_be32(head + 8, r.b);
    store_be16(head + 12, static_cast<uint16_t>(r.name.size()));
    out.bytes(head, sizeof head);
    out.bytes(r.name.data(), r.name.size());
    out.bytes(r.bytes.data(), r.bytes.size());
    const size_t pad = (4 - data % 4) % 4;
    std::memset(out.at, 0, pad);
    out.at += pad;
    out.word(total);
}

// The queue: whole blocks in one ring allocated at the start, so that a
// record costs a copy and no allocation. Blocks never wrap: one that does
// not fit before the end starts again at 0, and the data then run from
// `tail` to `end`, then from 0 to `head`. The writer owns the bytes it has
// taken until it moves `tail` past them.
struct Ring {
    // Not cleared: its pages cost memory only once records reach them.
    std::unique_ptr<uint8_t[]> buf;
    size_t size = 0;
    size_t head = 0;
    size_t tail = 0;
    size_t end = 0;
    bool wrapped = false;
    size_t used = 0;  // bytes of blocks in the ring

    // Room for `len` bytes, or nullptr when the ring is full.
    uint8_t* reserve(size_t len)
    {
        size_t at;
        if (wrapped) {
            if (tail - head < len)
                return nullptr;
            at = head;
        } else if (size - head >= len) {
            at = head;
        } else if (len <= tail) {
            end = head;
            wrapped = true;
            at = 0;
        } else {
            return nullptr;
        }
        head = at + len;
        used += len;
        return buf.get() + at;
    }
};

// The writer wakes on the first record after it went idle, and then every
// BATCH_MS or as soon as the ring is half full: a record alone never wakes
// it, so the capture costs a request no switch to the writer.
constexpr auto BATCH_MS = std::chrono::milliseconds(20);

struct Capture {
    std::mutex lock;
    std::condition_variable wake;
    Ring ring;
    uint32_t dropped = 0;        // since the last drop record
    bool stopping = false;
    bool idle = false;           // the writer waits for a first record
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
    uint8_t header[HEADER_LEN];
    put_file_header(header);
    std::fwrite(header, 1, sizeof header, cap.file);
    cap.written = sizeof header;
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

void write_blocks(const uint8_t* blocks, size_t size)
{
    for (size_t at = 0; at + 8 <= size && cap.file;) {
        const size_t len = load_be32(blocks + at + 4);
        // A file always holds its header and at least one block.
        if (cap.written > HEADER_LEN && cap.written + len > cap.rotate_bytes)
            rotate();
        if (!cap.file)
            return;
        std::fwrite(blocks + at, 1, len, cap.file);
        cap.written += len;
        at += len;
    }
}

void writer_main()
{
    name_thread("capture");
    for (;;) {
        size_t tail;
        size_t head;
        size_t end;
        bool wrapped;
        uint32_t dropped;
        bool last;
        {
            std::unique_lock hold(cap.lock);
            if (!cap.stopping && cap.ring.used == 0 && !cap.dropped) {
                cap.idle = true;
                cap.wake.wait(hold, [] { return cap.stopping || cap.ring.used || cap.dropped; });
                cap.idle = false;
            }
            cap.wake.wait_for(hold, BATCH_MS,
                              [] { return cap.stopping || cap.ring.used >= cap.ring.size / 2; });
            tail = cap.ring.tail;
            head = cap.ring.head;
            end = cap.ring.end;
            wrapped = cap.ring.wrapped;
            dropped = cap.dropped;
            cap.dropped = 0;
            last = cap.stopping;
        }
        const uint8_t* buf = cap.ring.buf.get();
        if (wrapped) {
            write_blocks(buf + tail, end - tail);
            write_blocks(buf, head);
        } else {
            write_blocks(buf + tail, head - tail);
        }
        if (dropped) {
            uint8_t block[EPB_HEAD + ((CAPTURE_RECORD_HEAD + 3) & ~size_t{3}) + 4];
            const capture_record r{.kind = capture_kind::drops, .a = dropped};
            put_block(block, r, now_us());
            write_blocks(block, block_len(r));
        }
        if (cap.file)
            std::fflush(cap.file);
        {
            std::lock_guard hold(cap.lock);
            Ring& ring = cap.ring;
            ring.used -= wrapped ? end - tail + head : head - tail;
            ring.tail = head;
            if (wrapped)
                ring.wrapped = false;
            if (!ring.wrapped && ring.tail == ring.head)
                ring.tail = ring.head = 0;
        }
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
    const size_t len = block_len(r);
    std::lock_guard hold(cap.lock);
    if (cap.stopping)
        return;
    uint8_t* to = cap.ring.reserve(len);
    if (!to) {
        ++cap.dropped;
        return;
    }
    put_block(to, r, stamp);
    const size_t half = cap.ring.size / 2;
    if (cap.idle || (cap.ring.used >= half && cap.ring.used - len < half))
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
    cap.ring = Ring{};
    cap.ring.buf = std::make_unique_for_overwrite<uint8_t[]>(queue_bytes);
    cap.ring.size = queue_bytes;
    cap.stopping = false;
    cap.idle = false;
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
    // Like every file the daemon writes, the capture lands inside the
    // sysroot on a host.
    const std::string file = cnxd_sysroot_path(path);
    if (file.empty() || capture_start(file.c_str(), size_from_env("CNXD_CAPTURE_SIZE", CAPTURE_DEFAULT_ROTATE)) != 0)
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
    cap.ring = Ring{};
}

}  // namespace cnxd
