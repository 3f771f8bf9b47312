#include "daemon_state.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/fd.h"
#include "base/path.h"
#include "base/unix_addr.h"
#include "server/client.h"

namespace cnxd::cli {
namespace {

using Json = nlohmann::ordered_json;

// Whether the text nests objects and arrays no deeper than the daemon
// ever writes (strings skipped), so that printing never recurses far.
constexpr int MAX_DEPTH = 16;
bool shallow(std::string_view text)
{
    int depth = 0;
    bool in_string = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            i += c == '\\';
            in_string = c != '"';
        } else if (c == '"') {
            in_string = true;
        } else if ((c == '{' || c == '[') && ++depth > MAX_DEPTH) {
            return false;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return true;
}

// The document, or a discarded value when the text is none.
Json parse(const std::string& text)
{
    return shallow(text) ? Json::parse(text, nullptr, false) : Json(Json::value_t::discarded);
}

bool is_document(const Json& doc) { return doc.is_object() && doc.contains("clients"); }

// A number the document may hold: finite and of a size the daemon
// writes; anything else (a document from elsewhere) is refused.
constexpr double NUMBER_MAX = 1e15;
std::optional<double> number(const Json& v)
{
    if (!v.is_number())
        return std::nullopt;
    const double d = v.get<double>();
    if (!std::isfinite(d) || std::fabs(d) > NUMBER_MAX)
        return std::nullopt;
    return d;
}

// JSON text; bytes that are no UTF-8 replaced.
std::string dump(const Json& v, int indent = -1) { return v.dump(indent, ' ', false, Json::error_handler_t::replace); }

std::string number_text(double d)
{
    char buf[32];
    if (d == std::trunc(d))
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(d));
    else
        std::snprintf(buf, sizeof buf, "%.1f", d);
    return buf;
}

// A value as text: numbers as the daemon writes them, null as "-", a
// list of texts joined, an object compact.
std::string text(const Json& v)
{
    if (v.is_null())
        return "-";
    if (v.is_boolean())
        return v.get<bool>() ? "yes" : "no";
    if (v.is_string())
        return v.get<std::string>();
    if (v.is_number()) {
        const auto d = number(v);
        return d ? number_text(*d) : "-";
    }
    if (v.is_array()) {
        std::string out;
        for (const Json& e : v)
            out += (out.empty() ? "" : ", ") + text(e);
        return out.empty() ? "-" : out;
    }
    return dump(v);
}

// A member as table text ("-" when missing).
std::string text(const Json& obj, const char* key)
{
    if (!obj.is_object() || !obj.contains(key))
        return "-";
    const Json& v = obj[key];
    if (v.is_object() && v.contains("name"))
        return text(v, "name") + " " + text(v, "ms") + "ms";
    return text(v);
}

const Json* member(const Json& obj, const char* key)
{
    return obj.is_object() && obj.contains(key) ? &obj[key] : nullptr;
}

std::optional<double> number(const Json& obj, const char* key)
{
    const Json* v = member(obj, key);
    return v ? number(*v) : std::nullopt;
}

struct Column {
    const char* key;
    const char* head;
    int width;
};

void table(FILE* out, const char* title, const Json* rows, std::initializer_list<Column> columns)
{
    std::fprintf(out, "%s\n", title);
    for (const Column& c : columns)
        std::fprintf(out, "  %-*s", c.width, c.head);
    std::fputc('\n', out);
    const bool any = rows && rows->is_array() && !rows->empty();
    for (const Json& row : any ? *rows : Json::array()) {
        for (const Column& c : columns)
            std::fprintf(out, "  %-*s", c.width, text(row, c.key).c_str());
        std::fputc('\n', out);
    }
    if (!any)
        std::fprintf(out, "  (none)\n");
}

// ---- The status report ---------------------------------------------------------

// Seconds as an age: "42s", "5m 3s", "2h 4m", "3d 2h".
std::string age(const Json* v)
{
    const auto d = v ? number(*v) : std::nullopt;
    if (!d || *d < 0)
        return "-";
    const auto s = static_cast<long long>(*d);
    char buf[48];
    if (s < 60)
        std::snprintf(buf, sizeof buf, "%llds", s);
    else if (s < 3600)
        std::snprintf(buf, sizeof buf, "%lldm %llds", s / 60, s % 60);
    else if (s < 86400)
        std::snprintf(buf, sizeof buf, "%lldh %lldm", s / 3600, s % 3600 / 60);
    else
        std::snprintf(buf, sizeof buf, "%lldd %lldh", s / 86400, s % 86400 / 3600);
    return buf;
}

struct Line {
    std::string section, label, value;
};

class Report {
public:
    explicit Report(status_style style) : style_(style) {}
    void section(std::string name) { section_ = std::move(name); }
    void add(std::string label, std::string value)
    {
        lines_.push_back({std::exchange(section_, ""), std::move(label), std::move(value)});
    }
    // A signal figure with its unit, coloured by how good it is.
    void figure(const char* label, const Json& cell, const char* key, const char* unit, double good, double fair)
    {
        const Json* v = member(cell, key);
        const auto d = v ? number(*v) : std::nullopt;
        if (!d) {
            add(label, v && v->is_null() ? "NV" : "-");
            return;
        }
        add(label, paint(*d, good, fair, number_text(*d) + " " + unit));
    }
    // A history as a sparkline from its lowest to its highest sample; a
    // sample not valid is a gap.
    void trend(const char* label, const Json& cell, const char* key, double good, double fair)
    {
        const Json* h = member(cell, key);
        if (!style_.trend || !h || !h->is_array() || h->empty())
            return;
        static constexpr const char* BARS[] = {"\u2581", "\u2582", "\u2583", "\u2584",
                                               "\u2585", "\u2586", "\u2587", "\u2588"};
        std::vector<std::optional<double>> samples;
        for (const Json& e : *h)
            samples.push_back(number(e));
        double lo = NUMBER_MAX, hi = -NUMBER_MAX;
        for (const auto& v : samples)
            if (v) {
                lo = std::min(lo, *v);
                hi = std::max(hi, *v);
            }
        std::string line;
        for (const auto& v : samples) {
            if (!v) {
                line += ' ';
                continue;
            }
            const double at = hi > lo ? (*v - lo) / (hi - lo) : 0.5;
            line += paint(*v, good, fair, BARS[std::clamp(static_cast<int>(at * 7.0 + 0.5), 0, 7)]);
        }
        if (lo <= hi)
            line += "  " + number_text(lo) + " .. " + number_text(hi);
        add(label, line);
    }
    void print(FILE* out) const
    {
        size_t sw = 0, lw = 0;
        for (const Line& l : lines_) {
            sw = std::max(sw, l.section.size());
            lw = std::max(lw, l.label.size());
        }
        for (const Line& l : lines_) {
            if (!l.section.empty() && &l != &lines_.front())
                std::fprintf(out, "  %s\n", std::string(sw + lw + 8, '-').c_str());
            std::fprintf(out, "  %-*s | %*s: %s\n", static_cast<int>(sw), l.section.c_str(), static_cast<int>(lw),
                         l.label.c_str(), l.value.c_str());
        }
    }

private:
    std::string paint(double v, double good, double fair, const std::string& s) const
    {
        if (!style_.colour)
            return s;
        const char* c = v >= good ? "\033[32m" : v >= fair ? "\033[33m" : "\033[31m";
        return c + s + "\033[0m";
    }
    status_style style_;
    std::string section_;
    std::vector<Line> lines_;
};

std::string result_text(const Json* r)
{
    if (!r || !r->is_object())
        return "-";
    return "result " + text(*r, "result") + ", cause " + text(*r, "cause");
}

void cell_lines(Report& r, const char* name, const Json* cell)
{
    if (!cell || !cell->is_object())
        return;
    r.section(name);
    r.figure("RSRP", *cell, "rsrp", "dBm", -90, -105);
    r.figure("RSRQ", *cell, "rsrq", "dB", -10, -15);
    r.figure("SINR", *cell, "sinr", "dB", 13, 0);
    r.add("cell id", text(*cell, "cell_id"));
    r.add("physical cell id", text(*cell, "pci"));
    r.add("band", text(*cell, "band"));
    r.add("reported", age(member(*cell, "age_s")) + " ago");
    r.trend("RSRP trend", *cell, "rsrp_history", -90, -105);
    r.trend("SINR trend", *cell, "sinr_history", 13, 0);
}

void device_lines(Report& r, const Json& d)
{
    r.section("Device " + text(d, "index"));
    r.add("inserted", text(d, "inserted"));
    r.add("on line", text(d, "online"));
    r.add("initialised", text(d, "init_complete") == "1" ? "yes" : "no");
    r.add("boot image", text(d, "boot_image"));
    r.add("operator", text(d, "operator"));
    if (const Json* a = member(d, "attach")) {
        r.section("Attach");
        const Json* since = member(*a, "age_s");
        r.add("state", text(*a, "state") + (since && !since->is_null() ? ", " + age(since) : ""));
        r.add("last attach", result_text(member(*a, "last_attach")));
        r.add("last detach", result_text(member(*a, "last_detach")));
        r.add("events", text(*a, "attaches") + " attach, " + text(*a, "detaches") + " detach, " +
                            text(*a, "releases") + " interface release");
    }
    if (const Json* list = member(d, "connections"); list && list->is_array())
        for (const Json& c : *list) {
            r.section("Connection");
            r.add("interface", text(c, "interface"));
            r.add("APN", text(c, "apn"));
            constexpr const char* IP_TYPES[] = {"IPv4", "IPv6", "IPv4v6"};
            const auto type = number(c, "ip_type");
            r.add("IP type", type && *type >= 0 && *type < 3 ? IP_TYPES[static_cast<int>(*type)] : text(c, "ip_type"));
            for (const char* key : {"ipv4", "ipv6"})
                if (const std::string a = text(c, key); !a.empty())
                    r.add(key == std::string_view("ipv4") ? "IPv4 address" : "IPv6 address", a);
            r.add("default bearer", text(c, "eps_bearer"));
            r.add("address by", text(c, "by"));
            if (const Json* lease = member(c, "lease_expires_in_s"); lease && !lease->is_null())
                r.add("lease expires in", age(lease));
            r.add("up for", age(member(c, "age_s")));
        }
    if (const Json* cells = member(d, "cell")) {
        cell_lines(r, "LTE cell", member(*cells, "lte"));
        cell_lines(r, "NR cell", member(*cells, "nr"));
    }
    // What the connection keeper holds, as it holds it.
    if (const Json* k = member(d, "keeper"); k && k->is_object()) {
        r.section("Keeper");
        for (const auto& [key, v] : k->items()) {
            std::string label = key;
            std::replace(label.begin(), label.end(), '_', ' ');
            const bool seconds = key.size() > 2 && key.ends_with("_s") && v.is_number();
            r.add(seconds ? label.substr(0, label.size() - 2) : label, seconds ? age(&v) : text(v));
        }
    }
}

// The device objects `dev` selects (every one when none is named).
std::vector<const Json*> devices_of(const Json& doc, std::optional<uint32_t> dev)
{
    std::vector<const Json*> out;
    const Json* list = member(doc, "devices");
    if (!list || !list->is_array())
        return out;
    for (const Json& d : *list) {
        const auto index = number(d, "index");
        if (!dev || (index && *index == *dev))
            out.push_back(&d);
    }
    return out;
}

}  // namespace

