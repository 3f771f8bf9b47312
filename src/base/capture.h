// Traffic capture: every client frame in and out, SDK call, indication,
// shell line and modem console line as one block of a pcapng file, for
// reading after the fact (dissector/cnxd.lua decodes the blocks in
// Wireshark and tshark).
//
// Off by default; with CNXD_CAPTURE=FILE the daemon starts it at start-up.
// A record costs one relaxed load when the capture is off. When it is on, a
// record is copied into a ring allocated at the start, which a writer
// thread of its own drains into the file in batches (every 20 ms, or at
// once when the ring is half full): a producer never waits for the disk nor
// wakes the writer for each record, and a full ring drops the record and
// counts it (the count is written as a record of its own). The file is
// flushed after every batch, so a crash leaves a readable file, and rotates
// at a size (CNXD_CAPTURE_SIZE) into FILE.1.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace cnxd {

// The link type of the capture's interface: the first of the user types,
// which Wireshark leaves to a dissector the user names (DLT_USER0).
constexpr uint16_t CAPTURE_LINKTYPE = 147;

// The kinds of record, the first byte of every block's data.
enum class capture_kind : uint8_t {
    frame_in = 1,      // a frame from a client: index client, a identity
    frame_out = 2,     // a frame to a client: index client, a identity
    sdk_call = 3,      // name the SDK function, index device, a result
    indication = 4,    // index device, a SDK callback id, b event code
    shell_line = 5,    // source where the line came from
    console_line = 6,  // a line the modem's console was given
    drops = 7,         // a the records dropped since the last such record
};

// Where a shell line came from.
enum class capture_source : uint8_t { none = 0, tcp = 1, client = 2, script = 3, modem = 4 };

// One record. Its data block (big-endian): kind, source, index (16 bits),
// a, b (32 bits each), the name's length (16 bits), the name, the bytes.
struct capture_record {
    capture_kind kind{};
    capture_source source = capture_source::none;
    uint16_t index = 0;
    uint32_t a = 0;
    uint32_t b = 0;
    std::string_view name{};
    std::span<const uint8_t> bytes{};
};
constexpr size_t CAPTURE_RECORD_HEAD = 14;

// The ring's size: what the writer keeps queued at most before it drops
// records.
constexpr size_t CAPTURE_QUEUE_BYTES = 4u << 20;
constexpr size_t CAPTURE_DEFAULT_ROTATE = 8u << 20;

namespace detail {
extern std::atomic<bool> capture_on;
void capture_put(const capture_record& r);
}  // namespace detail

inline bool capture_active() { return detail::capture_on.load(std::memory_order_relaxed); }

inline void capture(const capture_record& r)
{
    if (capture_active())
        detail::capture_put(r);
}

inline std::span<const uint8_t> capture_text(std::string_view text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Starts writing `path` (a host path), rotating at `rotate_bytes`, with a
// queue of `queue_bytes`; 0 or -1 when the file cannot be created.
int capture_start(const char* path, size_t rotate_bytes = CAPTURE_DEFAULT_ROTATE,
                  size_t queue_bytes = CAPTURE_QUEUE_BYTES);
// Starts from CNXD_CAPTURE and CNXD_CAPTURE_SIZE when the first is set.
void capture_start_from_env();
// Writes what is queued, the drop count, and closes the file.
void capture_stop();

}  // namespace cnxd
