// Interface configuration: which interfaces are the daemon's, when DHCP
// starts and stops, and the final SDK call; the DHCP notices to the client
// of identity 1.
#include <algorithm>
#include <cstring>

#include "if_record.h"
#include "modem/cm_fixture.h"
#include "modem/cm_netif.h"
#include "net/dhcpcd_record.h"

namespace cnxd::test {
namespace {

using Record = std::vector<uint8_t>;

Record interface(const char* name, uint16_t bearer) { return if_record(name, "", bearer); }

std::string configure_call(const Record& rec, uint32_t op)
{
    uint8_t op_be[4];
    store_be32(op_be, op);
    return "LAPI_ConfigureNetworkInterface dev=1 " + hex(rec.data(), rec.size()) + hex(op_be, 4);
}

int count(const Lines& lines, const std::string& line) { return static_cast<int>(std::ranges::count(lines, line)); }
bool has_line(const Lines& lines, const std::string& line) { return count(lines, line) > 0; }

class CmNetif : public CmTest {
protected:
    ~CmNetif() override
    {
        for (int sid = 0; sid < DHCP_MAX_SID; ++sid) {
            dhcp_started_tbl[sid] = 0;
            di[sid].if_name[0] = '\0';
            di[sid].dev_idx = 0;
        }
    }
    // Marks `sid` as started by this side for interface `name`, as if a
    // manager had been started for it.
    static void started(int sid, const char* name)
    {
        dhcp_started_tbl[sid] = 1;
        std::snprintf(di[sid].if_name, sizeof di[sid].if_name, "%s", name);
    }
};

TEST_F(CmNetif, OwnDataPathNasAllocationAndIpv6OnlyGetNoDhcp)
{
    Record own = interface("lte0pdn0", 5);
    own[ifrec::DATA_PATH] = 1;
    cm_configure_network_interface(1, own, NETIF_OP_READY);
    EXPECT_EQ(Lines{}, calls());
    EXPECT_EQ(Lines{entry("cm_configure_network_interface")}, logs()) << "no exit line";

    Record nas = interface("lte0pdn0", 5);
    cm_configure_network_interface(1, nas, NETIF_OP_READY);
    Record v6 = interface("lte0pdn1", 6);
    v6[ifrec::PDN_IP_TYPE] = 1;
    v6[ifrec::IP_ALLOC] = 1;
    cm_configure_network_interface(1, v6, NETIF_OP_READY);
    EXPECT_EQ((Lines{configure_call(nas, NETIF_OP_READY), configure_call(v6, NETIF_OP_READY)}), calls());
    const Lines lines = logs();
    for (const char* types : {"pdn_ip_type = 0, ip_alloc = 0", "pdn_ip_type = 1, ip_alloc = 1"})
        EXPECT_TRUE(has_line(lines, std::string("Don't start DHCP procedure for IPv6/NAS mode. ") + types + "\n"));
}

TEST_F(CmNetif, AnAddressAlreadyThereStartsNoDhcpButTheReleaseStillRuns)
{
    started(2, "lte0pdn1");
    started(3, "lte0pdn0");
    started(4, "lte0pdn0");
    Record rec = interface("lte0pdn0", 5);
    rec[ifrec::IP_ALLOC] = 1;
    std::ranges::copy(std::array<uint8_t, 4>{10, 0, 0, 7}, &rec[ifrec::IPV4_ADDR]);

    cm_configure_network_interface(1, rec, NETIF_OP_RELEASE);
    EXPECT_EQ(Lines{configure_call(rec, NETIF_OP_RELEASE)}, calls());
    EXPECT_EQ((Lines{entry("cm_configure_network_interface"), "LTE force_dhcp == 0\n",
                     "[DHCP] Send DHCPCD_STOP_REQ to CID 3", leave("cm_configure_network_interface")}),
              logs());
    EXPECT_EQ(1u, dhcp_started_tbl[2].load()) << "another interface";
    EXPECT_EQ(0u, dhcp_started_tbl[3].load());
    EXPECT_EQ(1u, dhcp_started_tbl[4].load()) << "only the first match stops";
}

// A detach stops every started sid; the device's insert or removal (whose
// records name no interface) every sid of that device.
TEST_F(CmNetif, DetachStopsEveryStartedSidAndAResetThoseOfTheDevice)
{
    const struct {
        uint16_t bearer;
        std::vector<int> stopped;
    } cases[] = {
        {ifrec::BEARER_ALL, {1, 4, 7}},
        {ifrec::BEARER_DEV_REMOVED, {1, 4}},
        {ifrec::BEARER_DEV_INSERTED, {1, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bearer);
        for (int sid : {1, 4, 7}) {
            started(sid, "lte0pdn2");
            di[sid].dev_idx = sid == 7 ? 2 : 1;
        }
        Record rec = interface("", c.bearer);
        cm_configure_network_interface(1, rec, NETIF_OP_RELEASE);
        const Lines lines = logs();
        for (int sid : {1, 4, 7}) {
            const bool stopped = std::ranges::count(c.stopped, sid) == 1;
            EXPECT_EQ(stopped, has_line(lines, "[DHCP] Send DHCPCD_STOP_REQ to CID " + std::to_string(sid))) << sid;
            EXPECT_EQ(stopped ? 0u : 1u, dhcp_started_tbl[sid].load()) << sid;
        }
        EXPECT_EQ(static_cast<long>(c.stopped.size()),
                  std::ranges::count_if(lines, [](const std::string& l) { return l.starts_with("[DHCP] Send"); }));
        EXPECT_EQ(Lines{configure_call(rec, NETIF_OP_RELEASE)}, calls());
    }
}

TEST_F(CmNetif, ForcedDhcpMarksTheAllocationAndAsksForASid)
{
    if (root_.tool_is_foreign())
        GTEST_SKIP() << kForeignTool;
    root_.set("config wan lte dhcp force_dhcp", "1");
    Record rec = interface("lte0pdn0", 5);  // its APN is in no APN section
    std::ranges::copy(std::array<uint8_t, 4>{10, 0, 0, 7}, &rec[ifrec::IPV4_ADDR]);
    cm_configure_network_interface(1, rec, NETIF_OP_CHANGE);
    const Lines lines = logs();
    EXPECT_TRUE(has_line(lines, "LTE force_dhcp == 1\n"));
    EXPECT_TRUE(has_line(lines, "[DHCP] cid = 0\n"));
    rec[ifrec::IP_ALLOC] = 1;
    EXPECT_EQ(Lines{configure_call(rec, NETIF_OP_CHANGE)}, calls());
}

// An interface whose APN is the store's sixth APN section: its sid has a
// DHCP record but no mailboxes, so no manager ever answers the start.
TEST_F(CmNetif, DhcpStartOnTheSixthSection)
{
    if (root_.tool_is_foreign())
        GTEST_SKIP() << kForeignTool;
    constexpr int kSid = 6;
    root_.set("config wan lte apntable apn6 apn_name", "dhcp6");
    mq_init_all();
    Record rec = interface("lte0pdn5", 0x0105);
    rec[ifrec::IP_ALLOC] = 1;
    rec[ifrec::APN_LEN] = 5;
    std::copy_n("dhcp6", 5, &rec[ifrec::APN_NAME]);

    // DHCP that never reports started: ten waits and one failure.
    cm_configure_network_interface(1, rec, NETIF_OP_READY);
    Lines lines = logs();
    EXPECT_TRUE(has_line(lines, "[DHCP] cid = 6\n"));
    EXPECT_EQ(1u, dhcp_started_tbl[kSid].load());
    EXPECT_EQ(1, count(lines, "[DHCP] INTERFACE_CONFIGURE\n"));
    EXPECT_EQ(10, count(lines, ":::::::: WAIT DHCP Complete :::::::::\n"));
    EXPECT_EQ(1, count(lines, "Failed to get IP address by DHCP client.\n"));
    EXPECT_EQ(leave("cm_configure_network_interface"), lines.back());
    // Twice the same call (the record now carries its sid); no address
    // change indication.
    EXPECT_EQ((Lines{configure_call(rec, NETIF_OP_READY), configure_call(rec, NETIF_OP_READY)}), calls());

    // Its release finds the interface by name.
    cm_configure_network_interface(1, rec, NETIF_OP_RELEASE);
    EXPECT_TRUE(has_line(logs(), "[DHCP] Send DHCPCD_STOP_REQ to CID 6"));
    EXPECT_EQ(0u, dhcp_started_tbl[kSid].load());
    calls();

    // As the manager reports a started client: the address goes to the modem.
    std::atomic_ref(dhcpcd_cur_state[kSid]).store(DHCPCD_RESULT_STARTED);
    cm_configure_network_interface(3, rec, NETIF_OP_READY);
    lines = logs();
    EXPECT_EQ(1, count(lines, ":::::::: WAIT DHCP Complete :::::::::\n"));
    EXPECT_EQ(0, count(lines, "Failed to get IP address by DHCP client.\n"));
    // The host has no such interface: the record's empty address is sent.
    EXPECT_TRUE(has_line(lines, "NIC: lte0pdn5 -- Get new IP address by DHCP client===> 0.0.0.0\n"));
    EXPECT_TRUE(has_line(lines, "\nIPV4 ADDRESS CHANGE INDICATION(DEV_IDX(3))\n"));
    EXPECT_EQ(3u, dhcpcd_dev_idx(kSid));
    const Lines sdk = calls();
    ASSERT_EQ(3u, sdk.size());
    EXPECT_EQ("LAPI_IPV4AddrChangeIndication dev=3 0500000000", sdk[1]) << "bearer id's low byte, address";
    dhcpcd_shutdown();
}

TEST_F(CmNetif, DhcpNoticesGoToTheClientOfIdentityOne)
{
    Session mgmt = open_session(1);
    cnxd_set_receive(mgmt.get(), 1);
    const uint8_t addr[] = {192, 168, 1, 2};

    EXPECT_EQ(1, cm_dhcp_ipv4_addr_changed(1, 3, 5, nullptr));
    EXPECT_EQ(0, cm_dhcp_ipv4_addr_changed(1, 3, 5, addr));
    EXPECT_EQ(Lines{"LAPI_IPV4AddrChangeIndication dev=1 05c0a80102"}, calls());
    EXPECT_EQ(Lines{"\nIPV4 ADDRESS CHANGE INDICATION(DEV_IDX(1))\n"}, logs());
    // HCI_NOTIFY, length 9, four zero bytes, code 20 (address changed),
    // length 1, sid 3.
    EXPECT_EQ((std::vector<uint8_t>{0x04, 0x02, 0, 9, 0, 0, 0, 0, 0, 0x14, 0, 1, 3}), recv_datagram(mgmt.get(), 2000));

    sim("fail LAPI_IPV4AddrChangeIndication 1");
    EXPECT_EQ(1, cm_dhcp_ipv4_addr_changed(1, 3, 5, addr));
    EXPECT_EQ(Lines{"\nFailed to send IPV4 ADDRESS CHANGE INDICATION(DEV_IDX(1))\n"}, logs());
    sim("fail LAPI_IPV4AddrChangeIndication 2");
    EXPECT_EQ(0, cm_dhcp_ipv4_addr_changed(1, 4, 5, addr)) << "only 1 counts as refused";
    const auto frame = recv_datagram(mgmt.get(), 2000);
    ASSERT_TRUE(frame);
    EXPECT_EQ(4, (*frame)[12]) << "no notice for the refused change";
}

}  // namespace
}  // namespace cnxd::test
