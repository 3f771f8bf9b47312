// The daemon's own test and tool commands written by hand: the
// encapsulated multicast address, the test frames of cmtest and the vendor
// specific commands.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/be.h"
#include "ltesdk.h"
#include "modem/bringup.h"
#include "modem/cm_printf.h"
#include "modem/cm_wrappers.h"
#include "server/delivery.h"
#include "server/hci.h"
#include "shell/cmd_handlers.h"
#include "shell/cmd_request.h"

namespace cnxd {
namespace {

// ---- eip

constexpr int EIP_TOKENS = 5;
constexpr uint32_t EIP_DEV = 1;
constexpr size_t IPV4_TEXT_MAX = 15;

constexpr const char* EIP_USAGE[] = {
    "\neip command : eip add/del ver multicatIP unicastIP\n",
    "add/del - add(1)/del(0)\n",
    "ver - IPv4(4)/IPv6(6)\n",
    "Multicast IP(src) - ex)224.100.100.1\n",
    "Unicast IP(dst) - ex)192.168.0,10\n",
};

// Dotted IPv4 text (at most 15 characters read) as a number whose top byte
// is the first group.
uint32_t ipv4_number(const char* text)
{
    const std::string_view s(text, strnlen(text, IPV4_TEXT_MAX));
    uint32_t out = 0;
    size_t start = 0;
    for (int group = 0; group < 4; ++group) {
        const size_t dot = std::min(s.find('.', start), s.size());
        const std::string part(s.substr(std::min(start, s.size()), dot - std::min(start, s.size())));
        out = out << 8 | (static_cast<uint32_t>(std::atoi(part.c_str())) & 0xFF);
        start = dot + 1;
    }
    return out;
}

// ---- cmtest

// Test frames go to the test client as HCI_NOTIFY: a 32-bit value, the
// 16-bit message id, the 16-bit payload length, the payload.
constexpr uint32_t CMTEST_CLIENT = 4096;
constexpr size_t CMTEST_FRAME = 1024;
constexpr size_t CMTEST_HEAD = 8;
constexpr uint16_t MSG_TEST = 33;
constexpr uint16_t MSG_EMERGENCY_CONNECT = 8;
constexpr uint16_t MSG_EMERGENCY_DISCONNECT = 9;
constexpr uint32_t VALUE_EMERGENCY = 2;

enum cmtest_item : int {
    ITEM_EMERGENCY_PDN = 4,
    ITEM_SOCKET = 5,
    ITEM_NR_STATUS = 7,
    ITEM_NR_DEVICE_INFO = 9,
    ITEM_MODEM_REBOOT = 11,
};
constexpr int SOCKET_TEXT = 5;
constexpr int SOCKET_VALUE = 6;
// Items whose payload is the item, 1 and the option.
constexpr int OPTION_ITEMS[] = {1, 2, 3, 6, 8, 10, 12};

struct test_frame {
    uint16_t msg = MSG_TEST;
    uint32_t value = 0;
    std::vector<uint8_t> payload;
};

void send_test_frame(const test_frame& t)
{
    std::array<uint8_t, CMTEST_FRAME> frame{};
    const size_t body = CMTEST_HEAD + std::min(t.payload.size(), CMTEST_FRAME - HCI_HEADER_LEN - CMTEST_HEAD);
    hci_put_header(frame.data(), HCI_NOTIFY, static_cast<uint16_t>(body));
    uint8_t* b = &frame[HCI_HEADER_LEN];
    store_be32(b, t.value);
    store_be16(b + 4, t.msg);
    store_be16(b + 6, static_cast<uint16_t>(body - CMTEST_HEAD));
    std::copy_n(t.payload.begin(), body - CMTEST_HEAD, b + CMTEST_HEAD);
    cnxd_srv_send_hci_by_id(CMTEST_CLIENT, 0, std::span(frame).first(HCI_HEADER_LEN + body));
}

// The socket test's frame, or false after the usage when its option needs
// the second option that the line lacks.
bool socket_frame(const cmd_entry& e, int argc, char** argv, int option, test_frame& t)
{
    if ((option == SOCKET_TEXT || option == SOCKET_VALUE) && argc < e.max_tokens) {
        cmd_usage(e);
        return false;
    }
    if (option == SOCKET_VALUE) {
        t.payload = {ITEM_SOCKET - 1, 2, SOCKET_VALUE, cmd_token_byte(argc, argv, 4)};
    } else if (option == SOCKET_TEXT) {
        const std::string_view text = argv[4];
        t.payload = {ITEM_SOCKET - 1, static_cast<uint8_t>(text.size() + 1), SOCKET_TEXT};
        t.payload.insert(t.payload.end(), text.begin(), text.end());
    } else {
        t.payload = {ITEM_SOCKET - 1, 1, static_cast<uint8_t>(option)};
    }
    return true;
}

// The frame of `item`, or false after the message of an unknown item or
// option.
bool item_frame(const cmd_entry& e, int argc, char** argv, int item, int option, test_frame& t)
{
    const auto opt = static_cast<uint8_t>(option);
    if (std::ranges::find(OPTION_ITEMS, item) != std::end(OPTION_ITEMS)) {
        t.payload = {static_cast<uint8_t>(item), 1, opt};
    } else if (item == ITEM_NR_DEVICE_INFO || item == ITEM_MODEM_REBOOT) {
        t.payload = {static_cast<uint8_t>(item), 1, 0};
    } else if (item == ITEM_NR_STATUS) {
        t.payload = {ITEM_NR_STATUS, 2, opt, cmd_token_byte(argc, argv, 4)};
    } else if (item == ITEM_SOCKET) {
        return socket_frame(e, argc, argv, option, t);
    } else if (item == ITEM_EMERGENCY_PDN && (option == 0 || option == 1)) {
        t.msg = option == 0 ? MSG_EMERGENCY_CONNECT : MSG_EMERGENCY_DISCONNECT;
        t.value = VALUE_EMERGENCY;
    } else if (item == ITEM_EMERGENCY_PDN) {
        cnxd_srv_send_log("unkown test option : %d\n", option);
        return false;
    } else {
        cnxd_srv_send_log("unkown test item : %d\n", item);
        return false;
    }
    return true;
}

}  // namespace

int cmd_eip(int argc, char** argv)
{
    if (argc < EIP_TOKENS) {
        for (const char* line : EIP_USAGE)
            cnxd_srv_send_log("%s", line);
        return 0;
    }
    LAPI_AddEncapsIP(hAPI, EIP_DEV, cmd_token_byte(argc, argv, 1), cmd_token_byte(argc, argv, 2),
                     ipv4_number(argv[3]), ipv4_number(argv[4]));
    return 0;
}

int cmd_cmtest(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    if (dev == 0)
        return 0;
    const int item = std::atoi(argv[2]);
    const int option = std::atoi(argv[3]);
    cnxd_srv_send_log("dev_idx: %d, mode : %d, option : %d \n", static_cast<int>(dev), item, option);
    test_frame t;
    if (!item_frame(e, argc, argv, item, option, t))
        return 0;
    send_test_frame(t);
    cmd_leave(e);
    return 0;
}

namespace {

// Vendor types that send their type alone, and the two whose fields
// (mode and count, mode and timer) come from a parameter file by builder.
constexpr int VENDOR_PLAIN_MAX = 2;
struct vendor_file_type {
    int type;
    int builder;
};
constexpr vendor_file_type VENDOR_FILE_TYPES[] = {{7, 43}, {8, 44}};
constexpr size_t VENDOR_FIELDS = 2;

}  // namespace

int cmd_vendor_specific(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    if (dev == 0)
        return 0;
    const int type = std::atoi(argv[2]);
    // The record: the type byte, then the type's fields. The reserved types
    // 3 to 6 have no command yet, so they are unknown like any other.
    std::array<uint8_t, 1 + VENDOR_FIELDS> rec{static_cast<uint8_t>(type)};
    const auto file_type = std::ranges::find(VENDOR_FILE_TYPES, type, &vendor_file_type::type);
    if (file_type != std::end(VENDOR_FILE_TYPES)) {
        if (cmd_make(e, file_type->builder, std::span(rec).subspan(1), argc, argv) != 0)
            return 0;
    } else if (type < 0 || type > VENDOR_PLAIN_MAX) {
        cm_printf(CM_ERR, "[%-25s] unknown vendor type %d\n", e.name, type);
        return 0;
    }
    cm_vendor_specific_command(dev, rec.data());
    cmd_leave(e);
    return 0;
}

}  // namespace cnxd
