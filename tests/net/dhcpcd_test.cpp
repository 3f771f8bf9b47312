// The DHCP manager: which interfaces get one. Its clients and their leases
// are tested end to end against a real server
// (tests/integration/dhcp_daemon_netns_test.cpp).
#include <gtest/gtest.h>

#include "modem/cm_fixture.h"
#include "net/dhcpcd.h"
#include "net/dhcpcd_record.h"
#include "net/mailbox.h"

namespace cnxd::test {
namespace {

class DhcpManager : public CmTest {
protected:
    DhcpManager() { mq_init_all(); }
    ~DhcpManager() override { dhcpcd_shutdown(); }
};

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

}  // namespace
}  // namespace cnxd::test
