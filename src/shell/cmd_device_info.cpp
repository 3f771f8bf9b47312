// The device information commands: the requests whose answer the wrapper
// returns at once, printed here.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/be.h"
#include "if_record.h"
#include "ltesdk.h"
#include "modem/cm_printf.h"
#include "modem/cm_wrappers.h"
#include "server/delivery.h"
#include "shell/cmd_handlers.h"
#include "shell/cmd_request.h"

namespace cnxd {
namespace {

// The daemon's own version, printed first by gdi.
constexpr uint8_t CM_VERSION[4] = {3, 7, 16, 1};

// The device information answer: SDK, driver and firmware versions at 0,
// 4, 8, the chip revision at 12; the extension: the protocol version at 0,
// interface name, device name and RF information texts at 4, 260, 516.
constexpr size_t DEV_INFO_SIZE = 30;
constexpr size_t DEV_INFO_CHIP_REV = 12;
constexpr size_t DEV_INFO_EXT_SIZE = 774;
constexpr size_t DEV_INFO_EXT_TEXT = 256;
constexpr size_t DEV_INFO_EXT_IFNAME = 4;
constexpr size_t DEV_INFO_EXT_DEVNAME = 260;
constexpr size_t DEV_INFO_EXT_RF = 516;

// The device list: a 32-bit count, then entries of a 32-bit index, a
// 256-byte name and the MAC address.
constexpr size_t DEV_LIST_SIZE = 4 + LAPI_DEVICE_LIST_MAX * LAPI_DEVICE_LIST_ENTRY;
constexpr size_t DEV_LIST_NAME = 4;
constexpr size_t DEV_LIST_MAC = 260;
constexpr const char* DEV_LIST_RULE = "=====================================================================\n";

// The network statistics record: the NIC index, then TX and RX packets, TX
// and RX bytes, TX and RX dropped.
constexpr uint32_t NIC_COUNT = 8;  // NIC 8 is the sum of NICs 0-7

// Connection information: a count, then the interface records.
constexpr size_t CONN_INFO_IPV6_LEN = 16;
constexpr uint8_t PDN_TYPE_BOTH = 2;

void print_version(const char* label, const uint8_t* v)
{
    cnxd_srv_send_log("%s : %d.%d.%d.%d\n", label, v[0], v[1], v[2], v[3]);
}

// A text field of at most `max` bytes, terminated or not.
std::string text_at(const uint8_t* p, size_t max)
{
    const char* s = reinterpret_cast<const char*>(p);
    size_t n = 0;
    while (n < max && s[n] != '\0')
        ++n;
    return std::string(s, n);
}

const char* pdn_type_name(uint8_t type)
{
    constexpr const char* names[] = {"IPv4", "IPv6", "IPv4 & IPv6"};
    return type <= PDN_TYPE_BOTH ? names[type] : "";
}

void print_connection(const uint8_t* nic)
{
    const std::string apn = text_at(nic + ifrec::APN_NAME, nic[ifrec::APN_LEN]);
    cnxd_srv_send_log("========APN NAME(%s)=======\n", apn.c_str());
    cnxd_srv_send_log("Default EPS ID : %d\n", load_be16(nic + ifrec::EPS_BEARER));
    cnxd_srv_send_log("PDN Type : %s\n", pdn_type_name(nic[ifrec::PDN_IP_TYPE]));
    const uint8_t* v4 = nic + ifrec::IPV4_ADDR;
    cnxd_srv_send_log("IPv4 Address : %d.%d.%d.%d\n", v4[0], v4[1], v4[2], v4[3]);
    if (load_be32(nic + ifrec::IPV6_ERROR) != 0)
        cnxd_srv_send_log("IPv6 Address : Error\n");
    else
        cnxd_srv_send_log("IPv6 Address : %s\n", make_ipv6_addr(nic + ifrec::IPV6_ADDR).c_str());
}

}  // namespace

std::string make_ipv6_addr(const uint8_t* addr)
{
    std::string out;
    char group[8];
    for (size_t i = 0; i < CONN_INFO_IPV6_LEN; i += 2) {
        const uint8_t hi = addr[i];
        const uint8_t lo = addr[i + 1];
        if (hi != 0)
            std::snprintf(group, sizeof group, "%x%02x", hi, lo);
        else if (lo != 0)
            std::snprintf(group, sizeof group, "%02x", lo);
        else
            std::snprintf(group, sizeof group, "0");
        out += (i ? ":" : "") + std::string(group);
    }
    return out;
}

int cmd_get_device_information(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    std::array<uint8_t, DEV_INFO_SIZE> info{};
    if (dev == 0 || cm_get_device_information(dev, info.data()) != 0)
        return 0;
    print_version("CM version", CM_VERSION);
    print_version("SDK version", &info[0]);
    print_version("Driver version", &info[4]);
    print_version("FW version", &info[8]);
    cnxd_srv_send_log("Chip Revision num : %d.%d\n", info[DEV_INFO_CHIP_REV], info[DEV_INFO_CHIP_REV + 1]);
    std::array<uint8_t, DEV_INFO_EXT_SIZE> ext{};
    if (cm_get_device_information_ext(dev, ext.data()) != 0)
        return 0;
    print_version("Protocol version", &ext[0]);
    cnxd_srv_send_log("Interface name : %s\n", text_at(&ext[DEV_INFO_EXT_IFNAME], DEV_INFO_EXT_TEXT).c_str());
    cnxd_srv_send_log("Device name : %s\n", text_at(&ext[DEV_INFO_EXT_DEVNAME], DEV_INFO_EXT_TEXT).c_str());
    cnxd_srv_send_log("RF Information : %s\n", text_at(&ext[DEV_INFO_EXT_RF], DEV_INFO_EXT_TEXT).c_str());
    cmd_leave(e);
    return 0;
}

int cmd_get_device_list(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    cmd_begin(e);
    if (!cmd_tokens_ok(e, argc))
        return 0;
    std::vector<uint8_t> list(DEV_LIST_SIZE);
    if (cm_get_device_list(list.data()) != 0) {
        cm_printf(CM_ERR, "[%-25s] Get Device List Fail\n", e.name);
        return 0;
    }
    const uint32_t n = std::min<uint32_t>(load_be32(list.data()), LAPI_DEVICE_LIST_MAX);
    if (n == 0)
        cnxd_srv_send_log("There is No LTE Device\n");
    else
        cnxd_srv_send_log("%s%3s\t%-25s\t%s\n%s", DEV_LIST_RULE, "idx", "name", "mac_address", DEV_LIST_RULE);
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* d = &list[4 + i * LAPI_DEVICE_LIST_ENTRY];
        const uint8_t* m = d + DEV_LIST_MAC;
        cnxd_srv_send_log("%3d\t%-25s\t%02x %02x %02x %02x %02x %02x\n", static_cast<int>(load_be32(d)),
                          text_at(d + DEV_LIST_NAME, DEV_INFO_EXT_TEXT).c_str(), m[0], m[1], m[2], m[3], m[4], m[5]);
    }
    cmd_leave(e);
    return 0;
}

