// The request builders: the field tables of param.def's rows, the generic
// filler that reads them, and the builders written by hand.
#include <algorithm>
#include <cstring>

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
    default:
        return f.width * f.max;
    }
}

// ---- Predicates on the record filled so far ----------------------------

template <size_t Off>
bool set(std::span<const uint8_t> r)
{
    return Off < r.size() && r[Off] != 0;
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

// Loop type, transfer type, loop count, packet size.
constexpr param_field LOOPBACK_FIELDS[] = {arg_num(2, 0, 1), arg_num(3, 1, 1), arg_num(4, 2, 4), arg_num(5, 6, 4)};

// File path (128 bytes), image type; the handler sets the device index
// word at 132.
constexpr param_field FIRMWARE_DOWNLOAD_FIELDS[] = {arg_text(3, 0, 128), arg_num(2, 128, 2)};

// Log id, command, interval, count.
constexpr param_field DM_LOG_READ_FIELDS[] = {arg_num(2, 0, 2), arg_num(3, 2, 1), arg_num(4, 3, 1), arg_num(5, 4, 1)};

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

constexpr param_field PLMN_SEARCH_FIELDS[] = {
    num("search_mode", 0, 1), list("MCC", 1, 1, ',', 3),        list("MNC", 4, 1, ',', 3),
    num("emergency_mode", 7, 1), num("roaming_option", 8, 1),
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

// ---- The generic filler ------------------------------------------------

bool read_arg(const char* name, const param_field& f, std::span<uint8_t> dest, const param_source& src)
{
    const int i = f.arg - 2;
    const bool there = src.args && i >= 0 && i < src.args->count && src.args->arg[i];
    const bool ok = there && (f.kind == param_read_kind::text
                                  ? add_param_st_input(dest, src.args->arg[i], f.max) == 0
                                  : add_param_input(f.is_signed, f.width, dest, src.args->arg[i]) == 0);
    if (!ok)
        cm_printf(CM_ERR, "[%-25s] Invalid #%d parameter\n", name, f.arg);
    return ok;
}

bool read_tag(const char* name, const param_field& f, std::span<uint8_t> rec, std::span<uint8_t> dest,
              const char* path)
{
    size_t max = f.max;
    if (f.count_width)
        max = std::min<size_t>(max, record_uint(rec, f.count_off, f.count_width));
    int rc = -1;
    switch (f.kind) {
    case param_read_kind::num:
        rc = f.is_signed ? add_signed_param_file(path, f.tag, f.width, dest)
                         : add_param_file(path, f.tag, f.width, dest);
        break;
    case param_read_kind::hex:
        rc = add_hexparam_file(path, f.tag, f.width, dest);
        break;
    case param_read_kind::text:
        if (f.replaces && check_exist_param(path, f.tag) == 1)
            std::fill(dest.begin(), dest.end(), uint8_t{0});
        rc = add_param_st_file(path, f.tag, dest, f.max);
        break;
    case param_read_kind::bits:
        rc = add_bit_param_file(path, f.tag, 1, f.sep, max, dest);
        break;
    case param_read_kind::list:
        rc = add_separate_param_file(path, f.tag, f.width, f.sep, max, dest);
        break;
    case param_read_kind::hex_list:
        rc = add_separate_hexparam_file(path, f.tag, 1, f.sep, max, dest);
        break;
    }
    if (rc < 0)
        cm_printf(CM_ERR, "[%-25s] Invalid parameter %s[%s]\n", name, path, f.label ? f.label : f.tag);
    return rc >= 0;
}

int fill_fields(const make_param_row& row, std::span<uint8_t> rec, const param_source& src)
{
    for (const param_field& f : row.fields) {
        if (f.when && !f.when(rec))
            continue;
        const auto dest = rec.subspan(f.off, field_span(f));
        const bool ok = f.tag ? src.path && read_tag(row.name, f, rec, dest, src.path) : read_arg(row.name, f, dest, src);
        if (!ok)
            return -1;
    }
    return 0;
}

// ---- Hand-written builders ---------------------------------------------

const char* first_arg(const param_source& src)
{
    return src.args && src.args->count > 0 ? src.args->arg[0] : nullptr;
}

// The six bytes of "aa-bb-cc-dd-ee-ff".
int make_change_mac_address_req_param(const make_param_row& row, std::span<uint8_t> rec, const param_source& src)
{
    const char* text = first_arg(src);
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
    const char* text = first_arg(src);
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

// ---- The table ---------------------------------------------------------

struct how {
    std::span<const param_field> fields;
    param_builder hand;
    bool built;
};
constexpr how by_fields(std::span<const param_field> f) { return {f, nullptr, true}; }
constexpr how by_hand(param_builder fn) { return {{}, fn, true}; }
constexpr how not_built{{}, nullptr, false};

constexpr make_param_row row(int kind, const char* name, const char* file, size_t size, how h)
{
    return {kind, name, file, size, h.fields, h.hand, h.built};
}

// Every field lies inside its record.
constexpr bool fields_fit(const make_param_row& r)
{
    return std::all_of(r.fields.begin(), r.fields.end(),
                       [&](const param_field& f) { return f.off + field_span(f) <= r.size; });
}

}  // namespace

constexpr std::array<make_param_row, MAKE_PARAMETER_COUNT> make_parameter = {{
#define MAKE_PARAM(kind, builder, file, size, how) row(kind, #builder, file, size, how),
#define PARAM_CHECK(kind, check, how)
#include "param/param.def"
}};

namespace {
constexpr bool rows_ok()
{
    for (size_t i = 0; i < make_parameter.size(); ++i)
        if (make_parameter[i].kind != static_cast<int>(i) || !fields_fit(make_parameter[i]))
            return false;
    return true;
}
static_assert(rows_ok(), "builder rows are numbered 0 to 48 in order and their fields fit their records");
}  // namespace

int param_make(size_t kind, std::span<uint8_t> rec, const param_source& src)
{
    if (kind >= make_parameter.size())
        return -1;
    const make_param_row& r = make_parameter[kind];
    if (!r.built)
        return PARAM_NOT_BUILT;
    if (rec.size() < r.size)
        return -1;
    rec = rec.first(r.size);
    std::fill(rec.begin(), rec.end(), uint8_t{0});
    return r.hand ? r.hand(r, rec, src) : fill_fields(r, rec, src);
}

}  // namespace cnxd
