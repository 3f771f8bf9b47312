// Bodies of the informational indications, and the two handlers of the
// SDK's other callback forms.
#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "base/be.h"
#include "base/record.h"
#include "base/shell.h"
#include "config/confdb_access.h"
#include "ind/ind_body.h"
#include "ind/ind_layout.h"
#include "ind/ind_print.h"
#include "modem/bringup.h"
#include "modem/cm_printf.h"
#include "dm/dm_report.h"
#include "dm/log_paths.h"
#include "server/delivery.h"
#include "shell/dispatcher.h"
#include "shell/log_direction.h"

namespace cnxd {
namespace {

// Debug print record: the output as an address word and a 32-bit length.
constexpr size_t DBG_ADDR = 0;
constexpr size_t DBG_LEN = 4;

// Host-debug command record: a 32-bit length, then the command text.
constexpr size_t HOST_DBG_LEN = 0;
constexpr size_t HOST_DBG_TEXT = 4;
// The modem's console takes lines shorter than this, with their NUL.
constexpr size_t HOST_DBG_LINE_SIZE = 1024;

constexpr uint16_t UICC_ACTIVATE_EVENT = 125;
constexpr uint16_t UICC_DEACTIVATE_EVENT = 126;

// Timer expiration record: 32-bit timer id, 32-bit state.
constexpr size_t TIMER_ID = 0;
constexpr size_t TIMER_STATE = 4;
// By the modem's timer id (0 to 6); an id of all ones names no timer.
constexpr std::array<const char*, 7> timer_name_tbl = {"T310", "T311", "T304", "T3402", "T3346", "T3396", "T3245"};
constexpr std::array<const char*, 3> timer_state_tbl = {"START", "CANCLE/STOP", "EXPIRE"};
constexpr uint32_t TIMER_ID_NONE = 0xffffffff;

// Maximum attempt record: the event (0 attach, 1 RRC), the 16-bit count.
constexpr size_t MAX_ATTEMPT_EVENT = 0;
constexpr size_t MAX_ATTEMPT_COUNT = 1;

// Power saving record: status, triggered, 16-bit T3324, 32-bit extended
// T3412.
constexpr record_field PSM_STATUS[] = {
    rec::num("  status", 0, 1),
    rec::num("  triggered", 1, 1),
    rec::num("  t3324", 2, 2),
    rec::snum("  ext3412", 4, 4),
};
static_assert(record_tbl_ok(PSM_STATUS));

// PLMN search answer: the 32-bit result, the selection mode, the 3-byte
// PLMN found, the next search index (0xFF: none), the 16-bit next interval
// and remaining count, the band, the 16-bit physical cell id, the 32-bit
// frequency, the 16-bit tracking area code, the 28-bit cell id in 32 bits,
// the PLMN priority, then the SIB1 PLMN list: a count and up to six 3-byte
// PLMN ids. The rest of the record is reserved.
constexpr size_t PLMN_SEARCH_RESULT = 0;
constexpr size_t PLMN_SEARCH_PLMN = 5;
constexpr size_t PLMN_SEARCH_NEXT_INDEX = 8;
constexpr uint8_t PLMN_SEARCH_NO_INDEX = 0xff;
constexpr record_field SIB1_PLMN[] = {rec::hex_block("PLMN ID", 0, 3)};
constexpr record_field PLMN_SEARCH_HEAD[] = {
    rec::snum("Result", PLMN_SEARCH_RESULT, 4),
    rec::num("Selection Mode", 4, 1),
    rec::hex_block("PLMN", PLMN_SEARCH_PLMN, 3),
};
constexpr record_field PLMN_SEARCH_TAIL[] = {
    rec::num("Next Interval", 9, 2),
    rec::num("Remain Count", 11, 2),
    rec::num("Band", 13, 1),
    rec::num("Cell ID", 14, 2),
    rec::num("Frequency", 16, 4),
    rec::num("TAC", 20, 2),
    rec::hex("Cell Identity", 22, 4),
    rec::num("PLMN Priority", 26, 1),
    rec::num("SIB1 PLMN Count", 27, 1),
    rec::array("SIB1 PLMN[%d]", 28, 3, 6, SIB1_PLMN).with_count(27, 1),
};
static_assert(record_tbl_ok(PLMN_SEARCH_HEAD) && record_tbl_ok(PLMN_SEARCH_TAIL));
// SMS configuration choices of the found PLMN that also switch SMS over IP
// networks off and the SMS format to 3GPP2.
constexpr int SMS_CONF_CHANGED_IP_OFF = 2;

// IPv6 router information: the 16-bit requested and received NI ids, the
// address and gateway, hop limit, 16-bit router lifetime, 32-bit MTU, valid
// and preferred lifetimes, and from 134 the prefix length, the prefix and
// the flags. The rest of the 200 bytes is reserved.
constexpr size_t ICMPV6_PREFIX = 135;
constexpr size_t ICMPV6_SET_SIZE = 20;
constexpr record_field ICMPV6_FORMATION[] = {
    rec::num("Requested NI", 0, 2),
    rec::num("Received NI", 2, 2),
    rec::ipv6("IPv6 Address", 4),
    rec::ipv6("IPv6 Gateway", 20),
    rec::num("Hop Limit", 36, 1),
    rec::num("Router Life Time", 37, 2),
    rec::num("MTU", 39, 4),
    rec::num("Valid Life Time", 43, 4),
    rec::num("Prefered Life Time", 47, 4),
    rec::num("Prefix Length", ICMPV6_PREFIX - 1, 1),
    rec::ipv6("Prefix", ICMPV6_PREFIX),
    rec::hex("Flags", ICMPV6_PREFIX + 16, 1),
};
static_assert(record_tbl_ok(ICMPV6_FORMATION));

// Vendor information record: the 16-bit length of the TLV list, then the
// entries: 16-bit type, 16-bit value length, and the value: result, try
// count and five status bytes. The types known here are the maximum RRC
// connection count (status: mode, count), the maximum RRC timer (status:
// mode, 16-bit timer) and the user registration confirmation.
constexpr size_t TLV_LIST_LEN = 0;
constexpr size_t TLV_LIST = 2;
constexpr size_t TLV_HEAD = 4;
constexpr size_t TLV_STATUS = 2;
constexpr std::array<const char*, 5> tlv_status_ordinal = {"1st", "2nd", "3rd", "4th", "5nd"};
constexpr uint16_t TLV_CRRC_MAX_COUNT = 1;
constexpr uint16_t TLV_TRRC_MAX_TIMER = 2;
constexpr uint16_t TLV_USER_REGISTRATION = 3;

// WAP push record: 32-bit teleservice id, encoding, field length, then the
// field bytes.
constexpr size_t WAP_FIELD_LEN = 5;
constexpr size_t WAP_FIELD = 6;
constexpr record_field WAP_PUSH[] = {
    rec::snum("teleId", 0, 4).with_sep("="),
    rec::num("msgEncoding", 4, 1).with_sep("="),
    rec::num("numField", WAP_FIELD_LEN, 1).with_sep("="),
};
static_assert(record_tbl_ok(WAP_PUSH));
// The operator whose device-management client takes WAP pushes.
constexpr int32_t WAP_PUSH_OPERATOR = 2;

// The title, then the record's fields as `fields` lays them out; returns
// the record.
std::span<const uint8_t> print_title_and_fields(const ind_call& call, record_fields fields)
{
    call.title();
    record_print(cnxd_srv_send_log, fields, call.record());
    return call.record();
}

}  // namespace

ind_next ind_body_timer_expiration_response(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    const auto id = static_cast<uint32_t>(record_uint(rec, TIMER_ID, 4));
    const auto state = static_cast<uint32_t>(record_uint(rec, TIMER_STATE, 4));
    if (id == TIMER_ID_NONE) {
        cnxd_srv_send_log("Invalid Timer ID : %08x\n", id);
        return ind_next::forward;
    }
    if (id < timer_name_tbl.size())
        cnxd_srv_send_log("TimerID : %s\n", timer_name_tbl[id]);
    else
        cnxd_srv_send_log("TimerID : Unknown(%08x)\n", id);
    if (state < timer_state_tbl.size())
        cnxd_srv_send_log("TimerStatus : %s\n", timer_state_tbl[state]);
    else
        cnxd_srv_send_log("TimerStatus : Unknown(%u)\n", state);
    return ind_next::forward;
}

ind_next ind_body_operator_specific_max_attempt_ind(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    const bool rrc = record_uint(rec, MAX_ATTEMPT_EVENT, 1) != 0;
    const auto count = static_cast<int>(record_uint(rec, MAX_ATTEMPT_COUNT, 2));
    cnxd_srv_send_log("Event : %s\n", rrc ? "RRC retry couynt reached to maximum" : "Attach retry count reached to maximum");
    cnxd_srv_send_log(rrc ? "RRC Retry Count : %d\n" : "Attach Retry Count : %d\n", count);
    return ind_next::forward;
}

// A PLMN found: the SMS configuration may change with it.
ind_next ind_body_plmn_search_response(ind_call& call)
{
    const auto rec = print_title_and_fields(call, PLMN_SEARCH_HEAD);
    if (rec.size() > PLMN_SEARCH_NEXT_INDEX && rec[PLMN_SEARCH_NEXT_INDEX] == PLMN_SEARCH_NO_INDEX)
        cnxd_srv_send_log("Next Index : No Index\n");
    else if (rec.size() > PLMN_SEARCH_NEXT_INDEX)
        cnxd_srv_send_log("Next Index : %d\n", rec[PLMN_SEARCH_NEXT_INDEX]);
    record_print(cnxd_srv_send_log, PLMN_SEARCH_TAIL, rec);
    if (rec.size() < PLMN_SEARCH_PLMN + 2 || load_be32(rec, PLMN_SEARCH_RESULT) != 0)
        return ind_next::forward;
    const int choice = CNXD_SelectSmsConfType(rec.subspan(PLMN_SEARCH_PLMN, 2));
    if (choice == 0)
        return ind_next::forward;
    if (LAPI_SendSmsConfChangeInd(hAPI, call.dev_idx(), static_cast<uint32_t>(gSmsConfType.load())) != 0)
        sdk_log(3, "CNXD_SendSmsConfChangeInd failed!\n");
    if (choice == SMS_CONF_CHANGED_IP_OFF) {
        uint8_t off[4] = {};
        if (LAPI_SMSOVERIPNETWORKctrlRequest(hAPI, call.dev_idx(), off) != 0)
            sdk_log(3, "LAPI_SMSOVERIPNETWORKctrlRequest!\n");
        uint8_t format = 1;
        if (LAPI_SMSFormatSetRequest(hAPI, call.dev_idx(), &format) != 0)
            sdk_log(3, "LAPI_SMSFormatSetRequest failed!\n");
    }
    return ind_next::forward;
}

// The router information goes back to the modem as the IPv6 set request:
// the two NI ids swapped, then the prefix.
ind_next ind_body_icmpv6_formation_indication(ind_call& call)
{
    const auto rec = print_title_and_fields(call, ICMPV6_FORMATION);
    if (rec.size() >= ICMPV6_PREFIX + 16) {
        std::array<uint8_t, ICMPV6_SET_SIZE> set{};
        store_be16(set.data(), load_be16(rec, 2));
        store_be16(set.data() + 2, load_be16(rec, 0));
        std::copy_n(rec.begin() + ICMPV6_PREFIX, 16, set.begin() + 4);
        if (LAPI_IPV6_ICMP_Set_Request(hAPI, call.dev_idx(), set.data()) != 0)
            sdk_log(3, "LAPI_IPv6_ICMP_Indication fail");
    }
    return ind_next::forward;
}

namespace {

void print_vendor_tlv(uint16_t type, std::span<const uint8_t> value)
{
    const auto result = static_cast<int>(record_uint(value, 0, 1));
    cnxd_srv_send_log("tlv result = %d\n", result);
    cnxd_srv_send_log("tlv try count = %d\n", static_cast<int>(record_uint(value, 1, 1)));
    for (size_t i = 0; i < tlv_status_ordinal.size() && TLV_STATUS + i < value.size(); ++i)
        cnxd_srv_send_log("tlv val status %s = 0x%02x\n", tlv_status_ordinal[i], value[TLV_STATUS + i]);
    const auto mode = static_cast<int>(record_uint(value, TLV_STATUS, 1));
    const char* outcome = result == 0 ? "SUCCESS" : "FAIL";
    switch (type) {
    case TLV_CRRC_MAX_COUNT:
        cnxd_srv_send_log("ATT Max Cnt of CRRC Cfg : mode= %d\n", mode);
        cnxd_srv_send_log("ATT Max Cnt of CRRC Cfg : count= %d\n", static_cast<int>(record_uint(value, TLV_STATUS + 1, 1)));
        cnxd_srv_send_log("ATT Max Cnt of CRRC Cfg : result= %s\n", outcome);
        break;
    case TLV_TRRC_MAX_TIMER:
        cnxd_srv_send_log("ATT Max Timer of TRRC Cfg : mode= %d\n", mode);
        cnxd_srv_send_log("ATT Max Timer of TRRC Cfg : timer= %d\n", static_cast<int>(record_uint(value, TLV_STATUS + 1, 2)));
        cnxd_srv_send_log("ATT Max Timer of TRRC Cfg : result= %s\n", outcome);
        break;
    case TLV_USER_REGISTRATION:
        cnxd_srv_send_log("User Registration Confirm\n");
        break;
    default:
        cnxd_srv_send_log("Not supported tlv type\n");
        break;
    }
}

}  // namespace

// Walks the TLV list, never past the record.
ind_next ind_body_vendor_information(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    if (rec.size() < TLV_LIST)
        return ind_next::forward;
    const size_t total = std::min<size_t>(load_be16(rec, TLV_LIST_LEN), rec.size() - TLV_LIST);
    cnxd_srv_send_log("Total buffer Length = %d\n", static_cast<int>(total));
    const auto list = rec.subspan(TLV_LIST, total);
    for (size_t off = 0; off + TLV_HEAD <= list.size();) {
        const uint16_t type = load_be16(list, off);
        const size_t len = std::min<size_t>(load_be16(list, off + 2), list.size() - off - TLV_HEAD);
        cnxd_srv_send_log("tlv type = %d\n", type);
        cnxd_srv_send_log("tlv len = %d\n", static_cast<int>(len));
        print_vendor_tlv(type, list.subspan(off + TLV_HEAD, len));
        off += TLV_HEAD + len;
    }
    return ind_next::forward;
}

// The UICC's answer to a command: its heading and the command's printer
// (the status has no heading), or the failure.
ind_next ind_body_uicc_from_device(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    const auto result = static_cast<int16_t>(record_uint(rec, UICC_ANSWER_RESULT, 2));
    const auto type = static_cast<uint16_t>(record_uint(rec, UICC_ANSWER_TYPE, 2));
    if (result != 0) {
        cnxd_srv_send_log("UICC INFO RESPONSE FAILED(%d)(type : %d)\n", result, type);
    } else if (const uicc_answer* a = ind_uicc_answer(type)) {
        if (a->heading)
            cnxd_srv_send_log("%s", a->heading);
        record_print(cnxd_srv_send_log, a->fields, rec.subspan(std::min(rec.size(), UICC_ANSWER_DATA)));
    }
    return ind_next::forward;
}

// Tells the kernel how long the modem may sleep: twice the extended T3412
// less T3324 while power saving is on (status 0), else 0.
ind_next ind_body_psm_status_notify_ind(ind_call& call)
{
    const auto rec = print_title_and_fields(call, PSM_STATUS);
    uint32_t value = 0;
    if (record_uint(rec, 0, 1) == 0)
        value = (static_cast<uint32_t>(record_uint(rec, 4, 4)) - static_cast<uint32_t>(record_uint(rec, 2, 2))) * 2;
    char cmd[64];
    std::snprintf(cmd, sizeof cmd, "kern pm psm %u", value);
    cnxd_system(cmd);
    return ind_next::done;
}

// A WAP push for the device-management client: handed to it, as hex, in
// the background.
ind_next ind_body_sms_wap_push_indication(ind_call& call)
{
    const auto rec = print_title_and_fields(call, WAP_PUSH);
    const size_t len = rec.size() > WAP_FIELD ? std::min<size_t>(record_uint(rec, WAP_FIELD_LEN, 1), rec.size() - WAP_FIELD) : 0;
    const auto field = rec.subspan(std::min(rec.size(), WAP_FIELD), len);
    print_st("field", field);
    if (g_operator == WAP_PUSH_OPERATOR && !field.empty()) {
        std::string cmd = "/usr/sbin/ota_dm_cli run ni ";
        for (uint8_t b : field) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", b);
            cmd += hex;
        }
        cmd += " &";
        cnxd_system(cmd);
    }
    return ind_next::forward;
}

