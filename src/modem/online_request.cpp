#include "modem/online_request.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/be.h"
#include "base/env.h"
#include "base/stop.h"
#include "base/thread_name.h"
#include "confdb.h"
#include "modem/cm_wrappers.h"
#include "modem/device_tables.h"
#include "server/delivery.h"

namespace cnxd {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Protocol information asked for first, in this order.
constexpr uint16_t FIRST_PROTOCOL_INFO[] = {0, 1, 4, 5};
constexpr size_t PROTOCOL_INFO_REQ_SIZE = 3;  // 16-bit type, parameter byte

// An online answer normally comes within seconds. The wait is bounded so
// that a modem that never answers still gets its init script and a running
// watchdog, which then notices the silent modem.
constexpr int ONLINE_WAIT_DEFAULT_MS = 30000;
// How long the shutdown lets a thread finish the init script it is running
// (a script command in flight), polled in steps.
constexpr milliseconds SCRIPT_LEAVE_WAIT{300};
constexpr milliseconds SCRIPT_LEAVE_POLL{10};

online_request_steps later_steps{};

// The online wait of one first-time sequence of one device.
//
// Each insertion of a device has its own wait. The online answer does not
// say which request it answers, so it wakes only the device's current wait;
// a later sequence, or an insert or removal of the device, ends the earlier
// wait, whose thread then leaves without running the init script, marking
// the device initialised or starting the watchdog. So the device's
// init-complete flag stays 0 until the online sequence of its current
// insertion has run, and repeated resets leave no pile of threads behind.
//
// The thread owns its wait; the online event, evt_online_with_ps_init,
// is a table that points to each device's current wait while its thread
// runs.
struct online_wait {
    explicit online_wait(uint32_t d) : dev(d) {}
    const uint32_t dev;
    std::condition_variable cond;
    bool waiting = true;   // until the wait for the answer is over
    bool answered = false;
    bool ended = false;    // replaced, forgotten or stopped: no step runs
};

// Guards the table, every wait's flags, `stopped` and `in_script`. The
// steps after the init script run under it too, so no step starts once the
// thread's wait has ended or the shutdown has gone past
// online_requests_stop. (A mutex and plain words: nothing here is torn
// down at exit under a thread that is still running.)
std::mutex online_lock;
std::array<online_wait*, DEVICE_TABLE_SIZE> evt_online_with_ps_init{};
bool stopped = false;
int in_script = 0;  // threads running the init script

void end_wait_locked(uint32_t dev)
{
    if (online_wait* w = evt_online_with_ps_init[dev]) {
        w->ended = true;
        w->cond.notify_one();
        evt_online_with_ps_init[dev] = nullptr;
    }
}

void leave_locked(const online_wait& w)
{
    if (evt_online_with_ps_init[w.dev] == &w)
        evt_online_with_ps_init[w.dev] = nullptr;
}

// The shutdown ends every wait (online_requests_stop), so the wait needs no
// look at the stop request of its own.
bool wait_for_answer(online_wait& w, std::unique_lock<std::mutex>& g)
{
    w.cond.wait_for(g, milliseconds(online_wait_ms()), [&] { return w.answered || w.ended; });
    w.waiting = false;
    return w.answered;
}

// The thread is detached: nothing joins it, so a shutdown never waits for
// its init script. Once its wait has ended or the daemon stops it touches
// nothing but its own wait and the words above.
void run_cm_online_request(std::unique_ptr<online_wait> owned)
{
    name_thread("online_request");
    online_wait& w = *owned;
    std::unique_lock g(online_lock);
    if (w.ended)
        return;
    // Sent under the lock: the answer's signal waits for the wait.
    cm_online_request(w.dev);
    const bool answered = wait_for_answer(w, g);
    if (w.ended || cnxd_stopping())
        return leave_locked(w);
    if (!answered)
        cnxd_srv_send_log("\nTIME-OUT ONLINE REQUEST\n");
    ++in_script;
    g.unlock();
    if (later_steps.run_init_script)
        later_steps.run_init_script();
    g.lock();
    --in_script;
    if (!w.ended && !stopped && !cnxd_stopping()) {
        set_init_complete(w.dev, 1);
        cnxd_srv_send_log("[online_request]Watchdog First start\n");
        if (later_steps.start_watchdog)
            later_steps.start_watchdog();
        if (later_steps.device_ready)
            later_steps.device_ready(w.dev);
    }
    leave_locked(w);
}

void start_online_request_thread(uint32_t dev)
{
    auto w = std::make_unique<online_wait>(dev);
    const online_wait* raw = w.get();
    {
        std::lock_guard g(online_lock);
        stopped = false;
        end_wait_locked(dev);
        evt_online_with_ps_init[dev] = w.get();
    }
    try {
        std::thread(run_cm_online_request, std::move(w)).detach();
    } catch (const std::system_error&) {
        std::lock_guard g(online_lock);
        if (evt_online_with_ps_init[dev] == raw)
            evt_online_with_ps_init[dev] = nullptr;
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
    // The layer setting reads the antenna receive mode again: it follows the
    // store as it is when that setting is sent.
    cm_set_AntRxModeConfigRequest(dev, get_ant_rx_mode_config_value());
    cm_set_DLULMaxLayerRequest(dev, get_ant_rx_mode_config_value());
    cm_set_IntraBandCAmodeRequest(dev, get_Intra_Band_CA_mode_config_value());
    // A device outside the tables has no init-complete flag to set.
    if (dev < DEVICE_TABLE_SIZE)
        start_online_request_thread(dev);
}

void online_event_signal(uint32_t dev)
{
    if (dev >= DEVICE_TABLE_SIZE)
        return;
    std::lock_guard g(online_lock);
    online_wait* w = evt_online_with_ps_init[dev];
    if (!w || !w->waiting)
        return;
    w->answered = true;
    w->cond.notify_one();
}

void online_request_forget(uint32_t dev)
{
    if (dev >= DEVICE_TABLE_SIZE)
        return;
    std::lock_guard g(online_lock);
    end_wait_locked(dev);
}

void online_requests_stop()
{
    std::unique_lock g(online_lock);
    stopped = true;
    for (uint32_t dev = 0; dev < DEVICE_TABLE_SIZE; ++dev)
        end_wait_locked(dev);
    // A thread in its init script is not waited for beyond a moment: the
    // script may run for long (a "sleep" line), and the thread runs no step
    // after it anyway.
    const auto end = steady_clock::now() + SCRIPT_LEAVE_WAIT;
    while (in_script > 0 && steady_clock::now() < end) {
        g.unlock();
        std::this_thread::sleep_for(SCRIPT_LEAVE_POLL);
        g.lock();
    }
}

}  // namespace cnxd
