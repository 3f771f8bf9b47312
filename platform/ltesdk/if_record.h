// The SDK's interface record: the description of one PDN data interface
// handed over by the interface indications and listed by the connection
// information answer. Offsets into the record's bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cnxd::ifrec {

constexpr size_t SIZE = 592;
constexpr size_t NAME = 0;           // text, NUL-terminated ("lte0pdn%d")
constexpr size_t NAME_SIZE = 16;     // bytes of the name field
constexpr size_t NIC_TYPE = 264;     // u32
constexpr size_t DATA_PATH = 269;    // non-zero: not the daemon's to configure
constexpr size_t PDN_IP_TYPE = 270;  // 0 IPv4, 1 IPv6, 2 both
constexpr size_t IP_ALLOC = 271;     // 0 by NAS signalling, else by DHCP
constexpr size_t APN_CLASS = 272;
constexpr size_t EPS_BEARER = 274;   // u16 default EPS bearer id
constexpr size_t APN_LEN = 276;
constexpr size_t APN_NAME = 277;
constexpr size_t IPV4_ADDR = 341;
constexpr size_t IPV4_NETMASK = 345;
constexpr size_t IPV4_GATEWAY = 349;
constexpr size_t IPV4_DNS1 = 353;
constexpr size_t IPV4_DNS2 = 357;
constexpr size_t IPV6_ADDR = 364;
constexpr size_t IPV6_DNS1 = 396;
constexpr size_t IPV6_DNS2 = 412;
constexpr size_t IPV6_GATEWAY = 428;
constexpr size_t IPV6_ERROR = 444;

// Special default EPS bearer ids.
constexpr uint16_t BEARER_ALL = 0xFFEF;       // network detached: every interface
constexpr uint16_t BEARER_DEV_REMOVED = 0xFEFE;
constexpr uint16_t BEARER_DEV_INSERTED = 0xFEFF;

// The connection information list: a u32 count, then records.
constexpr size_t CONN_INFO_SIZE = 4740;

}  // namespace cnxd::ifrec

// The network statistics record of LAPI_GetNetworkInformation: the NIC
// index word (the request), then six 32-bit counters (the answer).
namespace cnxd::netstats {

constexpr size_t NIC = 0;
constexpr size_t TX_PACKETS = 4;
constexpr size_t RX_PACKETS = 8;
constexpr size_t TX_BYTES = 12;
constexpr size_t RX_BYTES = 16;
constexpr size_t TX_DROPPED = 20;
constexpr size_t RX_DROPPED = 24;
constexpr size_t SIZE = 28;

}  // namespace cnxd::netstats
