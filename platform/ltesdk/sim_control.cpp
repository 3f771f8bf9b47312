// The simulator's control language (docs/ltesim.md), run from ltesim.conf
// when the SDK opens and served on a Unix stream socket while it is open.
#include <poll.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "base/fd.h"
#include "base/path.h"
#include "base/thread_name.h"
#include "ltesim.h"
#include "sim.h"

namespace ltesim {
namespace {

constexpr const char* CONF_FILE = "/etc/ltesim.conf";
constexpr const char* CONTROL_SOCKET = "/var/tmp/ltesim.sock";
// Longest control line; a download record in hex fits with room to spare.
constexpr size_t LINE_MAX_BYTES = 65536;
constexpr size_t CONTROL_CLIENTS_MAX = 8;

std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            out.push_back(line.substr(start, i - start));
    }
    return out;
}

std::optional<long long> number(std::string_view text, long long lo, long long hi)
{
    const std::string s(text);
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s.c_str(), &end, 0);
    if (s.empty() || *end != '\0' || errno != 0 || v < lo || v > hi)
        return std::nullopt;
    return v;
}

std::string err(std::string_view why) { return "err " + std::string(why) + "\n"; }
const std::string OK = "ok\n";

// The record inject_default delivers for callback `id`: as long as the SDK
// gives it (lapi_cb.def), every byte printable and none the same as its
// neighbours, byte i being '!' + (i * 7 + id) % 94; none for a callback
// without a fixed size.
std::optional<std::vector<uint8_t>> default_record(uint32_t id)
{
    const int32_t size = lapi_cb_record_size(id);
    if (size == LAPI_CB_SIZE_VARIES)
        return std::nullopt;
    std::vector<uint8_t> r(static_cast<size_t>(size));
    for (size_t i = 0; i < r.size(); ++i)
        r[i] = static_cast<uint8_t>('!' + (i * 7 + id) % 94);
    return r;
}

// Delivers callback `id_word` for device `dev_word` with `record`, or with
// the callback's default record when there is none.
std::string inject(std::string_view id_word, std::string_view dev_word, std::optional<std::vector<uint8_t>> record)
{
    const auto id = number(id_word, 0, LAPI_CB_MAX - 1);
    const auto dev = number(dev_word, 0, UINT32_MAX);
    if (!id || !dev)
        return err("bad callback id or device");
    if (!record)
        record = default_record(static_cast<uint32_t>(*id));
    if (!record)
        return err("callback " + std::string(id_word) + " has no fixed record size");
    if (!sdk_open() || !registered(static_cast<uint32_t>(*id)))
        return err("no handler registered for " + std::string(id_word));
    Event ev;
    ev.id = static_cast<uint32_t>(*id);
    ev.dev = static_cast<uint32_t>(*dev);
    ev.record = std::move(*record);
    post(std::move(ev), 0);
    return OK;
}

std::string cmd_inject(const std::vector<std::string_view>& w)
{
    if (w.size() < 3 || w.size() > 4)
        return err("usage: inject ID DEV HEX");
    const auto bytes = from_hex(w.size() == 4 ? w[3] : "");
    if (!bytes)
        return err("bad hex");
    return inject(w[1], w[2], bytes);
}

// "inject_default ID DEV": callback ID with its default record.
std::string cmd_inject_default(const std::vector<std::string_view>& w)
{
    if (w.size() != 3)
        return err("usage: inject_default ID DEV");
    return inject(w[1], w[2], std::nullopt);
}

std::string cmd_fail(const std::vector<std::string_view>& w)
{
    if (w.size() != 3)
        return err("usage: fail NAME CODE");
    if (!known_function(w[1]))
        return err("unknown function " + std::string(w[1]));
    const auto code = number(w[2], INT32_MIN, INT32_MAX);
    if (!code)
        return err("bad code");
    set_fail(w[1], static_cast<int32_t>(*code));
    return OK;
}

std::string cmd_answer(const std::vector<std::string_view>& w)
{
    if (w.size() != 3)
        return err("usage: answer NAME HEX");
    if (!known_function(w[1]))
        return err("unknown function " + std::string(w[1]));
    auto bytes = from_hex(w[2]);
    if (!bytes)
        return err("bad hex");
    set_answer(w[1], std::move(*bytes));
    return OK;
}

struct KnobRow {
    std::string_view key;
    int Knobs::*field;
    int lo;
    int hi;
};

