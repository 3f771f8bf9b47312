#include "daemon_state.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <variant>
#include <vector>

#include "base/fd.h"
#include "base/path.h"
#include "base/unix_addr.h"
#include "server/client.h"

namespace cnxd::cli {
namespace {

// ---- A small JSON reader: what the state document holds ------------

struct Value;
using Object = std::map<std::string, Value, std::less<>>;
using Array = std::vector<Value>;
struct Value {
    std::variant<std::nullptr_t, bool, double, std::string, Array, Object> v;
    const Value* at(std::string_view key) const
    {
        const auto* o = std::get_if<Object>(&v);
        if (!o)
            return nullptr;
        const auto it = o->find(key);
        return it == o->end() ? nullptr : &it->second;
    }
    const Array* array() const { return std::get_if<Array>(&v); }
};

class Reader {
public:
    explicit Reader(std::string_view text) : s_(text) {}
    std::optional<Value> document()
    {
        auto v = value(0);
        skip();
        return v && at_ == s_.size() ? v : std::nullopt;
    }

private:
    static constexpr int MAX_DEPTH = 16;
    void skip()
    {
        while (at_ < s_.size() && std::strchr(" \t\r\n", s_[at_]))
            ++at_;
    }
    bool eat(char c)
    {
        skip();
        if (at_ < s_.size() && s_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool word(std::string_view w)
    {
        if (s_.substr(at_, w.size()) != w)
            return false;
        at_ += w.size();
        return true;
    }
    std::optional<std::string> string()
    {
        if (!eat('"'))
            return std::nullopt;
        std::string out;
        while (at_ < s_.size() && s_[at_] != '"') {
            char c = s_[at_++];
            if (c == '\\' && at_ < s_.size()) {
                c = s_[at_++];
                if (c == 'u' && at_ + 4 <= s_.size()) {
                    c = static_cast<char>(std::strtol(std::string(s_.substr(at_, 4)).c_str(), nullptr, 16));
                    at_ += 4;
                } else if (c == 'n') {
                    c = '\n';
                }
            }
            out += c;
        }
        if (at_ >= s_.size())
            return std::nullopt;
        ++at_;
        return out;
    }
    std::optional<Value> value(int depth)
    {
        skip();
        if (depth > MAX_DEPTH || at_ >= s_.size())
            return std::nullopt;
        const char c = s_[at_];
        if (c == '{') {
            ++at_;
            Object o;
            if (eat('}'))
                return Value{std::move(o)};
            do {
                auto key = string();
                if (!key || !eat(':'))
                    return std::nullopt;
                auto v = value(depth + 1);
                if (!v)
                    return std::nullopt;
                o.emplace(std::move(*key), std::move(*v));
            } while (eat(','));
            return eat('}') ? std::optional<Value>(Value{std::move(o)}) : std::nullopt;
        }
        if (c == '[') {
            ++at_;
            Array a;
            if (eat(']'))
                return Value{std::move(a)};
            do {
                auto v = value(depth + 1);
                if (!v)
                    return std::nullopt;
                a.push_back(std::move(*v));
            } while (eat(','));
            return eat(']') ? std::optional<Value>(Value{std::move(a)}) : std::nullopt;
        }
        if (c == '"') {
            auto str = string();
            return str ? std::optional<Value>(Value{std::move(*str)}) : std::nullopt;
        }
        if (word("true"))
            return Value{true};
        if (word("false"))
            return Value{false};
        if (word("null"))
            return Value{nullptr};
        const std::string rest(s_.substr(at_, 32));
        char* end = nullptr;
        const double d = std::strtod(rest.c_str(), &end);
        if (end == rest.c_str())
            return std::nullopt;
        at_ += static_cast<size_t>(end - rest.c_str());
        return Value{d};
    }
    std::string_view s_;
    size_t at_ = 0;
};

// A number cut to a whole one; one beyond a 64-bit integer (a document
// from elsewhere) as %g.
std::string whole(double d)
{
    if (std::isfinite(d) && std::fabs(d) < 9.0e18)
        return std::to_string(static_cast<long long>(d));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", d);
    return buf;
}

// A member as table text: numbers whole, null as "-".
std::string text(const Value& obj, const char* key)
{
    const Value* v = obj.at(key);
    if (!v)
        return "-";
    if (const auto* d = std::get_if<double>(&v->v))
        return whole(*d);
    if (const auto* b = std::get_if<bool>(&v->v))
        return *b ? "yes" : "no";
    if (const auto* s = std::get_if<std::string>(&v->v))
        return *s;
    if (const auto* a = v->array()) {
        std::string out;
        for (const Value& e : *a)
            if (const auto* s = std::get_if<std::string>(&e.v))
                out += (out.empty() ? "" : ", ") + *s;
        return out.empty() ? "-" : out;
    }
    if (v->at("name"))
        return text(*v, "name") + " " + text(*v, "ms") + "ms";
    return "-";
}

struct Column {
    const char* key;
    const char* head;
    int width;
};

void table(FILE* out, const char* title, const Array* rows, std::initializer_list<Column> columns)
{
    std::fprintf(out, "%s\n", title);
    for (const Column& c : columns)
        std::fprintf(out, "  %-*s", c.width, c.head);
    std::fputc('\n', out);
    for (const Value& row : rows ? *rows : Array{}) {
        for (const Column& c : columns)
            std::fprintf(out, "  %-*s", c.width, text(row, c.key).c_str());
        std::fputc('\n', out);
    }
    if (!rows || rows->empty())
        std::fprintf(out, "  (none)\n");
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
    const auto doc = Reader(json).document();
    if (!doc || !doc->at("clients"))
        return false;
    table(out, "Clients", doc->at("clients")->array(),
          {{"index", "IDX", 3}, {"identity", "IDENTITY", 10}, {"pid", "PID", 7}, {"log", "LOG", 3},
           {"served", "SERVED", 7}, {"in_flight", "IN FLIGHT", 20}, {"p50_us", "P50 us", 7},
           {"p99_us", "P99 us", 7}, {"keepalive_answer_ms_ago", "KA ms", 6}, {"send_retries", "RETRY", 5},
           {"send_drops", "DROP", 4}, {"events", "EVENTS", 0}});
    table(out, "Devices", doc->at("devices") ? doc->at("devices")->array() : nullptr,
          {{"index", "DEV", 3}, {"init_complete", "INIT", 4}, {"boot_image", "BOOT", 4},
           {"operator", "OPERATOR", 8}, {"downloading", "DOWNLOADING", 0}});
    if (const Value* w = doc->at("watchdog"))
        std::fprintf(out, "Watchdog\n  enabled %s  mode %s  all off %s  hold %s  expired %s\n",
                     text(*w, "enabled").c_str(), text(*w, "mode").c_str(), text(*w, "all_off").c_str(),
                     text(*w, "hold").c_str(), text(*w, "expired").c_str());
    table(out, "DHCP", doc->at("dhcp") ? doc->at("dhcp")->array() : nullptr,
          {{"sid", "SID", 3}, {"interface", "INTERFACE", 12}, {"device", "DEV", 3}, {"state", "STATE", 5},
           {"lease_expires_in_s", "LEASE s", 0}});
    return true;
}

}  // namespace cnxd::cli
