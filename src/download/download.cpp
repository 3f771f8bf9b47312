// Firmware download sessions, one per device: the thread that sends the
// image chunk by chunk, the wait for each chunk's response and the hand-over
// of that response from the SDK callback thread.
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
#include "base/env.h"
#include "base/fd.h"
#include "base/path.h"
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

// The modem answers each chunk within 30 s; CNXD_DOWNLOAD_WAIT_MS sets
// another bound, so that a test of a silent modem need not wait that long.
constexpr int DOWNLOAD_WAIT_DEFAULT_MS = 30000;

// One device's download session. The fields under `mu` are shared with the
// SDK callback thread; `thread` belongs to whoever holds `owner`.
struct session {
    std::mutex mu;
    std::condition_variable cond;
    bool running = false;
    bool download_fail = false;
    int32_t response = 0;
    // Responses handed over minus waits begun: a response that comes
    // before its wait leaves it at 0 for that wait, so none is lost.
    int pthread_count = 0;

    int print_index = 0;  // the download thread's own

    std::mutex owner;
    std::thread thread;
    std::atomic<bool> ended{true};
};

std::array<session, DOWNLOAD_DEVICE_TABLE_SIZE> sessions;

// A program that ends without stopping the daemon (a test rig) still ends
// its download threads rather than leaving them to abort the exit.
struct stop_at_exit {
    ~stop_at_exit() { download_stop_all(); }
} sessions_joiner;

// Counts one response (or the end of the session) and wakes a wait that
// has begun. With `s.mu` held.
void hand_over(session& s, int32_t code)
{
    s.response = code;
    if (s.pthread_count++ < 0)
        s.cond.notify_one();
}

// The response to the chunk just sent, or nothing when none came in time.
std::optional<int32_t> await_response(session& s)
{
    const auto bound = std::chrono::milliseconds(env_millis("CNXD_DOWNLOAD_WAIT_MS", DOWNLOAD_WAIT_DEFAULT_MS));
    std::unique_lock l(s.mu);
    if (--s.pthread_count < 0 && !s.cond.wait_for(l, bound, [&] { return s.pthread_count >= 0; }))
        return std::nullopt;
    return s.response;
}

bool still_running(session& s)
{
    std::lock_guard g(s.mu);
    return s.running;
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

// One firmware download: the image sent chunk by chunk, then the end record.
class download_run {
public:
    download_run(uint32_t dev, download_request req)
        : dev_(dev), s_(sessions[dev]), req_(std::move(req)), rec_(transfer::FIRMWARE_SIZE, 0)
    {
    }

    void run()
    {
        std::memcpy(&rec_[transfer::NAME], req_.file.data(), std::min(req_.file.size(), transfer::NAME_SIZE));
        cnxd_srv_send_log("\nDownload File %s\n", req_.file.c_str());
        cnxd_srv_send_log("Download Start\n");
        const unique_file f(std::fopen(cnxd_path(req_.file).c_str(), "rb"));
        if (!f) {
            // Nothing has gone to the modem: no end record either.
            cm_printf(CM_ERR, "[%-25s] file open fail : %s\n", FN, std::strerror(errno));
            end_unsent();
            return;
        }
        const bool ok = send_image(f.get());
        send_end(ok);
    }

private:
    void end_unsent()
    {
        {
            std::lock_guard g(s_.mu);
            s_.running = false;
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
            if (!still_running(s_)) {
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
            if (!send_chunk(count, offset))
                return false;
            if (last)
                return true;
            offset += static_cast<uint32_t>(count);
            print_download_percent(s_, dev_, static_cast<int>(total / std::max(size / 100, 1L)));
        }
    }

    // Sends one chunk and waits for the modem to take it.
    bool send_chunk(size_t count, uint32_t offset)
    {
        transfer_header(rec_, static_cast<uint32_t>(count) + transfer::HEADER_LEN, req_.type, offset);
        // The lock is not held across the call: the modem may answer before
        // the call returns, and that answer is counted for the wait below.
        if (cm_binary_download(dev_, rec_.data()) != 0) {
            cm_printf(CM_ERR, "[%-25s] cm_binary_downlaod failed\n", FN);
            return false;
        }
        const std::optional<int32_t> rsp = await_response(s_);
        if (!rsp) {
            cm_printf(CM_ERR, "[%-25s] Firmware Donwload Response Timeout\n", FN);
            return false;
        }
        if (*rsp == DOWNLOAD_RSP_CRC_ERROR)
            cm_printf(CM_ERR, "[%-25s] CRC ERROR\n", FN);
        return *rsp <= 0;
    }

    // The end record, sent only while the session still runs; the session
    // ends with it, so that the modem's answer to it reports the download.
    void send_end(bool ok)
    {
        bool was_running = false;
        {
            std::lock_guard g(s_.mu);
            if (!ok)
                s_.download_fail = true;
            was_running = s_.running;
            s_.running = false;
        }
        if (!ok) {
            downloading_set(0, dev_);
            cnxd_srv_send_log("download failed [dev index : %d]\n", static_cast<int>(dev_));
        }
        if (!was_running)
            return;
        transfer_header(rec_, transfer::END_LEN, req_.type, ok ? transfer::END_SUCCESS : transfer::END_FAILURE);
        std::fill_n(&rec_[transfer::DATA], transfer::END_LEN - transfer::HEADER_LEN, 0);
        cm_binary_download(dev_, rec_.data());
    }

    static constexpr const char* FN = "download_thread";

    uint32_t dev_;
    session& s_;
    download_request req_;
    std::vector<uint8_t> rec_;
};

void download_thread(uint32_t dev, download_request req)
{
    download_run(dev, std::move(req)).run();
    sessions[dev].ended = true;
}

// Joins the session's thread when it has one. With `s.owner` held.
void join_thread(session& s)
{
    if (s.thread.joinable())
        s.thread.join();
}

}  // namespace

int run_download(uint32_t dev, download_request req)
{
    if (dev >= DOWNLOAD_DEVICE_TABLE_SIZE)
        return -1;
    session& s = sessions[dev];
    std::lock_guard own(s.owner);
    if (!s.ended) {
        cm_printf(CM_ERR, "[%-25s] download already running [dev index : %d]\n", "run_download",
                  static_cast<int>(dev));
        return -1;
    }
    join_thread(s);
    {
        std::lock_guard g(s.mu);
        s.running = true;
        s.download_fail = false;
        s.response = 0;
        s.pthread_count = 0;
    }
    s.print_index = 0;
    s.ended = false;
    try {
        s.thread = std::thread(download_thread, dev, std::move(req));
    } catch (const std::system_error& e) {
        cm_printf(CM_ERR, "thread create error: %s\n", e.what());
        std::lock_guard g(s.mu);
        s.running = false;
        s.ended = true;
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
        if (s.running)
            return hand_over(s, code);
        if (s.download_fail)
            return;
    }
    downloading_set(0, dev);
    constexpr const char* REPORTS[] = {"download complete [dev index : %d]\n", "download fail [dev index : %d]\n",
                                       "crc error [dev index : %d]\n"};
    if (code >= 0 && code < static_cast<int32_t>(std::size(REPORTS)))
        cnxd_srv_send_log(REPORTS[code], static_cast<int>(dev));
}

void download_terminate(uint32_t dev)
{
    if (dev >= DOWNLOAD_DEVICE_TABLE_SIZE)
        return;
    session& s = sessions[dev];
    {
        std::lock_guard g(s.mu);
        if (!s.running)
            return;
        s.running = false;
        hand_over(s, DOWNLOAD_RSP_FAIL);
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
