// The simulator's core: every LAPI_* body (generated from lapi.def), the
// call record, programmed failures and answers, set-up and tear-down,
// registrations, the callback thread and LAPI_Printf.
#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "base/be.h"
#include "base/hex.h"
#include "base/path.h"
#include "base/thread_name.h"
#include "sim.h"

namespace ltesim {
namespace {

using Clock = std::chrono::steady_clock;
using cnxd::load_be16;
using cnxd::load_be32;

constexpr uint32_t SDK_HANDLE = 0x4C544531;  // "LTE1"
constexpr int32_t LAPI_FAIL = -1;
// The call record keeps this many calls; older ones are dropped.
constexpr size_t CALL_RECORD_MAX = 20000;
// Zero bytes kept behind every delivered record, so a handler that reads
// its record's full layout from a shorter injected one stays in memory.
constexpr size_t RECORD_SLACK = 4096;
constexpr const char* CALL_LOG = "/var/log/ltesim-calls.log";

struct Call {
    const char* name;  // a function's name: a literal
    std::optional<uint32_t> dev;
    std::vector<uint8_t> bytes;
};

struct State {
    std::mutex mu;
    bool open = false;
    std::deque<Call> calls;
    std::map<std::string, int32_t, std::less<>> fails;
    std::map<std::string, std::vector<uint8_t>, std::less<>> answers;
    std::array<uint8_t, LAPI_LOG_CONFIG_SIZE> log_config{};
    Knobs knobs;
};

State& state()
{
    static State s;
    return s;
}

// Handlers of another form are registered cast to LAPI_CALLBACK; this
// turns them back (through the generic function pointer type, the one cast
// that says so on purpose).
template <typename Fn>
Fn other_form(LAPI_CALLBACK fn)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(fn));
}

// ---- The callback thread ----------------------------------------------

class CallbackThread {
public:
    // A process may end with the SDK still open (its bring-up failed after
    // the open): the thread is stopped, not left running into exit.
    ~CallbackThread() { stop(); }

    void start()
    {
        std::lock_guard g(mu_);
        stop_ = false;
        queue_.clear();
        thread_ = std::thread([this] { run(); });
    }

    // Cooperative stop: the thread finishes the callback it is in and ends;
    // what is still queued is dropped.
    void stop()
    {
        {
            std::lock_guard g(mu_);
            stop_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable())
            thread_.join();
        std::lock_guard g(mu_);
        queue_.clear();
    }

    bool on_thread() const { return std::this_thread::get_id() == thread_.get_id(); }

    void post(Event ev, int delay_ms)
    {
        {
            std::lock_guard g(mu_);
            const auto due = Clock::now() + std::chrono::milliseconds(std::max(delay_ms, 0));
            // Equal due times keep their posting order.
            queue_.emplace(std::pair{due, seq_++}, std::move(ev));
        }
        cv_.notify_all();
    }

    void cancel(int group)
    {
        std::lock_guard g(mu_);
        std::erase_if(queue_, [group](const auto& kv) { return kv.second.group == group; });
    }

    void sync()
    {
        std::unique_lock l(mu_);
        const auto now = Clock::now();
        idle_cv_.wait(l, [&] {
            return stop_ || ((queue_.empty() || queue_.begin()->first.first > now) && !delivering_);
        });
    }

    void set_handler(uint32_t id, LAPI_CALLBACK fn)
    {
        std::lock_guard g(handlers_mu_);
        handlers_[id] = fn;
    }

    LAPI_CALLBACK handler(uint32_t id)
    {
        std::lock_guard g(handlers_mu_);
        return id < handlers_.size() ? handlers_[id] : nullptr;
    }

    // Clears every registration; returns once no handler runs any more.
    void clear_handlers()
    {
        {
            std::lock_guard g(handlers_mu_);
            handlers_.fill(nullptr);
        }
        if (!on_thread())
            std::lock_guard wait_for_delivery(delivery_mu_);
    }

private:
    void run()
    {
        cnxd::name_thread("sim_callbacks");
        std::unique_lock l(mu_);
        while (!stop_) {
            if (queue_.empty()) {
                cv_.wait(l);
                continue;
            }
            const auto due = queue_.begin()->first.first;
            if (due > Clock::now()) {
                cv_.wait_until(l, due);
                continue;
            }
            Event ev = std::move(queue_.begin()->second);
            queue_.erase(queue_.begin());
            delivering_ = true;
            l.unlock();
            deliver(ev);
            l.lock();
            delivering_ = false;
            idle_cv_.notify_all();
        }
        idle_cv_.notify_all();
    }