int cmd_get_connection_info(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    if (dev == 0)
        return 0;
    std::vector<uint8_t> info(ifrec::CONN_INFO_SIZE);
    if (cm_get_connection_info(dev, info.data()) != 0) {
        cm_printf(CM_ERR, "[%-25s] Get Connection Info failed\n", e.name);
        return 0;
    }
    const uint32_t n = std::min<uint32_t>(load_be32(info.data()), LAPI_CONN_INFO_MAX);
    if (n == 0)
        cnxd_srv_send_log("There is no Connection Info\n");
    else
        cnxd_srv_send_log("LTE Connection Information(DEV IDX %d)\n", static_cast<int>(dev));
    for (uint32_t i = 0; i < n; ++i)
        print_connection(&info[4 + i * LAPI_NIC_INFO_SIZE]);
    cmd_leave(e);
    return 0;
}

int cmd_get_network_statics_info(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    if (dev == 0)
        return 0;
    const auto nic = static_cast<uint32_t>(std::atoi(argv[2]));
    if (nic > NIC_COUNT) {
        cm_printf(CM_ERR, "[%-25s] Invalid nic index\n", e.name);
        return 0;
    }
    if (nic == NIC_COUNT)
        cnxd_srv_send_log("sum of all nic\n");
    // The counters in the order they print.
    constexpr std::pair<const char*, size_t> counters[] = {
        {"TX Packets : %d\n", netstats::TX_PACKETS}, {"TX bytes: %d\n", netstats::TX_BYTES},
        {"TX dropped : %d\n", netstats::TX_DROPPED}, {"RX Packets : %d\n", netstats::RX_PACKETS},
        {"RX bytes: %d\n", netstats::RX_BYTES},      {"RX dropped : %d\n", netstats::RX_DROPPED},
    };
    std::array<uint32_t, std::size(counters)> sum{};
    int32_t result = 0;
    const uint32_t first = nic == NIC_COUNT ? 0 : nic;
    const uint32_t last = nic == NIC_COUNT ? NIC_COUNT - 1 : nic;
    for (uint32_t i = first; i <= last; ++i) {
        std::array<uint8_t, netstats::SIZE> rec{};
        store_be32(&rec[netstats::NIC], i);
        result = cm_get_network_statics_info(dev, rec.data());
        for (size_t c = 0; c < sum.size(); ++c)
            sum[c] += load_be32(&rec[counters[c].second]);
    }
    if (result == 0) {
        cnxd_srv_send_log("Network Statics Information\n");
        cnxd_srv_send_log("NIC Index : %d\n", static_cast<int>(nic));
        for (size_t c = 0; c < sum.size(); ++c)
            cnxd_srv_send_log(counters[c].first, static_cast<int>(sum[c]));
    }
    cmd_leave(e);
    return 0;
}

}  // namespace cnxd
