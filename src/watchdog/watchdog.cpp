#include "watchdog/watchdog.h"

#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/be.h"
#include "base/fd.h"
#include "base/path.h"
#include "base/platform_call.h"
#include "base/shell.h"
#include "base/stop.h"
#include "base/thread_name.h"
#include "config/confdb_access.h"
#include "core/timer.h"
#include "ltesdk.h"
#include "modem/bringup.h"
#include "msgclient.h"
#include "server/delivery.h"

namespace cnxd {

std::atomic<int> gWTDEnable{WTD_ENABLE_UNREAD};
std::atomic<int> watchdog_mode{WTD_MODE_NORMAL};
std::atomic<int> watchdog_AllOff{0};
std::atomic<int> watchdog_hold{0};
std::atomic<int> gWTD_HCI_ExpCnt{0};

namespace {

// The modem the watchdog talks to, and what its request carries.
constexpr uint32_t WTD_DEV = 1;
constexpr uint32_t WTD_REQUEST_WORD = 2;
constexpr uint32_t ARM1_RESET_SEEN = 1;

// How often the reset-check thread looks at the status file: once a
// second, by choice. The supervisor takes seconds to reset a modem, a look
// is one small file read, and it reports only what changed, so the
// listeners hear nothing while the byte stays as it is.
constexpr auto RESET_CHECK_PERIOD = std::chrono::seconds(1);
constexpr int STATUS_WRITE_ATTEMPTS = 11;
constexpr auto STATUS_WRITE_RETRY = std::chrono::seconds(1);
// Texts waiting for the printer. While a listener does not read, the
// printer waits in its delivery and the texts after these are dropped, so
// a stuck listener costs bounded memory.
constexpr size_t TEXTS_MAX = 64;
constexpr size_t TEXT_SIZE = 2080;

// State changes of the watchdog (start, stop, kick, hold, the expiry rule)
// are made under this lock. The timer callbacks never take it: they only
// re-arm themselves and post to the worker, so a stop_timer made under the
// lock (which waits for a running callback) cannot wait for a thread that
// waits for the lock.
std::mutex wtd_lock;
std::atomic<int> running{0};
std::atomic<bool> crash_on_done{false};
std::atomic<int> retry_period{0};
std::atomic<int> expiry_period{0};
cnxd_timer retry_timer;
cnxd_timer expired_timer;

// The watchdog's own threads. The worker runs what the timers hand it (the
// modem request, the expiry rule); the printer delivers the watchdog's
// texts to the log listeners; the reset-check thread looks at the status
// file. Only the printer ever waits on a listener, so a listener that
// stops reading holds up neither the timers nor the worker: requests and
// expiries go on, and their texts wait (or are dropped, TEXTS_MAX). All of
// them wait on `threads.cond`, so the shutdown's notice cuts their waits
// short.
enum class wtd_job { retry, expired };

struct wtd_threads {
    std::mutex lock;
    std::condition_variable cond;
    bool stopping = false;
    std::deque<wtd_job> jobs;
    std::deque<std::string> texts;
    std::thread worker;
    std::thread printer;
    std::thread reset_check;
    bool reset_check_ended = false;