    void deliver(Event& ev)
    {
        std::lock_guard g(delivery_mu_);
        const LAPI_CALLBACK fn = handler(ev.id);
        if (!fn)
            return;
        // A chunk travels inside the record, after its fixed fields, and the
        // record's address word points at it.
        const bool chunked = !ev.chunk.empty() && ev.addr_field + 4 <= ev.record.size();
        const size_t len = ev.record.size() + (chunked ? ev.chunk.size() : 0);
        std::vector<uint8_t> buf(len + RECORD_SLACK, 0);
        std::copy(ev.record.begin(), ev.record.end(), buf.begin());
        uint32_t word = 0;
        if (chunked) {
            std::copy(ev.chunk.begin(), ev.chunk.end(), buf.begin() + static_cast<ptrdiff_t>(ev.record.size()));
            word = sdk_addr_to_word(buf.data() + ev.record.size());
            cnxd::store_be32(buf.data() + ev.addr_field, word);
        }
        auto* text = reinterpret_cast<char*>(buf.data());
        if (ev.id == LAPI_CB_CLI_CMD_RSP) {
            other_form<LAPI_CLI_RSP_CALLBACK>(fn)(0, text, static_cast<uint32_t>(len));
        } else if (ev.id == LAPI_CB_ASCII_FROM_DEVICE) {
            const uint16_t type = load_be16(std::span<const uint8_t>(buf.data(), len), 0);
            other_form<LAPI_ASCII_CALLBACK>(fn)(ev.dev, type, len >= 2 ? text + 2 : text + len);
        } else {
            fn(ev.dev, buf.data(), static_cast<uint32_t>(len));
        }
        if (word)
            sdk_addr_release(word);
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::condition_variable idle_cv_;
    std::multimap<std::pair<Clock::time_point, uint64_t>, Event> queue_;
    uint64_t seq_ = 0;
    bool stop_ = true;
    bool delivering_ = false;
    std::thread thread_;
    std::mutex handlers_mu_;
    std::array<LAPI_CALLBACK, LAPI_CB_MAX> handlers_{};
    std::mutex delivery_mu_;  // held while a handler runs
};

CallbackThread& callbacks()
{
    static CallbackThread t;
    return t;
}

// ---- Recording -----------------------------------------------------------

// The call log file gets each call at most CALL_LOG_BATCH after it, in one
// write for every call of that time, so that a modem call costs no system
// call of the simulator's own (the control socket's "calls" answers from
// memory; readers of the file poll it). Closing the library writes the
// rest, and so does a normal exit. Never destroyed: its thread may still
// wait when the process exits.
class CallLogFlusher {
public:
    static constexpr auto CALL_LOG_BATCH = std::chrono::milliseconds(20);

    void start(const std::string& path)
    {
        std::lock_guard g(mu_);
        if (file_)
            return;
        file_ = std::fopen(path.c_str(), "w");
        if (!file_)
            return;
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
        stop_ = false;
        dirty_ = false;
        thread_ = std::thread([this] { run(); });
    }

    void append(const Call& c)
    {
        std::lock_guard g(mu_);
        if (!file_)
            return;
        // Into memory, for the thread to write: formatting into the stream
        // cost more than the rest of the call.
        pending_ += c.name;
        pending_ += " dev=";
        if (c.dev) {
            char digits[10];
            pending_.append(digits, std::to_chars(digits, std::end(digits), *c.dev).ptr);
        } else {
            pending_ += '-';
        }
        pending_ += '\n';
        if (!dirty_) {
            dirty_ = true;
            cv_.notify_one();
        }
    }

    // The calls not yet written, at a normal exit.
    void write_rest()
    {
        std::lock_guard g(mu_);
        if (file_)
            write_pending();
    }

