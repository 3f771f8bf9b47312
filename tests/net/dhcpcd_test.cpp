// The DHCP manager with a scripted client program: which interfaces and
// APNs get a manager, and a start on an interface whose address never
// comes. Real leases from a real server are tested end to end
// (tests/integration/dhcp_daemon_netns_test.cpp).
#include <gtest/gtest.h>

#include "net/dhcp_fixture.h"

namespace cnxd::test {
namespace {

using DhcpManager = DhcpFixture;

// The interface name goes into the client's shell command line: only the
// modem's form, "lte0pdn" and digits within 15 characters, is taken.
TEST_F(DhcpManager, OnlyInterfaceNamesOfTheModemsForm)
{
    const struct {
        const char* name;
        bool taken;
    } cases[] = {
        {"lte0pdn0", true},          {"lte0pdn7", true},          {"lte0pdn12345678", true},  // 15 characters
        {"lte0pdn1;reboot", false},  {"lte0pdn$(id)", false},     {"lte0pdn1`id`", false},
        {"lte0pdn", false},          {"lte0pdn-1", false},        {"lte0pdn 1", false},
        {"lte0pdn1 ", false},        {" lte0pdn1", false},        {"lte0pdn1\n", false},
        {"lte0pdn'1'", false},       {"lte0pdn\"1\"", false},     {"LTE0PDN1", false},
        {"lte0pdn123456789", false},  // 16 characters: no terminator in the field
        {"lo", false},               {"", false},
    };
    for (const auto& c : cases) {
        auto rec = if_record(c.name, "internet");
        EXPECT_EQ(c.taken ? 1 : -1, start_dhcpcd_manager(rec)) << c.name;
        EXPECT_EQ(c.taken ? c.name : "", std::string(dhcpcd_if_name(1).data())) << c.name;
        EXPECT_EQ(c.taken ? 1 : 0, rec[IFREC_SID]) << c.name;
        dhcpcd_shutdown();
        mq_init_all();
    }
}

// The sid is the APN's table section, matched exactly; one manager per sid.
TEST_F(DhcpManager, SidOfTheInterfaceApn)
{
    root_.set("config wan lte apntable apn6 apn_name", "sixth");
    root_.set("config wan lte apntable apn8 apn_name", "eighth");
    const struct {
        const char* name;
        const char* apn;
        int sid;  // the answer, and the sid in the record
        const char* if_name;  // the sid's interface afterwards
    } cases[] = {
        {"lte0pdn1", "ims", 2, "lte0pdn1"}, {"lte0pdn2", "ims", 2, "lte0pdn1"},
        {"lte0pdn3", "IMS", 0, nullptr},    {"lte0pdn3", "im", 0, nullptr},
        {"lte0pdn3", "imsx", 0, nullptr},   {"lte0pdn3", "", 0, nullptr},
        {"lte0pdn5", "sixth", 6, "lte0pdn5"}, {"lte0pdn7", "eighth", -1, nullptr},  // beyond sids 0..7
    };
    for (const auto& c : cases) {
        auto rec = if_record(c.name, c.apn);
        EXPECT_EQ(c.sid, start_dhcpcd_manager(rec)) << c.apn;
        EXPECT_EQ(std::max(c.sid, 0), rec[IFREC_SID]) << c.apn;
        if (c.if_name) {
            EXPECT_STREQ(c.if_name, di[c.sid].if_name);
        }
    }
    EXPECT_EQ(5, di[2].dft_eps_id);
    EXPECT_STREQ("-v -nw -pf /tmp/dhclient.pid.2 -cf /tmp/dhclient.conf.2 -lf /tmp/dhclient.leases.2 lte0pdn1",
                 di[2].prog_args);
    // The sixth section's slot has no mailboxes: no request reaches it.
    EXPECT_EQ(-1, mq_send(mq_id[6][1], DHCPCD_START_REQ));
    std::vector<uint8_t> shorter(ifrec::SIZE - 1);
    EXPECT_EQ(-1, start_dhcpcd_manager(shorter));
}

TEST_F(DhcpManager, AnAddressThatNeverComesFailsTheStartAndEndsTheClient)
{
    auto rec = if_record("lte0pdn9", "internet");  // no such interface
    ASSERT_EQ(1, start_dhcpcd_manager(rec));
    const auto asked = std::chrono::steady_clock::now();
    request(1, DHCPCD_START_REQ);
    // 35 waits of 200 ms: 7 seconds at least.
    ASSERT_TRUE(eventually([] { return state(1) == DHCPCD_RESULT_START_FAILED; }, 30s));
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 7s);
    EXPECT_EQ(std::make_optional(std::make_pair(uint16_t{22}, uint8_t{1})), next_notice());
    EXPECT_EQ(std::vector<std::string>{"-v -nw -pf " + root_.path("/tmp/dhclient.pid.1") + " -cf " +
                                       root_.path("/tmp/dhclient.conf.1") + " -lf " +
                                       root_.path("/tmp/dhclient.leases.1") + " lte0pdn9"},
              client_calls());
    const std::string pid_text = root_.read(pid_file(1));
    ASSERT_FALSE(pid_text.empty());
    EXPECT_TRUE(eventually([&] { return !process_alive(std::stoi(pid_text)); }, 5s));
    EXPECT_EQ(0, di[1].pid);
}

}  // namespace
}  // namespace cnxd::test
