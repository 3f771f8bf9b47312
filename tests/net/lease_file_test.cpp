// Reading the DHCP client's lease files back: the newest lease's times and
// values, and files that are missing, empty or damaged.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

#include "config/confdb_sysroot.h"
#include "net/dhcpcd_record.h"
#include "net/lease_file.h"

namespace cnxd::test {
namespace {

// A lease block as the client writes it; times are seconds from now, in
// UTC (the client's default) or, with `epoch`, as seconds since the epoch
// (its "local" time format).
std::string lease_block(const std::string& addr, long renew, long rebind, long expire, bool epoch = false)
{
    const auto stamp = [epoch](long from_now) {
        const time_t t = time(nullptr) + from_now;
        if (epoch)
            return "epoch " + std::to_string(t) + "; # local time";
        tm utc{};
        gmtime_r(&t, &utc);
        char buf[64];
        strftime(buf, sizeof buf, "%w %Y/%m/%d %H:%M:%S", &utc);
        return std::string(buf);
    };
    return "lease {\n  interface \"lo\";\n  fixed-address " + addr +
           ";\n  option subnet-mask 255.255.255.0;\n  option routers 10.1.2.1;\n"
           "  option dhcp-lease-time " + std::to_string(expire) +
           ";\n  option domain-name-servers 10.1.2.53,10.1.2.54;\n  renew " + stamp(renew) +
           ";\n  rebind " + stamp(rebind) + ";\n  expire " + stamp(expire) + ";\n}\n";
}

using Quad = std::array<uint8_t, 4>;

struct Lease {
    Quad addr{}, mask{}, router{}, dns1{}, dns2{};
    int32_t lease_time = -1;
    int rc = 0;
    bool operator==(const Lease&) const = default;
};
Lease read_lease(int sid)
{
    Lease l;
    l.rc = get_dhcplease(sid, l.addr.data(), l.mask.data(), l.router.data(), &l.lease_time, l.dns1.data(),
                         l.dns2.data());
    return l;
}

// Within a few seconds: the file's times have whole seconds and the test
// may be slow.
void expect_near(long want, long got) { EXPECT_LE(std::labs(want - got), 3) << "want " << want << ", got " << got; }

class LeaseFile : public ::testing::Test {
protected:
    void write_lease(int sid, const std::string& text) { root.write(dhcp_file(DHCP_LEASE_FILE, sid), text); }
    StoreSysroot root;
};

// The client's times are read as what they are in every time zone of the
// daemon, far east and far west of UTC: a fresh lease is neither expired
// nor hours too long.
TEST_F(LeaseFile, NewestOfTwoLeasesWinsInEveryZone)
{
    const char* saved = std::getenv("TZ");
    const std::string saved_tz = saved ? saved : "";
    for (const auto& [tz, epoch] : {std::pair{"UTC0", false}, {"JST-9", false}, {"HST10", false}, {"JST-9", true}}) {
        SCOPED_TRACE(std::string(tz) + (epoch ? " epoch" : ""));
        setenv("TZ", tz, 1);
        tzset();
        write_lease(3, lease_block("10.1.2.10", 30, 50, 60, epoch) + lease_block("10.1.2.11", 60, 105, 120, epoch));
        expect_near(60, get_latest_lease_timediff(3, "renew "));
        expect_near(105, get_latest_lease_timediff(3, "rebind "));
        expect_near(120, get_latest_lease_timediff(3, "expire "));
    }
    saved ? setenv("TZ", saved_tz.c_str(), 1) : unsetenv("TZ");
    tzset();
    EXPECT_EQ((Lease{{10, 1, 2, 11}, {255, 255, 255, 0}, {10, 1, 2, 1}, {10, 1, 2, 53}, {10, 1, 2, 54}, 120, 1}),
              read_lease(3));
    EXPECT_EQ(0, get_latest_lease_timediff(4, "expire ")) << "another sid's file is another file";
    write_lease(1, lease_block("10.1.2.10", -200, -100, -50));
    expect_near(-50, get_latest_lease_timediff(1, "expire "));
}

TEST_F(LeaseFile, LinesMissingEmptyAndDamagedFiles)
{
    std::mt19937 rng(7);
    std::string binary(64 * 1024, '\0');
    for (char& c : binary)
        c = static_cast<char>(rng());
    constexpr long NONE = LEASE_TIMEDIFF_MAX + 1;  // any value within the bound
    const struct {
        std::string text;
        long expire;  // the expiry's distance from now
        Lease lease;
    } cases[] = {
        // One DNS server leaves the second zero; a line with two keywords
        // counts for the first of the fixed order only.
        {"lease {\n  option subnet-mask 255.255.0.0; option routers 10.9.9.9;\n"
         "  option domain-name-servers 10.1.2.53;\n}\n",
         0, {{}, {255, 255, 0, 0}, {}, {10, 1, 2, 53}, {}, 0, 1}},
        {"", 0, {{}, {}, {}, {}, {}, 0, 1}},
        {"  expire never;\n", LEASE_TIMEDIFF_MAX, {{}, {}, {}, {}, {}, 0, 1}},
        {"fixed-address 1.2.3.4;\nfixed-address 999.1.2.3;\nfixed-address 1.2;\n", 0, {{1, 2, 3, 4}, {}, {}, {}, {}, 0, 1}},
        {binary + lease_block("10.1.2.12", 10, 20, 30), 30,
         {{10, 1, 2, 12}, {255, 255, 255, 0}, {10, 1, 2, 1}, {10, 1, 2, 53}, {10, 1, 2, 54}, 30, 1}},
        {binary, NONE, {}},
        {std::string("\0\0lease {\n", 10) + "  expire 0 2099/01/01 00:00:00;\n", NONE, {}},
        {"  expire 9 99999/99/99 99:99:99;\n", NONE, {}},
        {"  expire 1 1800/01/01 00:00:00;\n", NONE, {}},
        {"  expire 3 2026/02/31 25:61:61;\n", NONE, {}},
        {"  expire ", NONE, {}},
        {"  fixed-address 999.1.2.3;\n  subnet-mask 1.2.3;\n  routers ;\n  dhcp-lease-time 99999999999999;\n"
         "  domain-name-servers 1.2.3.4,;\n", NONE, {}},
        {std::string(5000, 'x') + " fixed-address 1.2.3.4;\n", NONE, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        write_lease(1, c.text);
        for (const char* keyword : {"renew ", "rebind ", "expire "})
            EXPECT_LE(std::labs(get_latest_lease_timediff(1, keyword)), LEASE_TIMEDIFF_MAX);
        if (c.expire != NONE) {
            expect_near(c.expire, get_latest_lease_timediff(1, "expire "));
            EXPECT_EQ(c.lease, read_lease(1));
        } else {
            EXPECT_EQ(1, read_lease(1).rc);
        }
    }
    write_lease(1, "  expire 5 1971/01/01 00:00:00;\n");
    EXPECT_LT(get_latest_lease_timediff(1, "expire "), -100000000);

    // Outputs not asked for are skipped; a missing file leaves the others alone.
    Quad dns1{9, 9, 9, 9}, addr{1, 2, 3, 4};
    write_lease(1, "  option domain-name-servers 10.1.2.53;\n");
    EXPECT_EQ(1, get_dhcplease(1, nullptr, nullptr, nullptr, nullptr, dns1.data(), nullptr));
    EXPECT_EQ((Quad{10, 1, 2, 53}), dns1);
    EXPECT_EQ(0, get_latest_lease_timediff(5, "expire "));
    EXPECT_EQ(-1, get_dhcplease(5, addr.data(), nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ((Quad{1, 2, 3, 4}), addr);

    // A huge file: the newest lease at its end is still read.
    std::string huge;
    while (huge.size() < (16u << 20))
        huge += lease_block("10.1.2.10", -30, -20, -10);
    write_lease(6, huge + lease_block("10.1.2.13", 100, 200, 300));
    expect_near(300, get_latest_lease_timediff(6, "expire "));
    EXPECT_EQ((Quad{10, 1, 2, 13}), read_lease(6).addr);
}

}  // namespace
}  // namespace cnxd::test
