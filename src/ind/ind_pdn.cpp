// Bodies of the detach and PDN connection answers, which keep the count of
// open ADMIN PDN connections while the store's operator code is 7, and of
// the network time, which sets the router's clock and time zone.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include <strings.h>

#include "base/be.h"
#include "base/platform_call.h"
#include "base/record.h"
#include "base/shell.h"
#include "config/apn_table.h"
#include "config/confdb_access.h"
#include "if_record.h"
#include "config/admin_pdn_count.h"
#include "ind/ind_body.h"
#include "ind/ind_layout.h"
#include "ind/ind_print.h"
#include "ind/ind_watchdog.h"
#include "ltesdk.h"
#include "modem/bringup.h"
#include "modem/cm_memcpy.h"
#include "modem/cm_wrappers.h"
#include "server/delivery.h"
#include "status/dev_status.h"

namespace cnxd {
namespace {

// The head the detach and PDN answers share: a 16-bit result and two
// 16-bit causes; the PDN answers then carry the default EPS bearer id
// (pdn_rsp_head_tbl).
constexpr size_t RSP_RESULT = pdn_rsp::RESULT;
constexpr size_t RSP_EPS_ID = pdn_rsp::EPS_ID;

constexpr record_field DETACH_TBL[] = {
    rec::num("result", RSP_RESULT, 2),
    rec::num("Deregister Cause1", 2, 2),
    rec::num("Deregister Cause2", 4, 2),
};

// Results of a PDN disconnect answer that close the PDN.
constexpr uint16_t DISCONNECTED[] = {101, 107, 108, 0xFFFF};

// Titles and prints a PDN answer; its result when it is an answer for the
// ADMIN PDN of operator 7, which moves the count.
std::optional<uint16_t> admin_pdn_answer(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    record_print(cnxd_srv_send_log, ind_layout(call.row().cb_id), rec);
    if (rec.size() < RSP_EPS_ID + 2 || g_operator != OPERATOR_SPRINT ||
        getApnTypeByDefEPSid(static_cast<uint16_t>(load_be16(rec, RSP_EPS_ID))) != static_cast<int>(APN_TYPE_ADMIN))
        return std::nullopt;
    return static_cast<uint16_t>(load_be16(rec, RSP_RESULT));
}

// ---- PDN connections the modem asks for (operator 7) --------------------------

// PDN connectivity required: request type, APN name, address type.
constexpr size_t RQR_TYPE = 0;
constexpr size_t RQR_APN = 1;
constexpr size_t RQR_APN_SIZE = 100;
constexpr size_t RQR_ADDR_TYPE = 101;
constexpr record_field PDN_RQR_TBL[] = {
    rec::num("Request Type", RQR_TYPE, 1),
    rec::text("APN Name", RQR_APN, RQR_APN_SIZE),
    rec::num("Type of Address", RQR_ADDR_TYPE, 1),
};
constexpr size_t PDN_CONN_REQ_SIZE = 420;

// PDN disconnect required: default EPS bearer id, NI length and NI.
constexpr size_t DRQ_EPS_ID = 0;
constexpr size_t DRQ_NI_LEN = 2;
constexpr size_t DRQ_NI = 3;
constexpr size_t DRQ_SIZE = DRQ_NI + PDN_DISCONN_APN_NAME_MAX;

bool bip_replace()
{
    confdb_value v{};
    CNXD_GetConfdbValue("config wan lte bip replace", "ENABLE", v);
    return std::atoi(v.data()) == 1;
}

std::string_view text_at(std::span<const uint8_t> rec, size_t off, size_t max)
{
    if (off >= rec.size())
        return {};
    const auto* p = reinterpret_cast<const char*>(rec.data() + off);
    return {p, strnlen(p, std::min(max, rec.size() - off))};
}

// The default EPS bearer id of the listed interface whose APN is `ni`
// (ignoring case; the last match wins), or `eps` when none is.
uint16_t connection_eps_of(std::span<const uint8_t> list, std::string_view ni, uint16_t eps)
{
    const uint32_t count = load_be32(list, 0);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = 4 + i * ifrec::SIZE;
        if (at + ifrec::SIZE > list.size())
            break;
        const auto nic = list.subspan(at, ifrec::SIZE);
        if (nic[ifrec::APN_LEN] == ni.size() &&
            strncasecmp(reinterpret_cast<const char*>(&nic[ifrec::APN_NAME]), ni.data(), ni.size()) == 0)
            eps = static_cast<uint16_t>(load_be16(nic, ifrec::EPS_BEARER));
    }
    return eps;
}

// ---- Network time ----------------------------------------------------------

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
    t.tm_year = byte(emm_info::YEAR) + 100;
    t.tm_mon = byte(emm_info::MONTH) - 1;
    t.tm_mday = byte(emm_info::DAY);
    t.tm_hour = byte(emm_info::HOUR);
    t.tm_min = byte(emm_info::MINUTE);
    t.tm_sec = byte(emm_info::SECOND);
    t.tm_isdst = byte(emm_info::DST_FLAG) && byte(emm_info::DST) ? 1 : 0;
    time_t when = mktime(&t);
    int zone = 0;
    if (byte(emm_info::UNIVERSAL_TZ_FLAG) && sbyte(emm_info::TZ)) {
        zone = sbyte(emm_info::TZ);
        when += SECONDS_PER_QUARTER_HOUR * zone;
    } else if (byte(emm_info::LOCAL_TZ_FLAG) && sbyte(emm_info::LOCAL_TZ)) {
        zone = sbyte(emm_info::TZ);
        when += SECONDS_PER_QUARTER_HOUR * sbyte(emm_info::LOCAL_TZ);
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

// Both attach answers (the extended one carries the APN class and two NIs
// in place of the attach NI); a successful attach finishes an interrupted
// firmware-over-the-air session.
ind_next ind_body_attach_response(ind_call& call)
{
    call.title();
    record_print(cnxd_srv_send_log, ind_layout(call.row().cb_id), call.record());
    status_attach(call.dev_idx(), true, load_be16(call.record(), 0), load_be16(call.record(), 4));
    if (call.record().size() >= 2 && load_be16(call.record(), 0) == 0)
        cm_run_ota_dm_recover_session(call.dev_idx());
    return ind_next::forward;
}

ind_next ind_body_detach_response(ind_call& call)
{
    call.title();
    record_print(cnxd_srv_send_log, DETACH_TBL, call.record());
    status_attach(call.dev_idx(), false, load_be16(call.record(), RSP_RESULT), load_be16(call.record(), 2));
    g_vzw_admin_pdn_reference_count = 0;
    tid_list_clean();
    return ind_next::forward;
}

// A PDN of the ADMIN APN type that came up (result 1 or 5) is counted.
ind_next ind_body_pdn_conectivity_response(ind_call& call)
{
    if (const auto result = admin_pdn_answer(call); result && (*result == 1 || *result == 5)) {
        const uint8_t n = ++g_vzw_admin_pdn_reference_count;
        sdk_log(6, "ADMIN PDN Reference count(%d)", n);
    }
    return ind_next::forward;
}

// A closed PDN of the ADMIN APN type is uncounted, never below 0.
ind_next ind_body_pdn_disconnect_response(ind_call& call)
{
    const auto result = admin_pdn_answer(call);
    if (!result || std::ranges::find(DISCONNECTED, *result) == std::end(DISCONNECTED))
        return ind_next::forward;
    if (const auto n = admin_pdn_release(0))
        sdk_log(6, "ADMIN PDN Reference count(%d)\n", *n);
    return ind_next::forward;
}

// Operator 7: the modem asks for the ADMIN PDN, named by the APN table or
// the UICC as "config wan lte bip replace" says.
ind_next ind_body_pdn_connectivity_rqr_indication(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    record_print(cnxd_srv_send_log, PDN_RQR_TBL, rec);
    if (g_operator != OPERATOR_SPRINT)
        return ind_next::forward;
    constexpr apn_record_layout L = pdn_conn_apn_info_layout;
    std::array<uint8_t, PDN_CONN_REQ_SIZE> req{};
    req[0] = rec.empty() ? 0 : rec[RQR_TYPE];
    req[L.filled] = 1;
    req[L.apn_type] = APN_TYPE_ADMIN;
    CNXD_FillPdnConnApnInfo(req);
    const std::string table(text_at(req, L.apn_name, L.apn_name_len));
    const std::string uicc(text_at(rec, RQR_APN, RQR_APN_SIZE));
    std::string name = table;
    if (bip_replace()) {
        cnxd_srv_send_log("Replace apn_name from CONFDB (%s)\n", table.c_str());
        if (table.empty()) {
            cnxd_srv_send_log("CONFDB apn_name is empty, keep using apn_name from UICC (%s)\n", uicc.c_str());
            name = uicc;
        }
        if (name.empty()) {
            cnxd_srv_send_log("ERROR: Both CONFDB/UICC has empty apn_name.\n");
            return ind_next::quiet;
        }
    } else {
        cnxd_srv_send_log("Use apn_name from UICC (%s)\n", uicc.c_str());
        if (uicc.empty())
            cnxd_srv_send_log("UICC apn_name is empty. Change to use apn_name from CONFDB (%s)\n", table.c_str());
        else
            name = uicc;
    }
    std::fill_n(req.begin() + static_cast<long>(L.apn_name), L.apn_name_len, 0);
    std::copy_n(name.begin(), std::min(name.size(), L.apn_name_len - 1), req.begin() + static_cast<long>(L.apn_name));
    cnxd_srv_send_log("\nPDN CONNECTIVITY REQUEST(DEV_IDX(%d))\n", call.dev_idx());
    cnxd_srv_send_log("REQ_APN_TYPE : %d\n", req[L.apn_type]);
    cnxd_srv_send_log("APN Name : %s\n", name.c_str());
    cnxd_srv_send_log("PDN Type : %d\n", req[L.pdn_type]);
    if (LAPI_PDNConnRequest(hAPI, call.dev_idx(), req.data()) != 0)
        sdk_log(3, "LAPI_PDNConnRequest fail");
    return ind_next::forward;
}

// Operator 7: the modem asks to close a PDN; an ADMIN PDN that other users
// still hold stays up.
ind_next ind_body_pdn_disconnect_rqr_indication(ind_call& call)
{
    std::array<uint8_t, DRQ_SIZE> rec{};
    const size_t handed = std::min(call.record().size(), rec.size());
    std::copy_n(call.record().begin(), handed, rec.begin());
    const auto ni = [&] { return text_at(rec, DRQ_NI, std::min<size_t>(rec[DRQ_NI_LEN], PDN_DISCONN_APN_NAME_MAX)); };
    if (g_operator != OPERATOR_SPRINT) {
        call.title();
        cnxd_srv_send_log("Default EPS ID : %d\n", load_be16(rec.data() + DRQ_EPS_ID));
        if (rec[DRQ_NI_LEN])
            cnxd_srv_send_log("APN NI : %s\n", std::string(ni()).c_str());
        return ind_next::forward;
    }
    if (bip_replace()) {
        const std::string admin = CNXD_GetApnNameByAPNType(APN_TYPE_ADMIN).value_or("");
        if (!admin.empty()) {
            const size_t len = std::min(admin.size(), PDN_DISCONN_APN_NAME_MAX);
            cnxd_srv_send_log("Replace apn_name from (%s) to (%s)\n", std::string(ni()).c_str(), admin.c_str());
            std::fill_n(rec.begin() + DRQ_NI, PDN_DISCONN_APN_NAME_MAX, 0);
            std::copy_n(admin.begin(), len, rec.begin() + DRQ_NI);
            rec[DRQ_NI_LEN] = static_cast<uint8_t>(len);
        }
    }
    if (rec[DRQ_NI_LEN])
        cnxd_srv_send_log("APN NI : %s\n", std::string(ni()).c_str());
    std::array<uint8_t, PDN_DISCONN_SIZE> req{};
    uint16_t eps = load_be16(rec.data() + DRQ_EPS_ID);
    const std::string_view name = ni();
    if (!name.empty()) {
        req[PDN_DISCONN_APN_LEN] = static_cast<uint8_t>(name.size());
        check_memcpy(&req[PDN_DISCONN_APN_NAME], name.data(), name.size(), "ind", __LINE__);
    }
    std::array<uint8_t, ifrec::CONN_INFO_SIZE> list{};
    if (LAPI_GetConnectionInfo(hAPI, call.dev_idx(), list.data()) != 0) {
        sdk_log(3, "LAPI_GetConnectionInfo fail\n");
        return ind_next::done;
    }
    eps = connection_eps_of(list, name, eps);
    store_be16(req.data(), eps);
    call.title();
    cnxd_srv_send_log("Default EPS ID : %d\n", eps);
    const auto held = getApnTypeByDefEPSid(eps) == static_cast<int>(APN_TYPE_ADMIN) ? admin_pdn_release(1)
                                                                                     : std::nullopt;
    if (held) {
        cnxd_srv_send_log("ADMIN PDN Reference Count(%d) is greater then 1\n", *held + 1);
        cnxd_srv_send_log("Skip ADMIN PDN DISCONNECT REQUIRED INDICATION\n");
        sdk_log(6, "ADMIN PDN Reference count(%d)\n", *held);
    } else {
        cnxd_srv_send_log("\nPDN DISCONNECT REQUEST(DEV_IDX(%d))\n", call.dev_idx());
        if (LAPI_PDNDisconnRequest(hAPI, call.dev_idx(), req.data()) != 0)
            sdk_log(3, "LAPI_PDNDisconnRequest fail");
    }
    const iovec piece{rec.data(), handed};
    call.forward(std::span(&piece, handed ? 1 : 0));
    return ind_next::done;
}

// The network's time: with "config system_time" ENABLE 1 the clock and
// the zone are set from it, the watchdog stopped around the jump.
ind_next ind_body_emm_information_indication(ind_call& call)
{
    call.title();
    record_print(cnxd_srv_send_log, emm_information_tbl, call.record());
    if (store_number("config system_time", "ENABLE") == 1) {
        cnxd_srv_send_log("SYSTEM TIME Enable\n");
        ind_watchdog_stop();
        if (call.record().size() > emm_info::YEAR && call.record()[emm_info::YEAR] != 0)
            set_network_time(call.record());
        ind_watchdog_start();
    }
    return ind_next::forward;
}

}  // namespace cnxd
