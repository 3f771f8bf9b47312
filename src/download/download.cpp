// Firmware download sessions, one per device: the thread that sends the
// image chunk by chunk and then the end record, the wait for each answer
// and the hand-over of that answer from the SDK callback thread.
#include "download/download.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "base/be.h"
#include "base/check_memcpy.h"
#include "base/env.h"
#include "base/fd.h"
#include "base/path.h"
#include "base/stop.h"
#include "base/thread_name.h"
#include "modem/cm_printf.h"
#include "modem/cm_wrappers.h"
#include "server/delivery.h"

namespace cnxd {

std::array<std::atomic<uint32_t>, DOWNLOAD_DEVICE_TABLE_SIZE> downloading{};

void downloading_set(uint32_t value, uint32_t dev)
{
    if (dev < DOWNLOAD_DEVICE_TABLE_SIZE)
        downloading[dev] = value;
}

void transfer_header(std::span<uint8_t> rec, uint32_t length, uint16_t type, uint32_t offset)
{
    store_be32(&rec[transfer::LENGTH], length);
    store_be16(&rec[transfer::TYPE], type);
    store_be32(&rec[transfer::OFFSET], offset);
}

namespace {

// The module's guarded copy: a null address is reported as
// "[check_memcpy             ] [file:line] memcpy:... is NULL." and nothing
// is copied.
void* download_check_memcpy(void* dst, const void* src, size_t len, const char* file, int line)
{
    return check_memcpy(dst, src, len, file, line,
                        [](const char* text) { cm_printf(CM_ERR, "[%-25s] %s", "check_memcpy", text); });
}

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// The modem answers each chunk and the end record within 30 s;
// CNXD_DOWNLOAD_WAIT_MS sets another bound, so that a test of a silent
// modem need not wait that long.
constexpr int DOWNLOAD_WAIT_DEFAULT_MS = 30000;
milliseconds download_wait() { return milliseconds(env_millis("CNXD_DOWNLOAD_WAIT_MS", DOWNLOAD_WAIT_DEFAULT_MS)); }

// The waits below are woken by the modem's answer through the session's own
// condition, which the stop request cannot share: they look at the stop
// request this often.
constexpr milliseconds STOP_LOOK{100};

// Where a device's session is. `chunks` and `end` belong to a running
// download (the shell refuses a second one); `closing` is a session that
// has given its result and freed the device, its thread about to end.
enum class phase { idle, chunks, end, closing };

// One device's download session. The fields under `mu` are shared with the
// SDK callback thread and with the next run_download; `thread` belongs to
// whoever holds `owner`.
struct session {
    std::mutex mu;
    std::condition_variable cond;  // an answer came, or the phase changed
    phase at = phase::idle;
    bool download_fail = false;
    int32_t response = 0;
    // Answers handed over minus waits begun: an answer that comes before
    // its wait leaves it at 0 for that wait, so none is lost.
    int pthread_count = 0;

    int print_index = 0;  // the download thread's own