    void stop()
    {
        {
            std::lock_guard g(mu_);
            stop_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable())
            thread_.join();
        std::lock_guard g(mu_);
        if (file_) {
            write_pending();
            std::fclose(file_);
            file_ = nullptr;
        }
    }

private:
    void run()
    {
        cnxd::name_thread("sim_call_log");
        std::unique_lock l(mu_);
        while (!stop_) {
            cv_.wait(l, [&] { return dirty_ || stop_; });
            cv_.wait_for(l, CALL_LOG_BATCH, [&] { return stop_; });
            write_pending();
            dirty_ = false;
        }
    }

    // With the lock held.
    void write_pending()
    {
        std::fwrite(pending_.data(), 1, pending_.size(), file_);
        std::fflush(file_);
        pending_.clear();
    }

    std::mutex mu_;
    std::condition_variable cv_;
    FILE* file_ = nullptr;
    std::string pending_;
    bool dirty_ = false;
    bool stop_ = false;
    std::thread thread_;
};

CallLogFlusher& call_log_file()
{
    static CallLogFlusher& f = *[] {
        std::atexit([] { call_log_file().write_rest(); });
        return new CallLogFlusher;
    }();
    return f;
}


std::string call_line(const Call& c)
{
    std::string line = std::string(c.name) + " dev=" + (c.dev ? std::to_string(*c.dev) : "-");
    if (!c.bytes.empty())
        line += " " + to_hex(c.bytes);
    return line;
}

// With the state lock held.
void record(State& s, Call c)
{
    call_log_file().append(c);
    if (s.calls.size() >= CALL_RECORD_MAX)
        s.calls.pop_front();
    s.calls.push_back(std::move(c));
}

int32_t programmed_result(const State& s, std::string_view name)
{
    const auto it = s.fails.find(name);
    return it == s.fails.end() ? 0 : it->second;
}

// The set-up and tear-down calls: recorded like requests, with a handle.
int32_t handle_call(const char* name, uint32_t handle)
{
    State& s = state();
    std::lock_guard g(s.mu);
    if (!s.open || handle != SDK_HANDLE)
        return LAPI_FAIL;
    record(s, {name, std::nullopt, {}});
    return programmed_result(s, name);
}

// A set-up call that moves the modem model on when it succeeds.
int32_t call_then_model(const char* name, uint32_t handle, void (*step)())
{
    const int32_t rc = handle_call(name, handle);
    if (rc == 0) {
        std::lock_guard g(state().mu);
        step();
    }
    return rc;
}

}  // namespace

// ---- Shared with the other parts -----------------------------------------

std::mutex& lock() { return state().mu; }
Knobs& knobs() { return state().knobs; }
bool sdk_open_locked() { return state().open; }
bool sdk_open()
{
    std::lock_guard g(state().mu);
    return state().open;
}

namespace {

// With the state lock held; `deliver_now` tells whether the answers are to
// come before the request returns.
int32_t request_locked(const Request& r, bool& deliver_now)
{
    State& s = state();
    if (!s.open || (r.handle && *r.handle != SDK_HANDLE))
        return LAPI_FAIL;
    record(s, {r.name, r.dev, r.bytes});
    if (const int32_t rc = programmed_result(s, r.name))
        return rc;
    if (r.answer && r.answer_size) {
        const auto it = s.answers.find(std::string_view(r.name));
        if (it != s.answers.end()) {
            std::memset(r.answer, 0, r.answer_size);
            std::memcpy(r.answer, it->second.data(), std::min(r.answer_size, it->second.size()));
        } else {
            model_answer(r);
        }
    }
    if (std::string_view(r.name) == "LAPI_SetLogConfig" && r.record.size() == LAPI_LOG_CONFIG_SIZE)
        std::copy(r.record.begin(), r.record.end(), s.log_config.begin());
    if (std::string_view(r.name) == "LAPI_GetLogConfig" && r.answer && !s.answers.contains("LAPI_GetLogConfig"))
        std::memcpy(r.answer, s.log_config.data(), std::min(r.answer_size, s.log_config.size()));
    deliver_now = model_react(r);
    return 0;
}

}  // namespace