constexpr KnobRow KNOBS[] = {
    {"boot_image_type", &Knobs::boot_image_type, 0, 255},
    {"device_present", &Knobs::device_present, 0, 1},
    {"delay_ms", &Knobs::delay_ms, 0, 60000},
    {"ip_alloc", &Knobs::ip_alloc, 0, 1},
    {"pdn_type", &Knobs::pdn_type, 0, 2},
    {"operator", &Knobs::op, 0, 255},
    {"ps_init_result", &Knobs::ps_init_result, INT32_MIN, INT32_MAX},
    {"online_result", &Knobs::online_result, INT32_MIN, INT32_MAX},
    {"attach_result", &Knobs::attach_result, 0, 65535},
    {"watchdog_answer", &Knobs::watchdog_answer, 0, 1},
    {"watchdog_delay_ms", &Knobs::watchdog_delay_ms, 0, 600000},
    {"download_crc_chunk", &Knobs::download_crc_chunk, 0, INT32_MAX},
    {"download_silent_chunk", &Knobs::download_silent_chunk, 0, INT32_MAX},
    {"download_early", &Knobs::download_early, 0, 1},
    {"download_silent_end", &Knobs::download_silent_end, 0, 1},
    {"call_delay_ms", &Knobs::call_delay_ms, 0, 60000},
};

std::string cmd_set(const std::vector<std::string_view>& w)
{
    if (w.size() != 3)
        return err("usage: set KEY VALUE");
    for (const KnobRow& k : KNOBS) {
        if (k.key != w[1])
            continue;
        const auto v = number(w[2], k.lo, k.hi);
        if (!v)
            return err("bad value for " + std::string(k.key));
        std::lock_guard g(lock());
        const int old = knobs().*k.field;
        knobs().*k.field = static_cast<int>(*v);
        if (k.field == &Knobs::device_present && old != *v)
            model_device_present(static_cast<int>(*v));
        return OK;
    }
    return err("unknown key " + std::string(w[1]));
}

// "pdn up SLOT APN" / "pdn down SLOT": a PDN of the modem's own, with the
// interface lte0pdnSLOT, without the request that would bring it.
// "pdn detach": the network detaches the modem, every PDN goes.
std::string cmd_pdn(const std::vector<std::string_view>& w)
{
    const bool up = w.size() == 4 && w[1] == "up";
    const bool detach = w.size() == 2 && w[1] == "detach";
    if (!up && !detach && !(w.size() == 3 && w[1] == "down"))
        return err("usage: pdn up SLOT APN | pdn down SLOT | pdn detach");
    const auto slot = detach ? std::optional<long long>(0) : number(w[2], 0, LAPI_CONN_INFO_MAX - 1);
    if (!slot)
        return err("bad slot");
    std::lock_guard g(lock());
    const std::string why =
        model_pdn(detach ? -1 : static_cast<int>(*slot), up ? std::optional(w[3]) : std::nullopt);
    return why.empty() ? OK : err(why);
}

std::string cmd_calls(const std::vector<std::string_view>& w)
{
    if (w.size() != 1)
        return err("usage: calls");
    return call_lines() + "end\n";
}

std::string cmd_clear(const std::vector<std::string_view>& w)
{
    if (w.size() != 1)
        return err("usage: clear");
    clear_calls();
    return OK;
}

std::string cmd_sync(const std::vector<std::string_view>& w)
{
    if (w.size() != 1)
        return err("usage: sync");
    sync_callbacks();
    return OK;
}

// "image DEV": "ok SIZE HEX", the image the device received last.
std::string cmd_image(const std::vector<std::string_view>& w)
{
    const auto dev = w.size() == 2 ? number(w[1], 0, UINT32_MAX) : std::nullopt;
    if (!dev)
        return err("usage: image DEV");
    std::lock_guard g(lock());
    const std::vector<uint8_t> bytes = model_image(static_cast<uint32_t>(*dev));
    return "ok " + std::to_string(bytes.size()) + " " + to_hex(bytes) + "\n";
}

// "nv ITEM HEX": the data the modem answers for an upload of NV item ITEM.
std::string cmd_nv(const std::vector<std::string_view>& w)
{
    const auto item = w.size() == 3 ? number(w[1], 0, 255) : std::nullopt;
    if (!item)
        return err("usage: nv ITEM HEX");
    auto bytes = from_hex(w[2]);
    if (!bytes)
        return err("bad hex");
    std::lock_guard g(lock());
    model_set_nv(static_cast<int>(*item), std::move(*bytes));
    return OK;
}

struct CommandRow {
    std::string_view word;
    std::string (*run)(const std::vector<std::string_view>&);
};

