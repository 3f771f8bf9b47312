// Printing helpers of the indication handlers, through the clients' log
// channel: byte dumps and the field tables of the records several handlers
// print. (Their guarded copy is modem/cm_memcpy.h.)
#pragma once

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

}  // namespace cnxd
