// Configuration of the PDN data interfaces the modem reports, with DHCP on
// the interfaces whose address is to come from it, and the notices the DHCP
// manager sends through the daemon.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>

#include "net/dhcpcd.h"

namespace cnxd {

// Operations of cm_configure_network_interface.
constexpr uint32_t NETIF_OP_RELEASE = 0;  // interface release, device insert or removal
constexpr uint32_t NETIF_OP_CHANGE = 2;
constexpr uint32_t NETIF_OP_READY = 3;

// 1 for each sid whose DHCP client this side started and has not stopped.
extern std::array<std::atomic<uint32_t>, DHCP_MAX_SID> dhcp_started_tbl;

// Installs the DHCP notices below as the DHCP manager's notice callbacks.
// cm_configure_network_interface does so before it starts a manager, which
// is the only way a notice can arise.
void cm_netif_init();

// Configures the interface of `record` (the SDK's 592-byte interface
// record) for `op`: starts DHCP on a ready interface that needs it and
// waits up to 10 seconds for it, stops it on a release, and always ends
// with LAPI_ConfigureNetworkInterface. An interface whose data path is not
// the daemon's is left alone.
void cm_configure_network_interface(uint32_t dev_idx, std::span<uint8_t> record, uint32_t op);

// Notices to the client of identity 1 (HCI_NOTIFY frames).
constexpr uint16_t DHCP_NOTICE_IPV4_CHANGED = 20;
constexpr uint16_t DHCP_NOTICE_LEASE_EXPIRED = 21;
constexpr uint16_t DHCP_NOTICE_START_FAILED = 22;

// The DHCP client of `sid` got a new address: tells the modem (type byte,
// address) and notifies. 0; 1 without an address or when the modem
// refuses.
int cm_dhcp_ipv4_addr_changed(uint32_t dev_idx, uint8_t sid, uint8_t type, const uint8_t* addr);
// The lease of `sid` expired / its DHCP client could not be started.
int cm_dhcp_lease_expired(uint8_t sid);
int cm_dhcp_start_failed(uint8_t sid);

}  // namespace cnxd