int32_t request(Request r)
{
    bool deliver_now = false;
    int32_t rc = 0;
    int call_delay_ms = 0;
    {
        std::lock_guard g(state().mu);
        rc = request_locked(r, deliver_now);
        call_delay_ms = state().knobs.call_delay_ms;
    }
    // A slow modem: the call returns late, with no lock held meanwhile.
    if (call_delay_ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(call_delay_ms));
    if (deliver_now)
        sync_callbacks();
    return rc;
}

void post(Event ev, int delay_ms) { callbacks().post(std::move(ev), delay_ms); }
void cancel_group(int group) { callbacks().cancel(group); }
void sync_callbacks()
{
    if (!callbacks().on_thread())
        callbacks().sync();
}
bool registered(uint32_t id) { return callbacks().handler(id) != nullptr; }

std::string call_lines()
{
    State& s = state();
    std::lock_guard g(s.mu);
    std::string out;
    for (const Call& c : s.calls)
        out += call_line(c) + "\n";
    return out;
}

void clear_calls()
{
    std::lock_guard g(state().mu);
    state().calls.clear();
}

void set_fail(std::string_view name, int32_t code)
{
    std::lock_guard g(state().mu);
    if (code == 0)
        state().fails.erase(std::string(name));
    else
        state().fails[std::string(name)] = code;
}

void set_answer(std::string_view name, std::vector<uint8_t> bytes)
{
    std::lock_guard g(state().mu);
    state().answers[std::string(name)] = std::move(bytes);
}

namespace {

constexpr std::string_view SETUP_FUNCTIONS[] = {
    "LAPI_LTEAPIOpen", "LAPI_LTEAPIClose", "LAPI_Initialize", "LAPI_DeInitialize",
    "LAPI_Misc_Initialize", "LAPI_RegisterCallbackResponse", "LAPI_AllCallbackUnRegister",
};

constexpr std::string_view REQUEST_FUNCTIONS[] = {
#define LAPI_FN(name, form, request_size, answer_size) #name,
#include "lapi.def"
};

}  // namespace

bool known_function(std::string_view name)
{
    return std::ranges::find(SETUP_FUNCTIONS, name) != std::end(SETUP_FUNCTIONS) ||
           std::ranges::find(REQUEST_FUNCTIONS, name) != std::end(REQUEST_FUNCTIONS);
}

