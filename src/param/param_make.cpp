// The request builders: the field tables of param.def's rows, the generic
// filler that reads them, the composite builders' type tables, and the
// builders written by hand.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/be.h"
#include "base/fd.h"
#include "base/path.h"
#include "config/confdb_access.h"
#include "modem/cm_printf.h"
#include "param/param.h"

namespace cnxd {
namespace {

// ---- Field constructors ------------------------------------------------

constexpr param_field num(const char* tag, size_t off, size_t width)
{
    return {.tag = tag, .kind = param_read_kind::num, .off = off, .width = width};
}
constexpr param_field snum(const char* tag, size_t off, size_t width)
{
    param_field f = num(tag, off, width);
    f.is_signed = true;
    return f;
}
constexpr param_field hex(const char* tag, size_t off, size_t width)
{
    return {.tag = tag, .kind = param_read_kind::hex, .off = off, .width = width};
}
constexpr param_field text(const char* tag, size_t off, uint16_t max)
{
    return {.tag = tag, .kind = param_read_kind::text, .off = off, .max = max};
}
constexpr param_field bits(const char* tag, size_t off, uint16_t count)
{
    return {.tag = tag, .kind = param_read_kind::bits, .off = off, .max = count};
}
constexpr param_field list(const char* tag, size_t off, size_t width, char sep, uint16_t max)
{
    return {.tag = tag, .kind = param_read_kind::list, .off = off, .width = width, .sep = sep, .max = max};
}
constexpr param_field hex_list(const char* tag, size_t off, uint16_t max)
{
    return {.tag = tag, .kind = param_read_kind::hex_list, .off = off, .sep = ',', .max = max};
}
constexpr param_field arg_num(int arg, size_t off, size_t width)
{
    return {.arg = arg, .kind = param_read_kind::num, .off = off, .width = width};
}
constexpr param_field arg_text(int arg, size_t off, uint16_t max)
{
    return {.arg = arg, .kind = param_read_kind::text, .off = off, .max = max};
}
// Arguments `arg` and after, one byte each, their count in the byte at
// `count_off`.
constexpr param_field arg_bytes(int arg, size_t off, uint16_t max, size_t count_off)
{
    return {.arg = arg, .kind = param_read_kind::list, .off = off, .max = max, .count_off = count_off,
            .count_width = 1};
}
// The fields of `sub` once for each of `max` elements of `stride` bytes.
constexpr param_field group(size_t off, param_fields sub, size_t stride, uint16_t max)
{
    return {.kind = param_read_kind::group, .off = off, .max = max, .sub = sub, .stride = stride};
}
// As many elements as the count field (named `label` when it is above
// `max`) says.
constexpr param_field counted_group(size_t off, param_fields sub, size_t stride, uint16_t max, size_t count_off,
                                    uint8_t count_width, const char* label)
{
    param_field f = group(off, sub, stride, max);
    f.count_off = count_off;
    f.count_width = count_width;
    f.label = label;
    return f;
}
// As many elements as have their first tag in the file, at most `max`;
// their count in the byte at `count_off` when `store` is set.
constexpr param_field present_group(size_t off, param_fields sub, size_t stride, uint16_t max, bool store = false,
                                    size_t count_off = 0)
{
    param_field f = group(off, sub, stride, max);
    f.optional = true;
    f.count_off = count_off;
    f.count_width = store ? 1 : 0;
    return f;
}
// One element per prefix, each element's tags after its prefix.
constexpr param_field prefixed(size_t off, param_fields sub, size_t stride, std::span<const char* const> prefixes)
{
    param_field f = group(off, sub, stride, 0);
    f.prefixes = prefixes;
    return f;
}
constexpr param_field only_if(param_field f, record_when w)
{
    f.when = w;
    return f;
}
constexpr param_field counted(param_field f, size_t off, uint8_t width)
{
    f.count_off = off;
    f.count_width = width;
    return f;
}
constexpr param_field replacing(param_field f)
{
    f.replaces = true;
    return f;
}
constexpr param_field named(param_field f, const char* label)
{
    f.label = label;
    return f;
}
constexpr param_field closing(param_field f, const char* tail)
{
    f.tail = tail;
    return f;
}
constexpr param_field optional(param_field f)
{
    f.optional = true;
    return f;
}
constexpr param_field traced(param_field f)
{
    f.trace = true;
    return f;
}
// A packet-filter component: its presence byte just before it, set once
// it is read.
constexpr param_field present(param_field f)
{
    f.flag = static_cast<int>(f.off) - 1;
    return f;
}

// Bytes a field may write from its offset on.
constexpr size_t field_span(const param_field& f)
{
    switch (f.kind) {
    case param_read_kind::num:
    case param_read_kind::hex:
        return f.width;
    case param_read_kind::text:
        return f.max;
    case param_read_kind::bits:
        return f.max / 8;
    case param_read_kind::group:
        return f.stride * (f.prefixes.empty() ? f.max : f.prefixes.size());
    default:
        return f.width * f.max;
    }
}

// The bytes the fields of a value fill.
constexpr size_t fields_extent(param_fields fields)
{
    size_t end = 0;
    for (const param_field& f : fields)
        end = std::max(end, f.off + field_span(f));
    return end;
}

// Every field (and every element's field) lies inside its record.
constexpr bool fields_fit(param_fields fields, size_t size)
{
    for (const param_field& f : fields) {
        const bool inside = f.off + field_span(f) <= size && (!f.count_width || f.count_off + f.count_width <= size) &&
                            f.flag < static_cast<int>(size);
        // A group's elements fit its stride; one counted by a field names
        // it, one counted by the file starts with a tag.
        const bool elements_fit =
            f.kind != param_read_kind::group ||
            (!f.sub.empty() && fields_fit(f.sub, f.stride) && (f.optional || !f.count_width || f.label) &&
             (!f.optional || f.sub.front().tag));
        if (!inside || !elements_fit)
            return false;
    }
    return true;
}

// ---- Predicates on the record filled so far ----------------------------

template <size_t Off, size_t Width = 1>
bool set(std::span<const uint8_t> r)
{
    return record_uint(r, Off, Width) != 0;
}
template <size_t Off, uint8_t V>
bool is(std::span<const uint8_t> r)
{
    return Off < r.size() && r[Off] == V;
}
template <record_when A, record_when B>
bool both(std::span<const uint8_t> r)
{
    return A(r) && B(r);
}

// ---- Field tables ------------------------------------------------------

// Argument-fed records of one or two fields.
constexpr param_field ARG_U1_FIELDS[] = {arg_num(2, 0, 1)};
constexpr param_field ARG_U1_U1_FIELDS[] = {arg_num(2, 0, 1), arg_num(3, 1, 1)};
constexpr param_field ARG_U2_FIELDS[] = {arg_num(2, 0, 2)};
constexpr param_field ARG_U4_FIELDS[] = {arg_num(2, 0, 4)};
constexpr param_field ARG_U2_U2_FIELDS[] = {arg_num(2, 0, 2), arg_num(3, 2, 2)};
// Protocol information: the 16-bit type and, when given, its one-byte
// parameter.
constexpr param_field ARG_U2_OPT_U1_FIELDS[] = {arg_num(2, 0, 2), optional(arg_num(3, 2, 1))};

// Loop type, transfer type, loop count, packet size.
constexpr param_field LOOPBACK_FIELDS[] = {arg_num(2, 0, 1), arg_num(3, 1, 1), arg_num(4, 2, 4), arg_num(5, 6, 4)};

// File path (128 bytes), image type; the handler sets the device index
// word at 132.
constexpr param_field FIRMWARE_DOWNLOAD_FIELDS[] = {arg_text(3, 0, 128), arg_num(2, 128, 2)};

// Log id, command, interval, count.
constexpr param_field DM_LOG_READ_FIELDS[] = {arg_num(2, 0, 2), arg_num(3, 2, 1), arg_num(4, 3, 1), arg_num(5, 4, 1)};

// Command, category, interval, count, then the item count and up to 25
// item ids (what one command line holds after them).
constexpr param_field DM_LOG_EXT_READ_FIELDS[] = {
    arg_num(2, 0, 1), arg_num(3, 1, 1), arg_num(4, 2, 1), arg_num(5, 3, 1), arg_bytes(6, 5, 25, 4),
};

// Everything after optional_info is read only when it is not 0; the
// general and operator PCO only when their USE_ flag is set, the operator
// data only when its length is not 0.
constexpr record_when ATTACH_OPT = set<0>;
constexpr param_field ATTACH_FIELDS[] = {
    num("optional_info", 0, 1),
    only_if(text("apn_name", 2, 100), ATTACH_OPT),
    only_if(num("pdn_type", 102, 1), ATTACH_OPT),
    only_if(num("ip_alloc", 103, 1), ATTACH_OPT),
    only_if(text("username", 104, 64), ATTACH_OPT),
    only_if(text("password", 168, 64), ATTACH_OPT),
    only_if(num("auth_flag", 232, 1), ATTACH_OPT),
    only_if(num("USE_GENERAL_PCO", 233, 1), ATTACH_OPT),
    only_if(bits("GENERAL_PCO", 234, 16), both<ATTACH_OPT, set<233>>),
    only_if(num("USE_OPERATOR_PCO", 236, 1), ATTACH_OPT),
    only_if(num("OPER_PCO_LENGTH", 237, 1), both<ATTACH_OPT, set<236>>),
    only_if(counted(hex_list("OPER_PCO_DATA", 238, 100), 237, 1), both<ATTACH_OPT, set<237>>),
    only_if(num("attach_type", 339, 1), ATTACH_OPT),
    only_if(num("request_type", 340, 1), ATTACH_OPT),
    only_if(num("emergency_mode", 341, 1), ATTACH_OPT),
    only_if(named(num("secure_pco", 351, 1), "securePCO"), ATTACH_OPT),
};

// Attach extension: OPTIONAL_INFO at 0, the primary APN from 1 and the
// retry APN from 242 (read only when OPTIONAL_INFO is not 0), the PDN label
// (the command's argument) at 483. Each APN: IP allocation 0, APN class 1,
// APN name 2-101, PDN type 102, user name 103-166, password 167-230,
// authentication 231, the first and second PCO bits 232 and 233, the
// number of operator-specific PCOs 234 and the three of them from 235.
constexpr param_field ATTACH_EXT_APN[] = {
    num("IP_ALLOC", 0, 1),
    num("APN_CLASS", 1, 1),
    text("APN_NAME", 2, 100),
    num("PDN_TYPE", 102, 1),
    text("USERNAME", 103, 64),
    text("PASSWORD", 167, 64),
    num("AUTH_FLAG", 231, 1),
    bits("FIRST_PCO", 232, 8),
    bits("SECOND_PCO", 233, 8),
    num("N_PCO", 234, 1),
    closing(hex("FIRST_OS_PCO", 235, 2), ")"),
    closing(hex("SECOND_OS_PCO", 237, 2), ")"),
    closing(hex("THIRD_OS_PCO", 239, 2), ")"),
};
constexpr const char* ATTACH_EXT_APNS[] = {"PRIMARY_", "RETRY_"};
constexpr param_field ATTACH_EXT_FIELDS[] = {
    num("OPTIONAL_INFO", 0, 1),
    only_if(prefixed(1, ATTACH_EXT_APN, 241, ATTACH_EXT_APNS), set<0>),
    arg_num(2, 483, 1),
};

// The APN name comes first from the command's first argument (an apn_name
// line replaces it as a whole); the fields
// of the APN only when optional_info is 1, the PCO groups whatever it says.
constexpr record_when PDN_OPT = is<1, 1>;
constexpr param_field PDN_CONNECT_FIELDS[] = {
    num("request_type", 0, 1),
    num("optional_info", 1, 1),
    arg_text(2, 2, 100),
    only_if(replacing(text("apn_name", 2, 100)), PDN_OPT),
    only_if(num("pdn_type", 102, 1), PDN_OPT),
    only_if(num("ip_alloc", 103, 1), PDN_OPT),
    only_if(text("username", 104, 32), PDN_OPT),
    only_if(text("password", 204, 32), PDN_OPT),
    only_if(num("auth_flag", 304, 1), PDN_OPT),
    num("USE_GENERAL_PCO", 305, 1),
    only_if(bits("GENERAL_PCO", 306, 16), set<305>),
    num("USE_OPERATOR_PCO", 308, 1),
    only_if(num("OPER_PCO_LENGTH", 309, 1), set<308>),
    only_if(counted(hex_list("OPER_PCO_DATA", 310, 100), 309, 1), set<309>),
    only_if(named(num("secure_pco", 418, 1), "securePCO"), PDN_OPT),
};

// PDN connectivity extension: request type 0, OPTIONAL_INFO 1, IP
// allocation 2, APN class 3 and APN name 4-103 (the command's first two
// arguments; an APN_NAME line replaces the name), PDN type 104, user name
// 105-168, password 169-232, authentication 233, the first and second PCO
// bits 234 and 235, the number of operator-specific PCOs 236 and the three
// of them from 237, the PDN label (the third argument) 243. The file's
// fields after OPTIONAL_INFO are read only when it is 1.
constexpr param_field PDN_CONNECT_EXT_APN[] = {
    num("IP_ALLOC", 2, 1),
    num("PDN_TYPE", 104, 1),
    replacing(text("APN_NAME", 4, 100)),
    text("USERNAME", 105, 64),
    text("PASSWORD", 169, 64),
    num("AUTH_FLAG", 233, 1),
    bits("FIRST_PCO", 234, 8),
    bits("SECOND_PCO", 235, 8),
    num("N_PCO", 236, 1),
    hex("FIRST_OS_PCO", 237, 2),
    hex("SECOND_OS_PCO", 239, 2),
    hex("THIRD_OS_PCO", 241, 2),
};
constexpr param_field PDN_CONNECT_EXT_FIELDS[] = {
    num("REQUEST_TYPE", 0, 1),
    num("OPTIONAL_INFO", 1, 1),
    arg_num(2, 3, 1),
    arg_text(3, 4, 100),
    arg_num(4, 243, 1),
    only_if(group(0, PDN_CONNECT_EXT_APN, 244, 1), PDN_OPT),
};

constexpr param_field PLMN_SEARCH_FIELDS[] = {
    num("search_mode", 0, 1), list("MCC", 1, 1, ',', 3),        list("MNC", 4, 1, ',', 3),
    num("emergency_mode", 7, 1), num("roaming_option", 8, 1),
};

// PLMN list extension: mode 0, band count 1, then up to 8 bands of 66
// bytes: band number, frequency count, up to 8 frequencies of 8 bytes
// (EARFCN, minimum RX level, its offset, maximum power, measurement
// bandwidth; the RX level and the power signed).
constexpr param_field PLMN_LIST_EXT_FREQ[] = {
    num("data_earfcn%d_%d", 0, 4),           snum("RxLevMinEutra%d_%d", 4, 1), num("RxLevMinEutraOffset%d_%d", 5, 1),
    snum("PeMax%d_%d", 6, 1),                num("MeasBandWidth%d_%d", 7, 1),
};
constexpr param_field PLMN_LIST_EXT_BAND[] = {
    num("data_band_num%d", 0, 1),
    num("data_freq_num%d", 1, 1),
    counted_group(2, PLMN_LIST_EXT_FREQ, 8, 8, 1, 1, "data_freq_num%d"),
};
constexpr param_field PLMN_LIST_EXT_FIELDS[] = {
    num("mode", 0, 1),
    num("band_num", 1, 1),
    counted_group(2, PLMN_LIST_EXT_BAND, 66, 8, 1, 1, "band_num"),
};

// PLMN list extension 2: mode, fast scan mode, type, entry count, up to 8
// entries of 7 bytes (EARFCN, band, EARFCN range) from 4, SI collection 60.
constexpr param_field PLMN_LIST_EXT2_ENTRY[] = {
    num("earfcn%d", 0, 4),
    num("band%d", 4, 1),
    num("earfcn_range%d", 5, 2),
};
constexpr param_field PLMN_LIST_EXT2_FIELDS[] = {
    num("mode", 0, 1),
    num("fast_scan_mode", 1, 1),
    num("type", 2, 1),
    num("len", 3, 1),
    counted_group(4, PLMN_LIST_EXT2_ENTRY, 7, 8, 3, 1, "len"),
    num("si_collect", 60, 1),
};

// The QoS block of the bearer requests (20 bytes).
constexpr param_field BEARER_QOS_FIELDS[] = {
    num("T_QCI", 0, 4),
    num("T_MAX_BIT_RATE_UL", 4, 4),
    num("T_MAX_BIT_RATE_DL", 8, 4),
    num("T_GUARANTEED_BIT_RATE_UL", 12, 4),
    num("T_GUARANTEED_BIT_RATE_DL", 16, 4),
};
// One packet filter (152 bytes): each component's presence byte, then its
// value; the IPv6 address and mask have 16 bytes each. Bytes 102-151 are
// not used.
constexpr param_field BEARER_TFT_FIELDS[] = {
    present(num("T_DIRECTION_%02d", 1, 4)),
    present(num("T_PKT_FILTER_ID_%02d", 6, 4)),
    present(num("T_PRECEDENCE_%02d", 11, 4)),
    optional(present(list("T_REMOTEIPv4_%02d", 16, 1, '.', 4))),
    optional(present(list("T_SUBNET_MASK_IPv4_%02d", 21, 1, '.', 4))),
    optional(present(list("T_REMOTE_IPv6_%02d", 26, 1, '.', 6))),
    optional(present(list("T_SUBNET_MASK_IPv6_%02d", 43, 1, '.', 6))),
    optional(present(num("T_PROTID_NEXT_HDR_%02d", 60, 4))),
    optional(present(num("T_SINGLE_LOCAL_PORT_%02d", 65, 2))),
    optional(present(num("T_SINGLE_REMOTE_PORT_%02d", 68, 2))),
    optional(present(num("T_LOCAL_PORT_RANGE_LOW_%02d", 71, 2))),
    optional(present(num("T_LOCAL_PORT_RANGE_HIGH_%02d", 74, 2))),
    optional(present(num("T_REMOTE_PORT_RANGE_LOW_%02d", 77, 2))),
    optional(present(num("T_REMOTE_PORT_RANGE_HIGH_%02d", 80, 2))),
    optional(present(num("T_SECURITY_PARA_IDX_%02d", 83, 4))),
    optional(present(num("T_TYPE_OF_SERV_TRAFFIC_CLASS_%02d", 88, 4))),
    optional(present(num("T_TYPE_OF_SERV_TRAFFIC_CLASS_MASK_%02d", 93, 4))),
    optional(present(num("T_FLOW_LABLE_%02d", 98, 4))),
};
constexpr size_t BEARER_TFT_SIZE = 152;
constexpr uint16_t BEARER_TFT_MAX = 15;

constexpr param_field BEARER_ALLOC_FIELDS[] = {
    num("default_eps_id", 0, 2),
    group(2, BEARER_QOS_FIELDS, 20, 1),
    num("num_tft", 22, 4),
    counted_group(26, BEARER_TFT_FIELDS, BEARER_TFT_SIZE, BEARER_TFT_MAX, 22, 4, "num_tft"),
};
// Byte 28 of the modification is not used.
constexpr param_field BEARER_MODIFY_FIELDS[] = {
    num("default_eps_id", 0, 2),
    num("st_modify", 2, 4),
    num("eps_id", 6, 2),
    group(8, BEARER_QOS_FIELDS, 20, 1),
    num("num_tft", 29, 4),
    counted_group(33, BEARER_TFT_FIELDS, BEARER_TFT_SIZE, BEARER_TFT_MAX, 29, 4, "num_tft"),
};

constexpr param_field BEARER_RELEASE_FIELDS[] = {
    num("default_eps_id", 0, 2),
    num("eps_id", 2, 2),
    num("packet_id_num", 4, 4),
};

constexpr param_field LOG_CONFIG_FIELDS[] = {
    num("cm_set_log", 0, 1),
    num("sdk_set_log", 1, 1),
    num("cm_log_mod", 8, 2),
    num("cm_log_level", 10, 2),
    num("cm_log_file_size", 16, 8),
    text("cm_log_file_path", 24, 256),
    num("cm_log_time_stamp_enable", 280, 1),
    num("sdk_log_mod", 288, 2),
    num("sdk_log_level", 290, 2),
    num("sdk_log_file_size", 296, 8),
    text("sdk_log_file_path", 304, 256),
    num("sdk_log_time_stamp_enable", 560, 1),
};

constexpr const char* IND_MASK_TAGS[] = {
    "NAS_EMM_STATUS_CHANGE_IND", "SERVICE_LOSS_IND",
    "EMM_ERROR_STATUS_IND",      "ESM_ERROR_STATUS_IND",
    "RRC_DISCONNECTED_NOTI_IND", "RRC_CONNECT_NOTI_IND",
    "CELL_CHANGE_NOTI_IND",      "ATTACH_FAIL_STATUS_IND",
    "TAU_STATUS_IND",            "REFRESH_IND",
    "UICC_ACTIVATED_IND",        "UICC_DEATIVATED_IND",
    "PLMN_SEARCH_CNF",           "ROHC_STATUS_IND",
    "PS_DEACTIVATED_IND",        "SERVICE_REQ_START_NOTIFY_IND",
    "USIM_AUTH_RSP_ERROR_IND",   "RRC_CONNECTION_SETUP_RCVD_IND",
    "RRC_CONNECTION_REJECT_RCVD_IND", "TC_LOOPBACK_MODE_IND",
    "EMM_INFORMATION_IND",
};
constexpr auto IND_MASK_FIELDS = [] {
    std::array<param_field, std::size(IND_MASK_TAGS)> out{};
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = num(IND_MASK_TAGS[i], i, 1);
    return out;
}();

constexpr param_field RF_STATUS_FIELDS[] = {
    num("ON_OFF", 0, 2),      num("INTERVAL_IDLE", 2, 2),  num("INTERVAL_CONNECT", 4, 2),
    num("THRESH_IDLE", 6, 2), num("THRESH_CONNECT", 8, 2),
};

constexpr param_field RF_EVENT_FIELDS[] = {
    num("MODE", 0, 2),          num("IDLE_INTERVAL", 2, 2), num("CONNTECTED_INTERVAL", 4, 2),
    snum("INITIAL_VALUE", 6, 2), num("OFFSET", 8, 2),       num("REPETITION_COUNT", 10, 2),
};

// The vendor-specific maximum count and timer settings: mode, then the
// count or the timer.
constexpr param_field ATT_MAX_COUNT_FIELDS[] = {num("mode", 0, 1), num("count", 1, 1)};
constexpr param_field ATT_MAX_TIMER_FIELDS[] = {num("mode", 0, 1), num("timer", 1, 1)};

// The PHY items asked for, one flag byte each.
constexpr param_field PHY_MISC_ITEM_FIELDS[] = {
    num("CQI", 0, 1),  num("DL_MCS", 1, 1), num("UL_MCS", 2, 1), num("SINR", 3, 1),
    num("RSRP", 4, 1), num("RSRQ", 5, 1),   num("RSSI", 6, 1),
};

// Ciphering algorithms EA0-EA15 at 0-15, integrity algorithms IA0-IA15 at
// 16-31, as many of each as the file has from 0 on.
constexpr param_field CTRL_5G_EA[] = {num("EA%d", 0, 1)};
constexpr param_field CTRL_5G_IA[] = {num("IA%d", 0, 1)};
constexpr param_field CTRL_5G_SECURITY_FIELDS[] = {
    present_group(0, CTRL_5G_EA, 1, 16),
    present_group(16, CTRL_5G_IA, 1, 16),
};

// The PLMN configuration request type (the argument) 0-1, the supported
// band count 2, up to 64 bands from 3.
constexpr param_field PLMN_CFG_SET_FIELDS[] = {
    arg_num(2, 0, 2),
    num("BAND_NUM", 2, 1),
    only_if(counted(list("BAND_LIST", 3, 1, ',', 64), 2, 1), set<2>),
};

// ---- Composite builders' request types -----------------------------------
//
// Each value's fields start at the value's first byte; a value takes the
// bytes its fields fill (fields_extent), its length unless a hand-written
// body says otherwise.

constexpr param_type type(uint16_t t, const char* file, param_fields fields, const char* name = nullptr)
{
    return {t, name, file, fields_extent(fields), fields};
}
constexpr param_type by_hand_type(uint16_t t, const char* file, size_t size, param_type_builder fn)
{
    return {t, nullptr, file, size, {}, fn};
}

// UICC control: status (an application type argument, when it is the last
// of exactly two), reading and updating binary files and records,
// authentication, PIN commands, refresh, the USAT envelopes and the poll
// timer.
constexpr param_field UICC_STATUS[] = {named(optional(arg_num(3, 0, 1)), "AppType")};
// Application type, file id, offset, data length.
constexpr param_field UICC_READ_BINARY[] = {
    num("APP_TYPE", 0, 1),
    hex("FILE_ID", 1, 4),
    num("OFFSET", 5, 2),
    num("LEN", 7, 2),
};
// Application type, file id, record number, data length.
constexpr param_field UICC_READ_RECORD[] = {
    num("APP_TYPE", 0, 1),
    hex("FILE_ID", 1, 4),
    num("RECORD_INDEX", 5, 1),
    num("LEN", 6, 2),
};
// As the reads, then up to 255 data bytes.
constexpr param_field UICC_UPDATE_BINARY[] = {
    group(0, UICC_READ_BINARY, 9, 1),
    only_if(counted(hex_list("DATA", 9, 255), 7, 2), set<7, 2>),
};
constexpr param_field UICC_UPDATE_RECORD[] = {
    group(0, UICC_READ_RECORD, 8, 1),
    only_if(counted(hex_list("DATA", 8, 255), 6, 2), set<6, 2>),
};
// RAND length 0 and up to 16 bytes 1-16, AUTN length 17 and up to 16
// bytes 18-33, GSM authentication 34.
constexpr param_field UICC_AUTH[] = {
    num("RAND_LEN", 0, 1),
    only_if(counted(hex_list("RAND_DATA", 1, 16), 0, 1), set<0>),
    num("AUTH_LEN", 17, 1),
    only_if(counted(hex_list("AUTH_DATA", 18, 16), 17, 1), set<17>),
    num("GSM_AUTH_SEL", 34, 1),
};
// PIN type 0, command 1, the old and the new PIN from 2 and 11: the digit
// count and up to 8 digits.
constexpr param_field UICC_PIN_DIGIT[] = {num("PIN_CODE_DATA%d", 0, 1)};
constexpr param_field UICC_PIN_CODE[] = {
    num("PIN_CODE_LEN", 0, 1),
    counted_group(1, UICC_PIN_DIGIT, 1, 8, 0, 1, "PIN_CODE_LEN"),
};
constexpr const char* UICC_PIN_CODES[] = {"OLD_", "NEW_"};
constexpr param_field UICC_PIN[] = {
    num("PIN_TYPE", 0, 1),
    num("PIN_CMD", 1, 1),
    prefixed(2, UICC_PIN_CODE, 9, UICC_PIN_CODES),
};
// Refresh mode 0, file list length 1-2 and up to 64 bytes of it 4-67, file
// count 3, AID length 68 and up to 16 bytes 69-84, alpha identifier length
// 85 and up to 64 bytes 86-149, icon id flag 150, text attribute length 151
// and up to 8 bytes 152-159, frame id flag 160 and the frame id 161.
constexpr param_field UICC_REFRESH[] = {
    num("REFRESH_MODE", 0, 1),
    num("FILE_LIST_LEN", 1, 2),
    num("FILE_NUMBER", 3, 1),
    only_if(counted(hex_list("FILE", 4, 64), 1, 2), set<1, 2>),
    num("AID_LEN", 68, 1),
    only_if(counted(hex_list("AID", 69, 16), 68, 1), set<68>),
    num("ALPHA_LEN", 85, 1),
    only_if(counted(hex_list("ALPHA", 86, 64), 85, 1), set<85>),
    num("ICON_ID_EXIST", 150, 1),
    num("TEXT_ATTRIBUTE_LEN", 151, 1),
    only_if(counted(hex_list("TEXT_ATTRIBUTE", 152, 8), 151, 1), set<151>),
    num("FRAME_ID_EXIST", 160, 1),
    only_if(num("FRAME_ID", 161, 1), set<160>),
};
// The 16-bit length and up to 255 bytes.
constexpr param_field UICC_USAT_PROFILE[] = {
    num("LENGTH", 0, 2),
    only_if(counted(hex_list("TERMINAL_PROFILE", 2, 255), 0, 2), set<0, 2>),
};
constexpr param_field UICC_USAT_ENVELOPE[] = {
    num("LENGTH", 0, 2),
    only_if(counted(hex_list("ENVELOPE", 2, 255), 0, 2), set<0, 2>),
};
constexpr param_field UICC_USAT_RESPONSE[] = {
    num("LENGTH", 0, 2),
    only_if(counted(hex_list("TERMINAL_RESPONSE", 2, 255), 0, 2), set<0, 2>),
};
constexpr param_field UICC_POLL_TIMER[] = {num("TIMEUNIT", 0, 1), num("INTERVAL", 1, 1)};

constexpr param_type UICC_TYPE_ROWS[] = {
    type(0, nullptr, UICC_STATUS),
    type(1, filepath_uicc_read_binary, UICC_READ_BINARY, "make_uicc_read_binary_req_param"),
    type(2, filepath_uicc_read_record, UICC_READ_RECORD),
    type(3, filepath_uicc_update_binary, UICC_UPDATE_BINARY),
    type(4, filepath_uicc_update_record, UICC_UPDATE_RECORD),
    type(5, filepath_uicc_authenticate, UICC_AUTH),
    type(6, filepath_uicc_pin_cmd, UICC_PIN),
    type(7, filepath_uicc_fresh, UICC_REFRESH, "make_uicc_fresh_param"),
    type(10, filepath_uicc_fresh, UICC_REFRESH, "make_uicc_fresh_param"),
    type(11, filepath_uicc_usat_terminal_profile, UICC_USAT_PROFILE),
    type(12, filepath_uicc_usat_envelope, UICC_USAT_ENVELOPE),
    type(13, filepath_uicc_usat_terminal_response, UICC_USAT_RESPONSE),
    type(14, filepath_uicc_poll_interval_timer, UICC_POLL_TIMER),
};
constexpr param_composite UICC_TYPES{UICC_TYPE_ROWS, 4, true, "[%-25s] Invalid UICC control request type : %d\n"};

// RRC capability control.
constexpr param_field RRC_CATEGORY[] = {num("CATEGORY", 0, 1)};
constexpr param_field RRC_DLUL_CATEGORY[] = {num("CATEGORYDL", 0, 1), num("CATEGORYUL", 1, 1)};
constexpr param_field RRC_AS_RELEASE[] = {num("AS_REL_NUMBER", 0, 1)};
// Band count, up to 32 bands.
constexpr param_field RRC_BAND_LIST[] = {
    num("BAND_NUM", 0, 1),
    only_if(counted(list("BAND_LIST", 1, 1, ',', 32), 0, 1), set<0>),
};
// Up to 24 FGI bytes, the save-to-NV flag 24.
constexpr param_field RRC_FGI[] = {hex_list("FGI_VALUE", 0, 24), num("SAVE_NV", 24, 1)};
constexpr param_field RRC_ROHC[] = {num("ROHC_CFG", 0, 1)};
constexpr param_field RRC_TRANS_MODE[] = {
    num("TM5_FDD", 0, 1), num("TM5_TDD", 1, 1), num("TM7_FDD", 2, 1), num("TM8_FDD", 3, 1), num("TM8_TDD", 4, 1),
};
constexpr param_field RRC_AUTONOMOUS_GAP[] = {num("AUTONOMOUS_GAP", 0, 1)};
constexpr param_field RRC_PWS[] = {num("PWS_MODE", 0, 1)};
constexpr param_field RRC_CA_CONTROL[] = {
    num("CA_MODE", 0, 1),         num("3GPP_AS_RELEASE_NUMBER", 1, 1), num("BCL_GEN_TYPE", 2, 1),
    num("MAX_DL_CC_COUNT", 3, 1), num("MAX_UL_CC_COUNT", 4, 1),        num("INTRA_BAND_CA_MODE", 5, 1),
};
// Mode (or capability), band count 1, up to 32 bands from 2.
constexpr param_field RRC_QAM[] = {
    num("MODE", 0, 1), num("COUNT", 1, 1), only_if(counted(list("BAND_LIST", 2, 1, ',', 32), 1, 1), set<1>),
};
constexpr param_field RRC_HALF_DUPLEX[] = {
    num("CAPABILITY", 0, 1), num("LISTSIZE", 1, 1), only_if(counted(list("BAND_LIST", 2, 1, ',', 32), 1, 1), set<1>),
};
constexpr param_field RRC_MAX_LAYER[] = {num("DL_MAX_LAYER", 0, 1), num("UL_MAX_LAYER", 1, 1)};
// Count, up to 16 pairs of band and power class.
constexpr param_field RRC_POWER_CLASS_BAND[] = {num("band%d", 0, 1), num("class%d", 1, 1)};
constexpr param_field RRC_POWER_CLASS[] = {
    num("len", 0, 1),
    counted_group(1, RRC_POWER_CLASS_BAND, 2, 16, 0, 1, "len"),
};
// Count, up to 32 bands.
constexpr param_field RRC_DL_ONLY_BAND[] = {num("band%d", 0, 1)};
constexpr param_field RRC_DL_ONLY[] = {num("len", 0, 1), counted_group(1, RRC_DL_ONLY_BAND, 1, 32, 0, 1, "len")};
constexpr param_field RRC_MR_TRIGGER[] = {num("VALUE", 0, 1)};

// The supported frequency ranges: a count byte and up to 8 entries of 9
// bytes (band, start and end EARFCN).
constexpr size_t FREQ_RANGE_MAX = 8;
constexpr size_t FREQ_RANGE_ENTRY = 9;
int make_rrc_set_supported_freq_range_list_param(const make_param_row& row, std::span<uint8_t> value,
                                                 const param_source& src);
// The working CA band combination list, as the file holds it.
constexpr size_t CA_COMBINATION_MAX = 2048;
int make_rrc_ca_band_combination_list_param(const make_param_row& row, std::span<uint8_t> value,
                                            const param_source& src);

constexpr param_type RRC_CAPABILITY_TYPE_ROWS[] = {
    type(1, filepath_rrc_ue_category_set, RRC_CATEGORY),
    type(2, filepath_rrc_ue_dlul_category_set, RRC_DLUL_CATEGORY),
    type(3, filepath_rrc_as_release_number_set, RRC_AS_RELEASE),
    type(4, filepath_rrc_band_list_set, RRC_BAND_LIST),
    type(5, filepath_rrc_capability_fgi_set, RRC_FGI),
    type(6, filepath_rrc_rohc_support_cfg_set, RRC_ROHC),
    type(7, filepath_rrc_trans_mode_set, RRC_TRANS_MODE),
    type(8, filepath_rrc_autonomous_gap_set, RRC_AUTONOMOUS_GAP),
    type(10, filepath_rrc_pws_control_set, RRC_PWS),
    type(11, filepath_rrc_ca_control_set, RRC_CA_CONTROL),
    by_hand_type(15, filepath_rrc_set_supported_freq_range_list, 1 + FREQ_RANGE_MAX * FREQ_RANGE_ENTRY,
                 make_rrc_set_supported_freq_range_list_param),
    by_hand_type(16, filepath_rrc_ca_band_combination_list_working, CA_COMBINATION_MAX,
                 make_rrc_ca_band_combination_list_param),
    type(17, filepath_rrc_set_r12_rf_dl_256qam, RRC_QAM),
    type(18, filepath_rrc_set_r12_rf_ul_64qam, RRC_QAM),
    type(19, filepath_rrc_set_half_duplex_cfg_per_band, RRC_HALF_DUPLEX),
    type(20, filepath_rrc_set_dlul_max_layer_cfg, RRC_MAX_LAYER),
    type(21, filepath_rrc_set_power_class_per_band, RRC_POWER_CLASS),
    type(22, filepath_rrc_set_dl_only_band_list, RRC_DL_ONLY),
    type(23, filepath_rrc_mr_trigger_locked_scell_set, RRC_MR_TRIGGER),
    by_hand_type(24, filepath_rrc_ca_band_combination_list_working, CA_COMBINATION_MAX,
                 make_rrc_ca_band_combination_list_param),
};
constexpr param_composite RRC_CAPABILITY_TYPES{RRC_CAPABILITY_TYPE_ROWS, 4, true,
                                               "[%-25s] Invalid RRC Capability control request type : %d\n"};

// RRC function control.
constexpr param_field RRC_HO_DISABLE[] = {num("HO_DISABLE_FLAG", 0, 1)};
// Cell count, up to 16 EARFCNs 1-64 and 16 PCIs 65-96.
constexpr param_field RRC_LOCK_CELLS[] = {
    num("NUM_CELL", 0, 1),
    only_if(counted(list("EARFCN", 1, 4, ',', 16), 0, 1), set<0>),
    only_if(counted(list("PCI", 65, 2, ',', 16), 0, 1), set<0>),
};
// White and black list counts, then the two lists as text.
constexpr param_field RRC_ECGI_LIST[] = {
    num("WHITE_NUM", 0, 1), num("BLACK_NUM", 1, 1), text("WHITE_LIST", 2, 1024), text("BLACK_LIST", 1026, 1024),
};
// Count, up to 16 entries of band, EARFCN and priority.
constexpr param_field RRC_PREFERRED_BAND[] = {
    traced(num("BAND_%d", 0, 1)), traced(num("EARFCN_%d", 1, 4)), traced(num("PRIORITY_%d", 5, 1)),
};
constexpr param_field RRC_PREFERRED_BANDS[] = {
    num("NUM_LIST", 0, 1),
    counted_group(1, RRC_PREFERRED_BAND, 6, 16, 0, 1, "NUM_LIST"),
};
// Count, up to 16 pairs of DL and UL EARFCN.
constexpr param_field RRC_UL_EARFCN[] = {traced(num("DL_EARFCN_%d", 0, 4)), traced(num("UL_EARFCN_%d", 4, 4))};
constexpr param_field RRC_UL_EARFCNS[] = {
    num("NUM_LIST", 0, 1),
    counted_group(1, RRC_UL_EARFCN, 8, 16, 0, 1, "NUM_LIST"),
};
constexpr param_field RRC_HO_EVENT_PROHIBIT[] = {hex("HO_EVENT_PROHIBIT", 0, 1)};
// Mode, count, up to 16 PCI ranges.
constexpr param_field RRC_PCI_RANGE[] = {num("PCI_START_%d", 0, 2), num("PCI_END_%d", 2, 2)};
constexpr param_field RRC_USER_PCIS[] = {
    num("MODE", 0, 1),
    num("NUM_LIST", 1, 1),
    counted_group(2, RRC_PCI_RANGE, 4, 16, 1, 1, "NUM_LIST"),
};
// Count, up to 16 tracking area codes.
constexpr param_field RRC_TAC[] = {hex("TAC_%d", 0, 2)};
constexpr param_field RRC_USER_TACS[] = {num("NUM_LIST", 0, 1), counted_group(1, RRC_TAC, 2, 16, 0, 1, "NUM_LIST")};
constexpr param_field RRC_IGNORE_CELL_BARRED[] = {num("IGNORE_CELL_BARRED_FLAG", 0, 1)};
constexpr param_field RRC_IGNORE_ACCESS_BARRING[] = {num("IGNORE_ACCESS_BARRING_FLAG", 0, 1)};
// An EARFCN with a PCI range (8 bytes).
constexpr param_field RRC_CELL_RANGE[] = {num("EARFCN_%d", 0, 4), num("PCI_START_%d", 4, 2), num("PCI_END_%d", 6, 2)};
// Mode, count, up to 16 cell ranges.
constexpr param_field RRC_LOCKBLOCK_CELLS[] = {
    num("MODE", 0, 1),
    num("NUM_CELL", 1, 1),
    counted_group(2, RRC_CELL_RANGE, 8, 16, 1, 1, "NUM_CELL"),
};
constexpr param_field RRC_CONTROL_VALUE[] = {num("CONTROL_VALUE", 0, 1)};
// Mode, count, up to 16 EARFCN ranges.
constexpr param_field RRC_FREQ_RANGE[] = {num("FREQ_START_%d", 0, 4), num("FREQ_END_%d", 4, 4)};
constexpr param_field RRC_LOCKED_FREQS[] = {
    num("MODE", 0, 1),
    num("FREQ_LIST", 1, 1),
    counted_group(2, RRC_FREQ_RANGE, 8, 16, 1, 1, "FREQ_LIST"),
};
// Count, up to 16 cell ranges.
constexpr param_field RRC_PREFERRED_CELLS[] = {
    num("CELL_LIST_SIZE", 0, 1),
    counted_group(1, RRC_CELL_RANGE, 8, 16, 0, 1, "CELL_LIST_SIZE"),
};

constexpr param_type RRC_FUNCTION_TYPE_ROWS[] = {
    type(0, filepath_rrc_ho_disable_flag_set, RRC_HO_DISABLE),
    type(1, filepath_rrc_lock_cellist_set, RRC_LOCK_CELLS),
    type(2, filepath_rrc_ecgi_list_set, RRC_ECGI_LIST),
    type(3, filepath_rrc_secondary_lock_cellist_set, RRC_LOCK_CELLS),
    type(4, filepath_rrc_preferred_band_list_set, RRC_PREFERRED_BANDS),
    type(5, filepath_rrc_primary_lock_cellist_set, RRC_LOCK_CELLS),
    type(6, filepath_rrc_ul_earfcn_list_set, RRC_UL_EARFCNS),
    type(7, filepath_rrc_ho_event_prohibit_set, RRC_HO_EVENT_PROHIBIT),
    type(8, filepath_rrc_user_defined_pci_list_set, RRC_USER_PCIS),
    type(9, filepath_rrc_user_defined_tac_list_set, RRC_USER_TACS),
    type(10, filepath_rrc_ignore_cell_barred_flag_set, RRC_IGNORE_CELL_BARRED),
    type(11, filepath_rrc_ignore_access_barring_flag_set, RRC_IGNORE_ACCESS_BARRING),
    type(12, filepath_rrc_lockblock_cell_rng_list_set, RRC_LOCKBLOCK_CELLS),
    type(13, filepath_rrc_idle_inter_freq_measure_control_set, RRC_CONTROL_VALUE),
    type(14, filepath_rrc_locked_freq_range_list_set, RRC_LOCKED_FREQS),
    type(15, filepath_rrc_preferred_cell_list_set, RRC_PREFERRED_CELLS),
    type(16, filepath_rrc_conn_state_neighbor_cell_meas_ctl_set, RRC_CONTROL_VALUE),
};
constexpr param_composite RRC_FUNCTION_TYPES{RRC_FUNCTION_TYPE_ROWS, 4, true,
                                             "[%-25s] Invalid RRC Function control request type : %d\n"};

// PHY function control.
constexpr param_field PHY_HPUE[] = {num("HPUE_ACTIVE_FLAG", 0, 1)};
// DRX duration, EARFCN count, up to 16 EARFCNs.
constexpr param_field PHY_EARFCN[] = {num("EARFCN_%d", 0, 4)};
constexpr param_field PHY_NEIGHBOR_MEASURE[] = {
    num("DRX_DURATION", 0, 1),
    num("DRX_NUM_OF_EARFCN", 1, 1),
    counted_group(2, PHY_EARFCN, 4, 16, 1, 1, "DRX_NUM_OF_EARFCN"),
};
constexpr param_field PHY_MODE[] = {num("MODE", 0, 1)};
constexpr param_field PHY_DM_COLLECT[] = {num("MODE", 0, 1), num("INTERVAL", 1, 2)};

constexpr param_type PHY_FUNCTION_TYPE_ROWS[] = {
    type(0, filepath_phy_hpue_active_flag_set, PHY_HPUE),
    type(1, filepath_phy_neighbor_measure_set, PHY_NEIGHBOR_MEASURE),
    type(3, filepath_phy_act_mode_set, PHY_MODE),
    type(4, filepath_phy_serv_dm_collect_set, PHY_DM_COLLECT),
    type(5, filepath_phy_neigh_dm_collect_set, PHY_DM_COLLECT),
};
constexpr param_composite PHY_FUNCTION_TYPES{PHY_FUNCTION_TYPE_ROWS, 4, true,
                                             "[%-25s] Invalid PHY Function control request type : %d\n"};

// Protocol information from its files (the value follows the type, with
// no length).
constexpr param_field OPT_MODE_INFO[] = {
    num("SELF_CELL_SEARCH", 0, 1), num("SELF_ATTACH", 1, 1), num("OFFLINE_INCLUDE_DETACH", 2, 1),
};
constexpr param_field IMS_SMS_INFO[] = {
    num("SMS_FORMAT", 0, 1), num("SMS_WRITE_UICC", 1, 1), num("IMS_TEST_MODE", 2, 1), num("SMS_OPVERIP_NET_IND", 3, 1),
};
// One APN entry (210 bytes): enabled 0, class 1, PDN label 2-11, network
// identifier 12-75, PDN type 76, IP allocation 77, RAT 78, authentication
// 79, inactivity timer 80-81, user name 82-145, password 146-209.
constexpr param_field APN_TABLE_ENTRY[] = {
    num("ENABLED_%d", 0, 1),   num("CL_%d", 1, 1),          text("PDN_LABEL_%d", 2, 10), text("NI_%d", 12, 64),
    num("PDN_TYPE_%d", 76, 1), num("IP_ALLOC_%d", 77, 1),   num("RAT_TYPE_%d", 78, 1),   num("AUTH_TYPE_%d", 79, 1),
    num("INACT_TIMER_%d", 80, 2), text("USERNAME_%d", 82, 64), text("PASSWORD_%d", 146, 64),
};
constexpr size_t APN_TABLE_ENTRY_SIZE = 210;
constexpr uint16_t APN_TABLE_MAX = 8;
// The entry count, then the entries the file has from 0 on.
constexpr param_field APN_TABLE_INFO[] = {
    present_group(1, APN_TABLE_ENTRY, APN_TABLE_ENTRY_SIZE, APN_TABLE_MAX, true, 0),
};
// The interval count, then up to 5 entries of interval (2) and count
// (signed, 4).
constexpr param_field PLS_ENTRY[] = {traced(num("INTERVAL_%d", 0, 2)), traced(snum("COUNT_%d", 2, 4))};
constexpr param_field PLS_INFO[] = {present_group(1, PLS_ENTRY, 6, 5, true, 0)};
// The configured operator's code, then the antenna test block of the
// operator that has one: mode, IPv4 address, port, auto launch and local
// storage flags (make_vzw_opt).
constexpr size_t VZW_INFO_SIZE = 10;
constexpr param_field VZW_INFO[] = {
    num("ANT_TEST_MODE", 1, 1),
    list("ANT_TEST_IP_ADDR", 2, 1, ',', 4),
    num("ANT_TEST_PORT", 6, 2),
    num("ANT_TEST_AUTO_LAUNCH", 8, 1),
    num("ANT_TEST_LOCAL_STORAGE", 9, 1),
};
int make_vzw_opt(const make_param_row& row, std::span<uint8_t> value, const param_source& src);
// The 15 IMEI digits.
constexpr param_field IMEI_DIGIT[] = {num("%02dst_digit", 0, 1)};
constexpr param_field IMEI_INFO[] = {group(0, IMEI_DIGIT, 1, 15)};
constexpr param_field DRX_INFO[] = {num("DRX_VAL", 0, 1), num("NON_DRX_TIMER", 1, 1)};
constexpr param_field SW_VER_INFO[] = {num("SWVERSION", 0, 1)};

constexpr param_type SET_PROTOCOL_INFO_TYPE_ROWS[] = {
    type(0, filepath_opt_mode, OPT_MODE_INFO, "make_opt_mode_info"),
    type(1, filepath_ims_sms, IMS_SMS_INFO, "make_ims_sms_info"),
    type(2, filepath_apn_table, APN_TABLE_INFO, "make_apn_table_info"),
    type(4, filepath_pls_info, PLS_INFO, "make_pls_info"),
    by_hand_type(5, filepath_vzw_sp, VZW_INFO_SIZE, make_vzw_opt),
    type(6, filepath_imei_info, IMEI_INFO, "make_imei_info"),
    type(7, filepath_drx_info, DRX_INFO, "make_drx_info"),
    type(8, filepath_sw_ver, SW_VER_INFO, "make_sw_ver"),
};
constexpr param_composite SET_PROTOCOL_INFO_TYPES{SET_PROTOCOL_INFO_TYPE_ROWS, 2, false,
                                                  "[%-25s] Invalid Set Protocol Info request type : %d\n", false};

// ---- The generic filler ------------------------------------------------

// Where the filler is: the prefix and the numbers of the elements of the
// groups it is in, which make a field's tag from its format.
struct element {
    const char* prefix = "";
    int number[2] = {0, 0};
    size_t depth = 0;

