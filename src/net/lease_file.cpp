#include "net/lease_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string_view>

#include "base/fd.h"
#include "base/path.h"

namespace cnxd {
namespace {

// Only the tail of a lease file is searched for the newest times: the
// client appends each lease at the end, and a real lease file holds a few
// kilobytes. A file grown beyond this (damaged or hostile) costs no more.
constexpr off_t LEASE_TAIL_MAX = 1 << 20;
// Longest time text after a keyword that is worth handing to the parser.
constexpr size_t LEASE_TIME_TEXT = 64;
// A line of the lease file as get_dhcplease reads it.
constexpr int LEASE_LINE_MAX = 2048;

// The last LEASE_TAIL_MAX bytes of the file (all of it when shorter), or
// nothing after printing why.
std::unique_ptr<char[]> read_tail(const std::string& path, size_t& len)
{
    UniqueFd fd(open(cnxd_path(path).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        dhcp_print("Can't find %s", path.c_str());
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0 || st.st_size == 0) {
        dhcp_print("%s size = 0\n", path.c_str());
        return nullptr;
    }
    const off_t want = std::min(st.st_size, LEASE_TAIL_MAX);
    std::unique_ptr<char[]> buf(new (std::nothrow) char[static_cast<size_t>(want) + 1]);
    if (!buf) {
        dhcp_print("%s(): Unable to allocate memory! ", "get_latest_lease_timediff");
        return nullptr;
    }
    // The file may shrink while it is read: what was read is what counts.
    len = 0;
    const off_t start = st.st_size - want;
    while (len < static_cast<size_t>(want)) {
        const ssize_t n = pread(fd.get(), buf.get() + len, static_cast<size_t>(want) - len,
                                start + static_cast<off_t>(len));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        len += static_cast<size_t>(n);
    }
    buf[len] = '\0';
    return buf;
}

// Parses the lease time at the start of `text`.
//
// The client writes its times in one of two forms: "%w %Y/%m/%d %H:%M:%S"
// in UTC (its default), or "epoch <seconds>" when told to use local time.
// Both are read as what they are, whatever the daemon's own time zone: read
// as local time, the default form made a fresh lease look expired hours ago
// east of UTC (and live hours too long west of it). "never" (a lease
// without end) is the farthest time there is; text that does not parse
// gives nothing.
bool parse_lease_time(std::string_view text, time_t now, long& diff)
{
    if (text.starts_with("never")) {
        diff = LEASE_TIMEDIFF_MAX;
        return true;
    }
    // The bytes after the keyword may be anything (even NULs): the parser
    // gets a terminated copy of a bounded piece.
    std::array<char, LEASE_TIME_TEXT + 1> copy{};
    const size_t n = std::min(text.size(), LEASE_TIME_TEXT);
    std::memcpy(copy.data(), text.data(), n);
    double d = 0;
    if (long long epoch = 0; std::sscanf(copy.data(), "epoch %lld", &epoch) == 1) {
        d = static_cast<double>(epoch) - static_cast<double>(now);
    } else {
        // The %O forms of the client's format are the plain numbers wherever
        // no alternative digits are defined, and glibc's strptime refuses
        // them there, so the plain forms read them.
        std::tm when{};
        if (!strptime(copy.data(), "%w %Y/%m/%d %H:%M:%S", &when))
            return false;
        const time_t t = timegm(&when);
        if (t == static_cast<time_t>(-1))
            return false;
        d = std::difftime(t, now);
    }
    diff = static_cast<long>(std::clamp(d, -static_cast<double>(LEASE_TIMEDIFF_MAX),
                                        static_cast<double>(LEASE_TIMEDIFF_MAX)));
    return true;
}

// "%u.%u.%u.%u" into four bytes. Text that is not four numbers of 0 to 255
// leaves `out` as it was (zero, or the value of an earlier line).
void parse_quad(const char* text, uint8_t* out)
{
    unsigned b[4];
    if (std::sscanf(text, "%u.%u.%u.%u", &b[0], &b[1], &b[2], &b[3]) != 4)
        return;
    if (std::any_of(std::begin(b), std::end(b), [](unsigned v) { return v > 255; }))
        return;
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(b[i]);
}

void parse_seconds(const char* text, int32_t* out)
{
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (end != text && errno == 0 && v >= INT32_MIN && v <= INT32_MAX)
        *out = static_cast<int32_t>(v);
}

}  // namespace

std::string dhcp_file(const char* base, int sid)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s/%s.%d", DHCP_FILE_DIR, base, sid);
    return name;
}

void dhcp_print(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::fflush(stdout);
}

long get_latest_lease_timediff(int sid, const char* keyword)
{
    const std::string path = dhcp_file(DHCP_LEASE_FILE, sid);
    size_t len = 0;
    const auto buf = read_tail(path, len);
    if (!buf)
        return 0;
    const time_t now = std::time(nullptr);
    // The last occurrence: the newest lease wins. A search over the bytes
    // read, so a NUL inside the file hides nothing behind it.
    const std::string_view text(buf.get(), len);
    const size_t at = text.rfind(keyword);
    if (at == std::string_view::npos)
        return 0;
    long diff = 0;
    return parse_lease_time(text.substr(at + std::strlen(keyword)), now, diff) ? diff : 0;
}

int get_dhcplease(int sid, uint8_t* ipaddr, uint8_t* netmask, uint8_t* router, int32_t* lease_time,
                  uint8_t* dns1, uint8_t* dns2)
{
    const std::string path = dhcp_file(DHCP_LEASE_FILE, sid);
    unique_file f(std::fopen(cnxd_path(path).c_str(), "re"));
    if (!f) {
        dhcp_print("DHCP: not found %s\n", path.c_str());
        return -1;
    }
    for (uint8_t* out : {ipaddr, netmask, router, dns1, dns2})
        if (out)
            std::memset(out, 0, 4);
    if (lease_time)
        *lease_time = 0;

    // Tested in this order; the first keyword found on a line is the only
    // one taken from it.
    const auto after = [](const char* line, const char* keyword) -> const char* {
        const char* at = std::strstr(line, keyword);
        return at ? at + std::strlen(keyword) : nullptr;
    };
    std::array<char, LEASE_LINE_MAX> line{};
    while (std::fgets(line.data(), LEASE_LINE_MAX, f.get())) {
        const char* v = nullptr;
        if (ipaddr && (v = after(line.data(), "fixed-address "))) {
            parse_quad(v, ipaddr);
        } else if (netmask && (v = after(line.data(), "subnet-mask "))) {
            parse_quad(v, netmask);
        } else if (router && (v = after(line.data(), "routers "))) {
            parse_quad(v, router);
        } else if (lease_time && (v = after(line.data(), "dhcp-lease-time "))) {
            parse_seconds(v, lease_time);
        } else if (dns1 && (v = after(line.data(), "domain-name-servers "))) {
            parse_quad(v, dns1);
            if (const char* comma = dns2 ? std::strchr(v, ',') : nullptr)
                parse_quad(comma + 1, dns2);
        }
    }
    return 1;
}

}  // namespace cnxd
