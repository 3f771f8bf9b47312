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

template <size_t Off, uint8_t V>
bool is(std::span<const uint8_t> r)
{
    return Off < r.size() && r[Off] == V;
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
    range(0, 1, 0, 2, "[%-25s] Unknown PDN Connect Request Type : %d (PDN Connect Request Type : 0 ~ 2)\n"),
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

int check_ranges(const param_check_row& row, std::span<const uint8_t> rec)
{
    for (const param_range& r : row.ranges) {
        if (r.when && !r.when(rec))
            continue;
        const int64_t v = field_value(rec, r.off, r.width, r.is_signed);
        if (v < r.lo || v > r.hi) {
            cm_printf(CM_ERR, r.message, row.name, static_cast<int>(v));
            return -1;
        }
        if (r.last_if_zero && v == 0)
            return 0;
    }
    return 0;
}

// The image type (16 bits at 128) names one of the images there are.
int firmware_download_req_param_check(const param_check_row& row, std::span<const uint8_t> rec)
{
    constexpr uint16_t IMAGE_TYPES[] = {0, 1, 2, 4, 5};
    const auto type = static_cast<uint16_t>(record_uint(rec, 128, 2));
    if (std::find(std::begin(IMAGE_TYPES), std::end(IMAGE_TYPES), type) != std::end(IMAGE_TYPES))
        return 0;
    cm_printf(CM_ERR, "[%-25s] Unknown Binary Donwload Type : %d\n", row.name, type);
    return -1;
}

struct how {
    std::span<const param_range> ranges;
    param_checker hand;
    bool built;
};
constexpr how by_fields(std::span<const param_range> r) { return {r, nullptr, true}; }
constexpr how by_hand(param_checker fn) { return {{}, fn, true}; }
constexpr how not_built{{}, nullptr, false};

constexpr param_check_row row(int kind, const char* name, how h) { return {kind, name, h.ranges, h.hand, h.built}; }

}  // namespace

constexpr std::array<param_check_row, PARAMETER_CHECK_COUNT> parameter_check = {{
#define MAKE_PARAM(kind, builder, file, size, how)
#define PARAM_CHECK(kind, check, how) row(kind, #check, how),
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
    if (!r.built)
        return PARAM_NOT_BUILT;
    return r.hand ? r.hand(r, rec) : check_ranges(r, rec);
}

}  // namespace cnxd
