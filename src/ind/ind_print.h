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

}  // namespace cnxd
