// The DHCP manager with a scripted client program: which interfaces get a
// manager, and a start on an interface whose address never comes. Real leases from a real server are tested end to end
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
