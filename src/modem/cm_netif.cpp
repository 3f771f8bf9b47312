#include "modem/cm_netif.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/be.h"
#include "config/confdb_access.h"
#include "if_record.h"
#include "modem/cm_call.h"
#include "server/delivery.h"
#include "server/hci.h"
#include "status/dev_status.h"

namespace cnxd {

std::array<std::atomic<uint32_t>, DHCP_MAX_SID> dhcp_started_tbl{};

namespace {

// The record LAPI_IPV4AddrChangeIndication takes: type byte, address.
constexpr size_t IPV4_CHANGE_SIZE = 5;

bool force_dhcp()
{
    const ConfdbDump dump("confdb_wan_lte_dhcp", "config wan lte dhcp");
    confdb_value value;
    dump.read("", "force_dhcp", "0", value);
    return value[0] == '1';
}

int32_t send_ipv4_change(uint32_t dev_idx, uint8_t type, const uint8_t* addr)
{
    std::array<uint8_t, IPV4_CHANGE_SIZE> rec{type};
    std::memcpy(&rec[1], addr, 4);
    return LAPI_IPV4AddrChangeIndication(hAPI, dev_idx, rec.data());
}

// The interface name of a record, terminated within its 16 bytes.
std::array<char, ifrec::NAME_SIZE + 1> if_name_of(std::span<const uint8_t> record)
{
    std::array<char, ifrec::NAME_SIZE + 1> name{};
    std::memcpy(name.data(), &record[ifrec::NAME], ifrec::NAME_SIZE);
    return name;
}

void print_addr(const char* fmt, const char* name, const uint8_t* a)
{
    cnxd_srv_send_log(fmt, name, a[0], a[1], a[2], a[3]);
}

// Starts the DHCP client of `sid` for a ready interface and waits for it;
// on success the record and the sid's DHCP record get the address.
void dhcp_start_and_wait(uint32_t dev_idx, std::span<uint8_t> record, int sid)
{
    const auto if_name = if_name_of(record);
    const char* name = if_name.data();
    cnxd_srv_send_log("[DHCP] INTERFACE_CONFIGURE\n");
    LAPI_ConfigureNetworkInterface(hAPI, dev_idx, record.data(), NETIF_OP_READY);
    if (dhcpcd_start_and_wait(sid) != 0) {
        cnxd_srv_send_log("Failed to get IP address by DHCP client.\n");
        return;
    }
    uint8_t* addr = &record[ifrec::IPV4_ADDR];
    uint8_t* mask = &record[ifrec::IPV4_NETMASK];
    get_if_ipaddr(name, addr);
    get_if_netmask(name, mask);
    print_addr("NIC: %s -- Get new IP address by DHCP client===> %d.%d.%d.%d\n", name, addr);
    print_addr("NIC: %s -- Get new netmask by DHCP client===> %d.%d.%d.%d\n", name, mask);
    send_ipv4_change(dev_idx, static_cast<uint8_t>(load_be16(&record[ifrec::EPS_BEARER])), addr);
    cnxd_srv_send_log("\nIPV4 ADDRESS CHANGE INDICATION(DEV_IDX(%d))\n", dev_idx);
}

void dhcp_stop(int sid)
{
    cnxd_srv_send_log("[DHCP] Send DHCPCD_STOP_REQ to CID %d", sid);
    dhcpcd_stop(sid);
    dhcp_started_tbl[sid] = 0;
}

// Which started DHCP clients a release stops: every one on a detach; every
// one of the device on its insert or removal; else the one of the record's
// interface.
//
// The insert and removal records carry no interface name, and a device that
// is gone (or starts afresh) keeps none of its interfaces: all its clients,
// their files and lease monitors go, rather than only one whose name
// matches (none would), so none of them outlives a modem reset.
void dhcp_release(uint32_t dev_idx, std::span<const uint8_t> record)
{
    const uint16_t bearer = load_be16(&record[ifrec::EPS_BEARER]);
    const bool device_gone = bearer == ifrec::BEARER_DEV_INSERTED || bearer == ifrec::BEARER_DEV_REMOVED;
    const auto name = if_name_of(record);
    for (int sid = 0; sid < DHCP_MAX_SID; ++sid) {
        if (dhcp_started_tbl[sid] != 1)
            continue;
        if (bearer == ifrec::BEARER_ALL || (device_gone && dhcpcd_dev_idx(sid) == dev_idx)) {
            dhcp_stop(sid);
        } else if (!device_gone && std::strncmp(dhcpcd_if_name(sid).data(), name.data(), ifrec::NAME_SIZE) == 0) {
            dhcp_stop(sid);
            return;
        }
    }
}

bool has_ipv4_addr(std::span<const uint8_t> record)
{
    const auto addr = record.subspan(ifrec::IPV4_ADDR, 4);
    return std::any_of(addr.begin(), addr.end(), [](uint8_t b) { return b != 0; });
}

}  // namespace

void cm_configure_network_interface(uint32_t dev_idx, std::span<uint8_t> record, uint32_t op)
{
    cm_enter(__func__);
    if (record.size() < ifrec::SIZE) {
        // Not an interface record: nothing in it can be trusted.
        cm_printf(CM_ERR, "[%-25s] short interface record (%zu bytes)\n", __func__, record.size());
        return;
    }
    if (record[ifrec::DATA_PATH] != 0)
        return;

    const bool forced = force_dhcp();
    cnxd_srv_send_log("LTE force_dhcp == %d\n", forced ? 1 : 0);
    if (forced || !has_ipv4_addr(record)) {
        if (forced)
            record[ifrec::IP_ALLOC] = 1;
        const uint8_t pdn_ip_type = record[ifrec::PDN_IP_TYPE];
        const uint8_t ip_alloc = record[ifrec::IP_ALLOC];
        if (pdn_ip_type == 1 || ip_alloc == 0) {
            cnxd_srv_send_log("Don't start DHCP procedure for IPv6/NAS mode. pdn_ip_type = %d, ip_alloc = %d\n",
                              pdn_ip_type, ip_alloc);
        } else {
            cm_netif_init();
            const int sid = start_dhcpcd_manager(record);
            cnxd_srv_send_log("[DHCP] cid = %d\n", sid);
            if (sid >= 1 && sid < DHCP_MAX_SID) {
                dhcp_started_tbl[sid] = 1;
                // The device is known from the start, so that its insert
                // or removal finds a client still waiting for its lease.
                dhcpcd_set_dev_idx(sid, dev_idx);
                if (op == NETIF_OP_READY)
                    dhcp_start_and_wait(dev_idx, record, sid);
            }
        }
    }
    if (op == NETIF_OP_RELEASE)
        dhcp_release(dev_idx, record);
    LAPI_ConfigureNetworkInterface(hAPI, dev_idx, record.data(), op);
    cm_leave(__func__);
}

namespace {

// HCI_NOTIFY to the client of identity 1: four zero bytes, the 16-bit
// notice code, the 16-bit data length 1, the sid.
int send_dhcp_notice(uint16_t code, uint8_t sid)
{
    constexpr uint32_t NOTICE_CLIENT = 1;
    std::array<uint8_t, HCI_HEADER_LEN + 9> frame{};
    hci_put_header(frame.data(), HCI_NOTIFY, 9);
    store_be16(&frame[HCI_HEADER_LEN + 4], code);
    store_be16(&frame[HCI_HEADER_LEN + 6], 1);
    frame[HCI_HEADER_LEN + 8] = sid;
    return cnxd_srv_send_hci_by_id(NOTICE_CLIENT, 0, frame);
}

}  // namespace

int cm_dhcp_ipv4_addr_changed(uint32_t dev_idx, uint8_t sid, uint8_t type, const uint8_t* addr)
{
    constexpr int32_t REFUSED = 1;
    if (!addr)
        return 1;
    if (send_ipv4_change(dev_idx, type, addr) == REFUSED) {
        cnxd_srv_send_log("\nFailed to send IPV4 ADDRESS CHANGE INDICATION(DEV_IDX(%d))\n", dev_idx);
        return 1;
    }
    cnxd_srv_send_log("\nIPV4 ADDRESS CHANGE INDICATION(DEV_IDX(%d))\n", dev_idx);
    status_interface_ipv4(dhcpcd_if_name(sid).data(), addr);
    send_dhcp_notice(DHCP_NOTICE_IPV4_CHANGED, sid);
    return 0;
}

int cm_dhcp_lease_expired(uint8_t sid) { return send_dhcp_notice(DHCP_NOTICE_LEASE_EXPIRED, sid); }
int cm_dhcp_start_failed(uint8_t sid) { return send_dhcp_notice(DHCP_NOTICE_START_FAILED, sid); }

void cm_netif_init()
{
    static constexpr dhcpcd_notices notices{cm_dhcp_ipv4_addr_changed, cm_dhcp_lease_expired, cm_dhcp_start_failed};
    dhcpcd_set_notices(&notices);
}

}  // namespace cnxd
