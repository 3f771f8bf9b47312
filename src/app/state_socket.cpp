#include "app/state_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <thread>

#include "api/cnxd_handler.h"
#include "base/fd.h"
#include "base/path.h"
#include "base/thread_name.h"
#include "base/unix_addr.h"
#include "download/download.h"
#include "ind/ind.h"
#include "keeper/keeper.h"
#include "modem/device_tables.h"
#include "net/dhcpcd.h"
#include "server/client.h"
#include "shell/dispatcher.h"
#include "status/dev_status.h"
#include "watchdog/watchdog.h"

namespace cnxd {
namespace {

// A JSON document written as it goes: members and elements get their commas
// from the nesting they are in.
class Json {
public:
    Json& open(char bracket, const char* key = nullptr)
    {
        item(key);
        text_ += bracket;
        first_ = true;
        return *this;
    }
    Json& close(char bracket)
    {
        text_ += bracket;
        first_ = false;
        return *this;
    }
    Json& num(const char* key, long long v)
    {
        item(key);
        text_ += std::to_string(v);
        return *this;
    }
    Json& boolean(const char* key, bool v)
    {
        item(key);
        text_ += v ? "true" : "false";
        return *this;
    }
    // A figure in tenths as a number with one decimal, or null.
    Json& tenths(const char* key, status_tenths v)
    {
        if (!v)
            return null(key);
        item(key);
        const int32_t a = *v < 0 ? -*v : *v;
        text_ += (*v < 0 ? "-" : "") + std::to_string(a / 10) + "." + std::to_string(a % 10);
        return *this;
    }
    Json& opt(const char* key, std::optional<int64_t> v) { return v ? num(key, *v) : null(key); }
    Json& null(const char* key)
    {
        item(key);
        text_ += "null";
        return *this;
    }
    Json& str(const char* key, std::string_view v)
    {
        item(key);
        quote(v);
        return *this;
    }
    std::string take() { return std::move(text_) + "\n"; }

private:
    void item(const char* key)
    {
        if (!first_)
            text_ += ',';
        first_ = false;
        if (key) {
            quote(key);
            text_ += ':';
        }
    }
    void quote(std::string_view v)
    {
        text_ += '"';
        for (const char c : v) {
            if (c == '"' || c == '\\') {
                text_ += '\\';
                text_ += c;
            } else if (const auto u = static_cast<unsigned char>(c); u < 0x20 || u > 0x7E) {
                // Control bytes, and bytes beyond ASCII (texts from the modem
                // need not be UTF-8) as the code points of their values.
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", u);
                text_ += esc;
            } else {
                text_ += c;
            }
        }
        text_ += '"';
    }
    std::string text_;
    bool first_ = true;
};

void client_json(Json& j, cnxd_client_rec& c, uint32_t now)
{
    client_stats& s = c.stats;
    j.open('{').num("index", c.idx).num("identity", c.identity).num("pid", c.pid);
    j.open('[', "events");
    for (const ind_row& row : ind_callback_tbl) {
        const unsigned word = row.event >= 0 ? subscription_word(static_cast<unsigned>(row.event)) : 0;
        // A row registered again shares the event of its first row.
        if (word != 0 && c.shm_word(4 * word) && &row == &*std::ranges::find(ind_callback_tbl, row.event, &ind_row::event))
            j.str(nullptr, row.title);
    }
    j.close(']');
    j.boolean("log", c.shm_word(shm::RECV_WORD) != 0).num("served", s.served);
    if (const int32_t cmd = s.in_flight; cmd >= 0) {
        const char* name = api_cmd_name(static_cast<uint16_t>(cmd));
        j.open('{', "in_flight").num("command", cmd).str("name", name ? name : "");
        j.num("ms", static_cast<uint32_t>(now - s.in_flight_since)).close('}');
    } else {
        j.null("in_flight");
    }
    j.num("p50_us", s.percentile(50)).num("p99_us", s.percentile(99));
    if (const uint32_t at = s.keepalive_answer; at != 0)
        j.num("keepalive_answer_ms_ago", static_cast<uint32_t>(now - at));
    else
        j.null("keepalive_answer_ms_ago");
    j.num("keepalive_misses", c.ka_miss).num("send_retries", s.send_retries).num("send_drops", s.send_drops);
    j.close('}');
}

// The connection keeper of a device: what it keeps, what it is doing, when
// it tries next, and what it has done.
void keeper_json(Json& j, uint32_t dev)
{
    const keeper_view k = keeper_state(dev);
    j.open('{', "keeper").open('[', "labels");
    for (const int l : k.labels)
        j.num(nullptr, l);
    j.close(']').str("state", k.state).num("failures", k.failures);
    if (k.next_attempt_s)
        j.num("next_attempt_s", *k.next_attempt_s);
    else
        j.null("next_attempt_s");
    const keeper_counters& c = k.counters;
    j.open('{', "counters").num("attaches", c.attaches).num("connects", c.connects).num("failures", c.failures);
    j.num("resets", c.resets).num("drops", c.drops).num("stand_downs", c.stand_downs).close('}').close('}');
}

long long age_s(status_clock::time_point at)
{
    return std::chrono::duration_cast<std::chrono::seconds>(status_clock::now() - at).count();
}

void history_json(Json& j, const char* key, const std::vector<status_tenths>& samples)
{
    j.open('[', key);
    for (const status_tenths& v : samples)
        j.tenths(nullptr, v);
    j.close(']');
}

void cell_json(Json& j, const char* key, const status_cell& c)
{
    if (!c.seen) {
        j.null(key);
        return;
    }
    j.open('{', key).tenths("rsrp", c.rsrp).tenths("rsrq", c.rsrq).tenths("sinr", c.sinr);
    j.opt("pci", c.pci).opt("band", c.band).opt("cell_id", c.cell_id).num("age_s", age_s(c.at));
    history_json(j, "rsrp_history", c.rsrp_history);
    history_json(j, "sinr_history", c.sinr_history);
    j.close('}');
}

// The lease of the DHCP interface `name`: seconds to its expiry, or none.
std::optional<int64_t> lease_left(const std::string& name)
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    for (int sid = 0; sid < DHCP_MAX_SID; ++sid)
        if (const int32_t expires = dhcp_lease_expire_time(sid); expires != 0 && name == dhcpcd_if_name(sid).data())
            return expires - ts.tv_sec;
    return std::nullopt;
}

void result_json(Json& j, const char* key, const std::optional<std::array<uint16_t, 2>>& r)
{
    if (r)
        j.open('{', key).num("result", (*r)[0]).num("cause", (*r)[1]).close('}');
    else
        j.null(key);
}

void status_json(Json& j, const status_device& s)
{
    j.boolean("inserted", s.inserted).boolean("online", s.online);
    j.opt("online_result", s.online_result);
    j.open('{', "attach").str("state", status_attach_name(s.attach));
    if (s.attach != status_attach_state::unknown)
        j.num("age_s", age_s(s.attach_since));
    else
        j.null("age_s");
    result_json(j, "last_attach", s.last_attach);
    result_json(j, "last_detach", s.last_detach);
    j.num("attaches", s.attaches).num("detaches", s.detaches).num("releases", s.releases).close('}');
    j.open('[', "connections");
    for (const status_connection& c : s.connections) {
        j.open('{').str("interface", c.name).str("apn", c.apn).num("ip_type", c.ip_type);
        j.str("ipv4", c.ipv4).str("ipv6", c.ipv6).num("eps_bearer", c.eps_bearer);
        j.str("by", c.dhcp ? "DHCP" : "NAS").opt("lease_expires_in_s", c.dhcp ? lease_left(c.name) : std::nullopt);
        j.num("age_s", age_s(c.since)).close('}');
    }
    j.close(']');
    j.open('{', "cell");
    cell_json(j, "lte", s.cells[static_cast<size_t>(status_rat::lte)]);
    cell_json(j, "nr", s.cells[static_cast<size_t>(status_rat::nr)]);
    j.close('}');
}

static_assert(STATUS_DEVICES == DEVICE_TABLE_SIZE, "the status keeps every device of the tables");

// A device is shown once the modem has told anything of it.
void devices_json(Json& j)
{
    j.open('[', "devices");
    for (uint32_t dev = 0; dev < DEVICE_TABLE_SIZE; ++dev) {
        const uint8_t boot = dev < g_emergency.size() ? g_emergency[dev].load() : 0;
        const uint32_t loading = dev < downloading.size() ? downloading[dev].load() : 0;
        const auto status = status_of(dev);
        if (!status && !init_complete[dev] && !boot && !loading && current_operator[dev] == 0)
            continue;
        j.open('{').num("index", dev).num("init_complete", init_complete[dev]).num("boot_image", boot);
        j.num("operator", current_operator[dev]).num("downloading", loading);
        keeper_json(j, dev);
        status_json(j, status.value_or(status_device{}));
        j.close('}');
    }
    j.close(']');
}

void dhcp_json(Json& j)
{
    j.open('[', "dhcp");
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    for (int sid = 0; sid < DHCP_MAX_SID; ++sid) {
        const auto name = dhcpcd_if_name(sid);
        if (name[0] == '\0')
            continue;
        j.open('{').num("sid", sid).str("interface", name.data()).num("device", dhcpcd_dev_idx(sid));
        j.num("state", dhcpcd_state(sid));
        if (const int32_t expires = dhcp_lease_expire_time(sid); expires != 0)
            j.num("lease_expires_in_s", expires - ts.tv_sec);
        else
            j.null("lease_expires_in_s");
        j.close('}');
    }
    j.close(']');
}

class Server {
public:
    void start()
    {
        const std::string path = cnxd_path(CNXD_STATE_PATH);
        sockaddr_un addr{};
        if (!make_unix_addr(path, &addr))
            return;
        UniqueFd sock(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        int pipe_fds[2];
        if (!sock || pipe2(pipe_fds, O_CLOEXEC) != 0)
            return;
        stop_read_ = UniqueFd(pipe_fds[0]);
        stop_write_ = UniqueFd(pipe_fds[1]);
        unlink(path.c_str());
        if (bind(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(sock.get(), 4) != 0)
            return;
        listen_ = std::move(sock);
        thread_ = std::thread([this] { serve(); });
    }

    void stop()
    {
        if (!thread_.joinable())
            return;
        (void)!write(stop_write_.get(), "x", 1);
        thread_.join();
        unlink(cnxd_path(CNXD_STATE_PATH).c_str());
        listen_.reset();
    }

private:
    void serve()
    {
        name_thread("state_socket");
        for (;;) {
            pollfd fds[2] = {{listen_.get(), POLLIN, 0}, {stop_read_.get(), POLLIN, 0}};
            if (poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents)
                return;
            UniqueFd conn(accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (!conn)
                continue;
            // A reader that does not read holds the socket up for a second at most.
            const timeval bound{1, 0};
            setsockopt(conn.get(), SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
            const std::string doc = state_document();
            for (size_t at = 0; at < doc.size();) {
                const ssize_t n = send(conn.get(), doc.data() + at, doc.size() - at, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                at += static_cast<size_t>(n);
            }
        }
    }

    UniqueFd listen_;
    UniqueFd stop_read_;
    UniqueFd stop_write_;
    std::thread thread_;
};
Server server;

}  // namespace

std::string state_document()
{
    Json j;
    const uint32_t now = monotonic_ms();
    j.open('{').open('[', "clients");
    for (cnxd_client_rec& c : cnxd_client)
        if (c.connected())
            client_json(j, c, now);
    j.close(']');
    devices_json(j);
    j.open('{', "watchdog").boolean("enabled", gWTDEnable != 0).num("mode", watchdog_mode);
    j.boolean("all_off", watchdog_AllOff != 0).boolean("hold", watchdog_hold != 0);
    j.num("expired", gWTD_HCI_ExpCnt).close('}');
    dhcp_json(j);
    j.close('}');
    return j.take();
}

void state_socket_start() { server.start(); }
void state_socket_stop() { server.stop(); }

}  // namespace cnxd
