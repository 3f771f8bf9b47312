// Bodies of the detach and PDN connection answers, which keep the count of
// open ADMIN PDN connections while the store's operator code is 7, and of
// the network time, which sets the router's clock and time zone.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "base/be.h"
#include "base/platform_call.h"
#include "base/record.h"
#include "base/shell.h"
#include "config/confdb_access.h"
#include "ind/admin_pdn_count.h"
#include "ind/ind_body.h"
#include "ind/ind_watchdog.h"
#include "ltesdk.h"
#include "server/delivery.h"

namespace cnxd {
namespace {

constexpr uint32_t APN_TYPE_ADMIN = 2;

// The head the detach and PDN answers share: a 16-bit result and two
// 16-bit causes; the PDN answers then carry the default EPS bearer id.
constexpr size_t RSP_RESULT = 0;
constexpr size_t RSP_EPS_ID = 6;

constexpr record_field DETACH_TBL[] = {
    rec::num("result", RSP_RESULT, 2),
    rec::num("Deregister Cause1", 2, 2),
    rec::num("Deregister Cause2", 4, 2),
};
constexpr record_field PDN_CONN_TBL[] = {
    rec::num("Result", RSP_RESULT, 2),
    rec::num("RejectCause1", 2, 2),
    rec::num("RejectCause2", 4, 2),
    rec::num("Default EPS ID", RSP_EPS_ID, 2),
};
constexpr record_field PDN_DISCONN_TBL[] = {
    rec::num("Result", RSP_RESULT, 2),
    rec::num("RejectCause1", 2, 2),
    rec::num("RejectCause2", 4, 2),
    rec::num("Default EPS ID", RSP_EPS_ID, 2),
};

// Results of a PDN disconnect answer that close the PDN.
constexpr uint16_t DISCONNECTED[] = {101, 107, 108, 0xFFFF};

bool counts_admin(std::span<const uint8_t> rec)
{
    return g_operator == OPERATOR_SPRINT &&
           getApnTypeByDefEPSid(static_cast<uint16_t>(load_be16(rec, RSP_EPS_ID))) == APN_TYPE_ADMIN;
}

// ---- Network time ----------------------------------------------------------

// The network time record: two names with their lengths, then the zones
// and the time, each a byte (the zones signed, in quarter hours).
constexpr size_t NT_FULL_LEN = 0;
constexpr size_t NT_FULL_NAME = 1;
constexpr size_t NT_SHORT_LEN = 256;
constexpr size_t NT_SHORT_NAME = 257;
constexpr size_t NT_NAME_SIZE = 255;
constexpr size_t NT_LOCAL_TZ_FLAG = 512;
constexpr size_t NT_LOCAL_TZ = 513;
constexpr size_t NT_UNIVERSAL_TZ_FLAG = 514;
constexpr size_t NT_YEAR = 515;  // years since 2000
constexpr size_t NT_MONTH = 516;
constexpr size_t NT_DAY = 517;
constexpr size_t NT_HOUR = 518;
constexpr size_t NT_MINUTE = 519;
constexpr size_t NT_SECOND = 520;
constexpr size_t NT_TZ = 521;
constexpr size_t NT_DST_FLAG = 522;
constexpr size_t NT_DST = 523;

constexpr record_field NETWORK_TIME_TBL[] = {
    rec::num("Full Name Len", NT_FULL_LEN, 1),
    rec::text("Full Name", NT_FULL_NAME, NT_NAME_SIZE).with_count(NT_FULL_LEN, 1),
    rec::num("Short Name Len", NT_SHORT_LEN, 1),
    rec::text("Short Name", NT_SHORT_NAME, NT_NAME_SIZE).with_count(NT_SHORT_LEN, 1),
    rec::num("Local Time Zone Flag", NT_LOCAL_TZ_FLAG, 1),
    rec::snum("Local Time Zone", NT_LOCAL_TZ, 1),
    rec::num("Universal Time Zone Flag", NT_UNIVERSAL_TZ_FLAG, 1).with_pad(0, ": "),
    rec::num("Year", NT_YEAR, 1),
    rec::num("Month", NT_MONTH, 1),
    rec::num("Day", NT_DAY, 1),
    rec::num("Hour", NT_HOUR, 1),
    rec::num("Minute", NT_MINUTE, 1),
    rec::num("Second", NT_SECOND, 1),
    rec::snum("Timezone", NT_TZ, 1),
    rec::num("Daylight Saving Time Flag", NT_DST_FLAG, 1),
    rec::num("Daylight Saving Time", NT_DST, 1),
};

constexpr int SECONDS_PER_QUARTER_HOUR = 900;

int store_number(const char* node, const char* key)
{
    confdb_value v{};
    CNXD_GetConfdbValue(node, key, v);
    return std::atoi(v.data());
}

// Sets the clock and the zone file from the record's time, and the store's
// zone (in hours) when it changed.
void set_network_time(std::span<const uint8_t> rec)
{
    const auto byte = [&](size_t off) { return off < rec.size() ? rec[off] : uint8_t{0}; };
    const auto sbyte = [&](size_t off) { return static_cast<int8_t>(byte(off)); };
    tm t{};
    t.tm_year = byte(NT_YEAR) + 100;
    t.tm_mon = byte(NT_MONTH) - 1;
    t.tm_mday = byte(NT_DAY);
    t.tm_hour = byte(NT_HOUR);
    t.tm_min = byte(NT_MINUTE);
    t.tm_sec = byte(NT_SECOND);
    t.tm_isdst = byte(NT_DST_FLAG) && byte(NT_DST) ? 1 : 0;
    time_t when = mktime(&t);
    int zone = 0;
    if (byte(NT_UNIVERSAL_TZ_FLAG) && sbyte(NT_TZ)) {
        zone = sbyte(NT_TZ);
        when += SECONDS_PER_QUARTER_HOUR * zone;
    } else if (byte(NT_LOCAL_TZ_FLAG) && sbyte(NT_LOCAL_TZ)) {
        zone = sbyte(NT_TZ);
        when += SECONDS_PER_QUARTER_HOUR * sbyte(NT_LOCAL_TZ);
    }
    char cmd[128];
    std::snprintf(cmd, sizeof cmd, "echo %d > /var/tmp/timezone", zone);
    cnxd_system(cmd);
    platform_set_clock(when);
    const int stored = store_number("config system_time", "TIMEZONE");
    cnxd_srv_send_log("Stored SYSTEM TIME TIMEZONE = %d\n", stored);
    if (stored * 4 != zone) {
        std::snprintf(cmd, sizeof cmd, "%s %s %s %d", "confdb set", "config system_time", "TIMEZONE", zone / 4);
        cnxd_srv_send_log("SYSTEM TIME New TIMEZONE Set by [%s]\n", cmd);
        cnxd_system(cmd);
    }
}

}  // namespace

ind_next ind_body_detach_response(ind_call& call)
{
    call.title();
    record_print(cnxd_srv_send_log, DETACH_TBL, call.record());
    g_vzw_admin_pdn_reference_count = 0;
    tid_list_clean();
    return ind_next::forward;
}

// A PDN of the ADMIN APN type that came up (result 1 or 5) is counted.
ind_next ind_body_pdn_conectivity_response(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    record_print(cnxd_srv_send_log, PDN_CONN_TBL, rec);
    const uint16_t result = load_be16(rec, RSP_RESULT);
    if (rec.size() >= RSP_EPS_ID + 2 && (result == 1 || result == 5) && counts_admin(rec)) {
        const uint8_t n = ++g_vzw_admin_pdn_reference_count;
        sdk_log(6, "ADMIN PDN Reference count(%d)", n);
    }
    return ind_next::forward;
}

// A closed PDN of the ADMIN APN type is uncounted, never below 0.
ind_next ind_body_pdn_disconnect_response(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    record_print(cnxd_srv_send_log, PDN_DISCONN_TBL, rec);
    const uint16_t result = load_be16(rec, RSP_RESULT);
    if (rec.size() < RSP_EPS_ID + 2 || std::ranges::find(DISCONNECTED, result) == std::end(DISCONNECTED) ||
        !counts_admin(rec))
        return ind_next::forward;
    uint8_t n = g_vzw_admin_pdn_reference_count;
    while (n != 0 && !g_vzw_admin_pdn_reference_count.compare_exchange_weak(n, static_cast<uint8_t>(n - 1))) {
    }
    if (n != 0)
        sdk_log(6, "ADMIN PDN Reference count(%d)\n", n - 1);
    return ind_next::forward;
}

// The network's time: with "config system_time" ENABLE 1 the clock and
// the zone are set from it, the watchdog stopped around the jump.
ind_next ind_body_emm_information_indication(ind_call& call)
{
    call.title();
    record_print(cnxd_srv_send_log, NETWORK_TIME_TBL, call.record());
    if (store_number("config system_time", "ENABLE") == 1) {
        cnxd_srv_send_log("SYSTEM TIME Enable\n");
        ind_watchdog_stop();
        if (call.record().size() > NT_YEAR && call.record()[NT_YEAR] != 0)
            set_network_time(call.record());
        ind_watchdog_start();
    }
    return ind_next::forward;
}

}  // namespace cnxd
