// Printing helpers of the indication handlers: byte dumps through the
// clients' log channel, and the guarded copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace cnxd {

// "label : " and "%02x " per byte on one line for fewer than 17 bytes;
// from 17 on "label\n" and the bytes 16 to a line. Ends with a blank line
// for long dumps, a newline for short ones.
void print_st(const char* label, std::span<const uint8_t> bytes);
// The same with "%c " per byte.
void print_ch(const char* label, std::span<const uint8_t> bytes);

// memcpy after checking both addresses: a null one is logged with `file`
// and `line` through the clients' log channel and nothing is copied.
// Returns `dst`, or nullptr when nothing was copied.
void* check_memcpy(void* dst, const void* src, size_t len, const char* file, int line);

}  // namespace cnxd