constexpr CommandRow COMMANDS[] = {
    {"inject", cmd_inject}, {"inject_default", cmd_inject_default},
    {"calls", cmd_calls},   {"clear", cmd_clear},
    {"fail", cmd_fail},     {"answer", cmd_answer},
    {"set", cmd_set},       {"sync", cmd_sync},
    {"pdn", cmd_pdn},       {"image", cmd_image},
    {"nv", cmd_nv},
};

}  // namespace

std::string control(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    if (line.size() > LINE_MAX_BYTES)
        return err("line too long");
    const auto w = words(line);
    if (w.empty() || w[0].front() == '#')
        return "";
    for (const CommandRow& c : COMMANDS)
        if (c.word == w[0])
            return c.run(w);
    return err("unknown command " + std::string(w[0]));
}

void run_conf_file()
{
    cnxd::FileLines in(cnxd::cnxd_path(CONF_FILE));
    std::string line;
    for (int n = 1; in.next(line); ++n) {
        const std::string reply = control(line);
        if (reply.starts_with("err"))
            sdk_log(4, "ltesim.conf:%d: %s", n, reply.c_str());
    }
}

// ---- The control socket ----------------------------------------------------

namespace {

struct Connection {
    cnxd::UniqueFd fd;
    std::string pending;
    bool discarding = false;  // inside an over-long line, up to its newline
};

bool write_all(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Runs every complete line received; false when the peer is to be dropped.
bool serve(Connection& c, std::string_view data)
{
    for (char ch : data) {
        if (ch != '\n') {
            if (!c.discarding)
                c.pending += ch;
            if (c.pending.size() > LINE_MAX_BYTES) {
                c.pending.clear();
                c.discarding = true;
                if (!write_all(c.fd.get(), err("line too long")))
                    return false;
            }
            continue;
        }
        if (c.discarding) {
            c.discarding = false;
            continue;
        }
        const std::string reply = control(c.pending);
        c.pending.clear();
        if (!reply.empty() && !write_all(c.fd.get(), reply))
            return false;
    }
    return true;
}

class ControlServer {
public:
    ~ControlServer() { stop(); }

    void start()
    {
        int pipe_fds[2];
        if (::pipe2(pipe_fds, O_CLOEXEC) != 0)
            return;
        wake_read_.reset(pipe_fds[0]);
        wake_write_.reset(pipe_fds[1]);
        const std::string path = cnxd::cnxd_path(CONTROL_SOCKET);
        listener_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (!listener_ || path.size() >= sizeof addr.sun_path) {
            sdk_log(3, "ltesim: no control socket at %s", path.c_str());
            return;
        }
        path.copy(addr.sun_path, path.size());
        ::unlink(path.c_str());
        if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_.get(), 4) != 0) {
            sdk_log(3, "ltesim: control socket %s: %s", path.c_str(), strerror(errno));
            listener_.reset();
            return;
        }
        path_ = path;
        thread_ = std::thread([this] { run(); });
    }

    // Cooperative: the wake pipe ends the poll loop, then the thread is joined.
    void stop()
    {
        if (thread_.joinable()) {
            const char byte = 0;
            if (::write(wake_write_.get(), &byte, 1) < 0) {
                // The pipe cannot be full: one byte is ever written.
            }
            thread_.join();
        }
        connections_.clear();
        listener_.reset();
        wake_read_.reset();
        wake_write_.reset();
        if (!path_.empty())
            ::unlink(path_.c_str());
        path_.clear();
    }

private:
    void run()
    {
        cnxd::name_thread("sim_control");
        for (;;) {
            std::vector<pollfd> fds{{wake_read_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
            for (const Connection& c : connections_)
                fds.push_back({c.fd.get(), POLLIN, 0});
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[0].revents)
                return;
            for (size_t i = fds.size(); i-- > 2;) {
                if (!fds[i].revents)
                    continue;
                Connection& c = connections_[i - 2];
                char buf[4096];
                const ssize_t n = ::recv(c.fd.get(), buf, sizeof buf, 0);
                if (n <= 0 || !serve(c, {buf, static_cast<size_t>(n)}))
                    connections_.erase(connections_.begin() + static_cast<long>(i - 2));
            }
            if (fds[1].revents & POLLIN) {
                cnxd::UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
                if (fd && connections_.size() < CONTROL_CLIENTS_MAX)
                    connections_.push_back({std::move(fd), {}, false});
            }
        }
    }

    cnxd::UniqueFd listener_;
    cnxd::UniqueFd wake_read_;
    cnxd::UniqueFd wake_write_;
    std::vector<Connection> connections_;
    std::thread thread_;
    std::string path_;
};

ControlServer& server()
{
    static ControlServer s;
    return s;
}

}  // namespace

void start_control_server() { server().start(); }
void stop_control_server() { server().stop(); }

}  // namespace ltesim
