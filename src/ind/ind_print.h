// Printing helpers of the indication handlers: byte dumps through the
// clients' log channel. (Their guarded copy is modem/cm_memcpy.h.)
#pragma once

#include <cstdint>
#include <span>

namespace cnxd {

// "label : " and "%02x " per byte on one line for fewer than 17 bytes;
// from 17 on "label\n" and the bytes 16 to a line. Ends with a blank line
// for long dumps, a newline for short ones.
void print_st(const char* label, std::span<const uint8_t> bytes);
// The same with "%c " per byte.
void print_ch(const char* label, std::span<const uint8_t> bytes);

}  // namespace cnxd
