// Reading dhclient lease files back: the newest lease's times and values,
// and files that are missing, empty or damaged.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

#include "net/dhcp_fixture.h"
#include "net/lease_file.h"

namespace cnxd::test {
namespace {

using Quad = std::array<uint8_t, 4>;

struct Lease {
    Quad addr{}, mask{}, router{}, dns1{}, dns2{};
    int32_t lease_time = -1;
    int rc = 0;
};

Lease read_lease(int sid)
{
    Lease l;
    l.rc = get_dhcplease(sid, l.addr.data(), l.mask.data(), l.router.data(), &l.lease_time, l.dns1.data(),
                         l.dns2.data());
    return l;
}

// Within a few seconds of `want`: the file's times have whole seconds and
// the test may be slow.
void expect_near(long want, long got) { EXPECT_LE(std::labs(want - got), 3) << "want " << want << ", got " << got; }

class LeaseFile : public ::testing::Test {
protected:
    void write_lease(int sid, const std::string& text) { root.write(lease_file(sid), text); }
    StoreSysroot root;
};

// The client's times are read as what they are in every time zone of the
// daemon, far east and far west of UTC: a fresh lease is neither expired
// nor hours too long.
TEST_F(LeaseFile, NewestOfTwoLeasesWinsInEveryZoneAndPastTimesAreNegative)
{
    const struct {
        const char* tz;
        bool epoch;
    } zones[] = {{"UTC0", false}, {"JST-9", false}, {"HST10", false}, {"JST-9", true}};
    const char* saved = std::getenv("TZ");
    const std::string saved_tz = saved ? saved : "";
    for (const auto& z : zones) {
        SCOPED_TRACE(std::string(z.tz) + (z.epoch ? " epoch" : ""));
        setenv("TZ", z.tz, 1);
        tzset();
        write_lease(3, lease_block("10.1.2.10", 30, 50, 60, z.epoch) + lease_block("10.1.2.11", 60, 105, 120, z.epoch));
        expect_near(60, get_latest_lease_timediff(3, "renew "));
        expect_near(105, get_latest_lease_timediff(3, "rebind "));
        expect_near(120, get_latest_lease_timediff(3, "expire "));
    }
    saved ? setenv("TZ", saved_tz.c_str(), 1) : unsetenv("TZ");
    tzset();

    const Lease l = read_lease(3);
    EXPECT_EQ(1, l.rc);
    EXPECT_EQ((Quad{10, 1, 2, 11}), l.addr);
    EXPECT_EQ((Quad{255, 255, 255, 0}), l.mask);
    EXPECT_EQ((Quad{10, 1, 2, 1}), l.router);
    EXPECT_EQ(120, l.lease_time);
    EXPECT_EQ((Quad{10, 1, 2, 53}), l.dns1);
    EXPECT_EQ((Quad{10, 1, 2, 54}), l.dns2);
    // Another sid's file is another file.
    EXPECT_EQ(0, get_latest_lease_timediff(4, "expire "));

    write_lease(1, lease_block("10.1.2.10", -200, -100, -50));
    expect_near(-50, get_latest_lease_timediff(1, "expire "));
}

TEST_F(LeaseFile, LineRulesAndMissingOrEmptyFiles)
{
    // One DNS server leaves the second zero; a line with two keywords (not
    // one the client writes) counts for the first of the fixed order only;
    // outputs not asked for are skipped.
    write_lease(2, "lease {\n"
                   "  option subnet-mask 255.255.0.0; option routers 10.9.9.9;\n"
                   "  option domain-name-servers 10.1.2.53;\n"
                   "}\n");
    const Lease l = read_lease(2);
    EXPECT_EQ((Quad{255, 255, 0, 0}), l.mask);
    EXPECT_EQ((Quad{}), l.router);
    EXPECT_EQ((Quad{10, 1, 2, 53}), l.dns1);
    EXPECT_EQ((Quad{}), l.dns2);
    EXPECT_EQ((Quad{}), l.addr);
    EXPECT_EQ(0, l.lease_time);
    Quad dns1{9, 9, 9, 9};
    EXPECT_EQ(1, get_dhcplease(2, nullptr, nullptr, nullptr, nullptr, dns1.data(), nullptr));
    EXPECT_EQ((Quad{10, 1, 2, 53}), dns1);

    // A missing file leaves the outputs alone; an empty one zeroes them.
    Quad addr{1, 2, 3, 4};
    EXPECT_EQ(0, get_latest_lease_timediff(5, "expire "));
    EXPECT_EQ(-1, get_dhcplease(5, addr.data(), nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ((Quad{1, 2, 3, 4}), addr);
    write_lease(5, "");
    EXPECT_EQ(0, get_latest_lease_timediff(5, "expire "));
    EXPECT_EQ(1, get_dhcplease(5, addr.data(), nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ((Quad{}), addr);
}

TEST_F(LeaseFile, DamagedFilesGiveBoundedValues)
{
    std::mt19937 rng(7);
    std::string binary(64 * 1024, '\0');
    for (char& c : binary)
        c = static_cast<char>(rng());

    const std::string cases[] = {
        binary,
        // A NUL before the keyword hides nothing.
        std::string("\0\0lease {\n", 10) + "  expire 0 2099/01/01 00:00:00;\n",
        "  expire 9 99999/99/99 99:99:99;\n",
        "  expire 1 1800/01/01 00:00:00;\n",
        "  expire 3 2026/02/31 25:61:61;\n",
        "  expire ",
        "  expire never;\n",
        "  fixed-address 999.1.2.3;\n  subnet-mask 1.2.3;\n  routers ;\n  dhcp-lease-time 99999999999999;\n"
        "  domain-name-servers 1.2.3.4,;\n",
        std::string(5000, 'x') + " fixed-address 1.2.3.4;\n",
        binary + lease_block("10.1.2.12", 10, 20, 30),
    };
    for (const std::string& text : cases) {
        write_lease(1, text);
        for (const char* keyword : {"renew ", "rebind ", "expire "})
            EXPECT_LE(std::labs(get_latest_lease_timediff(1, keyword)), LEASE_TIMEDIFF_MAX);
        EXPECT_EQ(1, read_lease(1).rc);
    }
    // The last case: damage before a good lease does not hide it.
    expect_near(30, get_latest_lease_timediff(1, "expire "));
    EXPECT_EQ((Quad{10, 1, 2, 12}), read_lease(1).addr);

    write_lease(1, "  expire never;\n");
    EXPECT_EQ(LEASE_TIMEDIFF_MAX, get_latest_lease_timediff(1, "expire "));
    write_lease(1, "  expire 5 1971/01/01 00:00:00;\n");
    EXPECT_LT(get_latest_lease_timediff(1, "expire "), -100000000);
    write_lease(1, "fixed-address 1.2.3.4;\nfixed-address 999.1.2.3;\nfixed-address 1.2;\n");
    EXPECT_EQ((Quad{1, 2, 3, 4}), read_lease(1).addr);

    // A huge file: the newest lease at its end is still read.
    std::string huge;
    const std::string old = lease_block("10.1.2.10", -30, -20, -10);
    while (huge.size() < (16u << 20))
        huge += old;
    write_lease(6, huge + lease_block("10.1.2.13", 100, 200, 300));
    expect_near(300, get_latest_lease_timediff(6, "expire "));
    EXPECT_EQ((Quad{10, 1, 2, 13}), read_lease(6).addr);
}

}  // namespace
}  // namespace cnxd::test