std::string to_hex(std::span<const uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::optional<std::vector<uint8_t>> from_hex(std::string_view text)
{
    if (text.size() % 2)
        return std::nullopt;
    std::vector<uint8_t> out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = cnxd::hex_digit(text[i]);
        const int lo = cnxd::hex_digit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return out;
}

// ---- Capturing the arguments of each form ---------------------------------

namespace {

// The request record's bytes by the size rule of lapi.def.
std::span<const uint8_t> record_of(const void* req, int size)
{
    const auto* p = static_cast<const uint8_t*>(req);
    if (!p)
        return {};
    return {p, lapi_record_size(size, p)};
}

void put_be(std::vector<uint8_t>& out, uint32_t v, int width)
{
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

std::vector<uint8_t> bytes_of(std::span<const uint8_t> s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> text_bytes(const char* text, uint32_t len)
{
    return text ? std::vector<uint8_t>(text, text + len) : std::vector<uint8_t>{};
}

Request make(const char* name, uint32_t h, uint32_t dev)
{
    Request r;
    r.name = name;
    r.handle = h;
    r.dev = dev;
    return r;
}

Request with_record(Request r, const void* req, int rsize)
{
    r.record = record_of(req, rsize);
    r.bytes = bytes_of(r.record);
    return r;
}

Request with_answer(Request r, void* out, int asize)
{
    r.answer = static_cast<uint8_t*>(out);
    r.answer_size = out ? static_cast<size_t>(asize) : 0;
    return r;
}

Request with_value(Request r, uint32_t v, int width)
{
    r.value = v;
    put_be(r.bytes, v, width);
    return r;
}

}  // namespace

}  // namespace ltesim

using namespace ltesim;

// One capture per form of lapi.def; value arguments show in `calls` as
// big-endian fields in argument order, around the record's own bytes.
#define CAPTURE_REQ(n, rs, as) with_answer(with_record(make(n, hAPI, dev_idx), (as) && !(rs) ? nullptr : req, rs), req, as)
#define CAPTURE_DEV(n, rs, as) make(n, hAPI, dev_idx)
#define CAPTURE_REQ_OUT(n, rs, as) with_answer(with_record(make(n, hAPI, dev_idx), req, rs), out, as)
#define CAPTURE_VAL(n, rs, as) with_value(make(n, hAPI, dev_idx), value, 4)
#define CAPTURE_VAL2(n, rs, as) with_value(with_value(make(n, hAPI, dev_idx), value1, 4), value2, 4)
#define CAPTURE_VAL_OUT(n, rs, as) with_answer(with_value(make(n, hAPI, dev_idx), value, 4), out, as)
#define CAPTURE_OUT_ID(n, rs, as) with_answer(with_value(make(n, hAPI, dev_idx), id, 2), out, as)
#define CAPTURE_LIST(n, rs, as) capture_list(n, hAPI, out, as)
#define CAPTURE_NETIF(n, rs, as) capture_netif(with_record(make(n, hAPI, dev_idx), req, rs), op)
#define CAPTURE_TEXT(n, rs, as) capture_text(make(n, hAPI, dev_idx), text, len)
#define CAPTURE_MSG(n, rs, as) capture_text(make(n, hAPI, dev_idx), static_cast<const char*>(req), len)
#define CAPTURE_BGSCAN(n, rs, as) capture_bgscan(make(n, hAPI, dev_idx), value, req, len)
#define CAPTURE_MODE16(n, rs, as) capture_mode16(make(n, hAPI, dev_idx), value, value16)
#define CAPTURE_DMEXT(n, rs, as) capture_dmext(with_record(make(n, hAPI, dev_idx), req, rs), filter, items)
#define CAPTURE_ENCAPS(n, rs, as) capture_encaps(make(n, hAPI, dev_idx), add, version, src, dst)
#define CAPTURE_ARM1(n, rs, as) capture_arm1(n, value)
#define CAPTURE_AT(n, rs, as) capture_text(make(n, hAPI, dev_idx), req ? req->text : nullptr, req ? req->len : 0)
#define CAPTURE_AT_EXT(n, rs, as) CAPTURE_AT(n, rs, as)
#define CAPTURE_AT_V2(n, rs, as) CAPTURE_AT(n, rs, as)

namespace {

Request capture_list(const char* n, uint32_t h, void* out, int as)
{
    Request r;
    r.name = n;
    r.handle = h;
    return with_answer(r, out, as);
}

Request capture_netif(Request r, uint32_t op)
{
    r.value = op;
    put_be(r.bytes, op, 4);
    return r;
}

Request capture_text(Request r, const char* text, uint32_t len)
{
    r.bytes = text_bytes(text, len);
    r.record = r.bytes;
    return r;
}

Request capture_bgscan(Request r, uint32_t value, const void* req, uint32_t len)
{
    r = with_value(r, value, 4);
    const auto* p = static_cast<const uint8_t*>(req);
    if (p)
        r.bytes.insert(r.bytes.end(), p, p + len);
    return r;
}

Request capture_mode16(Request r, uint32_t value, uint16_t value16)
{
    return with_value(with_value(r, value, 4), value16, 2);
}

// The filter table is the caller's business; only the request shows.
Request capture_dmext(Request r, const void* /*filter*/, const void* items)
{
    if (const auto* p = static_cast<const uint8_t*>(items))
        r.bytes.insert(r.bytes.end(), p, p + 1 + p[0]);
    return r;
}

Request capture_encaps(Request r, uint8_t add, uint8_t version, uint32_t src, uint32_t dst)
{
    return with_value(with_value(with_value(with_value(r, add, 1), version, 1), src, 4), dst, 4);
}

Request capture_arm1(const char* n, uint32_t value)
{
    Request r;
    r.name = n;
    return with_value(r, value, 4);
}

}  // namespace

extern "C" {

#define LAPI_FN(name, form, request_size, answer_size) \
    int32_t name(LAPI_ARGS_##form) { return request(CAPTURE_##form(#name, request_size, answer_size)); }
#include "lapi.def"

int32_t LAPI_LTEAPIOpen(uint32_t* hAPI)
{
    State& s = state();
    {
        std::lock_guard g(s.mu);
        if (s.open)
            return LAPI_FAIL;
        s.calls.clear();
        s.fails.clear();
        s.answers.clear();
        s.log_config.fill(0);
        s.knobs = Knobs{};
        model_reset();
        call_log_file().start(cnxd::cnxd_path(CALL_LOG));
    }
    run_conf_file();
    {
        std::lock_guard g(s.mu);
        record(s, {"LAPI_LTEAPIOpen", std::nullopt, {}});
        if (const int32_t rc = programmed_result(s, "LAPI_LTEAPIOpen"))
            return rc;
        if (!hAPI)
            return LAPI_FAIL;
        *hAPI = SDK_HANDLE;
        s.open = true;
    }
    callbacks().start();
    start_control_server();
    return 0;
}

int32_t LAPI_LTEAPIClose(uint32_t hAPI)
{
    if (callbacks().on_thread())
        return LAPI_FAIL;  // a handler cannot close the library under itself
    const int32_t rc = handle_call("LAPI_LTEAPIClose", hAPI);
    if (rc != 0)
        return rc;
    stop_control_server();
    callbacks().stop();
    callbacks().clear_handlers();
    {
        State& s = state();
        std::lock_guard g(s.mu);
        s.open = false;
    }
    call_log_file().stop();
    return 0;
}

int32_t LAPI_Initialize(uint32_t hAPI) { return call_then_model("LAPI_Initialize", hAPI, model_initialized); }

int32_t LAPI_DeInitialize(uint32_t hAPI) { return call_then_model("LAPI_DeInitialize", hAPI, model_reset); }

int32_t LAPI_Misc_Initialize(uint32_t hAPI) { return handle_call("LAPI_Misc_Initialize", hAPI); }

int32_t LAPI_RegisterCallbackResponse(uint32_t hAPI, uint32_t cb_id, LAPI_CALLBACK fn, uint32_t arg)
{
    Request r = make("LAPI_RegisterCallbackResponse", hAPI, 0);
    r.dev.reset();
    r = with_value(with_value(r, cb_id, 4), arg, 4);
    const int32_t rc = request(std::move(r));
    if (rc != 0)
        return rc;
    if (cb_id >= LAPI_CB_MAX || arg != 0)
        return LAPI_FAIL;
    callbacks().set_handler(cb_id, fn);
    return 0;
}

int32_t LAPI_AllCallbackUnRegister(uint32_t hAPI)
{
    const int32_t rc = handle_call("LAPI_AllCallbackUnRegister", hAPI);
    if (rc == 0)
        callbacks().clear_handlers();
    return rc;
}

// Not recorded: prints are output, not requests, and would bury the record.
int32_t LAPI_Printf(uint32_t hAPI, uint16_t level, const char* text)
{
    State& s = state();
    uint16_t mode = 0;
    uint16_t mask = 0;
    uint32_t word = 0;
    std::string path;
    {
        std::lock_guard g(s.mu);
        if (!s.open || hAPI != SDK_HANDLE || !text)
            return LAPI_FAIL;
        const uint8_t* block = s.log_config.data() + LAPI_LOG_CM_BLOCK;
        mode = load_be16(block + LAPI_LOG_BLOCK_MODE);
        mask = load_be16(block + LAPI_LOG_BLOCK_LEVEL);
        word = load_be32(block + LAPI_LOG_BLOCK_CALLBACK);
        const auto* p = reinterpret_cast<const char*>(block + LAPI_LOG_BLOCK_FILE_PATH);
        path.assign(p, strnlen(p, 256));
    }
    if ((mask & level) == 0)
        return 0;
    if (mode == LAPI_LOG_MODE_CALLBACK) {
        if (auto* fn = reinterpret_cast<LAPI_PRINT_CALLBACK>(sdk_word_to_addr(word)))
            fn("%s", text);
        return 0;
    }
    if (mode == LAPI_LOG_MODE_PRINT || mode == LAPI_LOG_MODE_PRINT_FILE) {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
    if ((mode == LAPI_LOG_MODE_FILE || mode == LAPI_LOG_MODE_PRINT_FILE) && !path.empty()) {
        if (FILE* f = std::fopen(cnxd::cnxd_path(path).c_str(), "a")) {
            std::fputs(text, f);
            std::fclose(f);
        }
    }
    return 0;
}

}  // extern "C"
