// Printing helpers of the indication handlers, through the clients' log
// channel: byte dumps and the field tables of the records several handlers
// print. (Their guarded copy is modem/cm_memcpy.h.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/record.h"

namespace cnxd {

// "label : " and "%02x " per byte on one line for fewer than 17 bytes;
// from 17 on "label\n" and the bytes 16 to a line. Ends with a blank line
// for long dumps, a newline for short ones.
void print_st(const char* label, std::span<const uint8_t> bytes);
// The same with "%c " per byte.
void print_ch(const char* label, std::span<const uint8_t> bytes);

// The interface record as the ready indication prints it: name, data path,
// PDN IP type, NIC type, default EPS id, APN class, the APN when it has
// one, and the addresses of its PDN IP type.
extern const record_fields nic_ready_tbl;
// The interface record as the release and change indications print it:
// the same head without the NIC type, and nothing after the APN class.
extern const record_fields nic_head_tbl;

// The network time record of the EMM information answer and indication:
// two names with their lengths, then the zones and the time, each a byte
// (the zones signed, in quarter hours).
namespace emm_info {
constexpr size_t FULL_LEN = 0;
constexpr size_t FULL_NAME = 1;
constexpr size_t SHORT_LEN = 256;
constexpr size_t SHORT_NAME = 257;
constexpr size_t NAME_SIZE = 255;
constexpr size_t LOCAL_TZ_FLAG = 512;
constexpr size_t LOCAL_TZ = 513;
constexpr size_t UNIVERSAL_TZ_FLAG = 514;
constexpr size_t YEAR = 515;  // years since 2000
constexpr size_t MONTH = 516;
constexpr size_t DAY = 517;
constexpr size_t HOUR = 518;
constexpr size_t MINUTE = 519;
constexpr size_t SECOND = 520;
constexpr size_t TZ = 521;
constexpr size_t DST_FLAG = 522;
constexpr size_t DST = 523;
}  // namespace emm_info

inline constexpr record_field emm_information_tbl[] = {
    rec::num("Full Name Len", emm_info::FULL_LEN, 1),
    rec::text("Full Name", emm_info::FULL_NAME, emm_info::NAME_SIZE).with_count(emm_info::FULL_LEN, 1),
    rec::num("Short Name Len", emm_info::SHORT_LEN, 1),
    rec::text("Short Name", emm_info::SHORT_NAME, emm_info::NAME_SIZE).with_count(emm_info::SHORT_LEN, 1),
    rec::num("Local Time Zone Flag", emm_info::LOCAL_TZ_FLAG, 1),
    rec::snum("Local Time Zone", emm_info::LOCAL_TZ, 1),
    rec::num("Universal Time Zone Flag", emm_info::UNIVERSAL_TZ_FLAG, 1).with_pad(0, ": "),
    rec::num("Year", emm_info::YEAR, 1),
    rec::num("Month", emm_info::MONTH, 1),
    rec::num("Day", emm_info::DAY, 1),
    rec::num("Hour", emm_info::HOUR, 1),
    rec::num("Minute", emm_info::MINUTE, 1),
    rec::num("Second", emm_info::SECOND, 1),
    rec::snum("Timezone", emm_info::TZ, 1),
    rec::num("Daylight Saving Time Flag", emm_info::DST_FLAG, 1),
    rec::num("Daylight Saving Time", emm_info::DST, 1),
};

// The head of the PDN connection answers: a 16-bit result, two 16-bit
// reject causes and the default EPS bearer id.
namespace pdn_rsp {
constexpr size_t RESULT = 0;
constexpr size_t EPS_ID = 6;
constexpr size_t HEAD_SIZE = 8;
}  // namespace pdn_rsp

inline constexpr record_field pdn_rsp_head_tbl[] = {
    rec::num("Result", pdn_rsp::RESULT, 2),
    rec::num("RejectCause1", 2, 2),
    rec::num("RejectCause2", 4, 2),
    rec::num("Default EPS ID", pdn_rsp::EPS_ID, 2),
};

// The operator PCO: a length byte at `len_off`, then up to `size` bytes,
// printed on one line in brackets when the record carries any.
void print_operator_pco(record_sink out, const record_field& f, std::span<const uint8_t> bytes, int number);
constexpr record_field operator_pco(size_t len_off, size_t size)
{
    record_field f = rec::custom("OPERATOR PCO Encoded Data", len_off + 1, print_operator_pco).with_count(len_off, 1);
    f.width = size;
    return f;
}

constexpr bool has_byte(std::span<const uint8_t> r, size_t off) { return record_uint(r, off, 1) != 0; }

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

inline constexpr record_field pdn_info_tbl[] = {
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
constexpr size_t SIZE = MSISDN + MSISDN_SIZE;
}  // namespace attach_tail

inline constexpr record_field emergency_number_tbl[] = {
    rec::num("Service Category", 0, 1),
    rec::text("Number", 2, attach_tail::EMERGENCY_SIZE - 2).with_count(1, 1),
};

inline constexpr record_field attach_tail_tbl[] = {
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
        .only_if([](std::span<const uint8_t> r) { return has_byte(r, attach_tail::MSISDN_LEN); }),
};

// The attach answer (2192 bytes): results and reason, bearers, data path
// and IP allocation, the attach NI with its length, the PDN information
// and the common tail; the bytes after it are reserved.
namespace attach_rsp {
constexpr uint16_t CB_ID = 2;
constexpr size_t RESULT1 = 0;
constexpr size_t NI_LEN = 12;
constexpr size_t NI = NI_LEN + 1;
constexpr size_t INFO = NI + pdn_info::NAME_SIZE;
constexpr size_t TAIL = INFO + pdn_info::SIZE;
}  // namespace attach_rsp

inline constexpr record_field attach_rsp_head_tbl[] = {
    rec::num("Register result1", attach_rsp::RESULT1, 2),
    rec::num("Register result2", 2, 2),
    rec::num("Lower layer reason", 4, 2),
    rec::num("Default EPS ID", 6, 2),
    rec::num("EPS ID", 8, 2),
    rec::num("Data Path", 10, 1),
    rec::num("IP Alloc Type", 11, 1),
};

inline constexpr record_field attach_rsp_tbl[] = {
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
constexpr uint16_t CB_ID = 3;
constexpr size_t APN_CLASS = attach_rsp::NI_LEN;
constexpr size_t REQ_NI_LEN = APN_CLASS + 1;
constexpr size_t RCV_NI_LEN = REQ_NI_LEN + 1 + pdn_info::NAME_SIZE;
constexpr size_t INFO = RCV_NI_LEN + 1 + pdn_info::NAME_SIZE;
constexpr size_t TAIL = INFO + pdn_info::SIZE;
}  // namespace attach_rsp_ext

inline constexpr record_field attach_rsp_ext_tbl[] = {
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
constexpr uint16_t CB_ID = 6;
constexpr size_t NI_LEN = pdn_rsp::HEAD_SIZE + 2;
constexpr size_t INFO = NI_LEN + 1 + pdn_info::NAME_SIZE;
constexpr size_t MTU = INFO + pdn_info::SIZE;
constexpr size_t PCO_LEN = MTU + 2;
constexpr size_t PCO_SIZE = attach_tail::PCO_SIZE;
constexpr size_t AMBR = PCO_LEN + 1 + PCO_SIZE;
}  // namespace pdn_conn_rsp

inline constexpr record_field pdn_conn_rsp_tbl[] = {
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
constexpr uint16_t CB_ID = 8;
constexpr size_t NI_LEN = pdn_rsp::HEAD_SIZE;
constexpr size_t PCO_LEN = NI_LEN + 1 + pdn_info::NAME_SIZE;
constexpr size_t PCO_SIZE = 176 - PCO_LEN - 1;
}  // namespace pdn_disconn_rsp

inline constexpr record_field pdn_disconn_rsp_tbl[] = {
    rec::group(0, pdn_rsp_head_tbl),
    rec::num("NI length", pdn_disconn_rsp::NI_LEN, 1),
    rec::text("NI", pdn_disconn_rsp::NI_LEN + 1, pdn_info::NAME_SIZE).with_count(pdn_disconn_rsp::NI_LEN, 1),
    operator_pco(pdn_disconn_rsp::PCO_LEN, pdn_disconn_rsp::PCO_SIZE),
};

static_assert(record_tbl_ok(attach_rsp_tbl) && record_tbl_ok(attach_rsp_ext_tbl) && record_tbl_ok(pdn_conn_rsp_tbl) &&
              record_tbl_ok(pdn_disconn_rsp_tbl));

}  // namespace cnxd