// Registered for both activate and deactivate; the status byte tells them
// apart (a missing byte counts as 0).
ind_next ind_body_uicc_activeate_ind(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    const uint8_t status = rec.empty() ? 0 : rec[0];
    call.event = status ? UICC_ACTIVATE_EVENT : UICC_DEACTIVATE_EVENT;
    return ind_next::forward;
}

ind_next ind_body_debug_print_to_host(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    // The output lies where the record's address word points, inside the
    // record; a frame carries at most IND_FWD_ROOM bytes of it.
    const auto chunk = ind_record_chunk(rec, DBG_ADDR, DBG_LEN);
    // Kept in the device debug log; without it, nothing goes on.
    if (!ind_append_chunk(filepath_device_dbg_log, call.dev_idx(), chunk, false))
        return ind_next::quiet;
    iovec out{const_cast<uint8_t*>(chunk.data()), std::min<size_t>(chunk.size(), IND_FWD_ROOM)};
    call.forward(std::span<const iovec>(&out, out.iov_len ? 1 : 0));
    return ind_next::done;
}

// A DM report with result 0 (and its whole header) is printed into dm.log,
// then forwarded.
ind_next ind_body_dm_log_response(ind_call& call)
{
    call.title();
    if (call.record().size() >= 4 && load_be16(call.record(), 0) == 0)
        print_dm_msg(call.dev_idx(), call.record());
    return ind_next::forward;
}

