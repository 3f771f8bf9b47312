// The validity checks: the range tables of param.def's rows, the generic
// test that reads them, and the checks written by hand.
#include <algorithm>

#include "modem/cm_printf.h"
#include "param/param.h"

namespace cnxd {
namespace {

constexpr param_range range(size_t off, size_t width, int64_t lo, int64_t hi, const char* message)
{
    return {.off = off, .width = width, .lo = lo, .hi = hi, .message = message};
}
constexpr param_range last_if_zero(param_range r)
{
    r.last_if_zero = true;
    return r;
}
constexpr param_range only_if(param_range r, record_when w)
{
    r.when = w;
    return r;
}
constexpr param_range signed_range(param_range r)
{
    r.is_signed = true;
    return r;
}
constexpr param_range one_of(param_range r, std::span<const int64_t> values)
{
    r.one_of = values;
    return r;
}
constexpr param_range noted(param_range r, std::span<const char* const> notes)
{
    r.notes = notes;
    return r;
}
constexpr param_range numbered(param_range r)
{
    r.numbered = true;
    return r;
}
// The ranges of `sub` on each of the elements of `stride` bytes from
// `off`: as many as the count field says, at most `max`.
constexpr param_range each(size_t off, std::span<const param_range> sub, size_t stride, uint16_t max,
                           size_t count_off = 0, uint8_t count_width = 0)
{
    return {.off = off, .sub = sub, .stride = stride, .count_off = count_off, .count_width = count_width, .max = max};
}

template <size_t Off, uint8_t V>
bool is(std::span<const uint8_t> r)
{
    return Off < r.size() && r[Off] == V;
}
template <size_t Off, size_t Width = 1>
bool set(std::span<const uint8_t> r)
{
    return record_uint(r, Off, Width) != 0;
}
// The count at `Off` holds more than `N` elements.
template <size_t Off, uint64_t N>
bool more_than(std::span<const uint8_t> r)
{
    return record_uint(r, Off, 1) > N;
}
// The 16-bit request type at 0 lies in [Lo, Hi].
template <uint16_t Lo, uint16_t Hi = Lo>
bool type_in(std::span<const uint8_t> r)
{
    const auto t = record_uint(r, 0, 2);
    return t >= Lo && t <= Hi;
}
template <record_when A, record_when B>
bool both(std::span<const uint8_t> r)
{
    return A(r) && B(r);
}

int64_t field_value(std::span<const uint8_t> rec, size_t off, size_t width, bool is_signed)
{
    const uint64_t u = record_uint(rec, off, width);
    if (!is_signed || width >= 8)
        return static_cast<int64_t>(u);
    const uint64_t sign = uint64_t{1} << (width * 8 - 1);
    return static_cast<int64_t>((u ^ sign) - sign);
}

// Messages of the attach and PDN connectivity families.
constexpr const char* MSG_OPTIONAL_INFO = "[%-25s] Unknown optional infon flag type : %d (optiona info flag : 0~1)\n";
constexpr const char* MSG_IP_ALLOC = "[%-25s] Unknown IP Alloc Type : %d (IP Alloc Type : 0~1)\n";
constexpr const char* MSG_PDN_TYPE = "[%-25s] Unknown PDN type : %d (Authentication Protocol : 0~2)\n";
constexpr const char* MSG_AUTH = "[%-25s] Unknown Authentication Protocol : %d (Authentication Protocol : 0~1)\n";
constexpr const char* MSG_APN_TYPE = "[%-25s] Unknown APN Type : %d (APN_TYPE : 0~4)\n";
constexpr const char* MSG_PDN_REQUEST_TYPE =
    "[%-25s] Unknown PDN Connect Request Type : %d (PDN Connect Request Type : 0 ~ 2)\n";

constexpr param_range LOOPBACK_CHECK[] = {
    range(0, 1, 1, 2, "[%-25s] Unknown Loopback Type : %d (LOOPBACK TYPE : 1~2)\n"),
    range(1, 1, 3, 5, "[%-25s] Unknown Transfer Type : %d (TRANSFER TYPE : 3~5)\n"),
    range(2, 4, 0, 500000, "[%-25s] Loopback count should be smaller than 500,000\n"),
    range(6, 4, 0, 30000, "[%-25s] Loopback packet size should be smaller than 30,000 bytes\n"),
};
constexpr param_range ATTACH_CHECK[] = {
    last_if_zero(range(0, 1, 0, 1, MSG_OPTIONAL_INFO)),
    range(103, 1, 0, 1, MSG_IP_ALLOC),
    range(102, 1, 0, 2, MSG_PDN_TYPE),
    range(232, 1, 0, 1, MSG_AUTH),
    range(338, 1, 0, 7, MSG_APN_TYPE),
    range(339, 1, 0, 2, "[%-25s] Unknown ATTACH Type : %d (ATTACH_TYPE : 0~2)\n"),
    range(340, 1, 0, 2, "[%-25s] Unknown REQUEST Type : %d (REQUEST_TYPE : 0~2)\n"),
    range(341, 1, 0, 1, "[%-25s] Unknown Emergency Mode : %d (Emergency Mode : 0~1)\n"),
};
constexpr param_range DETACH_CHECK[] = {
    range(0, 4, 0, 1, "[%-25s] Unknown Detach Type : %d (Detach Type : 0 ~ 1)\n"),
};
constexpr param_range PDN_CONNECT_CHECK[] = {
    range(0, 1, 0, 2, MSG_PDN_REQUEST_TYPE),
    last_if_zero(range(1, 1, 0, 1, MSG_OPTIONAL_INFO)),
    range(103, 1, 0, 1, MSG_IP_ALLOC),
    range(102, 1, 0, 2, MSG_PDN_TYPE),
    range(304, 1, 0, 1, MSG_AUTH),
    range(410, 1, 0, 7, MSG_APN_TYPE),
};
constexpr param_range PDN_DISCONNECT_CHECK[] = {
    range(0, 2, 5, 31, "[%-25s] Unknown default EPS id : %d (default EPS id : 5 ~ 31)\n"),
};
constexpr param_range PLMN_SEARCH_CHECK[] = {
    range(0, 1, 0, 2, "[%-25s] Unknown PLMN Search Mode : %d (PLMN Search Mode : 0 ~ 2)\n"),
    range(7, 1, 0, 1, "[%-25s] Unknown Emergency Mode : %d (Emergency Mode : 0 ~ 1)\n"),
};
constexpr param_range SUSPEND_CHECK[] = {
    range(0, 4, 0, 65535, "[%-25s] Unknown service type: %x"),
};
constexpr param_range BEARER_RELEASE_CHECK[] = {
    range(4, 4, 0, 4, "[%-25s] Unknown packet filter ids: %d\n"),
};
constexpr param_range GET_GPIO_CHECK[] = {
    range(0, 1, 0, 63, "[%-25s] Unknown Get GPIO PIN Number : %d (GPIO PIN Number : 0 ~ 63)\n"),
};
constexpr param_range SET_GPIO_CHECK[] = {
    range(0, 1, 0, 63, "[%-25s] Unknown Set GPIO PIN Number : %d (GPIO PIN Number : 1 ~ 63)\n"),
    range(1, 1, 0, 1, "[%-25s] Unknown Set GPIO Data Type : %d (Set GPIO Data Type : 0 or 1)\n"),
};
constexpr param_range HKADC_CHECK[] = {
    range(0, 1, 0, 3, "[%-25s] Unknown HKADC Channel Type : %d (HKADC Channel Type : 0 ~ 3)\n"),
};
constexpr param_range MOBILE_ID_CHECK[] = {
    range(0, 1, 0, 2, "[%-25s] Unknown MOBILE ID TYPE : %d (MOBILE ID Type : 1 ~ 3)\n"),
};
constexpr param_range NID_CHECK[] = {
    range(0, 1, 0, 1, "[%-25s] Unknown NID Read Type : %d (NID Read Type : 0 ~ 1)\n"),
    only_if(range(1, 1, 1, 15, "[%-25s] Unknown default EPS id : %d (default EPS id : 1 ~ 15)\n"), is<0, 1>),
    only_if(range(1, 1, 0, 0, "[%-25s] Unknown default EPS id : %d (default EPS id : 0)\n"), is<0, 0>),
};
constexpr param_range TZ_CHECK[] = {
    range(0, 1, 0, 1, "[%-25s] Unknown Timezone Read Type : %d (Timezone Read Type : 0 ~ 1)\n"),
};
constexpr const char* MSG_LOG_SET = "[%-25s] Unknown log info set_cm : %d (Set CM 0 ~ 1)\n";
constexpr const char* MSG_LOG_MODE = "[%-25s] Unknown log info mode: %d (Set CM 0 ~ 5)\n";
constexpr const char* MSG_LOG_LEVEL = "[%-25s] Unknown log info level: %d (Set CM 0 ~ 4)\n";
constexpr param_range LOG_CONFIG_CHECK[] = {
    range(0, 1, 0, 1, MSG_LOG_SET),   range(8, 2, 0, 4, MSG_LOG_MODE),   range(10, 2, 1, 3, MSG_LOG_LEVEL),
    range(1, 1, 0, 1, MSG_LOG_SET),   range(288, 2, 0, 4, MSG_LOG_MODE), range(290, 2, 1, 3, MSG_LOG_LEVEL),
};
constexpr param_range DM_LOG_READ_CHECK[] = {
    range(0, 2, 0, 21, "[%-25s] Unknown DM Log ID : %d (DM LOG ID : 0 ~ 18)\n"),
    range(2, 1, 0, 1, "[%-25s] Unknown DM command %d (DM Log command 0 ~ 1)\n"),
};
constexpr param_range PLMN_INDEX_CHECK[] = {
    range(0, 1, 0, 9, "[%-25s] Unknown PLMN Next Index : %d (PLMN Next Index : 0 ~ 9)\n"),
};
constexpr auto IND_MASK_CHECK = [] {
    std::array<param_range, 21> out{};
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = range(i, 1, 0, 1, "[%-25s] Unknown Indication Mask : %d (Indication Mask : 0 ~ 1)\n");
    return out;
}();
constexpr param_range RF_STATUS_CHECK[] = {
    range(0, 2, 0, 1, "[%-25s] Unknown On Off Type : %d (On Off Type : 0 ~ 1)\n"),
};
constexpr param_range RESUME_CHECK[] = {
    range(0, 1, 0, 1, "[%-25s] Unknown Resume parameter Type : %d (Resume paramter type : 0 ~ 1)\n"),
};
constexpr param_range DEBUG_LOG_CHECK[] = {
    range(0, 1, 0, 6, "[%-25s] Unknown Device DBEUG Level : %d (Device DBEUG Level : 0 ~ 6)\n"),
};
constexpr param_range RF_EVENT_CHECK[] = {
    range(0, 2, 0, 2, "[%-25s] Unknown Control Mode : %d (Control Mode : 0 ~ 2)\n"),
    signed_range(range(6, 2, -150, INT16_MAX,
                       "[%-25s] Too small initail value: %d (initail value should be lager than -150(dBm))\n")),
};
constexpr param_range RF_MEASURE_CHECK[] = {
    range(0, 1, 0, 1, "[%-25s] Unknown Control Type : %d (Control Type : 0 ~ 1)\n"),
};
constexpr param_range HOST_IP_CHECK[] = {
    range(0, 1, 0, 1, "[%-25s] Unknown IP Connect Type : %d (IP Connect Type : 0 ~ 1)\n"),
};
constexpr param_range OFFLINE_CHECK[] = {
    range(0, 2, 0, 3, "[%-25s] Unknown Offline Type : %d (Offline Type : 0 ~ 3)\n"),
};
constexpr param_range PLMN_CFG_SET_CHECK[] = {
    range(0, 2, 1, 1, "[%-25s] Invalid PLMN Configuration Set request type : %d\n"),
};

constexpr int64_t IMAGE_TYPES[] = {0, 1, 2, 4, 5};
constexpr param_range FIRMWARE_DOWNLOAD_CHECK[] = {
    one_of(range(128, 2, 0, 0, "[%-25s] Unknown Binary Donwload Type : %d\n"), IMAGE_TYPES),
};

// Operator-specific PCO number K is tested when the PCO count at N is
// above K.
template <size_t N, uint64_t K>
constexpr param_range os_pco(size_t off, const char* message)
{
    return only_if(range(off, 2, 0xFF00, 0xFFFF, message), more_than<N, K>);
}
constexpr param_range ATTACH_EXT_CHECK[] = {
    range(0, 1, 0, 1, MSG_OPTIONAL_INFO),
    range(1, 1, 0, 1, MSG_IP_ALLOC),
    range(2, 1, 0, 4, MSG_APN_TYPE),
    range(103, 1, 0, 2, MSG_PDN_TYPE),
    os_pco<235, 0>(236, "[%-25s] Primary fisrt_os_pco Invalid Value : 0x%04x\n"),
    os_pco<235, 1>(238, "[%-25s] Primary second_os_pco Invalid Value : 0x%04x\n"),
    os_pco<235, 2>(240, "[%-25s] Primary third_os_pco Invalid Value : 0x%04x\n"),
    range(242, 1, 0, 1, MSG_IP_ALLOC),
    range(243, 1, 0, 4, MSG_APN_TYPE),
    range(344, 1, 0, 2, MSG_PDN_TYPE),
    os_pco<476, 0>(477, "[%-25s] Retry fisrt_os_pco Invalid Value : 0x%04x\n"),
    os_pco<476, 1>(479, "[%-25s] Retry second_os_pco Invalid Value : 0x%04x\n"),
    os_pco<476, 2>(481, "[%-25s] Retry third_os_pco Invalid Value : 0x%04x\n"),
    range(483, 1, 0, 2, MSG_APN_TYPE),
};
constexpr param_range PDN_CONNECT_EXT_CHECK[] = {
    range(0, 1, 0, 1, MSG_PDN_REQUEST_TYPE),
    range(1, 1, 0, 1, MSG_OPTIONAL_INFO),
    range(2, 1, 0, 1, MSG_IP_ALLOC),
    range(3, 1, 0, 4, MSG_APN_TYPE),
    range(104, 1, 0, 2, MSG_PDN_TYPE),
    range(233, 1, 0, 1, MSG_AUTH),
    os_pco<236, 0>(237, "[%-25s] fisrt_os_pco Invalid Value : 0x%04x\n"),
    os_pco<236, 1>(239, "[%-25s] second_os_pco Invalid Value : 0x%04x\n"),
    os_pco<236, 2>(241, "[%-25s] third_os_pco Invalid Value : 0x%04x\n"),
    range(243, 1, 0, 3, MSG_APN_TYPE),
};

// The QCI, with the list of QCIs after a rejected one, and each packet
// filter (152 bytes) as far as the filter count reaches.
constexpr const char* QCI_LIST[] = {
    "[%-25s] \t1. Conversational Voice\n",
    "[%-25s] \t2. Conversational Video(Live Streaming)\n",
    "[%-25s] \t3. Real Time Gaming\n",
    "[%-25s] \t4. Non-Conversational Video(Buffered Streaming)\n",
    "[%-25s] \t5. IMS Signalling\n",
    "[%-25s] \t6. Video(Buffered Streaming)\n",
    "[%-25s] \t7. Voice, Video(Live Streaming), Interactive Gaming\n",
    "[%-25s] \t8.9. Video(Buffered Streaming)\n",
};
constexpr param_range qci(size_t off)
{
    return noted(range(off, 4, 1, 9, "[%-25s] Unknown QOS qci : %d (qci : 1 ~ 9)\n"), QCI_LIST);
}
constexpr param_range TFT_CHECK[] = {
    range(1, 4, 1, 3, "[%-25s] Unknown TFT Direction : %d (TFT Direction  : 1 ~ 3)\n"),
    range(6, 4, 1, 16, "[%-25s] Unknown TFT Packet Filter ID : %d (TFT Packet Filter ID : 1 ~ 16)\n"),
    range(11, 4, 0, 255, "[%-25s] Unknown TFT Precedence : %d (TFT Precedence : 0 ~ 255)\n"),
    range(60, 4, 0, 255, "[%-25s] Unknown TFT Protocol ID : %d (TFT Protocol ID : 0 ~ 255)\n"),
    range(98, 4, 0, 0xFFFFF, "[%-25s] Unknown TFT Flow Label : %d (TFT Flow Label : 0 ~ 1048575)\n"),
};
constexpr size_t TFT_SIZE = 152;
constexpr uint16_t TFT_MAX = 15;
constexpr param_range BEARER_ALLOC_CHECK[] = {qci(2), each(26, TFT_CHECK, TFT_SIZE, TFT_MAX, 22, 4)};
constexpr param_range BEARER_MODIFY_CHECK[] = {
    qci(8),
    range(2, 4, 1, 3, "[%-25s] Unknown Bearer Modify Type : %d (Bearer Modify Type : 1 ~ 3)\n"),
    each(33, TFT_CHECK, TFT_SIZE, TFT_MAX, 29, 4),
};

constexpr int64_t DM_CATEGORIES[] = {0, 1, 2, 3, 16, 32, 33, 34, 35, 36, 48, 64, 80, 96, 97};
constexpr param_range DM_LOG_EXT_READ_CHECK[] = {
    range(0, 1, 0, 1, "[%-25s] Invalid Command\n"),
    one_of(range(1, 1, 0, 0, "[%-25s] Invalid parameter: category\n"), DM_CATEGORIES),
    range(4, 1, 1, 255, "[%-25s] Invalid parameter: no item id\n"),
};

// Protocol information types: 2 the APN table (the parameter is a table
// index), 5 the current operator and 6 its specific information (the
// parameter is an operator code, 0 to 7; 2 is the one with such
// information, 1 the one that can be set).
constexpr const char* MSG_PROTOCOL_TYPE = "[%-25s] Unknown protocol info type : %d (get protocol info type 0 ~ 9)\n";
constexpr param_range apn_table_index()
{
    return only_if(range(2, 1, 0, 8, "[%-25s] Unknown APN table index : %d (APN table index 0 ~ 8)\n"), type_in<2>);
}
constexpr const char* MSG_OPERATOR_ID = "[%-25s] Unknown operator id : %d (operator id 0 ~ %d)\n";
constexpr int64_t OPERATOR_ID_MAX = 7;
constexpr param_range GET_PROTOCOL_INFO_CHECK[] = {
    range(0, 2, 0, 11, MSG_PROTOCOL_TYPE),
    apn_table_index(),
    only_if(range(2, 1, 0, OPERATOR_ID_MAX, MSG_OPERATOR_ID), type_in<6>),
    only_if(range(2, 1, 2, 2, "[%-25s] Not support operator specific in current operator\n"), type_in<6>),
};
constexpr param_range SET_PROTOCOL_INFO_INPUT_CHECK[] = {
    range(0, 2, 0, 8, MSG_PROTOCOL_TYPE),
    apn_table_index(),
    only_if(range(2, 1, 0, OPERATOR_ID_MAX, MSG_OPERATOR_ID), type_in<5>),
    only_if(range(2, 1, 1, 1, "[%-25s] Not yet support operator id : %d (only support 1)\n"), type_in<5>),
};

// The protocol information files, by type, the value from byte 2: the
// operational mode and IMS/SMS flags, each APN entry (210 bytes from 3, as
// many as the count at 2 says), the antenna test flags, the IMEI digits,
// the DRX settings and the software version.
constexpr param_range flag(size_t off, const char* message) { return range(off, 1, 0, 1, message); }
constexpr const char* MSG_OPT_MODE = "[%-25s] Unknown operational mode flag %d (flag 0 ~ 1)\n";
constexpr const char* MSG_IMS_SMS = "[%-25s] Unknown ims sms flag %d (flag 0 ~ 1)\n";
constexpr const char* MSG_VZW = "[%-25s] Unknown vzw info flag %d (flag 0 ~ 1)\n";
constexpr param_range OPT_MODE_CHECK[] = {flag(2, MSG_OPT_MODE), flag(3, MSG_OPT_MODE), flag(4, MSG_OPT_MODE)};
constexpr param_range IMS_SMS_CHECK[] = {
    flag(2, MSG_IMS_SMS),
    flag(3, MSG_IMS_SMS),
    flag(4, MSG_IMS_SMS),
    flag(5, MSG_IMS_SMS),
};
constexpr param_range APN_ENTRY_CHECK[] = {
    range(0, 1, 0, 1, "[%-25s] Unknown apn enable %d (apn enable 0 ~ 1)\n"),
    range(1, 1, 0, 4, "[%-25s] Unknown apn class %d (apn class 0 ~ 4)\n"),
    range(76, 1, 0, 2, "[%-25s] Unknown apn pdn type %d (pdn type 0 ~ 2)\n"),
    range(78, 1, 0, 1, "[%-25s] Unknown apn rat type %d (rat type 0 ~ 1)\n"),
    range(79, 1, 0, 2, "[%-25s] Unknown apn auth type %d (auth type 0 ~ 2)\n"),
};
constexpr param_range VZW_CHECK[] = {flag(3, MSG_VZW), flag(10, MSG_VZW), flag(11, MSG_VZW)};
constexpr param_range IMEI_DIGIT_CHECK[] = {
    numbered(range(0, 1, 0, 9, "[%-25s] Invalid IMEI digit %dst %d (IMEI digit 0 ~ 9)\n")),
};
constexpr param_range DRX_CHECK[] = {
    range(2, 1, 0, 4, "[%-25s] Unknown drx val %d (drx val 0 ~ 4)\n"),
    range(3, 1, 0, 7, "[%-25s] Unknown non drx timer %d (non drx timer 0 ~ 7)\n"),
};
constexpr param_range SW_VER_CHECK[] = {range(2, 1, 0, 99, "[%-25s] Unknown sw version %d (version 0 ~ 99)\n")};
// The ranges of `part` on the whole record when the request type is T.
template <uint16_t T>
constexpr param_range part(std::span<const param_range> ranges)
{
    return only_if(each(0, ranges, SIZE_MAX, 1), type_in<T>);
}
constexpr param_range SET_PROTOCOL_INFO_FILE_CHECK[] = {
    range(0, 2, 0, 8, MSG_PROTOCOL_TYPE),
    part<0>(OPT_MODE_CHECK),
    part<1>(IMS_SMS_CHECK),
    only_if(each(3, APN_ENTRY_CHECK, 210, 8, 2, 1), type_in<2>),
    part<5>(VZW_CHECK),
    only_if(each(2, IMEI_DIGIT_CHECK, 1, 15), type_in<6>),
    part<7>(DRX_CHECK),
    part<8>(SW_VER_CHECK),
};

// UICC control, the value from byte 4: the application type (of a status
// request only when one was given), the RAND and AUTN lengths, the PIN
// type and command.
constexpr const char* MSG_UICC_APP = "[%-25s] Unknown UICC APP type : %d (UICC APP type : 1 ~ 3)\n";
constexpr param_range UICC_CHECK[] = {
    range(0, 2, 0, 14, "[%-25s] Invalid UICC control request type : %d\n"),
    only_if(range(4, 1, 1, 3, MSG_UICC_APP), both<type_in<0>, set<4>>),
    only_if(range(4, 1, 1, 3, MSG_UICC_APP), type_in<1, 4>),
    only_if(range(4, 1, 0, 16, "[%-25s] Invalid Random challenge length : %d (MAX Random challenge length 16)\n"),
            type_in<5>),
    only_if(range(21, 1, 0, 16,
                  "[%-25s] Invalid authenticate Token length : %d (MAX authenticate Token length 16)\n"),
            type_in<5>),
    only_if(range(4, 1, 0, 2, "[%-25s] Unknown UICC PIN Type : %d (UICC PIN Type : 0 ~ 2)\n"), type_in<6>),
    only_if(range(5, 1, 0, 4, "[%-25s] Unknown UICC PIN Command : %d (UICC PIN Command : 0 ~ 4)\n"), type_in<6>),
};

// RRC capability control, the value from byte 4.
constexpr param_range TRANS_MODE_CHECK[] = {
    range(0, 1, 0, 2, "[%-25s] Invalid Transmission Mode value : %d (0 ~ 2)\n"),
};
constexpr param_range CA_CONTROL_CHECK[] = {
    range(4, 1, 0, 1, "[%-25s] Invalid  CA Mode value : %d (0 : Disable CA, 1 : Enable CA)\n"),
    range(5, 1, 0, 4, "[%-25s] Invalid CA AS Release Number value : %d (0 ~ 4)\n"),
    range(6, 1, 0, 2, "[%-25s] Invalid BCL Gen Type value : %d (0 ~ 2)\n"),
    range(7, 1, 0, 4, "[%-25s] Invalid Max DL CC Count value : %d (0 ~ 4)\n"),
    range(8, 1, 0, 2, "[%-25s] Invalid Max UL CC Count value : %d (0 ~ 2)\n"),
    range(9, 1, 0, 3, "[%-25s] Invalid Intra Band CA Mode value : %d (0 ~ 3)\n"),
};
constexpr param_range RRC_CAPABILITY_CHECK[] = {
    range(0, 2, 1, 24, "[%-25s] Invalid RRC Capability control request type : %d\n"),
    only_if(range(4, 1, 1, 7, "[%-25s] Invalid AS Release Number value : %d (1 ~ 7)\n"), type_in<3>),
    only_if(range(4, 1, 1, 255, "[%-25s] Invalid CA band number : %d\n"), type_in<4>),
    only_if(range(28, 1, 0, 1, "[%-25s] Invalid FGI Save NV value : %d (0 : Not Save, 1 : Save)\n"), type_in<5>),
    only_if(range(4, 1, 0, 2, "[%-25s] Invalid ROHC Config value : %d (0 ~ 2)\n"), type_in<6>),
    only_if(each(4, TRANS_MODE_CHECK, 1, 5), type_in<7>),
    only_if(range(4, 1, 0, 2, "[%-25s] Invalid Autonomous Gap value : %d (0 ~ 2)\n"), type_in<8>),
    only_if(range(4, 1, 0, 1, "[%-25s] Invalid PWS Mode value : %d (0 : Disable, 1 : Enable)\n"), type_in<10>),
    part<11>(CA_CONTROL_CHECK),
    only_if(range(4, 1, 0, 1, "[%-25s] Invalid MR Trigger value : %d (0 : Disable, 1 : Enable)\n"), type_in<23>),
};

int check_ranges(const char* name, std::span<const param_range> ranges, std::span<const uint8_t> rec,
                 size_t number = 0)
{
    for (const param_range& r : ranges) {
        if (r.when && !r.when(rec))
            continue;
        if (!r.sub.empty()) {
            const size_t n =
                r.count_width ? std::min<size_t>(record_uint(rec, r.count_off, r.count_width), r.max) : r.max;
            for (size_t i = 0; i < n && r.off + i * r.stride < rec.size(); ++i) {
                const auto element = rec.subspan(r.off + i * r.stride);
                if (check_ranges(name, r.sub, element.first(std::min(r.stride, element.size())), i) != 0)
                    return -1;
            }
            continue;
        }
        const int64_t v = field_value(rec, r.off, r.width, r.is_signed);
        const bool ok = r.one_of.empty() ? v >= r.lo && v <= r.hi
                                         : std::find(r.one_of.begin(), r.one_of.end(), v) != r.one_of.end();
        if (!ok) {
            if (r.numbered)
                cm_printf(CM_ERR, r.message, name, static_cast<int>(number), static_cast<int>(v));
            else
                cm_printf(CM_ERR, r.message, name, static_cast<int>(v), static_cast<int>(r.hi));
            for (const char* note : r.notes)
                cm_printf(CM_ERR, note, name);
            return -1;
        }
        if (r.last_if_zero && v == 0)
            return 0;
    }
    return 0;
}

constexpr param_check_row row(int kind, const char* name, std::span<const param_range> ranges)
{
    return {kind, name, ranges};
}

}  // namespace

constexpr std::array<param_check_row, PARAMETER_CHECK_COUNT> parameter_check = {{
#define MAKE_PARAM(kind, builder, file, size, check, how)
#define PARAM_CHECK(kind, check, ranges) row(kind, #check, ranges),
#include "param/param.def"
}};

namespace {
constexpr bool rows_ok()
{
    for (size_t i = 0; i < parameter_check.size(); ++i)
        if (parameter_check[i].kind != static_cast<int>(i))
            return false;
    return true;
}
static_assert(rows_ok(), "check rows are numbered 0 to 37 in order");
}  // namespace

int param_check(size_t kind, std::span<const uint8_t> rec)
{
    if (kind >= parameter_check.size())
        return -1;
    const param_check_row& r = parameter_check[kind];
    return check_ranges(r.name, r.ranges, rec);
}

}  // namespace cnxd