std::optional<std::string> state_read()
{
    const std::string path = cnxd_path(CNXD_STATE_PATH);
    sockaddr_un addr{};
    UniqueFd sock(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!sock || !make_unix_addr(path, &addr) ||
        connect(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "cnxd-cli: cannot read the state socket %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return std::nullopt;
    }
    std::string doc;
    char buf[4096];
    for (ssize_t n; (n = read(sock.get(), buf, sizeof buf)) > 0;)
        doc.append(buf, static_cast<size_t>(n));
    return doc;
}

bool state_print(const std::string& json, FILE* out)
{
    const Json doc = parse(json);
    if (!is_document(doc))
        return false;
    table(out, "Clients", member(doc, "clients"),
          {{"index", "IDX", 3}, {"identity", "IDENTITY", 10}, {"pid", "PID", 7}, {"log", "LOG", 3},
           {"served", "SERVED", 7}, {"in_flight", "IN FLIGHT", 20}, {"p50_us", "P50 us", 7},
           {"p99_us", "P99 us", 7}, {"keepalive_answer_ms_ago", "KA ms", 6}, {"send_retries", "RETRY", 5},
           {"send_drops", "DROP", 4}, {"events", "EVENTS", 0}});
    table(out, "Devices", member(doc, "devices"),
          {{"index", "DEV", 3}, {"init_complete", "INIT", 4}, {"boot_image", "BOOT", 4},
           {"operator", "OPERATOR", 8}, {"downloading", "DOWNLOADING", 0}});
    if (const Json* w = member(doc, "watchdog"))
        std::fprintf(out, "Watchdog\n  enabled %s  mode %s  all off %s  hold %s  expired %s\n",
                     text(*w, "enabled").c_str(), text(*w, "mode").c_str(), text(*w, "all_off").c_str(),
                     text(*w, "hold").c_str(), text(*w, "expired").c_str());
    table(out, "DHCP", member(doc, "dhcp"),
          {{"sid", "SID", 3}, {"interface", "INTERFACE", 12}, {"device", "DEV", 3}, {"state", "STATE", 5},
           {"lease_expires_in_s", "LEASE s", 0}});
    return true;
}

bool status_print(const std::string& json, std::optional<uint32_t> dev, status_style style, FILE* out)
{
    const Json doc = parse(json);
    const auto devices = devices_of(doc, dev);
    if (!is_document(doc) || (dev && devices.empty()))
        return false;
    Report r(style);
    for (const Json* d : devices)
        device_lines(r, *d);
    if (devices.empty())
        std::fprintf(out, "no device has been reported\n");
    r.print(out);
    return true;
}

std::optional<std::string> status_json(const std::string& json, std::optional<uint32_t> dev)
{
    const Json doc = parse(json);
    const auto devices = devices_of(doc, dev);
    if (!is_document(doc) || (dev && devices.empty()))
        return std::nullopt;
    if (dev)
        return dump(*devices.front(), 2) + "\n";
    const Json* list = member(doc, "devices");
    return (list ? dump(*list, 2) : "[]") + "\n";
}

}  // namespace cnxd::cli