ind_next ind_body_dm_log_ext_response(ind_call& call)
{
    call.title();
    if (call.record().size() >= 8 && load_be16(call.record(), 0) == 0)
        print_dm_ext_msg(call.dev_idx(), call.record());
    return ind_next::forward;
}

// A command line the modem sends up: "!..." runs on the router; any other
// line goes to the command shell and, when the shell does not take it, back
// to the modem's console.
ind_next ind_body_host_dbg_cli_cmd_indication(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    if (rec.size() < HOST_DBG_TEXT)
        return ind_next::done;
    // The length word is the modem's; the text is never read past the record.
    const size_t len = std::min<size_t>(load_be32(rec, HOST_DBG_LEN), rec.size() - HOST_DBG_TEXT);
    const auto text = rec.subspan(HOST_DBG_TEXT, len);
    std::string line(text.begin(), text.end());
    line.resize(std::min(line.find('\0'), line.size()));
    // The modem's debug channel may run any command on the router: it is
    // the router's own modem. On a host the command runs like every other
    // shell command, with only its absolute paths mapped into the sysroot.
    if (line.starts_with('!')) {
        cnxd_system(std::string_view(line).substr(1));
        return ind_next::done;
    }
    // A line that would not fit the console's buffer with its NUL is dropped
    // rather than cut: a cut command could do something else.
    if (len >= HOST_DBG_LINE_SIZE) {
        cnxd_srv_send_log("host debug command too long (%u bytes)\n", static_cast<unsigned>(len));
        return ind_next::done;
    }
    cmd_offer_line(std::string_view(reinterpret_cast<const char*>(text.data()), len), console_length::with_nul,
                   nullptr, capture_source::modem);
    return ind_next::done;
}

void ind_ascii_from_device_indication(uint32_t dev_idx, uint16_t msg_type, char* text)
{
    cm_printf(CM_TRACE, "[%s+]\n", __func__);
    cnxd_srv_send_log("\nASCII FROM DEVICE INDICATION(DEV_IDX(%d))\n", static_cast<int>(dev_idx));
    cnxd_srv_send_log("Message Type : %d\n", msg_type);
    if (text)
        cnxd_srv_send_log("Message : %s\n", text);
    cm_printf(CM_TRACE, "[%s-]\n", __func__);
}

// The modem console's output, routed by the modem log direction.
void ind_cli_cmd_rsp(uint32_t unused, char* text, uint32_t len)
{
    cm_printf(CM_TRACE, "[%s+]\n", __func__);
    cli_cmd_rsp_route(unused, text, len);
    cm_printf(CM_TRACE, "[%s-]\n", __func__);
}

}  // namespace cnxd
