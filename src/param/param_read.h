// Readers of parameter files: lines of TAG=value, one field per line.
//
// A tag is found by prefix: the first line that begins with the tag's text
// gives the value, the text after the line's last '=' up to its first CR or
// LF, nothing trimmed. Lines are read up to 1023 characters; the rest of a
// longer line is read as further pieces that never count as line starts.
// Every lookup reads the file from its start. Integers are stored
// big-endian in `width` bytes (1, 2, 4 or 8) at the start of the
// destination; no reader writes past its destination span. Each reader
// traces "[name+]" and "[name-]" at the trace level; failures named below
// print at the error level through cm_printf.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

namespace cnxd {

// Longest line read at once, and the scan limit of a value.
constexpr size_t PARAM_LINE_MAX = 1023;

// The value of `line` (a buffer of at most PARAM_LINE_MAX + 1 characters):
// its start moves past each '=' met; the first CR or LF ends the scan, is
// replaced by NUL and marks the end. Without any '=' the value starts at
// the line's start.
std::string_view find_start_end(char* line);

// Unsigned decimal field: 1 to 10 digits, at most 255 for width 1 and 65535
// for width 2; width 8 stores the 32-bit value sign-extended. Absent tag:
// -1.
int add_param_file(const char* path, const char* tag, size_t width, std::span<uint8_t> dest);
// Signed decimal field: as add_param_file with an optional leading '-' and
// no range check.
int add_signed_param_file(const char* path, const char* tag, size_t width, std::span<uint8_t> dest);
// Hexadecimal field (widths 1, 2, 4): the first two characters are skipped
// unread, the rest are hex digits. An absent tag, or a value longer than 4,
// 6 or 10 characters for widths 1, 2, 4, stores nothing and gives 0; an
// empty value or a non-hex digit ("Invalid Hex Data") gives -1.
int add_hexparam_file(const char* path, const char* tag, size_t width, std::span<uint8_t> dest);
// String field: the value's characters without a terminator when it is at
// most `max` long (else -1). An absent tag gives 0 and leaves `dest` alone.
int add_param_st_file(const char* path, const char* tag, std::span<uint8_t> dest, size_t max);

// Lists of elements separated by `sep`, at most `max` of them; the result
// is the number of elements read, or -1. Width 1, 2 or 4, else "Unknown
// Parameter Type". An empty element before a separator ends the list with
// success; a value that is empty (unless `max` is 0) or ends in a separator
// fails; one element too many prints "too manu_argument" (decimal and bit
// lists) or "too many argument" (hexadecimal list). Absent tag: -1.
//
// Decimal list: element i of `width` bytes at dest[i * width].
int add_separate_param_file(const char* path, const char* tag, size_t width, char sep, size_t max,
                            std::span<uint8_t> dest);
// Hexadecimal list: the elements read as the hexadecimal field reads.
int add_separate_hexparam_file(const char* path, const char* tag, size_t width, char sep, size_t max,
                               std::span<uint8_t> dest);
// Bit list: elements 0 or 1 packed into a field of max / 8 bytes, element
// k being bit k of the field read as one big-endian number; a byte is
// stored only when its 8 elements are complete.
int add_bit_param_file(const char* path, const char* tag, size_t width, char sep, size_t max,
                       std::span<uint8_t> dest);

// 1 when a line begins with `tag`, 0 when none does, -1 when the file
// cannot be opened.
int check_exist_param(const char* path, const char* tag);

// Multi-set files: tag names and values are 20-byte slots, at most 32.
constexpr size_t MULTI_SET_SLOT = 20;
constexpr size_t MULTI_SET_MAX = 32;
using multi_set_slot = std::array<char, MULTI_SET_SLOT>;
constexpr int MULTI_SET_ERROR = -11;

// Reads one set of `count` tags from the current position of `fp`, lines
// beginning with '#' skipped: every line beginning with a tag stores the
// text after its first '=' (line ends left out, at most 19 characters) in
// the tag's value slot. Returns 0 when the set's last tag is met with every
// tag seen an odd number of times, MULTI_SET_ERROR when some tag was not
// or a matching line has no '=', -1 at the end of the file.
int multiSetTagParser(FILE* fp, std::span<const multi_set_slot> tags, std::span<multi_set_slot> values,
                      size_t count);

// Command-line counterparts. add_param_input: `text` as add_param_file reads
// a value (signed when `sign` is 1).
int add_param_input(int sign, size_t width, std::span<uint8_t> dest, const char* text);
// Copies `text` without a terminator when it is at most `max` long.
int add_param_st_input(std::span<uint8_t> dest, const char* text, size_t max);

// The arguments of a command after the command word and the device index.
struct param_args {
    int count = 0;
    const char* const* arg = nullptr;
};
void make_argument(param_args& block, int argc, const char* const* argv);

// Value checks: 0 when the text passes, else -1.
int string_check(const char* text, size_t len);         // every character a decimal digit
int type_valid_check(const char* text, int sign, size_t width);
int signed_type_valid_check(const char* text, size_t width);
int valid_check_dev_id(const char* text);              // 1 to 128
int valid_check_bearer_mode(const char* text);         // low 8 bits 0, 1 or 2

// "aa-bb-cc-dd-ee-ff" (hex digits of either case) into six bytes; 0, or -1
// with `mac` left alone.
int get_mac_address(const char* text, std::span<uint8_t, 6> mac);
// The Luhn check digit over the first 14 of `digits` (values 0-9): with
// `len` 15 whether digit 15 equals it, else it is written as digit 15.
bool is_valid_imei(std::span<uint8_t, 15> digits, size_t len);
// The decimal digits of `text` (its `len` characters, at most 15) as values;
// 0, or -1 on a character that is not a digit.
int get_imei(const char* text, size_t len, std::span<uint8_t, 15> digits);

}  // namespace cnxd