    std::mutex owner;
    std::thread thread;
};

std::array<session, DOWNLOAD_DEVICE_TABLE_SIZE> sessions;

// A program that ends without stopping the daemon (a test rig) still ends
// its download threads rather than leaving them to abort the exit.
struct stop_at_exit {
    ~stop_at_exit() { download_stop_all(); }
} sessions_joiner;

bool in_download(phase p) { return p == phase::chunks || p == phase::end; }

// Waits on the session's condition, with `l` holding `s.mu`, until `done`
// holds (true), the bound passes or a stop is requested (false).
template <typename Done>
bool session_wait(session& s, std::unique_lock<std::mutex>& l, milliseconds bound, Done done)
{
    const auto deadline = steady_clock::now() + bound;
    while (!done()) {
        const auto now = steady_clock::now();
        if (now >= deadline || cnxd_stopping())
            return false;
        s.cond.wait_for(l, std::min<steady_clock::duration>(deadline - now, STOP_LOOK));
    }
    return true;
}

// Counts one answer (or the end of the session) and wakes a wait that has
// begun. With `s.mu` held.
void hand_over(session& s, int32_t code)
{
    s.response = code;
    if (s.pthread_count++ < 0)
        s.cond.notify_all();
}

// How a wait for the modem's answer ended.
enum class answer { given, silent, cut };
struct awaited {
    answer how;
    int32_t code = 0;
};

// The answer to the record just sent while the session is still in
// `expect`: `cut` when the device was removed or the daemon stops.
awaited await_response(session& s, phase expect)
{
    std::unique_lock l(s.mu);
    const bool answered = --s.pthread_count >= 0 ||
                          session_wait(s, l, download_wait(), [&] { return s.pthread_count >= 0; });
    if (s.at != expect || cnxd_stopping())
        return {answer::cut};
    if (!answered) {
        // The wait gives up its place: the modem's next answer is for the
        // next record.
        ++s.pthread_count;
        return {answer::silent};
    }
    return {answer::given, s.response};
}

bool still_in(session& s, phase p)
{
    std::lock_guard g(s.mu);
    return s.at == p && !cnxd_stopping();
}

// Logs the progress once per 10 %.
void print_download_percent(session& s, uint32_t dev, int percent)
{
    const int step = percent / 10;
    if (s.print_index < step) {
        s.print_index = step;
        cnxd_srv_send_log("dev(%d) %d%%[complete]\n", static_cast<int>(dev), step * 10);
    }
}

long file_size(FILE* f)
{
    struct stat st {};
    return fstat(fileno(f), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

// The modem's answer to the end record, as the engineer reads it.
void report_end_answer(int32_t code, uint32_t dev)
{
    constexpr const char* REPORTS[] = {"download complete [dev index : %d]\n", "download fail [dev index : %d]\n",
                                       "crc error [dev index : %d]\n"};
    if (code >= 0 && code < static_cast<int32_t>(std::size(REPORTS)))
        cnxd_srv_send_log(REPORTS[code], static_cast<int>(dev));
}

// One firmware download: the image sent chunk by chunk, then the end record
// and its answer.
class download_run {
public:
    download_run(uint32_t dev, download_request req)
        : dev_(dev), s_(sessions[dev]), req_(std::move(req)), rec_(transfer::FIRMWARE_SIZE, 0)
    {
    }

    void run()
    {
        download_check_memcpy(&rec_[transfer::NAME], req_.file.data(),
                              std::min(req_.file.size(), transfer::NAME_SIZE), __FILE__, __LINE__);
        cnxd_srv_send_log("\nDownload File %s\n", req_.file.c_str());
        cnxd_srv_send_log("Download Start\n");
        const unique_file f(std::fopen(cnxd_sysroot_path(req_.file).c_str(), "rb"));
        if (!f) {
            // Nothing has gone to the modem: no end record, and this line
            // is the download's last word.
            const int err = errno;
            close(false);
            cm_printf(CM_ERR, "[%-25s] file open fail : %s\n", FN, std::strerror(err));
            return;
        }
        const bool ok = send_image(f.get());
        const std::optional<int32_t> reply = end_answer(ok);
        // Decision: every way a started download can go wrong (a chunk or
        // the end record refused or left unanswered, a CRC error, an empty
        // file, the device's removal, the daemon's stop) ends it as
        // "download failed" and frees the device, so that a retry can
        // start at once.
        close(!ok || !reply);
        if (ok && reply)
            report_end_answer(*reply, dev_);
        else
            cnxd_srv_send_log("download failed [dev index : %d]\n", static_cast<int>(dev_));
    }

private:
    // The device is free again: the shell takes its commands and a next
    // download, before the line that tells how the download ended goes
    // out. The phase leaves the download first, so that run_download never
    // refuses a device the shell has let through.
    void close(bool failed)
    {
        {
            std::lock_guard g(s_.mu);
            s_.at = phase::closing;
            s_.download_fail = failed;
        }
        downloading_set(0, dev_);
    }

    // True when every chunk went and the modem took the last one.
    bool send_image(FILE* f)
    {
        const long size = file_size(f);
        uint32_t offset = 0;
        long total = 0;
        for (bool first = true;; first = false) {
            if (!still_in(s_, phase::chunks)) {
                cm_printf(CM_ERR, "[%-25s] Stopping download\n", FN);
                return false;
            }
            const size_t count = std::fread(&rec_[transfer::DATA], 1, transfer::CHUNK, f);
            if (count == 0 && first) {
                cm_printf(CM_ERR, "[%-25s] Invalid download file\n", FN);
                return false;
            }
            total += static_cast<long>(count);
            const bool last = count < transfer::CHUNK;
            // The last chunk carries the offset of its end.
            if (last)
                offset += static_cast<uint32_t>(count);
            transfer_header(rec_, static_cast<uint32_t>(count) + transfer::HEADER_LEN, req_.type, offset);
            if (!send_chunk())
                return false;
            if (last)
                return true;
            offset += static_cast<uint32_t>(count);
            print_download_percent(s_, dev_, static_cast<int>(total / std::max(size / 100, 1L)));
        }
    }

    // Sends one chunk and waits for the modem to take it.
    bool send_chunk()
    {
        if (!send())
            return false;
        const awaited a = await_response(s_, phase::chunks);
        if (a.how == answer::silent)
            cm_printf(CM_ERR, "[%-25s] Firmware Donwload Response Timeout\n", FN);
        if (a.how != answer::given)
            return false;
        if (a.code == DOWNLOAD_RSP_CRC_ERROR)
            cm_printf(CM_ERR, "[%-25s] CRC ERROR\n", FN);
        return a.code <= 0;
    }

    // The record in rec_ to the modem. The session's lock is not held
    // across the call, kept so on purpose: the modem may answer before the
    // call returns (on the SDK's callback thread, which takes the lock to
    // count the answer), and that answer is counted for the wait that
    // follows instead of holding up the callback thread.
    bool send()
    {
        if (cm_binary_download(dev_, rec_.data()) == 0)
            return true;
        cm_printf(CM_ERR, "[%-25s] cm_binary_downlaod failed\n", FN);
        return false;
    }

    // Sends the end record, which says whether the image went whole, and
    // waits for the modem's answer to it; a removed device or a stopping
    // daemon gets none. The answer, or nothing when none came. The session
    // leaves the chunks before the record is sent, not after: a removal
    // between the two then finds the session in its end phase and is
    // counted, where the other order would send an end record for a
    // removed device.
    std::optional<int32_t> end_answer(bool ok)
    {
        {
            std::lock_guard g(s_.mu);
            if (s_.at != phase::chunks || cnxd_stopping())
                return std::nullopt;
            s_.at = phase::end;
        }
        transfer_header(rec_, transfer::END_LEN, req_.type, ok ? transfer::END_SUCCESS : transfer::END_FAILURE);
        std::fill_n(&rec_[transfer::DATA], transfer::END_LEN - transfer::HEADER_LEN, 0);
        if (!send())
            return std::nullopt;
        const awaited a = await_response(s_, phase::end);
        if (a.how == answer::silent)
            cm_printf(CM_ERR, "[%-25s] Firmware Donwload Response Timeout\n", FN);
        return a.how == answer::given ? std::optional(a.code) : std::nullopt;
    }

    static constexpr const char* FN = "download_thread";

    uint32_t dev_;
    session& s_;
    download_request req_;
    std::vector<uint8_t> rec_;
};

void download_thread(uint32_t dev, download_request req)
{
    name_thread("download", static_cast<int>(dev));
    download_run(dev, std::move(req)).run();
    session& s = sessions[dev];
    std::lock_guard g(s.mu);
    s.at = phase::idle;
    s.cond.notify_all();
}

// Joins the session's thread when it has one. With `s.owner` held.
void join_thread(session& s)
{
    if (s.thread.joinable())
        s.thread.join();
}

// Waits, with `s.owner` held, until the device's previous session has
// ended, so that its thread can be joined. A session still downloading is
// not waited for; one that has freed the device ends within one SDK call.
bool previous_ended(session& s, uint32_t dev)
{
    std::unique_lock l(s.mu);
    if (!in_download(s.at) && session_wait(s, l, download_wait(), [&] { return s.at == phase::idle; }))
        return true;
    cm_printf(CM_ERR, "[%-25s] download already running [dev index : %d]\n", "run_download", static_cast<int>(dev));
    return false;
}

}  // namespace

int run_download(uint32_t dev, download_request req)
{
    if (dev >= DOWNLOAD_DEVICE_TABLE_SIZE)
        return -1;
    session& s = sessions[dev];
    std::lock_guard own(s.owner);
    if (!previous_ended(s, dev)) {
        // A session still downloading keeps the device; one stuck on its
        // way out has freed it already, and so does this refusal.
        std::lock_guard g(s.mu);
        if (!in_download(s.at))
            downloading_set(0, dev);
        return -1;
    }
    join_thread(s);
    {
        std::lock_guard g(s.mu);
        s.at = phase::chunks;
        s.download_fail = false;
        s.response = 0;
        s.pthread_count = 0;
    }
    s.print_index = 0;
    // The caller set the word already; the previous session's end may have
    // cleared it since.
    downloading_set(1, dev);
    try {
        s.thread = std::thread(download_thread, dev, std::move(req));
    } catch (const std::system_error& e) {
        cm_printf(CM_ERR, "thread create error: %s\n", e.what());
        std::lock_guard g(s.mu);
        s.at = phase::idle;
        downloading_set(0, dev);
        return -1;
    }
    return 0;
}

void continue_download(int32_t code, uint32_t dev)
{
    if (dev >= DOWNLOAD_DEVICE_TABLE_SIZE)
        return;
    session& s = sessions[dev];
    {
        std::lock_guard g(s.mu);
        if (in_download(s.at))
            return hand_over(s, code);
        if (s.download_fail)
            return;
    }
    // An answer no session waits for (an NV item's, a late one).
    report_end_answer(code, dev);
}

// Decision: the device's removal frees it for the shell whatever its
// session is doing, the end record's answer included. The download thread
// is not joined here: this runs on the SDK's callback thread, which the
// thread may need for the answer it waits on; the thread ends within one
// SDK call and is joined by the next run_download or download_stop_all.
void download_terminate(uint32_t dev)
{
    if (dev >= DOWNLOAD_DEVICE_TABLE_SIZE)
        return;
    session& s = sessions[dev];
    {
        std::lock_guard g(s.mu);
        if (in_download(s.at)) {
            s.at = phase::closing;
            hand_over(s, DOWNLOAD_RSP_FAIL);
        }
    }
    downloading_set(0, dev);
}

void download_stop_all()
{
    for (uint32_t dev = 0; dev < DOWNLOAD_DEVICE_TABLE_SIZE; ++dev) {
        download_terminate(dev);
        session& s = sessions[dev];
        std::lock_guard own(s.owner);
        join_thread(s);
    }
}

}  // namespace cnxd
