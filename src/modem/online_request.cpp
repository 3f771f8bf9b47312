#include "modem/online_request.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#include "base/be.h"
#include "base/env.h"
#include "confdb.h"
#include "modem/cm_wrappers.h"
#include "modem/device_tables.h"
#include "server/delivery.h"

namespace cnxd {
namespace {

// Protocol information asked for first, in this order.
constexpr uint16_t FIRST_PROTOCOL_INFO[] = {0, 1, 4, 5};
constexpr size_t PROTOCOL_INFO_REQ_SIZE = 3;  // 16-bit type, parameter byte

// An online answer normally comes within seconds. The wait is bounded so
// that a modem that never answers still gets its init script and a running
// watchdog, which then notices the silent modem.
constexpr int ONLINE_WAIT_DEFAULT_MS = 30000;

online_request_steps later_steps{};

// The online event: one for every device, as the online answer does not
// say whose request it answers. `waiting` is 1 while a thread waits.
struct online_event {
    std::mutex lock;
    std::condition_variable cond;
    int waiting = 0;
    bool answered = false;
    bool stopping = false;
};
online_event evt_online_with_ps_init;

// The online request threads still running or not yet joined.
struct online_thread {
    std::thread thread;
    std::atomic<bool> done{false};
};
std::mutex threads_lock;
std::list<online_thread> online_threads;

void stop_and_join();
// A program that ends without stopping the daemon (a test rig) still ends
// its online threads rather than leaving them to abort the exit.
struct join_at_exit {
    ~join_at_exit() { stop_and_join(); }
} online_threads_joiner;

bool online_stopping()
{
    std::lock_guard g(evt_online_with_ps_init.lock);
    return evt_online_with_ps_init.stopping;
}

void run_cm_online_request(uint32_t dev, std::atomic<bool>* done)
{
    online_event& evt = evt_online_with_ps_init;
    bool answered = false;
    bool stopping = false;
    {
        std::unique_lock g(evt.lock);
        evt.waiting = 1;
        evt.answered = false;
        // Sent under the lock: the answer's signal waits for the wait.
        cm_online_request(dev);
        answered = evt.cond.wait_for(g, std::chrono::milliseconds(online_wait_ms()),
                                     [&] { return evt.answered || evt.stopping; }) &&
                   evt.answered;
        stopping = evt.stopping;
        evt.waiting = 0;
    }
    if (!answered && !stopping)
        cnxd_srv_send_log("\nTIME-OUT ONLINE REQUEST\n");
    // A shutdown ends the sequence between its steps.
    if (!stopping && later_steps.run_init_script)
        later_steps.run_init_script();
    if (!online_stopping()) {
        set_init_complete(dev, 1);
        cnxd_srv_send_log("[online_request]Watchdog First start\n");
        if (later_steps.start_watchdog)
            later_steps.start_watchdog();
    }
    *done = true;
}

// Joins the threads that have finished.
void reap_locked()
{
    online_threads.remove_if([](online_thread& t) {
        if (!t.done)
            return false;
        t.thread.join();
        return true;
    });
}

void start_online_request_thread(uint32_t dev)
{
    std::lock_guard g(threads_lock);
    reap_locked();
    online_thread& t = online_threads.emplace_back();
    try {
        t.thread = std::thread(run_cm_online_request, dev, &t.done);
    } catch (const std::system_error&) {
        online_threads.pop_back();
        cnxd_srv_send_log("run_cm_online_request_thread create fail\n");
    }
}

}  // namespace

void request_protocol_info(uint32_t dev, uint16_t type, uint8_t param)
{
    uint8_t req[PROTOCOL_INFO_REQ_SIZE] = {};
    store_be16(req, type);
    req[2] = param;
    cm_get_protocol_info(dev, req);
}

void online_request_set_steps(const online_request_steps& steps) { later_steps = steps; }

int online_wait_ms() { return env_millis("CNXD_ONLINE_WAIT_MS", ONLINE_WAIT_DEFAULT_MS); }

void lte_first_time_sequence(uint32_t dev)
{
    for (uint16_t type : FIRST_PROTOCOL_INFO)
        request_protocol_info(dev, type);
    cm_set_ext_earfcn_request(dev, getInitialConfdbExtenedEarfcnConfig());
    cm_set_SMSTimerRequest(dev, get_sms_timer_value());
    cm_set_SMSConfigRequest(dev, get_sms_over_ims_config_value());
    cm_set_SMSSaveConfigRequest(dev, get_sms_save_config_value());
    cm_set_KeepCampOnAfterDetachRequest(dev, get_keep_camp_on_after_detach_config_value());
    const int ant_rx_mode = get_ant_rx_mode_config_value();
    cm_set_AntRxModeConfigRequest(dev, ant_rx_mode);
    cm_set_DLULMaxLayerRequest(dev, ant_rx_mode);
    cm_set_IntraBandCAmodeRequest(dev, get_Intra_Band_CA_mode_config_value());
    {
        std::lock_guard g(evt_online_with_ps_init.lock);
        evt_online_with_ps_init.stopping = false;
    }
    start_online_request_thread(dev);
}

void online_event_signal()
{
    online_event& evt = evt_online_with_ps_init;
    std::lock_guard g(evt.lock);
    if (evt.waiting != 1)
        return;
    evt.answered = true;
    evt.cond.notify_all();
}

namespace {
void stop_and_join()
{
    {
        std::lock_guard g(evt_online_with_ps_init.lock);
        evt_online_with_ps_init.stopping = true;
        evt_online_with_ps_init.cond.notify_all();
    }
    std::lock_guard g(threads_lock);
    for (online_thread& t : online_threads)
        t.thread.join();
    online_threads.clear();
}
}  // namespace

void online_requests_stop() { stop_and_join(); }

}  // namespace cnxd
