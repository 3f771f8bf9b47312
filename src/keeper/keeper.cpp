#include "keeper/keeper.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "base/stop.h"
#include "base/thread_name.h"
#include "config/apn_table.h"
#include "config/confdb_access.h"
#include "core/timer.h"
#include "download/download.h"
#include "lapi_size.h"
#include "ltesdk.h"
#include "modem/cm_printf.h"
#include "modem/cm_wrappers.h"
#include "modem/device_tables.h"

namespace cnxd {
namespace {

using steady = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// PDN labels are APN types 0..7.
constexpr int LABELS = 8;
// The interface release's ids for every interface of the device.
constexpr uint16_t EPS_NETWORK_DETACHED = 0xFFEF;
constexpr uint16_t EPS_DEVICE_REMOVED = 0xFEFE;
// A kept connection lost without anyone asking is asked for again after a
// moment: the answer to a disconnect someone asked for may follow its
// release, and stands the keeper down when it comes.
constexpr auto DROP_GRACE = milliseconds(200);
constexpr int DEFAULT_FIRST_WAIT_S = 5;
constexpr int DEFAULT_LONGEST_WAIT_S = 300;

struct settings {
    bool enable = false;
    std::vector<int> labels;
    int first_s = DEFAULT_FIRST_WAIT_S;
    int longest_s = DEFAULT_LONGEST_WAIT_S;
    int reset_after = 0;
};

settings read_settings()
{
    settings s;
    const ConfdbDump dump("confdb_wan_lte_autoconnect", "config wan lte autoconnect");
    s.enable = dump.read_number("", "ENABLE") != 0;
    if (!s.enable)
        return s;
    confdb_value v{};
    dump.read("", "pdn_labels", "0", v);
    // Labels are separated by anything but digits ("0 1", "0,1").
    for (char* p = v.data(); *p != '\0';) {
        if (*p < '0' || *p > '9') {
            ++p;
            continue;
        }
        char* end = nullptr;
        const long l = std::strtol(p, &end, 10);
        if (l >= 0 && l < LABELS && std::ranges::find(s.labels, l) == s.labels.end())
            s.labels.push_back(static_cast<int>(l));
        p = end;
    }
    if (s.labels.empty())
        s.labels.push_back(0);
    if (const long f = dump.read_number("", "first_wait"); f > 0)
        s.first_s = static_cast<int>(std::min(f, 86400L));
    if (const long l = dump.read_number("", "longest_wait"); l > 0)
        s.longest_s = static_cast<int>(std::min(l, 86400L));
    s.longest_s = std::max(s.longest_s, s.first_s);
    s.reset_after = static_cast<int>(std::clamp(dump.read_number("", "reset_after"), 0L, 1000L));
    return s;
}

enum class ask : uint8_t { none, attach, connect, reset };

struct device {
    bool ready = false;  // on line and initialised, from its online sequence to its next insert or removal
    bool attached = false;
    std::array<bool, LABELS> up{};
    std::array<uint16_t, LABELS> eps{};
    bool attach_held = false;
    std::array<bool, LABELS> label_held{};
    ask pending = ask::none;
    int pending_label = 0;
    bool answered = false;  // the pending request's answer came
    int failures = 0;
    std::optional<steady::time_point> next;
    const char* state = "off";
    keeper_counters counters;
};

// The worker is detached, like every thread that may sit in a modem call:
// a stop never waits for a slow SDK answer. What it shares is never
// destroyed, and a worker of an earlier start (an in-process restart) sees
// its generation gone and ends.
struct keeper_threads {
    std::mutex lock;
    std::condition_variable cond;
    bool running = false;
    bool stopping = false;
    bool work = false;
    bool busy = false;  // the worker is in a step (a stop waits a little for it)
    uint64_t generation = 0;
    // Guards arming and deleting the timer, never held with `lock` (the
    // tick takes `lock`, and arming waits for a running tick).
    std::mutex timer_lock;
    bool timer_live = false;
    cnxd_timer timer{};
    settings last;  // as last read, for the state socket
    std::array<device, DEVICE_TABLE_SIZE> devs{};
};
keeper_threads& k = *new keeper_threads;
constexpr auto STOP_GRACE = std::chrono::milliseconds(500);

int label_of(uint16_t eps)
{
    const int l = getApnTypeByDefEPSid(eps);
    return l >= 0 && l < LABELS ? l : -1;
}

seconds wait_after(const settings& s, int failures)
{
    const long long w = static_cast<long long>(s.first_s) << std::min(failures, 20);
    return seconds(std::min<long long>(w, s.longest_s));
}

// One decision of the worker: its log line and the request it makes.
struct decision {
    std::string log;
    ask request = ask::none;
    uint32_t dev = 0;
    uint8_t label = 0;
};

// The request, through the same wrappers as the shell's, its APN part from
// the store's APN table entry of the label.
void send(const decision& d)
{
    if (d.request == ask::attach) {
        std::array<uint8_t, lapi_size::LAPI_AttachRequest.request> rec{};
        rec[attach_apn_info_layout.apn_type] = d.label;
        CNXD_FillAttachApnInfo(rec);
        cm_attach_request(d.dev, rec.data());
    } else if (d.request == ask::connect) {
        std::array<uint8_t, lapi_size::LAPI_PDNConnRequest.request> rec{};
        rec[pdn_conn_apn_info_layout.apn_type] = d.label;
        CNXD_FillPdnConnApnInfo(rec);
        cm_pdn_connectivity_request(d.dev, rec.data());
    } else if (d.request == ask::reset) {
        cm_device_reset(d.dev);
    }
}

__attribute__((format(printf, 2, 3))) void say(decision& d, const char* fmt, ...)
{
    char text[160];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    d.log = text;
}

// Moves the device to "up" or "held", logging the change as a decision of
// its own.
void settle(decision& out, uint32_t dev, device& d, bool held)
{
    const char* state = held ? "held" : "up";
    if (std::string_view(d.state) != state)
        say(out, "[keeper] DEV_IDX(%u) %s\n", dev, held ? "stood down by a client or the shell" : "connection up");
    d.state = state;
}

// What the keeper does for `dev` now; called with the lock held.
decision step_locked(const settings& s, uint32_t dev, device& d, steady::time_point now)
{
    decision out;
    // A device being loaded with firmware is left alone, as the shell does.
    if (!s.enable || !d.ready || !get_init_complete(dev) || (dev < downloading.size() && downloading[dev] != 0)) {
        d.pending = ask::none;
        d.next.reset();
        d.state = s.enable ? "waiting" : "off";
        return out;
    }
    const bool held = d.attach_held || std::ranges::any_of(s.labels, [&](int l) { return d.label_held[l]; });
    const bool kept = d.attached && std::ranges::all_of(s.labels, [&](int l) { return d.up[l] || d.label_held[l]; });
    if (d.attach_held || kept) {
        d.pending = ask::none;
        d.failures = 0;
        d.next.reset();
        settle(out, dev, d, held);
        return out;
    }
    if (d.next && now < *d.next)
        return out;
    if (d.pending != ask::none) {
        ++d.failures;
        ++d.counters.failures;
    }
    d.next = now + wait_after(s, d.failures);
    const long long next_s = std::chrono::duration_cast<seconds>(*d.next - now).count();
    out.dev = dev;
    if (d.pending != ask::none && s.reset_after > 0 && d.failures == s.reset_after) {
        d.pending = ask::reset;
        d.state = "resetting";
        ++d.counters.resets;
        say(out, "[keeper] DEV_IDX(%u) %d failures in a row: modem reset\n", dev, d.failures);
    } else if ((d.pending == ask::attach || d.pending == ask::connect) && !d.answered) {
        // Still in flight (a busy modem): asking again would only pile up
        // requests; the failure counts all the same.
        say(out, "[keeper] DEV_IDX(%u) no answer yet: waiting (failures in a row %d, next in %lld s)\n", dev,
            d.failures, next_s);
        return out;
    } else if (!d.attached) {
        d.pending = ask::attach;
        d.state = "attaching";
        ++d.counters.attaches;
        out.label = static_cast<uint8_t>(s.labels.front());
        say(out, "[keeper] DEV_IDX(%u) not attached: attach with PDN label %d (failures in a row %d, next in %lld s)\n",
            dev, s.labels.front(), d.failures, next_s);
    } else {
        const int l = *std::ranges::find_if(s.labels, [&](int x) { return !d.up[x] && !d.label_held[x]; });
        d.pending = ask::connect;
        d.state = "connecting";
        ++d.counters.connects;
        out.label = static_cast<uint8_t>(l);
        say(out, "[keeper] DEV_IDX(%u) PDN label %d not up: connect (failures in a row %d, next in %lld s)\n", dev,
            l, d.failures, next_s);
    }
    d.answered = false;
    d.pending_label = out.label;
    out.request = d.pending;
    return out;
}

void step_all()
{
    const settings s = read_settings();
    std::vector<decision> todo;
    std::optional<steady::time_point> wake;
    {
        std::lock_guard g(k.lock);
        k.last = s;
        const auto now = steady::now();
        for (uint32_t dev = 1; dev < DEVICE_TABLE_SIZE; ++dev) {
            device& d = k.devs[dev];
            if (d.state == std::string_view("off") && !get_init_complete(dev) && !d.next)
                continue;
            if (decision out = step_locked(s, dev, d, now); !out.log.empty())
                todo.push_back(std::move(out));
            if (d.next && (!wake || *d.next < *wake))
                wake = d.next;
        }
        if (k.stopping)
            return;
    }
    {
        std::lock_guard t(k.timer_lock);
        if (!k.timer_live)
            return;
        if (wake)
            start_timer(&k.timer, static_cast<int32_t>(std::max<long long>(
                                      1, std::chrono::duration_cast<milliseconds>(*wake - steady::now()).count() + 1)));
        else
            stop_timer(&k.timer);
    }
    for (decision& d : todo) {
        if (cnxd_stopping())
            return;
        cm_printf(CM_INFO, "%s", d.log.c_str());
        send(d);
    }
}

void worker_main(uint64_t generation)
{
    name_thread("keeper");
    for (;;) {
        {
            std::unique_lock g(k.lock);
            k.cond.wait(g, [&] { return k.stopping || k.work || k.generation != generation; });
            if (k.stopping || k.generation != generation)
                return;
            k.work = false;
            k.busy = true;
        }
        step_all();
        std::lock_guard g(k.lock);
        k.busy = false;
        k.cond.notify_all();
    }
}

void wake_locked()
{
    k.work = true;
    k.cond.notify_all();
}

// The timer thread only hands the tick to the worker.
void tick(uint32_t)
{
    std::lock_guard g(k.lock);
    wake_locked();
}

}  // namespace

void keeper_heard(uint32_t dev, keeper_fact fact, uint16_t value)
{
    if (dev == 0 || dev >= DEVICE_TABLE_SIZE)
        return;
    // The label is looked up before the lock: it asks the SDK.
    const int label = fact == keeper_fact::connect_answer || fact == keeper_fact::interface_ready ? label_of(value) : -1;
    std::lock_guard g(k.lock);
    if (!k.running)
        return;
    device& d = k.devs[dev];
    const bool own = d.pending != ask::none;
    switch (fact) {
    case keeper_fact::attach_answer:
        d.answered = d.answered || d.pending == ask::attach;
        d.attached = d.attached || value == 0;
        // An attach went through (the keeper's or another's): its interface
        // gets a whole wait from now before anything is asked for.
        if (value == 0 && k.last.enable)
            d.next = steady::now() + wait_after(k.last, d.failures);
        if (d.pending != ask::attach) {
            d.attach_held = false;
            d.label_held = {};
        }
        break;
    case keeper_fact::detach_answer:
        d.attached = false;
        d.up = {};
        d.attach_held = true;
        d.pending = ask::none;
        d.next.reset();
        ++d.counters.stand_downs;
        break;
    case keeper_fact::connect_answer:
        d.answered = d.answered || d.pending == ask::connect;
        if (d.pending != ask::connect && label >= 0)
            d.label_held[label] = false;
        if (k.last.enable)
            d.next = steady::now() + wait_after(k.last, d.failures);
        break;
    case keeper_fact::disconnect_answer:
        for (int l = 0; l < LABELS; ++l)
            if (d.up[l] && d.eps[l] == value && !d.label_held[l]) {
                d.label_held[l] = true;
                ++d.counters.stand_downs;
            }
        break;
    case keeper_fact::interface_ready:
        if (label >= 0) {
            d.up[label] = true;
            d.eps[label] = value;
            if (!own)
                d.label_held[label] = false;
            // The keeper's request brought its label up: a success, and
            // the next kept label, if any, is asked for at once.
            if (own && d.pending != ask::reset && label == d.pending_label) {
                d.pending = ask::none;
                d.failures = 0;
                d.next.reset();
            }
        }
        break;
    case keeper_fact::interface_release: {
        const bool all = value == EPS_NETWORK_DETACHED || value == EPS_DEVICE_REMOVED;
        bool lost = false;
        for (int l = 0; l < LABELS; ++l)
            if (d.up[l] && (all || d.eps[l] == value)) {
                d.up[l] = false;
                lost = lost || !d.label_held[l];
            }
        d.attached = d.attached && !all;
        if (lost && !d.attach_held && !own) {
            ++d.counters.drops;
            d.next = steady::now() + DROP_GRACE;
        }
        break;
    }
    case keeper_fact::device_change:
        d.ready = false;
        d.attached = false;
        d.up = {};
        d.pending = ask::none;
        d.next.reset();
        break;
    }
    wake_locked();
}

void keeper_device_ready(uint32_t dev)
{
    if (dev == 0 || dev >= DEVICE_TABLE_SIZE)
        return;
    std::lock_guard g(k.lock);
    if (!k.running)
        return;
    k.devs[dev].ready = true;
    k.devs[dev].pending = ask::none;
    k.devs[dev].next = steady::now();
    wake_locked();
}

void keeper_start()
{
    uint64_t generation = 0;
    {
        std::lock_guard g(k.lock);
        if (k.running)
            return;
        k.running = true;
        k.stopping = false;
        generation = ++k.generation;
        k.devs = {};
    }
    {
        std::lock_guard t(k.timer_lock);
        k.timer = {};
        init_timer(&k.timer, tick, 0);
        k.timer_live = true;
    }
    std::thread(worker_main, generation).detach();
}

void keeper_stop()
{
    {
        std::unique_lock g(k.lock);
        if (!k.running)
            return;
        k.stopping = true;
        k.running = false;
        k.cond.notify_all();
        // A step that reads the store or logs ends soon: let it, so that it
        // is not still running while the process exits. One held in a slow
        // modem call is left to finish on its own.
        k.cond.wait_for(g, STOP_GRACE, [] { return !k.busy; });
    }
    std::lock_guard t(k.timer_lock);
    delete_timer(&k.timer);
    k.timer_live = false;
}

keeper_view keeper_state(uint32_t dev)
{
    keeper_view v;
    if (dev >= DEVICE_TABLE_SIZE)
        return v;
    std::lock_guard g(k.lock);
    const device& d = k.devs[dev];
    v.labels = k.last.labels;
    v.state = d.state;
    v.failures = d.failures;
    if (d.next)
        v.next_attempt_s = static_cast<int>(std::max<long long>(
            0, std::chrono::duration_cast<seconds>(*d.next - steady::now() + milliseconds(999)).count()));
    v.counters = d.counters;
    return v;
}

}  // namespace cnxd
