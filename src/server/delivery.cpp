#include "server/delivery.h"

#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/capture.h"
#include "base/stop.h"
#include "ltesdk.h"

namespace cnxd {

std::atomic<uint32_t> cnxd_stuck;
std::atomic<uint32_t> g_is_qlog_to_pc{0};
std::atomic<uint32_t> cnxd_dm_client_mask;

namespace {

void capture_frame_out(const cnxd_client_rec& c, std::span<const uint8_t> frame)
{
    capture({.kind = capture_kind::frame_out, .index = c.idx, .a = c.identity, .bytes = frame});
}

// A frame sent in pieces is captured whole; only a running capture pays
// for the copy.
void capture_frame_out(const cnxd_client_rec& c, std::span<const iovec> pieces)
{
    if (!capture_active())
        return;
    std::vector<uint8_t> frame;
    for (const iovec& p : pieces)
        frame.insert(frame.end(), static_cast<const uint8_t*>(p.iov_base),
                     static_cast<const uint8_t*>(p.iov_base) + p.iov_len);
    capture_frame_out(c, frame);
}

constexpr uint16_t EVENT_DM_REPORT = 184;
constexpr size_t LOG_FRAME_SIZE = 2080;
constexpr size_t SYSLOG_LINE_SIZE = 2080;

// The system-log copy of cnxd_srv_send_log: one line buffer for all callers.
// Text after a call's last newline waits for the next call, whoever makes
// it, so lines of concurrent callers may still interleave; the lock only
// keeps the fill count and the buffer consistent.
char syslog_line[SYSLOG_LINE_SIZE];
uint32_t syslog_fill;
std::mutex syslog_line_lock;

using Lock = std::unique_lock<std::mutex>;

// A client whose peer socket is gone. The first write after the peer closed
// reports ECONNREFUSED (and disconnects our socket), later ones ENOTCONN:
// either releases it. Released at the first, so that a dead client does not
// keep taking the frames sent to its identity (a by-id send goes to the
// first client of that identity) while a live one of it waits.
bool peer_gone(int err) { return err == ENOTCONN || err == ECONNREFUSED; }

// A stopping daemon lets the stuck switch go: the stop must go through.
void wait_while_stuck(const char* who)
{
    while (cnxd_stuck == 1 && !cnxd_stopping()) {
        std::printf("%s foce stuk in cnxd \n", who);
        std::fflush(stdout);
        cnxd_stop_wait(std::chrono::seconds(1));
    }
}

// The wait before the next write to a full client. While the daemon runs a
// full client is retried once a second without bound (a client must not
// lose frames, so a full client holds up every sender). A stopping daemon
// ends every retry instead, the stop counting as a failed write: the frame
// is lost for that client and the sender goes on, so that no client that
// stopped reading can hold up the stop. The second's sleep is cut short by
// the stop. True when the write is to be tried again.
bool retry_after_full()
{
    return !cnxd_stop_wait(std::chrono::seconds(1));  // true at once when stopping
}

// Releases a vanished client with the table lock released around it.
void release_gone(Lock& lock, cnxd_client_rec* client, int mode)
{
    sdk_log(4, "[DEVICE] client %d seems detached", client->idx);
    const uint32_t generation = client->generation;
    lock.unlock();
    cnxd_srv_release_gone(client, generation, mode);
    lock.lock();
}

// The bytes of a frame to write: its header length + 4, within what we hold;
// empty (nothing is sent) when not even a header was handed in.
std::span<const uint8_t> whole_frame(std::span<const uint8_t> frame)
{
    if (frame.size() < HCI_HEADER_LEN)
        return {};
    const size_t len = HCI_HEADER_LEN + load_be16(frame.data() + 2);
    return frame.first(len < frame.size() ? len : frame.size());
}

// The common write step: retries once a second while the socket is full,
// with the table lock held and with no bound until the daemon stops (see
// retry_after_full), and releases a client whose peer is gone.
void write_frame(Lock& lock, cnxd_client_rec* client, std::span<const uint8_t> frame,
                 unsigned* retries, bool single, int mode)
{
    const char* tag = single ? " cnxd_srv_send_hci" : "cnxd_srv_notify_hci";
    const char* sep = single ? " -" : "";
    for (;;) {
        const auto start = std::chrono::steady_clock::now();
        const ssize_t n = send(client->esock.sock, frame.data(), frame.size(), MSG_NOSIGNAL);
        const int err = errno;
        if (single) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
            if (ms > 1000)
                sdk_log(4, "[DEVICE] client %d (id=%d)return time was too long(%ldms)",
                        client->idx, static_cast<int>(client->identity), static_cast<long>(ms));
        }
        if (n >= 0) {
            capture_frame_out(*client, frame);
            return;
        }
        if (err == EAGAIN || err == EWOULDBLOCK) {
            ++*retries;
            ++client->stats.send_retries;
            sdk_log(5, "id=%u%s (id=%d) retry to write retry_nr=%u", client->idx, sep,
                    static_cast<int>(client->identity), *retries);
            // The lock stays held: every other sender waits behind a full client.
            if (retry_after_full())
                continue;
        }
        sdk_log(5, "%s : id=%u%s (id=%d) retry to write retry_nr=%u %s(%u)", tag, client->idx, sep,
                static_cast<int>(client->identity), *retries, std::strerror(err),
                static_cast<unsigned>(err));
        ++client->stats.send_drops;
        if (peer_gone(err))
            release_gone(lock, client, mode);
        return;
    }
}

bool receives_frames(const cnxd_client_rec& c) { return c.connected() && c.shm_word(shm::RECV_WORD); }

void copy_to_syslog(const char* text, size_t len)
{
    const std::lock_guard guard(syslog_line_lock);
    for (size_t i = 0; i < len; ++i) {
        if (syslog_fill > SYSLOG_LINE_SIZE - 2) {
            syslog_line[syslog_fill] = '\0';
            syslog(LOG_INFO, "%s", syslog_line);
            syslog_fill = 0;
        }
        if (text[i] == '\n') {
            syslog_line[syslog_fill] = '\0';
            syslog(LOG_INFO, "%s", syslog_line);
            syslog_fill = 0;
            continue;
        }
        syslog_line[syslog_fill++] = text[i];
    }
}

// Formats an HCI_LOG frame into `frame`; returns the frame's size. Every
// log frame, also one of the modem console's output to listed client ids,
// keeps to the wire protocol's 2075 text bytes, which the client library
// holds frames to: a 2076-byte text would be dropped there.
size_t format_log_frame(uint8_t (&frame)[LOG_FRAME_SIZE], const char* fmt, va_list ap)
{
    char* text = reinterpret_cast<char*>(frame + HCI_HEADER_LEN);
    const int n = std::vsnprintf(text, HCI_LOG_MAX_TEXT + 1, fmt, ap);
    size_t len = n < 0 ? 0 : static_cast<size_t>(n);
    if (len > HCI_LOG_MAX_TEXT)
        len = HCI_LOG_MAX_TEXT;
    hci_put_header(frame, HCI_LOG, static_cast<uint16_t>(len));
    return HCI_HEADER_LEN + len;
}

}  // namespace