    element inner(const param_field& group, size_t i) const
    {
        element e = *this;
        if (!group.prefixes.empty()) {
            e.prefix = group.prefixes[i];
        } else if (e.depth < std::size(e.number)) {
            e.number[e.depth++] = static_cast<int>(i);
        }
        return e;
    }
};

struct tag_text {
    char text[128];
};

tag_text tag_of(const char* format, const element& e)
{
    char body[96];
    if (e.depth)
        std::snprintf(body, sizeof body, format, e.number[0], e.number[1]);
    else
        std::snprintf(body, sizeof body, "%s", format);
    tag_text t;
    std::snprintf(t.text, sizeof t.text, "%s%s", e.prefix, body);
    return t;
}

// The low `width` bytes of `v` at `off`, big-endian.
void store_uint(std::span<uint8_t> rec, size_t off, size_t width, uint32_t v)
{
    if (width == 1)
        rec[off] = static_cast<uint8_t>(v);
    else if (width == 2)
        store_be16(rec.data() + off, static_cast<uint16_t>(v));
    else
        store_be32(rec.data() + off, v);
}

void invalid_parameter(const char* name, const char* path, const char* tag, const char* tail = "")
{
    cm_printf(CM_ERR, "[%-25s] Invalid parameter %s[%s]%s\n", name, path, tag, tail);
}

const char* arg_at(const param_source& src, int i)
{
    return src.args && i >= 0 && i < src.args->count ? src.args->arg[i] : nullptr;
}

// An argument that cannot be read: "Invalid #N parameter" (or the
// argument's label), spelt "Invalid" for every builder; the daemon's tools
// match the one spelling.
bool read_arg(const char* name, const param_field& f, std::span<uint8_t> rec, std::span<uint8_t> dest,
              const param_source& src)
{
    const int i = f.arg - 2;
    const int given = src.args ? src.args->count : 0;
    if (f.optional && given != i + 1)
        return true;
    if (f.kind == param_read_kind::list) {
        size_t n = 0;
        for (int a = i; a < given; ++a, ++n) {
            const char* text = arg_at(src, a);
            if (n == f.max || !text || add_param_input(0, f.width, dest.subspan(n * f.width), text) != 0) {
                cm_printf(CM_ERR, "[%-25s] Invalid #%d parameter\n", name, a + 2);
                return false;
            }
        }
        store_uint(rec, f.count_off, f.count_width, static_cast<uint32_t>(n));
        return true;
    }
    const char* text = arg_at(src, i);
    const bool ok = text && (f.kind == param_read_kind::text ? add_param_st_input(dest, text, f.max) == 0
                                                             : add_param_input(f.is_signed, f.width, dest, text) == 0);
    if (!ok) {
        if (f.label)
            cm_printf(CM_ERR, "[%-25s] Invalid %s parameter\n", name, f.label);
        else
            cm_printf(CM_ERR, "[%-25s] Invalid #%d parameter\n", name, f.arg);
    }
    return ok;
}

bool read_tag(const char* name, const param_field& f, std::span<uint8_t> rec, std::span<uint8_t> dest,
              const char* path, const char* tag)
{
    size_t max = f.max;
    if (f.count_width)
        max = std::min<size_t>(max, record_uint(rec, f.count_off, f.count_width));
    int rc = -1;
    switch (f.kind) {
    case param_read_kind::num:
        rc = f.is_signed ? add_signed_param_file(path, tag, f.width, dest) : add_param_file(path, tag, f.width, dest);
        break;
    case param_read_kind::hex:
        rc = add_hexparam_file(path, tag, f.width, dest);
        break;
    case param_read_kind::text:
        if (f.replaces && check_exist_param(path, tag) == 1)
            std::fill(dest.begin(), dest.end(), uint8_t{0});
        rc = add_param_st_file(path, tag, dest, f.max);
        break;
    case param_read_kind::bits:
        rc = add_bit_param_file(path, tag, 1, f.sep, max, dest);
        break;
    case param_read_kind::list:
        rc = add_separate_param_file(path, tag, f.width, f.sep, max, dest);
        break;
    case param_read_kind::hex_list:
        rc = add_separate_hexparam_file(path, tag, 1, f.sep, max, dest);
        break;
    case param_read_kind::group:
        break;
    }
    if (rc < 0)
        invalid_parameter(name, path, f.label ? f.label : tag, f.tail);
    return rc >= 0;
}

bool tag_exists(const char* path, const char* tag) { return path && check_exist_param(path, tag) == 1; }

int fill_fields(const char* name, param_fields fields, std::span<uint8_t> rec, const param_source& src,
                const element& at = {});

bool read_group(const char* name, const param_field& f, std::span<uint8_t> rec, const param_source& src,
                const element& at)
{
    size_t n = f.prefixes.empty() ? f.max : f.prefixes.size();
    if (f.optional) {
        n = 0;
        while (n < f.max && tag_exists(src.path, tag_of(f.sub.front().tag, at.inner(f, n)).text))
            ++n;
        if (f.count_width)
            store_uint(rec, f.count_off, f.count_width, static_cast<uint32_t>(n));
    } else if (f.count_width) {
        n = record_uint(rec, f.count_off, f.count_width);
        if (n > f.max) {
            invalid_parameter(name, src.path ? src.path : "", tag_of(f.label, at).text);
            return false;
        }
    }
    for (size_t i = 0; i < n; ++i)
        if (fill_fields(name, f.sub, rec.subspan(f.off + i * f.stride, f.stride), src, at.inner(f, i)) != 0)
            return false;
    return true;
}

// The number field `f` holds in `rec`, as its width and signedness read it.
int64_t stored_number(const param_field& f, std::span<const uint8_t> rec)
{
    uint64_t v = 0;
    for (size_t i = 0; i < f.width; ++i)
        v = v << 8 | rec[f.off + i];
    const size_t bits = 8 * f.width;
    if (f.is_signed && bits < 64 && (v >> (bits - 1)) & 1)
        v |= ~uint64_t{0} << bits;
    return static_cast<int64_t>(v);
}

int fill_fields(const char* name, param_fields fields, std::span<uint8_t> rec, const param_source& src,
                const element& at)
{
    for (const param_field& f : fields) {
        if (f.when && !f.when(rec))
            continue;
        bool ok = false;
        if (f.kind == param_read_kind::group) {
            ok = read_group(name, f, rec, src, at);
        } else if (!f.tag) {
            ok = read_arg(name, f, rec, rec.subspan(f.off, field_span(f)), src);
        } else {
            const tag_text tag = tag_of(f.tag, at);
            if (f.optional && !tag_exists(src.path, tag.text))
                continue;
            ok = src.path && read_tag(name, f, rec, rec.subspan(f.off, field_span(f)), src.path, tag.text);
            if (ok && f.trace)
                cm_printf(CM_INFO, "[TEST_LOG] %s \n", std::to_string(stored_number(f, rec)).c_str());
        }
        if (!ok)
            return -1;
        if (f.flag >= 0)
            rec[static_cast<size_t>(f.flag)] = 1;
    }
    return 0;
}

int fill_row(const make_param_row& row, std::span<uint8_t> rec, const param_source& src)
{
    return fill_fields(row.name, row.fields, rec, src);
}

// A composite: the type from the first argument picks the row whose file
// and fields fill the value; a type between two rows is not built yet.
int fill_composite(const make_param_row& row, std::span<uint8_t> rec, const param_source& src)
{
    static constexpr param_field TYPE_FIELD[] = {arg_num(2, 0, 2)};
    const param_composite& c = *row.composite;
    if (fill_fields(row.name, TYPE_FIELD, rec, src) != 0)
        return -1;
    const uint16_t t = load_be16(rec.data());
    const auto it = std::find_if(c.types.begin(), c.types.end(), [t](const param_type& p) { return p.type == t; });
    if (it == c.types.end()) {
        if (c.gaps_not_yet && t > c.types.front().type && t < c.types.back().type)
            return PARAM_NOT_YET;
        cm_printf(CM_ERR, c.type_message, row.name, t);
        return -1;
    }
    const std::span<uint8_t> value = rec.subspan(c.value_off, it->size);
    const param_source sub{it->file, src.args};
    int len = static_cast<int>(it->size);
    if (it->hand)
        len = it->hand(row, value, sub);
    else if (fill_fields(it->name ? it->name : row.name, it->fields, value, sub) != 0)
        len = -1;
    if (len < 0)
        return -1;
    if (c.has_len)
        store_be16(rec.data() + 2, static_cast<uint16_t>(len));
    return 0;
}

// ---- Hand-written builders ---------------------------------------------

// The six bytes of "aa-bb-cc-dd-ee-ff".
int make_change_mac_address_req_param(const make_param_row& row, std::span<uint8_t> rec, const param_source& src)
{
    const char* text = arg_at(src, 0);
    if (!text || std::strlen(text) != 17 || get_mac_address(text, rec.first<6>()) != 0) {
        cm_printf(CM_ERR, "[%-25s] Invalid #2 parameter\n", row.name);
        return -1;
    }
    return 0;
}

// The IMEI of 14 or 15 digits, completed with its check digit, as a mobile
// identity: length 8, the first digit with the type nibble 0xA, then the
// later digits in pairs, the later digit of each pair in the high nibble.
int make_change_imei_req_param(const make_param_row& row, std::span<uint8_t> rec, const param_source& src)
{
    const char* text = arg_at(src, 0);
    const size_t len = text ? std::strlen(text) : 0;
    if (len != 14 && len != 15) {
        cm_printf(CM_ERR, "[%-25s] make_change_imei_req_param argument length err\n", row.name);
        return -1;
    }
    std::array<uint8_t, 15> digits{};
    if (get_imei(text, len, digits) != 0) {
        cm_printf(CM_ERR, "[%-25s] get_imei error\n", row.name);
        return -1;
    }
    if (!is_valid_imei(digits, len)) {
        cm_printf(CM_ERR, "[%-25s] !check_digit_valid\n", row.name);
        return -1;
    }
    rec[0] = 8;
    rec[1] = static_cast<uint8_t>(digits[0] << 4 | 0xA);
    for (size_t i = 0; i < 7; ++i)
        rec[2 + i] = static_cast<uint8_t>(digits[2 + 2 * i] << 4 | digits[1 + 2 * i]);
    return 0;
}

constexpr multi_set_slot slot(const char* s)
{
    multi_set_slot out{};
    for (size_t i = 0; s[i] && i + 1 < out.size(); ++i)
        out[i] = s[i];
    return out;
}

// Sets of BAND, START_EARFCN and END_EARFCN (multiSetTagParser), each an
// entry of the band and the two EARFCNs (4 bytes each) after the count
// byte; the length is 1 + 9 x count. The count byte is written only for
// 1 to 8 sets: with more, the list holds the first 8 entries (all there is
// room for) under a count byte left at 0, and the length word still says
// 1 + 9 x count; the request sent is that list of no entries.
int make_rrc_set_supported_freq_range_list_param(const make_param_row&, std::span<uint8_t> value,
                                                 const param_source& src)
{
    static constexpr std::array<multi_set_slot, 3> TAGS = {slot("BAND"), slot("START_EARFCN"), slot("END_EARFCN")};
    const unique_file f(std::fopen(cnxd_sysroot_path(src.path).c_str(), "r"));
    if (!f) {
        cm_printf(CM_ERR, "[%-25s] %s: Param File Open Error.\n", __func__, src.path);
        return -1;
    }
    std::array<multi_set_slot, 3> values{};
    std::array<uint8_t, FREQ_RANGE_MAX * FREQ_RANGE_ENTRY> entries{};
    size_t count = 0;
    for (int rc; (rc = multiSetTagParser(f.get(), TAGS, values, TAGS.size())) != -1; ++count) {
        std::array<uint8_t, FREQ_RANGE_ENTRY> e{};
        const std::span<uint8_t> entry(e);
        if (rc != 0 || add_param_input(0, 1, entry.first(1), values[0].data()) != 0 ||
            add_param_input(0, 4, entry.subspan(1, 4), values[1].data()) != 0 ||
            add_param_input(0, 4, entry.subspan(5, 4), values[2].data()) != 0) {
            cm_printf(CM_ERR, "[%-25s] %s: Check Tag name and Value in param file.\n", __func__, src.path);
            return -1;
        }
        if (count < FREQ_RANGE_MAX)
            std::copy(e.begin(), e.end(), entries.begin() + static_cast<std::ptrdiff_t>(count * FREQ_RANGE_ENTRY));
    }
    if (count == 0) {
        cm_printf(CM_ERR, "[%-25s] %s: No tags, No value in param file.\n", __func__, src.path);
        return -1;
    }
    if (count <= FREQ_RANGE_MAX)
        value[0] = static_cast<uint8_t>(count);
    std::copy_n(entries.begin(), std::min(count, FREQ_RANGE_MAX) * FREQ_RANGE_ENTRY, value.begin() + 1);
    return static_cast<int>(std::min<size_t>(1 + count * FREQ_RANGE_ENTRY, UINT16_MAX));
}

// The working CA band combination list, whole, on a model that supports
// CA; the length is the file's.
int make_rrc_ca_band_combination_list_param(const make_param_row& row, std::span<uint8_t> value,
                                            const param_source& src)
{
    if (ca_support_check() != 0) {
        cm_printf(CM_ERR, "[%-25s] This model doesn't support CA !!!!\n", row.name);
        return -1;
    }
    const unique_file f(std::fopen(cnxd_sysroot_path(src.path).c_str(), "rb"));
    const size_t n = f ? std::fread(value.data(), 1, value.size(), f.get()) : 0;
    if (n == 0 || std::fgetc(f.get()) != EOF) {
        cm_printf(CM_ERR, "[%-25s] %s: File Format Error.\n", __func__, src.path);
        return -1;
    }
    return static_cast<int>(n);
}

// The operator information: only the configured operator that has an
// antenna test block has one to send; its code goes first.
int make_vzw_opt(const make_param_row&, std::span<uint8_t> value, const param_source& src)
{
    const int32_t op = g_operator;
    if (op != OPERATOR_VZW) {
        cm_printf(CM_ERR, "There is no operator specific inforamtion\n");
        return -1;
    }
    value[0] = static_cast<uint8_t>(op);
    return fill_fields(__func__, VZW_INFO, value, src) == 0 ? static_cast<int>(VZW_INFO_SIZE) : -1;
}

// ---- The table ---------------------------------------------------------

struct how {
    param_fields fields;
    const param_composite* composite;
    param_builder body;
};
constexpr how by_fields(param_fields f) { return {f, nullptr, fill_row}; }
constexpr how by_hand(param_builder fn) { return {{}, nullptr, fn}; }
constexpr how by_type(const param_composite& c) { return {{}, &c, fill_composite}; }

constexpr make_param_row row(int kind, const char* name, const char* file, size_t size, int check, how h)
{
    return {kind, name, file, size, check, h.fields, h.composite, h.body};
}

// Every field lies inside its record; a composite's types rise and each
// value fits after the type (and length).
constexpr bool row_fits(const make_param_row& r)
{
    if (!r.composite)
        return fields_fit(r.fields, r.size);
    const param_composite& c = *r.composite;
    for (size_t i = 0; i < c.types.size(); ++i) {
        const param_type& t = c.types[i];
        if ((i && t.type <= c.types[i - 1].type) || c.value_off + t.size > r.size ||
            (!t.hand && !fields_fit(t.fields, t.size)))
            return false;
    }
    return !c.types.empty();
}

}  // namespace

constexpr std::array<make_param_row, MAKE_PARAMETER_COUNT> make_parameter = {{
#define MAKE_PARAM(kind, builder, file, size, check, how) row(kind, #builder, file, size, check, how),
#define PARAM_CHECK(kind, check, ranges)
#include "param/param.def"
}};

namespace {
constexpr bool rows_ok()
{
    for (size_t i = 0; i < make_parameter.size(); ++i)
        if (make_parameter[i].kind != static_cast<int>(i) || !row_fits(make_parameter[i]) ||
            make_parameter[i].check >= static_cast<int>(PARAMETER_CHECK_COUNT))
            return false;
    return true;
}
static_assert(rows_ok(), "builder rows are numbered 0 to 48 in order, name checks that exist, and their fields fit");
}  // namespace

int param_make(size_t kind, std::span<uint8_t> rec, const param_source& src)
{
    if (kind >= make_parameter.size())
        return -1;
    const make_param_row& r = make_parameter[kind];
    if (rec.size() < r.size)
        return -1;
    rec = rec.first(r.size);
    std::fill(rec.begin(), rec.end(), uint8_t{0});
    return r.body(r, rec, src);
}

int ca_support_check()
{
    const unique_file f(std::fopen(cnxd_sysroot_path(filepath_rrc_ca_band_combination_list_working).c_str(), "rb"));
    if (!f)
        return -1;
    std::array<uint8_t, 5> head{};
    std::array<uint8_t, 12> info{};
    std::array<uint8_t, 32> block{};
    if (std::fread(head.data(), 1, head.size(), f.get()) != head.size() || head[4] != 0xFF ||
        std::fread(info.data(), 1, info.size(), f.get()) != info.size())
        return -1;
    const size_t count = info[11] + size_t{1};
    if (count > block.size() || std::fread(block.data(), 1, count, f.get()) != count)
        return -1;
    return block[count - 1] == 0xFF ? 0 : -1;
}

}  // namespace cnxd
