// The layouts of the records that only inform: every print-only row of
// ind.def (a usual-form row without a body) has exactly one here, and each
// fits within the bytes its row forwards (the SDK's record size). So do the
// layouts of the attach and PDN answers, which their bodies print (their
// other rows have none), and the UICC answers' printers, one per command.
// Checked at compile time below.
//
// The SDK's record formats are its own: each layout is the fields such a
// record carries in 3GPP terms, labelled as the router's tools expect where
// they read them (the PLMN entries, the detach type), in the order the SDK's
// request records use (a 32-bit result first for answers to requests).
// Bytes after the last field of a layout are reserved.
#include "ind/ind_layout.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <span>
#include <string>

#include "ind/ind.h"
#include "ind/ind_body.h"
#include "ind/ind_print.h"

namespace cnxd {
namespace {

// ---- Shapes shared by many records ----------------------------------------

// A record of one 32-bit word: a result, status, cause or value, signed as
// the modem sends it.
constexpr std::array<record_field, 1> word(const char* label) { return {rec::snum(label, 0, 4)}; }
// A 32-bit result, then a 32-bit value.
constexpr std::array<record_field, 2> result_and(const char* value)
{
    return {rec::snum("Result", 0, 4), rec::snum(value, 4, 4)};
}
// Two 32-bit words of their own.
constexpr std::array<record_field, 2> words(const char* first, const char* second)
{
    return {rec::snum(first, 0, 4), rec::snum(second, 4, 4)};
}
// A type of `type_width` bytes, a 16-bit data length and the data, up to
// `size` bytes in all: messages the modem relays (IMS, SMS, BIP, GNSS, ...).
constexpr std::array<record_field, 3> typed_data(const char* type, size_t type_width, size_t size, const char* data)
{
    return {rec::num(type, 0, type_width), rec::num("Data Len", type_width, 2),
            rec::hex_block(data, type_width + 2, size - type_width - 2).with_count(type_width, 2)};
}
// The answer to a get request of a control family: a 32-bit result, the
// 16-bit type asked for, a 16-bit length and the value, 64 bytes in all.
constexpr std::array<record_field, 4> get_answer(const char* type)
{
    return {rec::snum("Result", 0, 4), rec::num(type, 4, 2), rec::num("Data Len", 6, 2),
            rec::hex_block("Data", 8, 56).with_count(6, 2)};
}
// A 32-bit result, a length byte and the text it counts.
constexpr std::array<record_field, 3> result_text(const char* len, const char* text, size_t size)
{
    return {rec::snum("Result", 0, 4), rec::num(len, 4, 1), rec::text(text, 5, size).with_count(4, 1)};
}

constexpr auto RESULT = word("Result");
constexpr auto CAUSE = word("Cause");
constexpr auto STATUS = word("Status");
constexpr auto MODE = word("Mode");
constexpr auto EMM_STATUS = word("EMM Status");
constexpr auto EMM_CAUSE = word("EMM Cause");
constexpr auto ESM_CAUSE = word("ESM Cause");
constexpr auto REFRESH_TYPE = word("Refresh Type");
constexpr auto ROHC_STATUS = word("ROHC Status");
constexpr auto SIB1_PMAX = word("SIB1 Pmax");
constexpr auto PLMN_SEARCH_MODE = word("PLMN Search Mode");
constexpr auto EMM_STATE = word("EMM State");
constexpr auto TIN = word("TIN");
constexpr auto REATTACH_CONTROL = word("Reattach Control");
constexpr auto UICC_CHANGE = word("UICC Change");

constexpr auto RESULT_CAUSE = result_and("Cause");
constexpr auto HKADC = result_and("HKADC Value");
constexpr auto TEMPERATURE = result_and("Temperature");
constexpr auto CAL_TEMPERATURE = result_and("Calibrated Temperature");
constexpr auto PLMN_SEARCH_STATUS = result_and("PLMN Search Status");
constexpr auto SERVING_CELL_FREQ = result_and("Serving Cell Frequency");
constexpr auto PLMN_SEARCH_INTERVAL_INDEX = result_and("PLMN Search Interval Index");
constexpr auto UE_SUPPORT_ALGORITHM = result_and("UE Support Algorithm");
constexpr auto SMS_SUBMIT = result_and("Message Reference");
constexpr auto RRC_CAPABILITY = result_and("RRC Capability");
constexpr auto RRC_FUNCTION = result_and("RRC Function");
constexpr auto TA_VALUE = result_and("TA Value");
constexpr auto EMBMS_CONTROL = result_and("eMBMS Control");
constexpr auto IMS_SESSION = result_and("Session Id");
constexpr auto BGSCAN_HANDOVER = result_and("Target Cell");
constexpr auto VLT_PACKET = result_and("Packet Count");
constexpr auto VLT_SIGNAL = words("Signal", "Value");
constexpr auto T3402_REMAIN = result_and("T3402 Remaining Value");
constexpr auto NTZ_CONTROL = result_and("NTZ Control");
constexpr auto PHY_FUNCTION = result_and("PHY Function");
constexpr auto NR_CONTROL = result_and("5G NR Control");
constexpr auto SYS_INFO_CHANGE = result_and("System Info Change");
constexpr auto SCG_STATE = result_and("SCG State");

// ---- Detach and PDN --------------------------------------------------------

// Detach required (6 bytes): the detach type; the tools read nothing else
// of it.
constexpr record_field DETACH_REQUIRED[] = {
    rec::num("detach_type", 0, 1),
};

// ---- Attach and PDN answers, printed by their bodies (ind_pdn.cpp) -----------

// The operator PCO: a length byte at `len_off`, then up to `size` bytes,
// printed on one line in brackets when the record carries any.
void print_operator_pco(record_sink out, const record_field& f, std::span<const uint8_t> bytes, int)
{
    const size_t count = std::min<uint64_t>(f.width, record_uint(bytes, f.count_off, f.count_width));
    const size_t off = std::min(f.off, bytes.size());
    const auto pco = bytes.subspan(off, std::min(count, bytes.size() - off));
    if (pco.empty())
        return;
    std::string line = std::string(f.label) + " : [ ";
    for (const uint8_t b : pco) {
        char cell[4];
        std::snprintf(cell, sizeof cell, "%.2x ", b);
        line += cell;
    }
    record_send(out, line + "]\n");
}
constexpr record_field operator_pco(size_t len_off, size_t size)
{
    record_field f = rec::custom("OPERATOR PCO Encoded Data", len_off + 1, print_operator_pco).with_count(len_off, 1);
    f.width = size;
    return f;
}

// The PDN information of the attach and PDN connectivity answers: the APN
// with its length, PDN type and cause, the addresses, the P-CSCF addresses,
// operator-specific bytes with their length, then the QCI and bit rates.
namespace pdn_info {
constexpr size_t APN_LEN = 0;
constexpr size_t APN = 1;
constexpr size_t NAME_SIZE = 100;  // an APN, and every NI of these answers
constexpr size_t PDN_TYPE = APN + NAME_SIZE;
constexpr size_t CAUSE = PDN_TYPE + 1;
constexpr size_t IPV4 = CAUSE + 1;
constexpr size_t IPV6 = IPV4 + 4;
constexpr size_t PCSCF_IPV4 = IPV6 + 16;
constexpr size_t PCSCF_IPV6 = PCSCF_IPV4 + 4;
constexpr size_t OPER_LEN = PCSCF_IPV6 + 16;
constexpr size_t OPER = OPER_LEN + 1;
constexpr size_t OPER_SIZE = 16;
constexpr size_t QCI = OPER + OPER_SIZE;
constexpr size_t RATES = QCI + 1;  // UL MBR, DL MBR, UL GBR, DL GBR, 32-bit each
constexpr size_t SIZE = RATES + 16;
}  // namespace pdn_info

constexpr record_field pdn_info_tbl[] = {
    rec::text("APN Name", pdn_info::APN, pdn_info::NAME_SIZE).with_count(pdn_info::APN_LEN, 1),
    rec::num("PDN Type", pdn_info::PDN_TYPE, 1),
    rec::num("PDN Cause", pdn_info::CAUSE, 1),
    rec::ipv4("IPv4 Address", pdn_info::IPV4),
    rec::ipv6("IPv6 Address", pdn_info::IPV6),
    rec::ipv4("P-CSCF IPv4 Address", pdn_info::PCSCF_IPV4),
    rec::ipv6("P-CSCF IPv6 Address", pdn_info::PCSCF_IPV6),
    rec::hex_block("Operator Specific Data", pdn_info::OPER, pdn_info::OPER_SIZE).with_count(pdn_info::OPER_LEN, 1),
    rec::num("QCI", pdn_info::QCI, 1),
    rec::num("UL MBR", pdn_info::RATES, 4),
    rec::num("DL MBR", pdn_info::RATES + 4, 4),
    rec::num("UL GBR", pdn_info::RATES + 8, 4),
    rec::num("DL GBR", pdn_info::RATES + 12, 4),
};

// What both attach answers carry after the PDN information: the network
// feature flags, the attach result and ESM cause, the link MTU, the
// operator PCO, T3402, the APN AMBRs, the emergency numbers and the MSISDN.
namespace attach_tail {
constexpr size_t FLAGS = 0;  // IMS VoPS, EMC BS, EPC LCS, CS LCS, ESR PS: a byte each
constexpr size_t RESULT = FLAGS + 5;
constexpr size_t ESM_CAUSE = RESULT + 1;
constexpr size_t MTU = ESM_CAUSE + 1;
constexpr size_t PCO_LEN = MTU + 2;
constexpr size_t PCO_SIZE = 128;
constexpr size_t T3402 = PCO_LEN + 1 + PCO_SIZE;
constexpr size_t AMBR = T3402 + 4;  // UL, DL, 32-bit each
constexpr size_t EMERGENCY_COUNT = AMBR + 8;
constexpr size_t EMERGENCY = EMERGENCY_COUNT + 1;
constexpr size_t EMERGENCY_SIZE = 12;  // service category, number length, number
constexpr uint16_t EMERGENCY_MAX = 8;
constexpr size_t MSISDN_LEN = EMERGENCY + EMERGENCY_SIZE * EMERGENCY_MAX;
constexpr size_t MSISDN = MSISDN_LEN + 1;
constexpr size_t MSISDN_SIZE = 20;
}  // namespace attach_tail

constexpr record_field emergency_number_tbl[] = {
    rec::num("Service Category", 0, 1),
    rec::text("Number", 2, attach_tail::EMERGENCY_SIZE - 2).with_count(1, 1),
};

constexpr record_field attach_tail_tbl[] = {
    rec::num("IMS VoPS", attach_tail::FLAGS, 1),
    rec::num("EMC BS", attach_tail::FLAGS + 1, 1),
    rec::num("EPC LCS", attach_tail::FLAGS + 2, 1),
    rec::num("CS LCS", attach_tail::FLAGS + 3, 1),
    rec::num("ESR PS", attach_tail::FLAGS + 4, 1),
    rec::num("EPS Attach result", attach_tail::RESULT, 1),
    rec::num("ESM cause", attach_tail::ESM_CAUSE, 1),
    rec::num("EPS IPv4 Link MTU", attach_tail::MTU, 2),
    operator_pco(attach_tail::PCO_LEN, attach_tail::PCO_SIZE),
    rec::num("T3402", attach_tail::T3402, 4),
    rec::num("UL APN AMBR", attach_tail::AMBR, 4),
    rec::num("DL APN AMBR", attach_tail::AMBR + 4, 4),
    rec::array("Emergency Number[%d]", attach_tail::EMERGENCY, attach_tail::EMERGENCY_SIZE, attach_tail::EMERGENCY_MAX,
               emergency_number_tbl)
        .with_count(attach_tail::EMERGENCY_COUNT, 1),
    rec::text("MSISDN", attach_tail::MSISDN, attach_tail::MSISDN_SIZE)
        .with_count(attach_tail::MSISDN_LEN, 1)
        .only_if([](std::span<const uint8_t> r) { return record_uint(r, attach_tail::MSISDN_LEN, 1) != 0; }),
};

// The attach answer (2192 bytes): results and reason, bearers, data path
// and IP allocation, the attach NI with its length, the PDN information
// and the common tail; the bytes after it are reserved.
namespace attach_rsp {
constexpr size_t RESULT1 = 0;
constexpr size_t NI_LEN = 12;
constexpr size_t NI = NI_LEN + 1;
constexpr size_t INFO = NI + pdn_info::NAME_SIZE;
constexpr size_t TAIL = INFO + pdn_info::SIZE;
}  // namespace attach_rsp

constexpr record_field attach_rsp_head_tbl[] = {
    rec::num("Register result1", attach_rsp::RESULT1, 2),
    rec::num("Register result2", 2, 2),
    rec::num("Lower layer reason", 4, 2),
    rec::num("Default EPS ID", 6, 2),
    rec::num("EPS ID", 8, 2),
    rec::num("Data Path", 10, 1),
    rec::num("IP Alloc Type", 11, 1),
};

constexpr record_field attach_rsp_tbl[] = {
    rec::group(0, attach_rsp_head_tbl),
    rec::num("Attach NI length", attach_rsp::NI_LEN, 1),
    rec::text("Attach NI", attach_rsp::NI, pdn_info::NAME_SIZE).with_count(attach_rsp::NI_LEN, 1),
    rec::group(attach_rsp::INFO, pdn_info_tbl),
    rec::group(attach_rsp::TAIL, attach_tail_tbl),
};

// The extended attach answer (705 bytes): the same head, the APN class,
// the requested and received NI with their lengths in place of the attach
// NI, then as the attach answer.
namespace attach_rsp_ext {
constexpr size_t APN_CLASS = attach_rsp::NI_LEN;
constexpr size_t REQ_NI_LEN = APN_CLASS + 1;
constexpr size_t RCV_NI_LEN = REQ_NI_LEN + 1 + pdn_info::NAME_SIZE;
constexpr size_t INFO = RCV_NI_LEN + 1 + pdn_info::NAME_SIZE;
constexpr size_t TAIL = INFO + pdn_info::SIZE;
}  // namespace attach_rsp_ext

constexpr record_field attach_rsp_ext_tbl[] = {
    rec::group(0, attach_rsp_head_tbl),
    rec::num("APN Class", attach_rsp_ext::APN_CLASS, 1),
    rec::num("Requested NI Len", attach_rsp_ext::REQ_NI_LEN, 1),
    rec::text("Requested NI", attach_rsp_ext::REQ_NI_LEN + 1, pdn_info::NAME_SIZE)
        .with_count(attach_rsp_ext::REQ_NI_LEN, 1),
    rec::num("Received NI Len", attach_rsp_ext::RCV_NI_LEN, 1),
    rec::text("Received NI", attach_rsp_ext::RCV_NI_LEN + 1, pdn_info::NAME_SIZE)
        .with_count(attach_rsp_ext::RCV_NI_LEN, 1),
    rec::group(attach_rsp_ext::INFO, pdn_info_tbl),
    rec::group(attach_rsp_ext::TAIL, attach_tail_tbl),
};

// The PDN connectivity answer (747 bytes): the head, data path and IP
// allocation, the NI with its length, the PDN information, the link MTU,
// the operator PCO and the APN AMBRs.
namespace pdn_conn_rsp {
constexpr size_t NI_LEN = pdn_rsp::HEAD_SIZE + 2;
constexpr size_t INFO = NI_LEN + 1 + pdn_info::NAME_SIZE;
constexpr size_t MTU = INFO + pdn_info::SIZE;
constexpr size_t PCO_LEN = MTU + 2;
constexpr size_t PCO_SIZE = attach_tail::PCO_SIZE;
constexpr size_t AMBR = PCO_LEN + 1 + PCO_SIZE;
}  // namespace pdn_conn_rsp

constexpr record_field pdn_conn_rsp_tbl[] = {
    rec::group(0, pdn_rsp_head_tbl),
    rec::num("Data Path", pdn_rsp::HEAD_SIZE, 1),
    rec::num("IP Alloc Type", pdn_rsp::HEAD_SIZE + 1, 1),
    rec::num("NI length", pdn_conn_rsp::NI_LEN, 1),
    rec::text("NI", pdn_conn_rsp::NI_LEN + 1, pdn_info::NAME_SIZE).with_count(pdn_conn_rsp::NI_LEN, 1),
    rec::group(pdn_conn_rsp::INFO, pdn_info_tbl),
    rec::num("EPS IPv4 Link MTU", pdn_conn_rsp::MTU, 2),
    operator_pco(pdn_conn_rsp::PCO_LEN, pdn_conn_rsp::PCO_SIZE),
    rec::num("UL APN AMBR", pdn_conn_rsp::AMBR, 4),
    rec::num("DL APN AMBR", pdn_conn_rsp::AMBR + 4, 4),
};

// The PDN disconnect answer (176 bytes): the head, the NI with its length,
// and the operator PCO in the bytes up to the record's end.
namespace pdn_disconn_rsp {
constexpr size_t NI_LEN = pdn_rsp::HEAD_SIZE;
constexpr size_t PCO_LEN = NI_LEN + 1 + pdn_info::NAME_SIZE;
constexpr size_t PCO_SIZE = 176 - PCO_LEN - 1;
}  // namespace pdn_disconn_rsp

constexpr record_field pdn_disconn_rsp_tbl[] = {
    rec::group(0, pdn_rsp_head_tbl),
    rec::num("NI length", pdn_disconn_rsp::NI_LEN, 1),
    rec::text("NI", pdn_disconn_rsp::NI_LEN + 1, pdn_info::NAME_SIZE).with_count(pdn_disconn_rsp::NI_LEN, 1),
    operator_pco(pdn_disconn_rsp::PCO_LEN, pdn_disconn_rsp::PCO_SIZE),
};

// PDN connectivity answer of the extended request (702 bytes): the head of
// every PDN answer, data path, IP allocation and APN class, the requested
// and received NI, the PDN information (type and cause, addresses, P-CSCF,
// QoS), the link MTU, the operator PCO, the APN AMBRs and the current
// throttling time.
constexpr size_t PDN_EXT_REQ_NI_LEN = pdn_rsp::HEAD_SIZE + 3;
constexpr size_t PDN_EXT_NI_SIZE = 100;
constexpr size_t PDN_EXT_RCV_NI_LEN = PDN_EXT_REQ_NI_LEN + 1 + PDN_EXT_NI_SIZE;
constexpr size_t PDN_EXT_INFO = PDN_EXT_RCV_NI_LEN + 1 + PDN_EXT_NI_SIZE;
constexpr size_t PDN_EXT_QOS = PDN_EXT_INFO + 2 + 4 + 16 + 4 + 16;
constexpr size_t PDN_EXT_PCO_LEN = PDN_EXT_QOS + 1 + 16 + 2;
constexpr size_t PDN_EXT_PCO_SIZE = 400;
constexpr size_t PDN_EXT_AMBR = PDN_EXT_PCO_LEN + 1 + PDN_EXT_PCO_SIZE;
constexpr record_field PDN_CONN_EXT[] = {
    rec::group(0, pdn_rsp_head_tbl),
    rec::num("Data Path", pdn_rsp::HEAD_SIZE, 1),
    rec::num("IP Alloc Type", pdn_rsp::HEAD_SIZE + 1, 1),
    rec::num("APN Class", pdn_rsp::HEAD_SIZE + 2, 1),
    rec::num("Requested NI Len", PDN_EXT_REQ_NI_LEN, 1),
    rec::text("Requested NI", PDN_EXT_REQ_NI_LEN + 1, PDN_EXT_NI_SIZE).with_count(PDN_EXT_REQ_NI_LEN, 1),
    rec::num("Received NI Len", PDN_EXT_RCV_NI_LEN, 1),
    rec::text("Received NI", PDN_EXT_RCV_NI_LEN + 1, PDN_EXT_NI_SIZE).with_count(PDN_EXT_RCV_NI_LEN, 1),
    rec::num("PDN Type", PDN_EXT_INFO, 1),
    rec::num("PDN Cause", PDN_EXT_INFO + 1, 1),
    rec::ipv4("IPv4 Address", PDN_EXT_INFO + 2),
    rec::ipv6("IPv6 Address", PDN_EXT_INFO + 6),
    rec::ipv4("P-CSCF IPv4 Address", PDN_EXT_INFO + 22),
    rec::ipv6("P-CSCF IPv6 Address", PDN_EXT_INFO + 26),
    rec::num("QCI", PDN_EXT_QOS, 1),
    rec::num("UL MBR", PDN_EXT_QOS + 1, 4),
    rec::num("DL MBR", PDN_EXT_QOS + 5, 4),
    rec::num("UL GBR", PDN_EXT_QOS + 9, 4),
    rec::num("DL GBR", PDN_EXT_QOS + 13, 4),
    rec::num("EPS IPv4 Link MTU", PDN_EXT_QOS + 17, 2),
    operator_pco(PDN_EXT_PCO_LEN, PDN_EXT_PCO_SIZE),
    rec::num("UL APN AMBR", PDN_EXT_AMBR, 4),
    rec::num("DL APN AMBR", PDN_EXT_AMBR + 4, 4),
    rec::num("Current Throttling Time Val", PDN_EXT_AMBR + 8, 4),
};

// Bearer resource allocation, modification and release answers (64
// bytes): result and ESM cause, the procedure's bearers, the QoS and the
// traffic flow template.
constexpr record_field BEARER_RESOURCE[] = {
    rec::num("Result", 0, 2),
    rec::num("ESM Cause", 2, 2),
    rec::num("Procedure Transaction ID", 4, 1),
    rec::num("EPS Bearer ID", 5, 1),
    rec::num("Linked EPS Bearer ID", 6, 1),
    rec::num("QCI", 7, 1),
    rec::num("UL MBR", 8, 4),
    rec::num("DL MBR", 12, 4),
    rec::num("UL GBR", 16, 4),
    rec::num("DL GBR", 20, 4),
    rec::num("TFT Len", 24, 1),
    rec::hex_block("TFT", 25, 39).with_count(24, 1),
};

// ---- PLMNs and cells ---------------------------------------------------------

// A PLMN entry (print_plmn_info): id, priority, status.
constexpr record_field PLMN_INFO[] = {
    rec::hex_block("PLMN ID", 0, 3),
    rec::num("priority", 3, 1),
    rec::num("status", 4, 1),
};
constexpr size_t PLMN_INFO_SIZE = 5;
constexpr size_t PLMN_SP_SIZE = 16;
// A cell of the extended entries, its radio values 16-bit signed.
constexpr record_field PLMN_CELL[] = {
    rec::num("\tcell id", 0, 2),
    rec::snum("\tSrxlev", 2, 2),
    rec::snum("\tSqual", 4, 2),
    rec::snum("\trssi", 6, 2),
    rec::snum("\trsrp", 8, 2),
    rec::snum("\trsrq", 10, 2),
    rec::snum("\tsinr", 12, 2),
    rec::num("\tnas cell id", 14, 4),
    rec::num("\tearfcn", 18, 4),
};
constexpr size_t PLMN_CELL_SIZE = 22;
// print_plmn_info_ext: the entry, the service provider and its best cell.
constexpr record_field PLMN_INFO_EXT[] = {
    rec::group(0, PLMN_INFO),
    rec::text("Service Provider", PLMN_INFO_SIZE, PLMN_SP_SIZE),
    rec::group(PLMN_INFO_SIZE + PLMN_SP_SIZE, PLMN_CELL),
};
// print_plmn_info_ext2: the entry, the service provider and up to two
// cells with their count.
constexpr size_t PLMN_EXT2_CELLS = PLMN_INFO_SIZE + PLMN_SP_SIZE;
constexpr record_field PLMN_INFO_EXT2[] = {
    rec::group(0, PLMN_INFO),
    rec::text("Service Provider", PLMN_INFO_SIZE, PLMN_SP_SIZE),
    rec::num("Cell Count", PLMN_EXT2_CELLS, 1),
    rec::array("\tCELL[%d]", PLMN_EXT2_CELLS + 1, PLMN_CELL_SIZE, 2, PLMN_CELL).with_count(PLMN_EXT2_CELLS, 1),
};

// The PLMN list answers (1024 bytes): result, count, the entries.
constexpr size_t PLMN_LIST_COUNT = 4;
constexpr size_t PLMN_LIST_ENTRIES = 5;
constexpr record_field PLMN_LIST[] = {
    rec::snum("Result", 0, 4),
    rec::num("PLMN Count", PLMN_LIST_COUNT, 1),
    rec::array("PLMN[%d]", PLMN_LIST_ENTRIES, PLMN_INFO_SIZE, 32, PLMN_INFO).with_count(PLMN_LIST_COUNT, 1),
};
constexpr record_field PLMN_LIST_EXT[] = {
    rec::snum("Result", 0, 4),
    rec::num("PLMN Count", PLMN_LIST_COUNT, 1),
    rec::array("PLMN[%d]", PLMN_LIST_ENTRIES, PLMN_EXT2_CELLS + PLMN_CELL_SIZE, 16, PLMN_INFO_EXT)
        .with_count(PLMN_LIST_COUNT, 1),
};
constexpr record_field PLMN_LIST_EXT2[] = {
    rec::snum("Result", 0, 4),
    rec::num("PLMN Count", PLMN_LIST_COUNT, 1),
    rec::array("PLMN[%d]", PLMN_LIST_ENTRIES, PLMN_EXT2_CELLS + 1 + 2 * PLMN_CELL_SIZE, 12, PLMN_INFO_EXT2)
        .with_count(PLMN_LIST_COUNT, 1),
};

// The PLMN in use (16 bytes): selection mode, PLMN, radio and cell.
constexpr record_field QUERY_SELECTED_PLMN[] = {
    rec::snum("Result", 0, 4),
    rec::num("Selection Mode", 4, 1),
    rec::hex_block("PLMN ID", 5, 3),
    rec::num("RAT", 8, 1),
    rec::num("Band", 9, 1),
    rec::num("Physical Cell ID", 10, 2),
    rec::num("EARFCN", 12, 4),
};

// A cell change (16 bytes): the new cell's PLMN, band, cell ids, tracking
// area and frequency.
constexpr record_field CELL_CHANGE[] = {
    rec::hex_block("PLMN ID", 0, 3),
    rec::num("Band", 3, 1),
    rec::num("Physical Cell ID", 4, 2),
    rec::num("TAC", 6, 2),
    rec::hex("Cell Identity", 8, 4),
    rec::num("EARFCN", 12, 4),
};

// A neighbour cell of the measurement and DM reports.
constexpr record_field NEIGHBOR_CELL[] = {
    rec::num("Physical Cell ID", 0, 2),
    rec::num("EARFCN", 2, 4),
    rec::snum("RSRP", 6, 2),
    rec::snum("RSRQ", 8, 2),
    rec::snum("RSSI", 10, 2),
};
constexpr size_t NEIGHBOR_CELL_SIZE = 12;

// RF measurement answer and report (64 bytes): the serving cell's values
// and up to three neighbours.
constexpr record_field RF_MEASURE[] = {
    rec::num("Physical Cell ID", 0, 2),
    rec::num("EARFCN", 2, 4),
    rec::num("Band", 6, 2),
    rec::snum("RSSI", 8, 2),
    rec::snum("RSRP", 10, 2),
    rec::snum("RSRQ", 12, 2),
    rec::snum("SINR", 14, 2),
    rec::snum("TX Power", 16, 2),
    rec::num("CQI", 18, 1),
    rec::num("Rank", 19, 1),
    rec::num("DL Bandwidth", 20, 1),
    rec::num("UL Bandwidth", 21, 1),
    rec::num("Neighbor Count", 22, 1),
    rec::array("NEIGHBOR CELL[%d]", 23, NEIGHBOR_CELL_SIZE, 3, NEIGHBOR_CELL).with_count(22, 1),
};

// Inter-RAT measurements (64 bytes): the RAT and up to six cells.
constexpr record_field IRAT_CELL[] = {
    rec::num("Frequency", 0, 4),
    rec::num("Cell ID", 4, 2),
    rec::snum("RSSI", 6, 2),
    rec::snum("Quality", 8, 2),
};
constexpr record_field IRAT_MEAS[] = {
    rec::num("RAT", 0, 1),
    rec::num("Cell Count", 1, 1),
    rec::array("CELL[%d]", 2, 10, 6, IRAT_CELL).with_count(1, 1),
};

// PHY serving cell DM report (64 bytes).
constexpr record_field PHY_SERVING_CELL[] = {
    rec::num("Physical Cell ID", 0, 2),
    rec::num("EARFCN", 2, 4),
    rec::num("Band", 6, 1),
    rec::num("DL Bandwidth", 7, 1),
    rec::snum("RSRP", 8, 2),
    rec::snum("RSRQ", 10, 2),
    rec::snum("RSSI", 12, 2),
    rec::snum("SINR", 14, 2),
    rec::snum("TX Power", 16, 2),
    rec::num("CQI", 18, 1),
    rec::num("RI", 19, 1),
    rec::num("DL MCS", 20, 1),
    rec::num("UL MCS", 21, 1),
    rec::num("DL Throughput", 22, 4),
    rec::num("UL Throughput", 26, 4),
    rec::num("Timing Advance", 30, 2),
    rec::num("Transmission Mode", 32, 1),
};
// PHY neighbour cell DM report (128 bytes): up to ten cells.
constexpr record_field PHY_NEIGHBOR_CELLS[] = {
    rec::num("Neighbor Count", 0, 1),
    rec::array("NEIGHBOR CELL[%d]", 1, NEIGHBOR_CELL_SIZE, 10, NEIGHBOR_CELL).with_count(0, 1),
};

// CSG cells found (256 bytes), the one in use (16) and the allowed list
// (256).
constexpr record_field CSG_CELL[] = {
    rec::hex_block("PLMN ID", 0, 3),
    rec::num("CSG ID", 3, 4),
    rec::num("RAT", 7, 1),
    rec::snum("Signal Quality", 8, 2),
    rec::num("In Allowed List", 10, 1),
    rec::num("status", 11, 1),
};
constexpr record_field CSG_LIST[] = {
    rec::snum("Result", 0, 4),
    rec::num("CSG Count", 4, 1),
    rec::array("CSG[%d]", 5, 12, 20, CSG_CELL).with_count(4, 1),
};
constexpr record_field CSG_QUERY_SELECTED[] = {
    rec::snum("Result", 0, 4),
    rec::hex_block("PLMN ID", 4, 3),
    rec::num("CSG ID", 7, 4),
    rec::num("RAT", 11, 1),
};
constexpr record_field CSG_ALLOWED[] = {
    rec::hex_block("PLMN ID", 0, 3),
    rec::num("CSG ID", 3, 4),
};
constexpr record_field CSG_ALLOWED_LIST[] = {
    rec::snum("Result", 0, 4),
    rec::num("CSG Count", 4, 1),
    rec::array("CSG[%d]", 5, 7, 35, CSG_ALLOWED).with_count(4, 1),
};

// Forbidden tracking areas (64 bytes).
constexpr record_field FORBIDDEN_TA[] = {
    rec::hex_block("PLMN ID", 0, 3),
    rec::num("TAC", 3, 2),
};
constexpr record_field FORBIDDEN_TA_LIST[] = {
    rec::snum("Result", 0, 4),
    rec::num("TA Count", 4, 1),
    rec::array("FORBIDDEN TA[%d]", 5, 5, 11, FORBIDDEN_TA).with_count(4, 1),
};

// ---- Identities and names read from the modem or the SIM ---------------------

// Mobile identity (32 bytes): its type and digits.
constexpr record_field MOBILE_ID[] = {
    rec::snum("Result", 0, 4),
    rec::num("ID Type", 4, 1),
    rec::num("ID Len", 5, 1),
    rec::text("Mobile ID", 6, 26).with_count(5, 1),
};
// ICCID (24 bytes): its 20 digits.
constexpr record_field ICCID[] = {rec::snum("Result", 0, 4), rec::text("ICCID", 4, 20)};
constexpr auto MSISDN = result_text("MSISDN Len", "MSISDN", 43);
constexpr auto NID = result_text("NID Len", "NID", 27);
// Operator names of the SIM's OPL and PNN files (256 bytes).
constexpr record_field OPL_PNN[] = {
    rec::snum("Result", 0, 4),
    rec::num("Full Name Len", 4, 1),
    rec::text("Full Name", 5, 125).with_count(4, 1),
    rec::num("Short Name Len", 130, 1),
    rec::text("Short Name", 131, 125).with_count(130, 1),
};
// Service provider name (32 bytes): its display condition and name.
constexpr record_field SPN[] = {
    rec::snum("Result", 0, 4),
    rec::num("Display Condition", 4, 1),
    rec::num("SPN Len", 5, 1),
    rec::text("SPN", 6, 26).with_count(5, 1),
};
// Time zone and time of the network (16 bytes), as the network time
// indication carries them; the zones in signed quarter hours.
constexpr record_field TZ[] = {
    rec::snum("Result", 0, 4),
    rec::snum("Local Time Zone", 4, 1),
    rec::num("Daylight Saving Time", 5, 1),
    rec::num("Year", 6, 1),
    rec::num("Month", 7, 1),
    rec::num("Day", 8, 1),
    rec::num("Hour", 9, 1),
    rec::num("Minute", 10, 1),
    rec::num("Second", 11, 1),
    rec::snum("Timezone", 12, 1),
};
// APN name (104 bytes).
constexpr record_field APN_NAME[] = {rec::snum("Result", 0, 4), rec::text("APN Name", 4, 100)};
// Indication mask (24 bytes): five 32-bit mask words.
constexpr record_field INDICATION_MASK[] = {
    rec::snum("Result", 0, 4),     rec::hex("Indication Mask 1", 4, 4),  rec::hex("Indication Mask 2", 8, 4),
    rec::hex("Indication Mask 3", 12, 4), rec::hex("Indication Mask 4", 16, 4), rec::hex("Indication Mask 5", 20, 4),
};
// GUTI (16 bytes): PLMN, MME group and code, M-TMSI.
constexpr record_field GUTI[] = {
    rec::snum("Result", 0, 4),
    rec::hex_block("PLMN ID", 4, 3),
    rec::num("MME Group ID", 7, 2),
    rec::num("MME Code", 9, 1),
    rec::hex("M-TMSI", 10, 4),
};
// NAS configuration (33 bytes): the leaves of the NAS configuration
// management object (3GPP TS 24.368), then the timers it sets.
constexpr record_field NAS_CONFIG[] = {
    rec::snum("Result", 0, 4),
    rec::num("NAS Signalling Priority", 4, 1),
    rec::num("NMO I Behaviour", 5, 1),
    rec::num("Attach With IMSI", 6, 1),
    rec::num("Minimum Periodic Search Timer", 7, 1),
    rec::num("Extended Access Barring", 8, 1),
    rec::num("T3245 Behaviour", 9, 1),
    rec::num("Override NAS Signalling Low Priority", 10, 1),
    rec::num("Override Extended Access Barring", 11, 1),
    rec::num("Fast First Higher Priority PLMN Search", 12, 1),
    rec::num("EUTRA Disabling Allowed For EMM Cause 15", 13, 1),
    rec::num("SM Retry Wait Time", 14, 4),
    rec::num("SM Retry At RAT Change", 18, 1),
    rec::num("Default DCN ID", 19, 2),
    rec::num("Exception Data Reporting Allowed", 21, 1),
    rec::num("T3402 Default", 22, 4),
    rec::num("T3412 Extended", 26, 4),
    rec::num("T3324", 30, 2),
    rec::num("eDRX Cycle", 32, 1),
};
// SIB16 (16 bytes): the network's UTC time in 10 ms units, daylight
// saving, leap seconds and the local offset in quarter hours.
constexpr record_field SIB16[] = {
    rec::num("Time Info UTC", 0, 8),
    rec::num("Day Light Saving Time", 8, 1),
    rec::snum("Leap Seconds", 9, 1),
    rec::snum("Local Time Offset", 10, 1),
};

// ---- Messages the modem relays -----------------------------------------------

// AT command lines (512 and 516 bytes; the extended form names its
// channel first).
constexpr record_field AT_COMMAND[] = {
    rec::num("AT Command Len", 0, 2),
    rec::text("AT Command", 2, 510).with_count(0, 2),
};
constexpr record_field AT_COMMAND_EXT[] = {
    rec::num("Channel", 0, 4),
    rec::group(4, AT_COMMAND),
};
constexpr auto IMS_CONTROL = typed_data("Control Type", 2, 512, "Data");
constexpr auto SMS_FROM_DEVICE = typed_data("Message Type", 2, 512, "Data");
constexpr auto BIP_CONTROL = typed_data("Command Type", 2, 256, "Data");
constexpr auto LPP_CONTROL = typed_data("Session ID", 4, 256, "LPP Message");
constexpr auto GNSS_CONTROL_REQ = typed_data("Request Type", 1, 256, "Data");
constexpr auto GNSS_CONTROL_IND = typed_data("Indication Type", 1, 256, "Data");
constexpr auto LCS_CONTROL = typed_data("LCS Type", 1, 256, "Data");
// ---- UICC indications and answers -------------------------------------------

// The UICC indication's data after its type and slot, by indication type:
// print_uicc_refresh_start (the mode, the files and the application),
// print_uicc_refresh_end (mode and result), print_uicc_usat_bip_proactive_
// command (the command's number, type and qualifier, its channel and
// data), print_uicc_type_command (the UICC's type and the command for it)
// and print_uicc_puk_indication_type (the PUK and its retries); any other
// type dumps its data.
namespace uicc_ind {
constexpr size_t TYPE = 0;
constexpr size_t DATA = 3;
constexpr size_t DATA_SIZE = 64 - DATA;
}  // namespace uicc_ind

constexpr record_field UICC_REFRESH_START[] = {
    rec::num("Refresh Mode", 0, 1),
    rec::num("File Count", 1, 1),
    rec::num("File List Len", 2, 1),
    rec::hex_block("File List", 3, 32).with_count(2, 1),
    rec::num("AID Len", 35, 1),
    rec::hex_block("AID", 36, 16).with_count(35, 1),
};
constexpr record_field UICC_REFRESH_END[] = {
    rec::num("Refresh Mode", 0, 1),
    rec::num("Refresh Result", 1, 1),
};
constexpr record_field UICC_BIP_PROACTIVE_COMMAND[] = {
    rec::num("Command Number", 0, 1),
    rec::hex("Command Type", 1, 1),
    rec::hex("Command Qualifier", 2, 1),
    rec::num("Channel ID", 3, 1),
    rec::num("Data Len", 4, 1),
    rec::hex_block("Data", 5, uicc_ind::DATA_SIZE - 5).with_count(4, 1),
};
constexpr record_field UICC_TYPE_COMMAND[] = {
    rec::num("UICC Type", 0, 1),
    rec::num("Command", 1, 1),
    rec::num("Command Len", 2, 1),
    rec::hex_block("Command Data", 3, uicc_ind::DATA_SIZE - 3).with_count(2, 1),
};
constexpr record_field UICC_PUK_INDICATION[] = {
    rec::num("PUK Type", 0, 1),
    rec::num("PUK Retry Count", 1, 1),
};
constexpr record_field UICC_IND_DATA[] = {
    rec::hex_block("Data", 0, uicc_ind::DATA_SIZE),
};
constexpr record_fields uicc_ind_printers[] = {
    UICC_REFRESH_START, UICC_REFRESH_END, UICC_BIP_PROACTIVE_COMMAND, UICC_TYPE_COMMAND, UICC_PUK_INDICATION,
};

void print_uicc_indication_data(record_sink out, const record_field& f, std::span<const uint8_t> bytes, int)
{
    const uint64_t type = record_uint(bytes, uicc_ind::TYPE, 2);
    const record_fields fields = type < std::size(uicc_ind_printers) ? uicc_ind_printers[type] : UICC_IND_DATA;
    const size_t off = std::min(f.off, bytes.size());
    record_print(out, fields, bytes.subspan(off, std::min(f.width, bytes.size() - off)));
}

// UICC indication (64 bytes): the indication type, the slot and the
// type's data.
constexpr record_field UICC_INDICATION[] = {
    rec::num("Indication Type", uicc_ind::TYPE, 2),
    rec::num("Slot", 2, 1),
    [] {
        record_field f = rec::custom("", uicc_ind::DATA, print_uicc_indication_data);
        f.width = uicc_ind::DATA_SIZE;
        return f;
    }(),
};

// The UICC's answers to its commands, after the answer's head (16-bit
// result, 16-bit reserved, 16-bit command type): print_uicc_status for the
// status, and per command its status words and what it returns.
constexpr record_field UICC_SW[] = {rec::hex("SW1", 0, 1), rec::hex("SW2", 1, 1)};
constexpr record_field UICC_STATUS[] = {
    rec::num("Card State", 0, 1),
    rec::num("App Type", 1, 1),
    rec::num("PIN1 State", 2, 1),
    rec::num("PIN1 Retry Count", 3, 1),
    rec::num("PUK1 Retry Count", 4, 1),
    rec::num("PIN2 State", 5, 1),
    rec::num("PIN2 Retry Count", 6, 1),
    rec::num("PUK2 Retry Count", 7, 1),
    rec::hex_block("ICCID", 8, 10),
};
constexpr record_field UICC_READ_BINARY[] = {
    rec::group(0, UICC_SW),
    rec::num("Data Len", 2, 2),
    rec::hex_block("Data", 4, 256).with_count(2, 2),
};
// One record (its index), or all records (index 0) of the file.
constexpr size_t UICC_RECORD_INDEX = 2;
constexpr size_t UICC_RECORDS_SIZE = 2048;
constexpr record_field UICC_READ_RECORD[] = {
    rec::group(0, UICC_SW),
    rec::num("Record Index", UICC_RECORD_INDEX, 1),
    rec::num("Record Len", 3, 1),
    rec::num("Record Count", 4, 1),
    rec::num("Data Len", 5, 2),
    rec::hex_block("Data", 7, UICC_RECORDS_SIZE).with_count(5, 2),
};
constexpr record_field UICC_AUTHENTICATE[] = {
    rec::group(0, UICC_SW),
    rec::num("Auth Result", 2, 1),
    rec::num("RES Len", 3, 1),
    rec::hex_block("RES", 4, 16).with_count(3, 1),
    rec::num("CK Len", 20, 1),
    rec::hex_block("CK", 21, 16).with_count(20, 1),
    rec::num("IK Len", 37, 1),
    rec::hex_block("IK", 38, 16).with_count(37, 1),
    rec::num("AUTS Len", 54, 1),
    rec::hex_block("AUTS", 55, 16).with_count(54, 1),
    rec::hex_block("Kc", 71, 8),
};
constexpr record_field UICC_PIN_CMD[] = {
    rec::group(0, UICC_SW),
    rec::num("PIN Type", 2, 1),
    rec::num("PIN CMD", 3, 1),
    rec::num("PIN Retry Count", 4, 1),
    rec::num("PUK Retry Count", 5, 1),
};
constexpr record_field UICC_PIN_STATE[] = {
    rec::num("State", 0, 1),
    rec::num("Retry Count", 1, 1),
    rec::num("PUK Retry Count", 2, 1),
};
// By PIN type (0 to 2, as the PIN command names them).
constexpr record_field UICC_PIN_STATUS[] = {rec::array("PIN[%d]", 0, 3, 3, UICC_PIN_STATE)};
constexpr record_field UICC_PIN_REQUIRED[] = {rec::num("PIN Type", 0, 1), rec::num("Retry Count", 1, 1)};
constexpr record_field UICC_REFRESH[] = {
    rec::group(0, UICC_SW),
    rec::num("Refresh Mode", 2, 1),
    rec::num("Refresh Result", 3, 1),
};
constexpr record_field UICC_ENVELOPE[] = {
    rec::group(0, UICC_SW),
    rec::num("Response Len", 2, 2),
    rec::hex_block("Response", 4, 255).with_count(2, 2),
};
constexpr record_field UICC_POLL_INTERVAL[] = {rec::num("Time Unit", 0, 1), rec::num("Interval", 1, 1)};

// By command type: heading, fields, and the data's size (for read record
// the size of one record; `all` that of all records).
constexpr uicc_answer uicc_answer_list[] = {
    {nullptr, UICC_STATUS, 18},
    {"UICC Read Binary\n", UICC_READ_BINARY, 260},
    {"UICC Read Record\n", UICC_READ_RECORD, 7 + 255, 7 + UICC_RECORDS_SIZE},
    {"UICC Update Binary\n", UICC_SW, 2},
    {"UICC Update Record\n", UICC_SW, 2},
    {"UICC Authenticate\n", UICC_AUTHENTICATE, 79},
    {"UICC PIN CMD\n", UICC_PIN_CMD, 6},
    {"UICC PIN STATUS\n", UICC_PIN_STATUS, 9},
    {},  // 8: no answer of its own
    {"UICC PIN REQURED INDICATION\n", UICC_PIN_REQUIRED, 2},
    {"UICC REFRESH\n", UICC_REFRESH, 4},
    {"UICC USAT TERMINAL PROFILE\n", UICC_SW, 2},
    {"UICC USAT ENVELOPE\n", UICC_ENVELOPE, 259},
    {"UICC USAT TERMINAL RESPONSE\n", UICC_SW, 2},
    {"UICC POLL INTERVAL TIMER\n", UICC_POLL_INTERVAL, 2},
};

// Broadcast warnings (print_cbs_etws_message_indication, 128 bytes;
// print_cbs_cmas_message_indication, 256 bytes).
constexpr record_field CBS_ETWS[] = {
    rec::num("Serial Number", 0, 2),
    rec::num("Message ID", 2, 2),
    rec::num("Warning Type", 4, 2),
    rec::num("Emergency User Alert", 6, 1),
    rec::num("Popup", 7, 1),
    rec::num("Security Info Len", 8, 1),
    rec::hex_block("Security Info", 9, 50).with_count(8, 1),
    rec::num("Data Coding Scheme", 59, 1),
    rec::num("Text Len", 60, 1),
    rec::text("Warning Text", 61, 67).with_count(60, 1),
};
constexpr record_field CBS_CMAS[] = {
    rec::num("Serial Number", 0, 2),
    rec::num("Message ID", 2, 2),
    rec::num("Data Coding Scheme", 4, 1),
    rec::num("Page Number", 5, 1),
    rec::num("Total Pages", 6, 1),
    rec::num("Text Len", 7, 1),
    rec::text("Alert Text", 8, 248).with_count(7, 1),
};

// SMS delivered (256 bytes) and sent over IMS (256 bytes).
constexpr record_field SMS_DELIVER[] = {
    rec::num("SMS Format", 0, 1),
    rec::num("Originating Address Len", 1, 1),
    rec::text("Originating Address", 2, 20).with_count(1, 1),
    rec::hex_block("Service Centre Time Stamp", 22, 7),
    rec::num("Data Coding Scheme", 29, 1),
    rec::num("User Data Len", 30, 1),
    rec::hex_block("User Data", 31, 225).with_count(30, 1),
};
constexpr record_field IMS_SEND_SMS[] = {
    rec::num("SMS Format", 0, 1),
    rec::num("Message Reference", 1, 1),
    rec::num("Destination Address Len", 2, 1),
    rec::text("Destination Address", 3, 20).with_count(2, 1),
    rec::num("PDU Len", 23, 1),
    rec::hex_block("PDU", 24, 232).with_count(23, 1),
};

// ---- Control families' get answers, radio bearers, test loop -----------------

constexpr auto RRC_CAPABILITY_GET = get_answer("Capability Type");
constexpr auto RRC_FUNCTION_GET = get_answer("Function Type");
constexpr auto PHY_FUNCTION_GET = get_answer("Function Type");
constexpr auto L2_FUNCTION_GET = get_answer("Function Type");
constexpr auto PLMN_CFG_GET = get_answer("Config Type");

// Radio bearers set up (print_rb_setup_info, 64 bytes): up to nine.
constexpr record_field RB_INFO[] = {
    rec::num("RB ID", 0, 1),
    rec::num("RB Type", 1, 1),
    rec::num("EPS Bearer ID", 2, 1),
    rec::num("RLC Mode", 3, 1),
    rec::num("PDCP SN Size", 4, 1),
    rec::num("Logical Channel ID", 5, 1),
    rec::num("QCI", 6, 1),
};
constexpr record_field RB_SETUP[] = {
    rec::num("RB Count", 0, 1),
    rec::array("RB[%d]", 1, 7, 9, RB_INFO).with_count(0, 1),
};
// Test loop mode (print_ue_test_loop_mode_info, 16 bytes): the mode, the
// mode B timer and up to four loop-back set-ups.
constexpr record_field LB_SETUP[] = {
    rec::num("UL PDCP SDU Size", 0, 2),
    rec::num("DRB ID", 2, 1),
};
constexpr record_field UE_TEST_LOOP_MODE[] = {
    rec::num("Test Loop Mode", 0, 1),
    rec::num("Mode B Timer", 1, 1),
    rec::num("LB Setup Count", 2, 1),
    rec::array("LB SETUP[%d]", 3, 3, 4, LB_SETUP).with_count(2, 1),
};

// ---- The list ----------------------------------------------------------------

struct layout_row {
    uint16_t cb_id;
    record_fields fields;
};

// By registration order of ind.def.
constexpr layout_row layout_list[] = {
    {0, {}},  // power off: the device index alone
    {5, DETACH_REQUIRED},
    {7, PDN_CONN_EXT},
    {11, PLMN_LIST},
    {12, PLMN_LIST_EXT},
    {13, PLMN_LIST_EXT2},
    {14, PLMN_LIST},  // PLMN list indication
    {15, RESULT},     // PLMN list abort
    {17, QUERY_SELECTED_PLMN},
    {18, RESULT},  // suspend
    {47, EMM_STATUS},
    {48, CAUSE},  // service loss
    {49, EMM_CAUSE},
    {50, ESM_CAUSE},
    {51, CAUSE},  // RRC disconnected
    {53, CELL_CHANGE},
    {20, RESULT},  // offline
    {22, RESULT},  // PLMN search stop
    {52, CAUSE},   // RRC connect
    {23, RESULT},  // contents reset and delete
    {54, RESULT_CAUSE},  // attach fail status
    {55, RESULT_CAUSE},  // TAU status
    {56, REFRESH_TYPE},
    {59, STATUS},  // UICC no AID deactivate
    {60, STATUS},  // UICC limited
    {25, BEARER_RESOURCE},  // allocation and modification
    {26, BEARER_RESOURCE},  // release
    {62, AT_COMMAND},
    {63, AT_COMMAND_EXT},
    {65, RESULT},  // erase crash log
    {27, HKADC},
    {28, MOBILE_ID},
    {29, ICCID},
    {30, MSISDN},
    {31, TEMPERATURE},
    {32, OPL_PNN},
    {33, SPN},
    {167, CAL_TEMPERATURE},
    {34, NID},
    {35, TZ},
    {36, APN_NAME},
    {37, PLMN_SEARCH_STATUS},
    {38, INDICATION_MASK},
    {39, SERVING_CELL_FREQ},
    {40, PLMN_SEARCH_INTERVAL_INDEX},
    {70, IMS_CONTROL},
    {71, SMS_FROM_DEVICE},
    {74, UICC_INDICATION},
    {83, RESULT},  // resume
    {84, RESULT},  // UE mode change
    {85, RESULT},  // UE support algorithm change
    {86, UE_SUPPORT_ALGORITHM},
    {87, RESULT},  // service
    {88, CAUSE},   // service request reject
    {93, RESULT},  // PLMN search index change
    {94, RESULT},  // automatic cell search
    {96, RESULT},  // indication mask control
    {97, RESULT},  // RF status report control
    {98, RESULT},  // debug log control
    {102, ROHC_STATUS},
    {103, CAUSE},   // PS deactivate
    {99, RESULT},   // save EPS NSC NV
    {100, RESULT},  // RF event control
    {104, CAUSE},   // service request start
    {105, CAUSE},   // USIM authentication response error
    {106, CAUSE},   // RRC connection setup received
    {107, CAUSE},   // RRC connection reject received
    {108, RF_MEASURE},  // answer
    {109, RF_MEASURE},  // report
    {111, MODE},        // test control loopback
    {41, SIB1_PMAX},
    {42, emm_information_tbl},  // EMM information read: the network time record
    {43, PLMN_SEARCH_MODE},
    {44, EMM_STATE},
    {45, TIN},
    {46, GUTI},
    {110, RESULT},  // host IP connect
    {124, CBS_ETWS},
    {154, CBS_CMAS},
    {125, SMS_SUBMIT},
    {126, SMS_DELIVER},
    {123, BIP_CONTROL},
    {138, LPP_CONTROL},
    {139, GNSS_CONTROL_REQ},
    {140, GNSS_CONTROL_IND},
    {141, LCS_CONTROL},
    {117, RRC_CAPABILITY},
    {118, RRC_CAPABILITY_GET},
    {180, RESULT},  // PLMN configuration set
    {181, PLMN_CFG_GET},
    {119, RRC_FUNCTION},
    {120, RRC_FUNCTION_GET},
    {121, TA_VALUE},
    {122, EMBMS_CONTROL},
    {142, IMS_SEND_SMS},
    {143, IMS_SESSION},
    {145, IRAT_MEAS},  // measurements
    {146, IRAT_MEAS},  // measurement results
    {134, MODE},       // background scan mode change
    {135, MODE},       // LTE background scan mode change
    {136, BGSCAN_HANDOVER},
    {149, CSG_LIST},
    {150, RESULT},  // CSG list abort
    {151, RESULT},  // CSG select
    {152, CSG_QUERY_SELECTED},
    {153, CSG_ALLOWED_LIST},
    {157, VLT_PACKET},
    {158, VLT_SIGNAL},
    {161, SIB16},
    {160, NAS_CONFIG},
    {162, RESULT},  // EMM NI reattach
    {166, T3402_REMAIN},
    {168, FORBIDDEN_TA_LIST},
    {163, REATTACH_CONTROL},
    {164, NTZ_CONTROL},
    {165, RESULT},  // DM control
    {169, PHY_FUNCTION},
    {170, PHY_FUNCTION_GET},
    {171, RESULT},  // keep camp on after detach
    {172, CAUSE},   // DHCP server connection device loss
    {174, RESULT},  // factory reset control
    {175, RB_SETUP},
    {176, UE_TEST_LOOP_MODE},
    {177, NR_CONTROL},
    {178, SYS_INFO_CHANGE},
    {179, RESULT},  // 5G additional security control
    {182, PHY_SERVING_CELL},
    {183, PHY_NEIGHBOR_CELLS},
    {184, SCG_STATE},
    {185, UICC_CHANGE},
    {187, L2_FUNCTION_GET},
};

// ---- Checks against ind.def ----------------------------------------------------

// Where a field's bytes end (0 for a line; past every size for a custom
// field without a width, whose extent no table says).
constexpr size_t NO_END = SIZE_MAX;
constexpr size_t fields_end(record_fields fields);
constexpr size_t field_end(const record_field& f)
{
    switch (f.format) {
    case record_fmt::line:
        return 0;
    case record_fmt::custom:  // bounded by its width when it has one
        return f.width ? f.off + f.width : NO_END;
    case record_fmt::array: {
        const size_t sub = fields_end(f.sub);
        if (sub == NO_END)
            return NO_END;
        if (f.width == 0)  // a group
            return f.off + sub;
        return sub <= f.width ? f.off + f.width * f.max : NO_END;
    }
    default:
        return f.off + f.width;
    }
}
constexpr size_t fields_end(record_fields fields)
{
    size_t end = 0;
    for (const record_field& f : fields) {
        const size_t e = field_end(f);
        if (e == NO_END)
            return NO_END;
        end = e > end ? e : end;
    }
    return end;
}

// Fields in record order, none overlapping the one before it, nor inside
// an element or group.
constexpr bool in_record_order(record_fields fields)
{
    size_t at = 0;
    for (const record_field& f : fields) {
        if (f.format == record_fmt::line)
            continue;
        if (f.off < at || (f.format == record_fmt::array && !in_record_order(f.sub)))
            return false;
        at = field_end(f);
    }
    return true;
}

// What ind.def says of each row: its id, whether it only prints (a usual
// form without a body), and the bytes it forwards when they are fixed.
struct def_row {
    uint16_t cb_id;
    bool print_only;
    ind_fwd_len fwd;
};
constexpr bool no_body(std::nullptr_t) { return true; }
constexpr bool no_body(ind_body) { return false; }
#define IND(order, id, name, event, fwd, title, body) def_row{id, no_body(body), fwd},
#define IND_AGAIN(order, id, name, event, fwd, title, body) def_row{id, false, fwd},
#define IND_OTHER(order, id, name) def_row{id, false, ind_nothing},
constexpr def_row def_rows[] = {
#include "ind/ind.def"
};

constexpr int layouts_of(uint16_t cb_id)
{
    int n = 0;
    for (const layout_row& l : layout_list)
        n += l.cb_id == cb_id;
    return n;
}

// A print-only row forwards the device index alone or a fixed record: the
// bytes its layout may take.
constexpr bool sizes_known()
{
    for (const def_row& r : def_rows)
        if (r.print_only && r.fwd.how != ind_fwd_len::fixed && r.fwd.how != ind_fwd_len::index_only)
            return false;
    return true;
}
static_assert(sizes_known(), "a print-only row forwards a fixed record or the device index alone");

constexpr bool one_layout_per_print_only_row()
{
    size_t print_only = 0;
    for (const def_row& r : def_rows) {
        print_only += r.print_only;
        if (layouts_of(r.cb_id) != (r.print_only ? 1 : 0))
            return false;
    }
    return print_only == std::size(layout_list);
}
static_assert(one_layout_per_print_only_row(), "exactly one layout per print-only row, and none for other rows");

// The records the connection answers' bodies print (ind_pdn.cpp) are
// held to the same rule.
constexpr layout_row answer_list[] = {
    {2, attach_rsp_tbl},
    {3, attach_rsp_ext_tbl},
    {6, pdn_conn_rsp_tbl},
    {8, pdn_disconn_rsp_tbl},
};

constexpr bool layouts_fit(std::span<const layout_row> list)
{
    for (const layout_row& l : list)
        for (const def_row& r : def_rows) {
            if (r.cb_id != l.cb_id)
                continue;
            const size_t room = r.fwd.how == ind_fwd_len::fixed ? r.fwd.bytes : 0;
            if (!record_tbl_ok(l.fields) || !in_record_order(l.fields) || fields_end(l.fields) > room)
                return false;
        }
    return true;
}
static_assert(layouts_fit(layout_list) && layouts_fit(answer_list),
              "each layout is printable, in record order and within its row's forward length");

// Each UICC answer and indication printer is printable, in record order
// and within its data's size.
constexpr bool fits(record_fields fields, size_t size)
{
    return record_tbl_ok(fields) && in_record_order(fields) && fields_end(fields) <= size;
}
constexpr bool uicc_layouts_fit()
{
    for (const uicc_answer& a : uicc_answer_list)
        if (!fits(a.fields, std::max(a.size, a.all)))
            return false;
    for (const record_fields f : uicc_ind_printers)
        if (!fits(f, uicc_ind::DATA_SIZE))
            return false;
    return fits(UICC_READ_RECORD, uicc_answer_list[2].all) && fits(UICC_IND_DATA, uicc_ind::DATA_SIZE);
}
static_assert(uicc_layouts_fit(), "each UICC printer fits its data");

using layout_tbl = std::array<record_fields, LAPI_CB_MAX>;

constexpr layout_tbl make_layouts()
{
    layout_tbl t{};
    for (const layout_row& l : layout_list)
        t[l.cb_id] = l.fields;
    for (const layout_row& l : answer_list)
        t[l.cb_id] = l.fields;
    return t;
}

constexpr layout_tbl layouts = make_layouts();

}  // namespace

record_fields ind_layout(uint16_t cb_id) { return cb_id < layouts.size() ? layouts[cb_id] : record_fields{}; }

const uicc_answer* ind_uicc_answer(uint16_t type)
{
    return type < std::size(uicc_answer_list) && !uicc_answer_list[type].fields.empty() ? &uicc_answer_list[type]
                                                                                       : nullptr;
}

uint32_t ind_len_uicc(std::span<const uint8_t> record)
{
    const uicc_answer* a = ind_uicc_answer(static_cast<uint16_t>(record_uint(record, UICC_ANSWER_TYPE, 2)));
    if (!a)
        return UICC_ANSWER_DATA;
    const bool all = a->all && record_uint(record, UICC_ANSWER_DATA + UICC_RECORD_INDEX, 1) == 0;
    return static_cast<uint32_t>(UICC_ANSWER_DATA + (all ? a->all : a->size));
}

}  // namespace cnxd