    // A process that never shut the watchdog down (a test of a part that
    // prints through it) still ends its threads at exit.
    ~wtd_threads()
    {
        {
            std::lock_guard g(lock);
            stopping = true;
        }
        cond.notify_all();
        for (std::thread* t : {&worker, &printer, &reset_check})
            if (t->joinable())
                t->join();
    }
};
wtd_threads threads;

bool stopping_locked() { return threads.stopping || cnxd_stopping(); }

bool shutting_down()
{
    std::lock_guard g(threads.lock);
    return threads.stopping;
}

// Waits `d`, or less when the shutdown or the daemon's stop comes first;
// false then.
template <typename Duration>
bool pause_unless_stopping(Duration d)
{
    std::unique_lock g(threads.lock);
    return !threads.cond.wait_for(g, d, stopping_locked);
}

// Starts `t` with `body` unless it runs; called with threads.lock held.
void ensure_thread_locked(std::thread& t, void (*body)())
{
    if (!t.joinable())
        t = std::thread(body);
}

void printer_main()
{
    name_thread("wtd_printer");
    for (;;) {
        std::string text;
        {
            std::unique_lock g(threads.lock);
            threads.cond.wait(g, [] { return threads.stopping || !threads.texts.empty(); });
            if (threads.stopping)
                return;
            text = std::move(threads.texts.front());
            threads.texts.pop_front();
        }
        cnxd_srv_send_log("%s", text.c_str());
    }
}

// The watchdog's log output: formats the text here and hands it to the
// printer, so the caller (a timer callback, the worker, an indication
// holding wtd_lock) never waits on a listener.
__attribute__((format(printf, 1, 2))) void wtd_log(const char* fmt, ...)
{
    char text[TEXT_SIZE];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    std::lock_guard g(threads.lock);
    if (threads.stopping || threads.texts.size() >= TEXTS_MAX)
        return;
    ensure_thread_locked(threads.printer, printer_main);
    threads.texts.emplace_back(text);
    threads.cond.notify_all();
}

bool target_file_exists(const char* path) { return access(cnxd_path(path).c_str(), F_OK) == 0; }

// The status byte, without a word on failure; false when the file cannot
// be opened. An empty file leaves the byte as it was.
bool read_status(uint8_t* value)
{
    unique_file f(std::fopen(cnxd_path(WTD_STATUS_FILE).c_str(), "rb+"));
    if (!f)
        return false;
    if (const int c = std::fgetc(f.get()); c != EOF)
        *value = static_cast<uint8_t>(c);
    return true;
}

// ---- Timers and the work they hand over ----------------------------------------

void retry_timer_thread()
{
    if (watchdog_AllOff) {
        wtd_log("%s, watchdog All Off status! \r\n", "retry_timer_thread");
        return;
    }
    if (watchdog_hold) {
        wtd_log("%s,\r\nWTD: We got Arm1 Reset Msg_0,__ Hold to HCI\r\n", "retry_timer_thread");
        return;
    }
    // The request leaves the expiry timer alone: only an answer re-arms it
    // (lte_watchdog_kick), so a modem that stops answering is caught one
    // expiry period after its last answer, whatever the two periods are.
    // Sent without the lock: the response may be delivered (and kick the
    // watchdog) before the call returns.
    uint8_t word[4];
    store_be32(word, WTD_REQUEST_WORD);
    if (LAPI_WatchdogRequest(hAPI, WTD_DEV, word) == 0)
        wtd_log("%s, WTD-a_Success", "retry_timer_thread");
    else
        wtd_log("%s, WTD-a_ Fail", "retry_timer_thread");
}

void start_locked(const lte_watchdog_config& cfg);

// What an expiry does, on the worker.
void expired_timer_thread()
{
    wtd_log("%s, reset tk", "expired_timer_func");
    if (target_file_exists(WTD_PREVENT_WATCHDOG) || !running)
        return;
    if (!target_file_exists(WTD_PREVENT_REBOOT) && watchdog_mode == WTD_MODE_REBOOT) {
        vemo_log_console("[cnxdaemon watchdog]:%s: will reboot system\r\n", "expired_timer_func");
        cnxd_system("sync");
        cnxd_system("reboot");
        return;
    }
    bool ask_supervisor = false;
    lte_watchdog_config cfg;  // for a restart, read before taking the lock
    lte_watchdog_get_config(&cfg);
    {
        std::lock_guard g(wtd_lock);
        const int hold = watchdog_hold;
        const int count = gWTD_HCI_ExpCnt;
        wtd_log("%s, WTD: HCI RSP Exp [H: %d, Cnt: %d]\r\n", "expired_timer_func", hold, count);
        if (hold == 0 && count == 0) {
            wtd_log("%s, WTD: HCI RSP Fisrt Exp !!\r\n", "expired_timer_func");
            start_locked(cfg);
            ++gWTD_HCI_ExpCnt;
        } else if (hold == 0 && count > 0) {
            wtd_log("%s, WTD: HCI RSP Second Exp !!\r\n", "expired_timer_func");
            gWTD_HCI_ExpCnt = 0;
            ask_supervisor = true;
        }
    }
    // The status file is written without the lock: its retries may take 11 s.
    if (uint8_t sts = 0; ask_supervisor && wtd_status_read(&sts) == 0 && sts == WTD_STS_NORMAL)
        wtd_status_write(WTD_STS_REQUEST);
}

void worker_main()
{
    name_thread("wtd_worker");
    for (;;) {
        wtd_job job;
        {
            std::unique_lock g(threads.lock);
            threads.cond.wait(g, [] { return threads.stopping || !threads.jobs.empty(); });
            if (threads.stopping)
                return;
            job = threads.jobs.front();
            threads.jobs.pop_front();
        }
        if (job == wtd_job::retry)
            retry_timer_thread();
        else
            expired_timer_thread();
    }
}

// Hands `job` to the worker, starting it on first use. A job of the same
// kind still waiting is not queued twice, so a stuck SDK call does not pile
// up requests.
void post(wtd_job job)
{
    std::lock_guard g(threads.lock);
    if (threads.stopping)
        return;
    for (wtd_job waiting : threads.jobs)
        if (waiting == job)
            return;
    ensure_thread_locked(threads.worker, worker_main);
    threads.jobs.push_back(job);
    threads.cond.notify_all();
}

// The timer callbacks run on the timer thread, which keep-alive and the
// DHCP lease expiry share: they print nothing themselves (their texts go to
// the printer) and take no lock a sender may hold, so a listener that stops
// reading never holds up the timer thread.
void retry_timer_func(uint32_t)
{
    wtd_log("%s+", "retry_timer_func");
    start_timer(&retry_timer, retry_period);
    post(wtd_job::retry);
    wtd_log("%s-", "retry_timer_func");
}

void expired_timer_func(uint32_t) { post(wtd_job::expired); }

// ---- Reset check ---------------------------------------------------------------

bool reset_check_should_end()
{
    std::lock_guard g(threads.lock);
    return stopping_locked() || watchdog_AllOff;
}

void func_thread_CheckUnderReset()
{
    name_thread("wtd_reset_check");
    // The outcome of the last look: the byte read, or -1 when the file
    // could not be read; nothing before the first look.
    std::optional<int> last;
    // The wait ends at once on the shutdown's notice (lte_watchdog_shutdown,
    // a step of every stop); a stop request alone is seen within the period.
    while (!reset_check_should_end() && pause_unless_stopping(RESET_CHECK_PERIOD) && !reset_check_should_end()) {
        uint8_t sts = 0;
        const bool read = read_status(&sts);
        const int seen = read ? sts : -1;
        const bool changed = seen != last;
        last = seen;
        if (changed) {
            wtd_log("WTD: We are Checking to Stop_____[hold: %d]\r\n", watchdog_hold.load());
            if (!read)
                wtd_log("WTD file Read Error: \r\n");
        }
        if (wtd_check_status(read ? sts : WTD_STS_NORMAL, changed) == 1) {
            wtd_log("WTD: We got Arm1 Reset Msg_<<AAA>>,__ Ready to Stop HCI\r\n");
            LAPI_NotiArm1Reset(ARM1_RESET_SEEN);
            lte_watchdog_stop();
        }
    }
    wtd_log("WTD: CheckUnderReset\tEnd=====\r\n");
    std::lock_guard g(threads.lock);
    threads.reset_check_ended = true;
}

// Starts the reset-check thread unless one runs: one at a time, however
// often the watchdog is started or its init indication comes, and also when
// the store enabled the watchdog only after start-up, so the supervisor's
// reset byte is always answered.
void ensure_reset_check()
{
    std::lock_guard g(threads.lock);
    if (threads.stopping)
        return;
    if (threads.reset_check.joinable()) {
        if (!threads.reset_check_ended)
            return;
        threads.reset_check.join();
    }
    threads.reset_check_ended = false;
    threads.reset_check = std::thread(func_thread_CheckUnderReset);
}

// Starts with settings read just before (the store read, which runs the
// store tool, is not made under the lock).
void start_locked(const lte_watchdog_config& cfg)
{
    if (shutting_down())
        return;
    if (watchdog_AllOff) {
        wtd_log("%s,WTD: watchdog All Off status! \r\n", "lte_watchdog_start");
        return;
    }
    running = 0;
    if (cfg.enable)
        ensure_reset_check();
    if (!cfg.enable || !cfg.retry_ms || !cfg.expired_ms)
        return;
    retry_period = cfg.retry_ms;
    expiry_period = cfg.expired_ms;
    wtd_log("%s, watchdog start![Hold:%d]", "lte_watchdog_start", watchdog_hold.load());
    if (!crash_on_done.exchange(true))
        cnxd_system("kern resettk crash on");
    stop_timer(&retry_timer);
    stop_timer(&expired_timer);
    retry_timer = {};
    init_timer(&retry_timer, retry_timer_func, 0);
    expired_timer = {};
    init_timer(&expired_timer, expired_timer_func, 0);
    wtd_log("%s, start retry(%dms) and expired(%dms) timer", "lte_watchdog_start", cfg.retry_ms, cfg.expired_ms);
    start_timer(&retry_timer, cfg.retry_ms);
    if (watchdog_hold != 1)
        start_timer(&expired_timer, cfg.expired_ms);
    running = 1;
    watchdog_hold = 0;
}

void stop_locked()
{
    if (!running)
        return;
    stop_timer(&retry_timer);
    stop_timer(&expired_timer);
    delete_timer(&retry_timer);
    delete_timer(&expired_timer);
    running = 0;
    wtd_log("%s, watchdog stop!", "lte_watchdog_stop");
}

}  // namespace

int lte_watchdog_get_config(lte_watchdog_config* cfg)
{
    *cfg = {};
    {
        const ConfdbDump dump("confdb_wan_lte_watchdog", "config wan lte watchdog");
        cfg->enable = static_cast<int>(dump.read_number("", "ENABLE"));
        gWTDEnable = cfg->enable;
        if (cfg->enable) {
            cfg->retry_ms = static_cast<int>(dump.read_number("", "retry_time"));
            cfg->expired_ms = static_cast<int>(dump.read_number("", "expired_time"));
        }
    }
    cfg->retry_ms /= 2;
    cfg->expired_ms /= 2;
    return 0;
}

void lte_watchdog_init()
{
    {
        std::lock_guard g(threads.lock);
        threads.stopping = false;
    }
    lte_watchdog_config cfg;
    lte_watchdog_get_config(&cfg);
    wtd_log("WTD_ lte_watchdog_init [%d]\r\n", cfg.enable);
    if (cfg.enable)
        ensure_reset_check();
}

void lte_watchdog_is_enable(int* enable)
{
    if (gWTDEnable == WTD_ENABLE_UNREAD) {
        lte_watchdog_config cfg;
        lte_watchdog_get_config(&cfg);
    }
    *enable = gWTDEnable;
}

void lte_watchdog_start()
{
    lte_watchdog_config cfg;
    lte_watchdog_get_config(&cfg);
    std::lock_guard g(wtd_lock);
    start_locked(cfg);
}

void lte_watchdog_stop()
{
    std::lock_guard g(wtd_lock);
    stop_locked();
}

void lte_watchdog_kick()
{
    std::lock_guard g(wtd_lock);
    if (!running)
        return;
    wtd_log("%s, kick", "lte_watchdog_kick");
    gWTD_HCI_ExpCnt = 0;
    start_timer(&expired_timer, expiry_period);
}

void lte_watchdog_AllOff()
{
    wtd_log("WTD: lte_watchdog_AllOff!");
    watchdog_AllOff = 1;
    lte_watchdog_stop();
}

int lte_watchdog_is_running() { return running; }

void wtd_print_date()
{
    const time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    wtd_log("WTD: [Date] %d:%d:%d__%d:%d:%d\r\n", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                      t.tm_min, t.tm_sec);
}

int wtd_check_status(uint8_t sts, bool report)
{
    if (sts == WTD_STS_RESETTING) {
        wtd_log("WTD file : Write 0xA: \r\n");
        {
            std::lock_guard g(wtd_lock);
            stop_timer(&retry_timer);
            stop_timer(&expired_timer);
        }
        wtd_status_write(WTD_STS_ACK);
        watchdog_hold = 1;
        return 1;
    }
    if (sts != WTD_STS_NORMAL) {
        if (report)
            wtd_log("WTD file : Done [%x]: \r\n", sts);
        watchdog_hold = 1;
        return 0;
    }
    if (watchdog_hold == 1) {
        wtd_log("WTD file : Time to Exit WTD mode: [wtd_sts:%x]\r\n", sts);
        std::lock_guard g(wtd_lock);
        start_timer(&expired_timer, expiry_period);
        watchdog_hold = 0;
    }
    return 0;
}

int wtd_status_write(uint8_t value)
{
    const std::string path = cnxd_path(WTD_STATUS_FILE);
    for (int attempt = 1;; ++attempt) {
        if (unique_file f(std::fopen(path.c_str(), "wb+")); f) {
            std::fputc(value, f.get());
            return 0;
        }
        if (attempt == STATUS_WRITE_ATTEMPTS || !pause_unless_stopping(STATUS_WRITE_RETRY))
            break;
    }
    wtd_log("WTD file Make Error: \r\n");
    return 1;
}

int wtd_status_read(uint8_t* value)
{
    if (read_status(value))
        return 0;
    wtd_log("WTD file Read Error: \r\n");
    return 1;
}

int mdmwatch_send(uint16_t id)
{
    const int handle = common_client_init("_mdmwatch_", 1, 0, 256);
    if (handle < 0) {
        sdk_log(3, "mdmwatch_msgcli_init fail");
        return -1;
    }
    const int rc = common_client_send_hci(handle, id, nullptr, 0);
    common_client_exit(handle);
    return rc;
}

const char* watchdog_mode_name(int mode) { return mode ? "System Reboot" : "Normal (ARM1 Reload)"; }

void lte_watchdog_shutdown()
{
    std::thread worker;
    std::thread printer;
    std::thread reset_check;
    {
        std::lock_guard g(threads.lock);
        threads.stopping = true;
        threads.jobs.clear();
        threads.texts.clear();
        threads.cond.notify_all();
        worker = std::move(threads.worker);
        printer = std::move(threads.printer);
        reset_check = std::move(threads.reset_check);
    }
    // After the flag: an expiry the worker is handling restarts nothing now.
    {
        std::lock_guard g(wtd_lock);
        stop_locked();
    }
    for (std::thread* t : {&worker, &printer, &reset_check})
        if (t->joinable())
            t->join();
}

}  // namespace cnxd