int cnxd_srv_notify_hci(std::span<const uint8_t> frame, uint32_t identity)
{
    frame = whole_frame(frame);
    if (frame.empty())
        return 0;
    Lock lock(cnxd_client_lock);
    wait_while_stuck("cnxd_srv_notify_hci");
    unsigned retries = 0;
    for (cnxd_client_rec& c : cnxd_client)
        if (receives_frames(c) && c.identity == identity)
            write_frame(lock, &c, frame, &retries, false, SEND_MODE_FREE);
    return 0;
}

int cnxd_srv_send_hci(cnxd_client_rec* client, std::span<const uint8_t> frame, int mode)
{
    frame = whole_frame(frame);
    if (frame.empty())
        return 0;
    Lock lock(cnxd_client_lock);
    unsigned retries = 0;
    if (receives_frames(*client))
        write_frame(lock, client, frame, &retries, true, mode);
    return 0;
}

int cnxd_srv_send_hci_by_id(uint32_t identity, int all, std::span<const uint8_t> frame)
{
    // The receivers are picked under the table lock and served after it:
    // cnxd_srv_send_hci takes the lock per receiver, and checks again that
    // each still receives.
    // A directed send that finds its client gone (and releases it) goes on
    // to the next client of that identity, so that the frame is not lost
    // while a live one is there.
    std::array<cnxd_client_rec*, CNXD_MAX_CLIENTS> receivers{};
    std::array<uint32_t, CNXD_MAX_CLIENTS> generations{};
    size_t count = 0;
    const bool every = all & 0xFF;
    {
        const Lock lock(cnxd_client_lock);
        for (cnxd_client_rec& c : cnxd_client)
            if (c.connected() && (every || c.identity == identity)) {
                generations[count] = c.generation;
                receivers[count++] = &c;
            }
    }
    for (size_t i = 0; i < count; ++i) {
        cnxd_srv_send_hci(receivers[i], frame, SEND_MODE_FREE);
        if (every)
            continue;
        const Lock lock(cnxd_client_lock);
        if (receivers[i]->connected() && receivers[i]->generation == generations[i])
            break;
    }
    return 0;
}

