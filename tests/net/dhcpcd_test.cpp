// The DHCP manager with a scripted client program on an interface that
// always has an address (the loopback of a network namespace of the test's
// own, named as the modem names its interfaces) or on one that does not
// exist (whose address never appears).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "net/dhcp_fixture.h"

namespace cnxd::test {
namespace {

namespace fs = std::filesystem;

class DhcpManager : public DhcpFixture {
protected:
    // The codes of the next two notices for sid 1, sorted: the timer thread
    // may tell an expiry before the monitor tells the address change.
    std::vector<uint16_t> two_notices() const
    {
        std::vector<uint16_t> codes;
        for (int i = 0; i < 2; ++i)
            if (const auto n = next_notice(); n && n->second == 1)
                codes.push_back(n->first);
        std::sort(codes.begin(), codes.end());
        return codes;
    }
    void expect_notice(uint16_t code)
    {
        EXPECT_EQ(std::make_optional(std::make_pair(code, uint8_t{1})), next_notice());
    }
};

// The tests that need kIf with its address.
class DhcpOnInterface : public DhcpManager {
protected:
    void SetUp() override
    {
        if (!netns_.error().empty())
            GTEST_SKIP() << netns_.error();
    }

private:
    OwnNetns netns_;
};

TEST_F(DhcpManager, MailboxPoolEndsAtSlotFour)
{
    // Two mailboxes per slot in slot order: sids 5..7 get none.
    EXPECT_EQ(9, mq_id[4][1]);
    EXPECT_EQ(-1, mq_id[5][0]);
    EXPECT_EQ(-1, mq_alloc());
    EXPECT_EQ(-1, mq_send(-1, 0));
    EXPECT_EQ(-1, mq_send(10, 0));
    EXPECT_EQ(-1, mq_recv(10));
}

TEST_F(DhcpManager, SidOfTheInterfaceApn)
{
    auto ims = if_record("lte0pdn1", "ims");
    EXPECT_EQ(2, start_dhcpcd_manager(ims));
    EXPECT_EQ(2, ims[IFREC_SID]);
    EXPECT_STREQ("lte0pdn1", di[2].if_name);
    EXPECT_EQ(5, di[2].dft_eps_id);
    EXPECT_STREQ("/bin/dhclient", di[2].prog_path);
    EXPECT_STREQ("-v -nw -pf /tmp/dhclient.pid.2 -cf /tmp/dhclient.conf.2 -lf /tmp/dhclient.leases.2 lte0pdn1",
                 di[2].prog_args);
    // One manager per sid: a second interface of the APN shares it.
    auto again = if_record("lte0pdn2", "ims");
    EXPECT_EQ(2, start_dhcpcd_manager(again));
    EXPECT_STREQ("lte0pdn1", di[2].if_name);

    // Exact and case-sensitive; a short record is refused.
    for (const char* apn : {"IMS", "im", "imsx", ""}) {
        auto rec = if_record("lte0pdn3", apn);
        EXPECT_EQ(0, start_dhcpcd_manager(rec)) << apn;
    }
    std::vector<uint8_t> shorter(ifrec::SIZE - 1);
    EXPECT_EQ(-1, start_dhcpcd_manager(shorter));

    // The sixth section's slot has no mailboxes: the record is filled, no
    // request can reach a manager, so none ever reports a result.
    root_.set("config wan lte apntable apn6 apn_name", "sixth");
    auto sixth = if_record("lte0pdn5", "sixth");
    EXPECT_EQ(6, start_dhcpcd_manager(sixth));
    EXPECT_STREQ("lte0pdn5", di[6].if_name);
    EXPECT_EQ(-1, mq_send(mq_id[6][1], DHCPCD_START_REQ));
    EXPECT_EQ(0, state(6));
    // Section 8 is beyond the 8 slots of sids 0..7.
    root_.set("config wan lte apntable apn8 apn_name", "eighth");
    auto eighth = if_record("lte0pdn7", "eighth");
    EXPECT_EQ(-1, start_dhcpcd_manager(eighth));
}

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

TEST_F(DhcpOnInterface, StartOnceStopOnce)
{
    set_lease_template(lease_block("127.0.0.1", 60, 90, 120));
    start_manager(kIf, false);
    // A stop before any start, then two starts and a stop.
    request(1, DHCPCD_STOP_REQ);
    request(1, DHCPCD_START_REQ);
    ASSERT_TRUE(eventually([] { return state(1) == DHCPCD_RESULT_STARTED; }));

    EXPECT_EQ(std::vector<std::string>{"-v -nw -pf " + root_.path("/tmp/dhclient.pid.1") + " -cf " +
                                       root_.path("/tmp/dhclient.conf.1") + " -lf " +
                                       root_.path("/tmp/dhclient.leases.1") + " " + kIf},
              client_calls());
    const pid_t client = di[1].pid;
    EXPECT_TRUE(process_alive(client));
    EXPECT_EQ(std::to_string(client) + "\n", root_.read(pid_file(1)));
    EXPECT_EQ((std::array<uint8_t, 4>{127, 0, 0, 1}), std::to_array(di[1].ipaddr));
    EXPECT_EQ((std::array<uint8_t, 4>{255, 0, 0, 0}), std::to_array(di[1].netmask));
    const int32_t left = dhcp_lease_expire_time(1) - mono_now();
    EXPECT_GT(left, 100);
    EXPECT_LE(left, 121);

    request(1, DHCPCD_START_REQ);
    request(1, DHCPCD_STOP_REQ);
    ASSERT_TRUE(eventually([] { return state(1) == DHCPCD_RESULT_STOPPED; }));
    EXPECT_EQ(1u, client_calls().size());
    EXPECT_FALSE(process_alive(client));
    EXPECT_EQ(0, di[1].pid);
    EXPECT_FALSE(fs::exists(root_.path(pid_file(1))));
    EXPECT_FALSE(fs::exists(root_.path(lease_file(1))));
    EXPECT_EQ(0, dhcp_lease_expire_time(1));

    // The results posted, in order: the ignored requests posted nothing.
    ASSERT_EQ(0, mq_send(mq_id[1][0], 99));
    for (int want : {DHCPCD_RESULT_STARTED, DHCPCD_RESULT_STOPPED, 99})
        EXPECT_EQ(want, mq_recv(mq_id[1][0]));
    // Nothing told the client of identity 1 (the lease did not expire).
    EXPECT_FALSE(next_notice(200ms));

    // Running again after a stop.
    request(1, DHCPCD_START_REQ);
    ASSERT_TRUE(eventually([] { return state(1) == DHCPCD_RESULT_STARTED; }));
    EXPECT_EQ(2u, client_calls().size());
}

TEST_F(DhcpOnInterface, LeaseRewrittenOrReplaced)
{
    set_lease_template(lease_block("127.0.0.1", 60, 90, 120));
    start_manager();
    const std::string lease = root_.path(lease_file(1));

    // The client replaces its lease file: a new file renamed over the old.
    std::ofstream(lease + ".new") << lease_block("127.0.0.1", 60, 90, 120) << lease_block("127.0.0.1", 200, 250, 300);
    fs::rename(lease + ".new", lease);
    expect_notice(20);  // address changed
    EXPECT_NEAR(300, dhcp_lease_expire_time(1) - mono_now(), 3);

    // ...and writes into it: the monitor still hears it.
    std::ofstream(lease, std::ios::app) << lease_block("127.0.0.1", 300, 350, 400);
    expect_notice(20);
    EXPECT_NEAR(400, dhcp_lease_expire_time(1) - mono_now(), 3);

    // A renewal whose lease has already run out fires the expiry at once.
    std::ofstream(lease, std::ios::app) << lease_block("127.0.0.1", -30, -20, -10);
    EXPECT_EQ((std::vector<uint16_t>{20, 21}), two_notices());  // address changed, lease expired

    // Garbage in place of a lease: no times, so it counts as run out.
    std::string garbage(100000, '\0');
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>(i * 7919 % 251);
    std::ofstream(lease, std::ios::binary) << garbage << "expire 9 99999/99/99 99:99:99;\nrenew ";
    EXPECT_EQ((std::vector<uint16_t>{20, 21}), two_notices());
    EXPECT_EQ(DHCPCD_RESULT_STARTED, state(1));
}

TEST_F(DhcpOnInterface, ExpiredLeaseNotifiesAtOnce)
{
    set_lease_template(lease_block("127.0.0.1", -300, -200, -100));
    start_manager();
    EXPECT_NEAR(-100, dhcp_lease_expire_time(1) - mono_now(), 3);
    expect_notice(21);
}

TEST_F(DhcpManager, AddressThatNeverComes)
{
    start_manager("lte0pdn9", false);  // no such interface
    const auto asked = std::chrono::steady_clock::now();
    request(1, DHCPCD_START_REQ);
    // 35 waits of 200 ms: 7 seconds at least.
    ASSERT_TRUE(eventually([] { return state(1) == DHCPCD_RESULT_START_FAILED; }, 30s));
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 7s);
    expect_notice(22);  // start failed
    // The client it started is gone again.
    const std::string pid_text = root_.read(pid_file(1));
    ASSERT_FALSE(pid_text.empty());
    EXPECT_TRUE(eventually([&] { return !process_alive(std::stoi(pid_text)); }, 5s));
    EXPECT_EQ(0, di[1].pid);
}

// The configuring side (on the SDK's thread, here the test's) starts the
// client of a ready interface and then stores the interface's device in the
// record, which the lease monitor, watching by then, reads on a renewal: the
// renewed address goes to that device.
TEST_F(DhcpOnInterface, RenewalGoesToTheDeviceOfTheStart)
{
    set_lease_template(lease_block("127.0.0.1", 60, 90, 120));
    const std::string renewal = root_.path("/var/log/renewal");
    std::ofstream(renewal) << lease_block("127.0.0.1", 200, 250, 300);
    auto rec = if_record(kIf, "internet");
    rec[ifrec::IP_ALLOC] = 1;
    cm_configure_network_interface(3, rec, NETIF_OP_READY);
    ASSERT_EQ(DHCPCD_RESULT_STARTED, state(1));
    EXPECT_EQ((std::vector<uint8_t>{127, 0, 0, 1}),
              std::vector<uint8_t>(&rec[ifrec::IPV4_ADDR], &rec[ifrec::IPV4_ADDR] + 4));
    calls();

    // Another process renews the lease, as the client does, so that
    // nothing the test thread does after the store orders the monitor's
    // read after it.
    ASSERT_EQ(0, std::system(("cat " + renewal + " >> " + root_.path(lease_file(1))).c_str()));
    expect_notice(20);  // address changed
    EXPECT_TRUE(eventually([&] {
        const Lines sdk = recorded();
        return std::ranges::count(sdk, "LAPI_IPV4AddrChangeIndication dev=3 057f000001") == 1;
    })) << "bearer id's low byte, address";
    EXPECT_NEAR(300, dhcp_lease_expire_time(1) - mono_now(), 3);
}

}  // namespace
}  // namespace cnxd::test
