#include "ind/ind_print.h"

#include "if_record.h"
#include "server/delivery.h"

namespace cnxd {
namespace {

// ---- The interface record ---------------------------------------------------

// The head's labels are left-aligned in one column.
constexpr uint8_t NIC_COLUMN = 14;
// The APN name field runs up to the IPv4 address.
constexpr size_t APN_NAME_SIZE = ifrec::IPV4_ADDR - ifrec::APN_NAME;

constexpr uint64_t ip_type(std::span<const uint8_t> r) { return record_uint(r, ifrec::PDN_IP_TYPE, 1); }
constexpr bool ipv6_error(std::span<const uint8_t> r) { return record_uint(r, ifrec::IPV6_ERROR, 1) != 0; }

constexpr record_field nic_addr(record_field f) { return f.with_pad(20, ": "); }

constexpr record_field IPV4_BLOCK[] = {
    nic_addr(rec::ipv4("IPv4 Address", ifrec::IPV4_ADDR)),
    nic_addr(rec::ipv4("IPv4 Netmask", ifrec::IPV4_NETMASK)),
    nic_addr(rec::ipv4("IPv4 Gateway", ifrec::IPV4_GATEWAY)),
    nic_addr(rec::ipv4("IPv4 Primary DNS", ifrec::IPV4_DNS1)),
    nic_addr(rec::ipv4("IPv4 Secondary DNS", ifrec::IPV4_DNS2)),
};
constexpr record_field IPV6_BLOCK[] = {
    nic_addr(rec::ipv6("IPv6 Address", ifrec::IPV6_ADDR)),
    nic_addr(rec::ipv6("IPv6 Gateway", ifrec::IPV6_GATEWAY)),
    nic_addr(rec::ipv6("IPv6 Primary DNS", ifrec::IPV6_DNS1)),
    nic_addr(rec::ipv6("IPv6 Secondary DNS", ifrec::IPV6_DNS2)),
};

constexpr record_field NIC_NAME = rec::text("Interface Name", ifrec::NAME, ifrec::NAME_SIZE).with_pad(NIC_COLUMN);
constexpr record_field NIC_DATA_PATH = rec::num("Date Path", ifrec::DATA_PATH, 1).with_pad(NIC_COLUMN);
constexpr record_field NIC_IP_TYPE = rec::num("PDN IP Type", ifrec::PDN_IP_TYPE, 1).with_pad(NIC_COLUMN);
constexpr record_field NIC_EPS = rec::num("Default EPS ID", ifrec::EPS_BEARER, 2).with_pad(NIC_COLUMN);
constexpr record_field NIC_APN_CLASS = rec::num("APN class", ifrec::APN_CLASS, 1).with_pad(NIC_COLUMN);

constexpr record_field NIC_READY[] = {
    NIC_NAME,
    NIC_DATA_PATH,
    NIC_IP_TYPE,
    rec::snum("NIC Type", ifrec::NIC_TYPE, 4).with_pad(NIC_COLUMN),
    NIC_EPS,
    NIC_APN_CLASS,
    rec::text("APN NI", ifrec::APN_NAME, APN_NAME_SIZE)
        .with_pad(NIC_COLUMN)
        .with_count(ifrec::APN_LEN, 1)
        .only_if([](std::span<const uint8_t> r) { return record_uint(r, ifrec::APN_LEN, 1) != 0; }),
    // By PDN IP type: 0 IPv4, 1 IPv6, 2 both.
    rec::group(0, IPV4_BLOCK).only_if([](std::span<const uint8_t> r) { return ip_type(r) == 0 || ip_type(r) == 2; }),
    rec::line("IPv6 Error").only_if([](std::span<const uint8_t> r) {
        return (ip_type(r) == 1 || ip_type(r) == 2) && ipv6_error(r);
    }),
    rec::group(0, IPV6_BLOCK).only_if([](std::span<const uint8_t> r) {
        return (ip_type(r) == 1 || ip_type(r) == 2) && !ipv6_error(r);
    }),
    rec::num("Unknown PDN IP type", ifrec::PDN_IP_TYPE, 1).only_if([](std::span<const uint8_t> r) {
        return ip_type(r) > 2;
    }),
};
constexpr record_field NIC_HEAD[] = {NIC_NAME, NIC_DATA_PATH, NIC_IP_TYPE, NIC_EPS, NIC_APN_CLASS};
static_assert(record_tbl_ok(NIC_READY) && record_tbl_ok(NIC_HEAD));

}  // namespace

const record_fields nic_ready_tbl = NIC_READY;
const record_fields nic_head_tbl = NIC_HEAD;

void print_st(const char* label, std::span<const uint8_t> bytes)
{
    const record_field f = rec::hex_block(label, 0, bytes.size());
    record_print(cnxd_srv_send_log, {&f, 1}, bytes);
}

void print_ch(const char* label, std::span<const uint8_t> bytes)
{
    const record_field f = rec::char_block(label, 0, bytes.size());
    record_print(cnxd_srv_send_log, {&f, 1}, bytes);
}

}  // namespace cnxd