int cnxd_srv_send_sdk_cb_assemble_hci(uint16_t event, iovec* pieces, int count)
{
    static constexpr const char* self = "cnxd_srv_send_sdk_cb_assemble_hci";
    uint16_t data_len = 0;
    for (int i = 1; i < count; ++i)
        data_len = static_cast<uint16_t>(data_len + pieces[i].iov_len);
    uint8_t header[8];
    hci_put_header(header, HCI_SDK_CALLBACK, static_cast<uint16_t>(data_len + 4));
    store_be16(header + 4, event);
    store_be16(header + 6, data_len);
    pieces[0].iov_base = header;
    pieces[0].iov_len = sizeof header;

    const bool trace = cnxd_flags & 1;
    if (trace)
        do_dio_printf("+%s evt=%u cnt=%d\n", self, event, count);
    const unsigned word = subscription_word(event);
    Lock lock(cnxd_client_lock);
    wait_while_stuck(self);
    if (trace)
        do_dio_printf("%s loop\n", self);
    unsigned retries = 0;
    for (int i = 0; i < CNXD_MAX_CLIENTS; ++i) {
        cnxd_client_rec& c = cnxd_client[i];
        if (word == 0 || !c.connected() || !c.shm_word(4 * word))
            continue;
        if (event == EVENT_DM_REPORT) {
            if (!(cnxd_dm_client_mask & (1u << i)))
                continue;
            if (cnxd_api_flags & 2)
                std::printf("Send DM Id (%d), mask (0x%08x)\n", i, cnxd_dm_client_mask.load());
        }
        for (;;) {
            if (trace)
                do_dio_printf("+%s writev i=%d evt=%u id=%u ci=0x%x sk=%u\n", self, i, event, c.idx,
                              c.identity, static_cast<unsigned>(c.esock.sock));
            const ssize_t n = writev(c.esock.sock, pieces, count);
            const int err = errno;
            if (trace)
                do_dio_printf("-%s writev ret=%d(%d)\n", self, static_cast<int>(n), err);
            if (n >= 0) {
                capture_frame_out(c, {pieces, static_cast<size_t>(count)});
                break;
            }
            if (err == EAGAIN || err == EWOULDBLOCK) {
                ++retries;
                ++c.stats.send_retries;
                sdk_log(5, "id=%u retry to writev retry_nr=%u", i, retries);
                if (trace)
                    do_dio_printf("%s retry=%u \n", self, retries);
                if (retry_after_full())
                    continue;
            }
            sdk_log(5, "id=%u retry to writev retry_nr=%u %s(%u)", i, retries, std::strerror(err),
                    static_cast<unsigned>(err));
            ++c.stats.send_drops;
            if (peer_gone(err))
                release_gone(lock, &c, SEND_MODE_FREE);
            break;
        }
    }
    lock.unlock();
    if (trace)
        do_dio_printf("-%s evt=%u cnt=%d\n", self, event, count);
    return 0;
}

int cnxd_srv_vsend_log(const char* fmt, va_list ap)
{
    uint8_t frame[LOG_FRAME_SIZE];
    const size_t size = format_log_frame(frame, fmt, ap);
    if (g_is_qlog_to_pc)
        copy_to_syslog(reinterpret_cast<const char*>(frame + HCI_HEADER_LEN), size - HCI_HEADER_LEN);
    return cnxd_srv_notify_hci({frame, size}, 0);
}

int cnxd_srv_send_log(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int rc = cnxd_srv_vsend_log(fmt, ap);
    va_end(ap);
    return rc;
}

int cnxd_srv_send_log_to_ids(const uint32_t* ids, const char* fmt, ...)
{
    uint8_t frame[LOG_FRAME_SIZE];
    va_list ap;
    va_start(ap, fmt);
    const size_t size = format_log_frame(frame, fmt, ap);
    va_end(ap);
    for (; ids && *ids != 0; ++ids)
        cnxd_srv_notify_hci({frame, size}, *ids);
    return 0;
}

void cnxd_srv_set_dm_client(unsigned index)
{
    if (index == 255)
        cnxd_dm_client_mask = 0;
    else if (index < 32)
        cnxd_dm_client_mask |= 1u << index;
}

}  // namespace cnxd
