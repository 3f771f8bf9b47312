// Bodies of the protocol information answers: what the modem reports of
// its operational mode, SMS and IMS settings, APN table, search interval,
// operator, IMEI, DRX, software and RF versions and user PLMN. The operator
// answer keeps the device's current operator and asks once for that
// operator's own settings.
#include <algorithm>
#include <array>
#include <span>

#include "base/be.h"
#include "base/record.h"
#include "ind/ind_body.h"
#include "modem/cm_printf.h"
#include "modem/device_tables.h"
#include "modem/online_request.h"
#include "server/delivery.h"

namespace cnxd {
namespace {

// Answer record: 16-bit result, 16-bit type, then the type's data.
constexpr size_t PI_RESULT = 0;
constexpr size_t PI_TYPE = 2;
constexpr size_t PI_DATA = 4;

// Set answer record: 16-bit type, 16-bit result, the APN table index.
constexpr size_t SPI_TYPE = 0;
constexpr size_t SPI_RESULT = 2;
constexpr size_t SPI_INDEX = 4;

constexpr uint16_t PI_APN_TABLE = 2;
constexpr uint16_t PI_CURRENT_OPERATOR = 5;
constexpr uint16_t PI_OPERATOR_SPECIFIC = 6;

// Operator names by code, as the modem's operator codes go.
constexpr std::array<const char*, 8> operator_name_tbl = {
    "None (Default)", "KT", "Verizon", "LGT", "SKT", "UQC", "China Telecom", "Sprint",
};

void print_operator_name(uint32_t code)
{
    if (code < operator_name_tbl.size())
        cnxd_srv_send_log("%s\n", operator_name_tbl[code]);
    else
        cnxd_srv_send_log("Unknown(%d)\n", static_cast<int>(code));
}

// The byte at `off` of the data, 0 past its end.
uint8_t byte_at(std::span<const uint8_t> data, size_t off) { return off < data.size() ? data[off] : 0; }

void print_switch(std::span<const uint8_t> data, size_t off, const char* on_line, const char* off_line)
{
    cnxd_srv_send_log("%s", byte_at(data, off) ? on_line : off_line);
}

// ---- One printer per type -----------------------------------------------------

void print_and_save_op_mode(uint32_t dev, std::span<const uint8_t> d)
{
    cnxd_srv_send_log("\nOPERATIONAL MODE(DEV_IDX(%d))\n", static_cast<int>(dev));
    print_switch(d, 0, "SELF CELL SEARCH : ENABLE\n", "SELF CELL SEARCH : DISALBE\n");
    print_switch(d, 1, "SELF ATTACH : ENABLE\n", "SELF ATTACH : DISALBE\n");
    print_switch(d, 2, "OFFLINE INCLUDE  DEATCH : ENABLE\n", "OFFLINE INCLUDE  DEATCH : DISALBE\n");
}

void print_and_save_sms_and_ims(uint32_t dev, std::span<const uint8_t> d)
{
    cnxd_srv_send_log("\nIMS AND SMS INFO(DEV_IDX(%d))\n", static_cast<int>(dev));
    print_switch(d, 0, "SMS FORMAT : 3GPP2\n", "SMS FORMAT : 3GPP\n");
    print_switch(d, 1, "SMS WRITE : UICC\n", "SMS WRITE : NV\n");
    print_switch(d, 2, "IMS TEST MODE : ON\n", "IMS TEST MODE : OFF\n");
    print_switch(d, 3, "SMS OVER IP NET : ON\n", "SMS OVER IP NET : OFF\n");
}

// One APN table entry (214 bytes): enabled, class, the PDN label with its
// length byte (10), the network identifier with its length byte (64), PDN
// type, IP allocation, RAT, authentication, the 16-bit inactivity timer,
// the user name and the password with their length bytes (64 each).
constexpr size_t APN_ENTRY_SIZE = 214;
constexpr uint16_t APN_ENTRIES_MAX = 8;
constexpr uint8_t APN_ALL_ENTRIES = 255;
constexpr record_field sized_text(const char* label, size_t len_off, size_t size)
{
    return rec::text(label, len_off + 1, size).with_sep(" : ").with_count(len_off, 1);
}
constexpr record_field APN_ENTRY[] = {
    rec::num("ENABLED", 0, 1),
    rec::num("CL", 1, 1),
    rec::num("PDN LABEL LEN", 2, 1),
    sized_text("PDN LABEL", 2, 10),
    rec::num("NI LEN", 13, 1).with_sep(": "),
    sized_text("APN NI", 13, 64),
    rec::num("PDN TYPE", 78, 1),
    rec::num("IP ALLOC TYPE", 79, 1),
    rec::num("RAT TYPE", 80, 1),
    rec::num("AUTHENTICATION TYPE", 81, 1),
    rec::num("INCAT TIMER", 82, 2),
    rec::num("USER NAME LEN", 84, 1),
    sized_text("USER NAME", 84, 64),
    rec::num("PASSWORD LEN", 149, 1),
    rec::text("", 150, 64).with_sep("").with_count(149, 1),
};
static_assert(record_tbl_ok(APN_ENTRY));

// The data: the entry's index (255: every entry), then the entries.
void print_and_save_apn_table(uint32_t dev, std::span<const uint8_t> d)
{
    cnxd_srv_send_log("\nAPN TABLE INFO(DEV_IDX(%d))\n", static_cast<int>(dev));
    const uint8_t index = byte_at(d, 0);
    const size_t count = index == APN_ALL_ENTRIES ? APN_ENTRIES_MAX : 1;
    for (size_t i = 0; i < count; ++i) {
        const size_t off = 1 + i * APN_ENTRY_SIZE;
        if (off + APN_ENTRY_SIZE > d.size())
            break;
        cnxd_srv_send_log("--------------------------------------\n");
        cnxd_srv_send_log("APN INDEX : %d\n", index == APN_ALL_ENTRIES ? static_cast<int>(i) : index);
        record_print(cnxd_srv_send_log, APN_ENTRY, d.subspan(off, APN_ENTRY_SIZE));
        cnxd_srv_send_log("--------------------------------------\n");
    }
}

// The data: the pair count, then pairs of a 16-bit interval and a 32-bit
// count.
constexpr size_t SEARCH_PAIR_SIZE = 6;
constexpr uint8_t SEARCH_PAIRS_MAX = 5;
void print_and_save_search_interval(uint32_t dev, std::span<const uint8_t> d)
{
    cnxd_srv_send_log("\nPLMN SEARCH INTERVAL(DEV_IDX(%d))\n", static_cast<int>(dev));
    const uint8_t pairs = std::min(byte_at(d, 0), SEARCH_PAIRS_MAX);
    for (size_t i = 0; i < pairs && 1 + (i + 1) * SEARCH_PAIR_SIZE <= d.size(); ++i) {
        const size_t off = 1 + i * SEARCH_PAIR_SIZE;
        cnxd_srv_send_log("INTERVAL : %d, COUNT : %d\n", load_be16(d, off), static_cast<int32_t>(load_be32(d, off + 2)));
    }
}

void print_and_save_current_opt(uint32_t dev, std::span<const uint8_t> d)
{
    const uint8_t code = byte_at(d, 0);
    set_current_operator(dev, code);
    cnxd_srv_send_log("\nCURRENT OPERATOR(DEV_IDX(%d)) : ", static_cast<int>(dev));
    print_operator_name(code);
    if (get_get_operator_complete(dev) == 0) {
        request_protocol_info(dev, PI_OPERATOR_SPECIFIC, code);
        set_get_operator_complete(dev, 1);
    }
}

// The data: 1 when the operator has an antenna test block, then its mode,
// IPv4 address, 16-bit port, auto launch and local storage flags.
constexpr record_field ANT_TEST[] = {
    rec::num("ANT TEST MODE", 1, 1),
    rec::ipv4("ANT TEST IP ADDR", 2),
    rec::num("ANT TEST PORT", 6, 2),
    rec::num("ANT TEST AUTO LAUNCH", 8, 1),
    rec::num("ANT TEST LOCAL STORAGE", 9, 1),
};
static_assert(record_tbl_ok(ANT_TEST));
void print_and_save_opt_specific(uint32_t dev, std::span<const uint8_t> d)
{
    cnxd_srv_send_log("\nOPERATOR SPECIFIC INFO(DEV_IDX(%d))\n", static_cast<int>(dev));
    print_operator_name(get_current_operator(dev));
    if (byte_at(d, 0) == 1)
        record_print(cnxd_srv_send_log, ANT_TEST, d);
}

// The data: 15 digits, then the check digit.
constexpr size_t IMEI_DIGITS = 15;
void print_imei_info(uint32_t dev, std::span<const uint8_t> d)
{
    cnxd_srv_send_log("\nIMEI INFO(DEV_IDX(%d))\n", static_cast<int>(dev));
    for (size_t i = 0; i < IMEI_DIGITS && i < d.size(); ++i)
        cnxd_srv_send_log("%dst digit : %d\n", static_cast<int>(i + 1), d[i]);
    if (d.size() > IMEI_DIGITS)
        cnxd_srv_send_log("Check digit : %d\n", d[IMEI_DIGITS]);
}

constexpr std::array<const char*, 5> drx_tbl = {
    "DRX VAL : DRX value not specified by the UE\n", "DRX VAL : T=32\n", "DRX VAL : T=64\n",
    "DRX VAL : T=128\n", "DRX VAL : T=256\n",
};
constexpr std::array<int, 7> non_drx_seconds = {1, 2, 4, 8, 16, 32, 64};
void print_drx_info(uint32_t dev, std::span<const uint8_t> d)
{
    cnxd_srv_send_log("\nDRX INFO(DEV_IDX(%d))\n", static_cast<int>(dev));
    const uint8_t drx = byte_at(d, 0);
    if (drx < drx_tbl.size())
        cnxd_srv_send_log("%s", drx_tbl[drx]);
    else
        cnxd_srv_send_log("Invalid DRX VAL (%d)\n", drx);
    const uint8_t timer = byte_at(d, 1);
    if (timer == 0)
        cnxd_srv_send_log("NON DRX TIMER : no non-DRX mode after transfer state\n");
    else if (timer <= non_drx_seconds.size())
        cnxd_srv_send_log("NON DRX TIMER : max. %d sec non-DRX mode after transfer state\n", non_drx_seconds[timer - 1]);
    else
        cnxd_srv_send_log("Invalid NON DRX TIMER (%d)\n", timer);
}

void print_sw_ver_info(uint32_t dev, std::span<const uint8_t> d)
{
    cnxd_srv_send_log("\nSW VER INFO(DEV_IDX(%d))\n", static_cast<int>(dev));
    cnxd_srv_send_log("SW VER : %d\n", byte_at(d, 0));
}

// The data: the search mode byte, then the 3-byte PLMN id.
void print_user_plmn_info(uint32_t dev, std::span<const uint8_t> d)
{
    cnxd_srv_send_log("\nUSER PLMN READ(DEV_IDX(%d))\n", static_cast<int>(dev));
    cnxd_srv_send_log("PLMN Search Mode : %s\n", byte_at(d, 0) ? "manual" : "automatic");
    cnxd_srv_send_log("PLMN ID : %02x %02x %02x\n", byte_at(d, 1), byte_at(d, 2), byte_at(d, 3));
}

void print_rf_ver_info(uint32_t dev, std::span<const uint8_t> d)
{
    cnxd_srv_send_log("\nRF VER INFO(DEV_IDX(%d))\n", static_cast<int>(dev));
    cnxd_srv_send_log("RF VER : 0x%x\n", byte_at(d, 0));
}

using protocol_info_printer = void (*)(uint32_t dev, std::span<const uint8_t> data);
// By type; type 3 has no answer of its own.
constexpr std::array<protocol_info_printer, 12> protocol_info_printer_tbl = {
    print_and_save_op_mode,         print_and_save_sms_and_ims,  print_and_save_apn_table, nullptr,
    print_and_save_search_interval, print_and_save_current_opt,  print_and_save_opt_specific,
    print_imei_info,                print_drx_info,              print_sw_ver_info,
    print_user_plmn_info,           print_rf_ver_info,
};

}  // namespace

ind_next ind_body_get_protocol_info_response(ind_call& call)
{
    const auto rec = call.record();
    const uint32_t dev = call.dev_idx();
    const auto result = static_cast<int16_t>(record_uint(rec, PI_RESULT, 2));
    const auto type = static_cast<uint16_t>(record_uint(rec, PI_TYPE, 2));
    if (result != 0) {
        cnxd_srv_send_log("\nGET PROTOCOL INFO ERROR RESULT : %d (TYPE %d/DEV%d)\n", result, type,
                          static_cast<int>(dev));
        if (type == PI_CURRENT_OPERATOR)
            set_get_operator_complete(dev, 1);
        return ind_next::forward;
    }
    const auto data = rec.subspan(std::min(rec.size(), PI_DATA));
    if (type < protocol_info_printer_tbl.size() && protocol_info_printer_tbl[type])
        protocol_info_printer_tbl[type](dev, data);
    else
        cm_printf(CM_ERR, "[%-25s] Unknown protocol info type : %d\n", call.row().name, type);
    return ind_next::forward;
}

ind_next ind_body_set_protocol_info_response(ind_call& call)
{
    const auto rec = call.record();
    const auto type = static_cast<uint16_t>(record_uint(rec, SPI_TYPE, 2));
    call.title();
    cnxd_srv_send_log("Protocol info type : %d\n", type);
    cnxd_srv_send_log("Result : %d\n", static_cast<int16_t>(record_uint(rec, SPI_RESULT, 2)));
    if (type == PI_APN_TABLE)
        cnxd_srv_send_log("INDEX : %d\n", static_cast<int>(record_uint(rec, SPI_INDEX, 1)));
    if (type == PI_CURRENT_OPERATOR)
        print_operator_name(get_current_operator(call.dev_idx()));
    return ind_next::forward;
}

}  // namespace cnxd
