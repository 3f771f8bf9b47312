// Request builders and validity checks: the make_parameter and
// parameter_check tables of param.def, reached by their index.
//
// A builder fills a zeroed request record from its parameter file and/or
// the command's arguments and returns 0, or -1 after printing why (the
// first failing field); -2 for a request not built here. A check tests the
// filled record and returns 0, or -1 after printing the rejected value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/record.h"
#include "dm/log_paths.h"
#include "param/param_read.h"

namespace cnxd {

constexpr int PARAM_NOT_BUILT = -2;

// How a field's value is read.
enum class param_read_kind : uint8_t {
    num,      // decimal (of its signedness), `width` bytes
    hex,      // hexadecimal, `width` bytes
    text,     // at most `max` characters, no terminator
    bits,     // bit list of `max` bits
    list,     // decimal list of at most `max` elements of `width` bytes
    hex_list, // hexadecimal list, likewise
};

// One field of a request record: where its value comes from (a file tag or
// a command argument), how it is read, and where it goes. Shares the
// record printer's vocabulary: `off`, `width`, `is_signed`, the count
// field (`count_off`, `count_width`) and the `when` predicate, which sees
// the record as filled so far.
struct param_field {
    const char* tag = nullptr;   // the file's tag; nullptr: argument `arg`
    int arg = 0;                 // argument number in messages (the device index is #1)
    param_read_kind kind = param_read_kind::num;
    size_t off = 0;
    size_t width = 1;            // number or element width
    bool is_signed = false;
    char sep = ',';
    uint16_t max = 0;            // text: characters; lists: elements; bits: bits
    size_t count_off = 0;        // lists: the maximum is the count field at
    uint8_t count_width = 0;     //   count_off (0: none), at most `max`
    record_when when = nullptr;  // read only when this holds
    const char* label = nullptr; // what the failure line names, when not the tag
    bool replaces = false;       // text: a present tag clears the field first
};

// One range test of a check: the field's value (of its width and
// signedness) must lie in [lo, hi], else `message` is printed with the
// check's name and the value.
struct param_range {
    size_t off = 0;
    size_t width = 1;
    bool is_signed = false;
    int64_t lo = 0;
    int64_t hi = 0;
    const char* message = "";
    record_when when = nullptr;   // tested only when this holds
    bool last_if_zero = false;    // a value of 0 ends the check (after passing)
};

struct param_source {
    const char* path = nullptr;       // the parameter file
    const param_args* args = nullptr; // the command's arguments (make_argument)
};

struct make_param_row;
using param_builder = int (*)(const make_param_row& row, std::span<uint8_t> rec, const param_source& src);
struct make_param_row {
    int kind;
    const char* name;
    const char* file;  // the path buffer the handler passes, or nullptr
    size_t size;
    std::span<const param_field> fields;
    param_builder hand;  // nullptr: the fields are read by the generic filler
    bool built;
};

struct param_check_row;
using param_checker = int (*)(const param_check_row& row, std::span<const uint8_t> rec);
struct param_check_row {
    int kind;
    const char* name;
    std::span<const param_range> ranges;
    param_checker hand;
    bool built;
};

constexpr size_t MAKE_PARAMETER_COUNT = 49;
constexpr size_t PARAMETER_CHECK_COUNT = 38;
extern const std::array<make_param_row, MAKE_PARAMETER_COUNT> make_parameter;
extern const std::array<param_check_row, PARAMETER_CHECK_COUNT> parameter_check;

// Builder `kind` on `rec` (zeroed first, at least the row's size): -1 for
// a kind outside the table or a record too small.
int param_make(size_t kind, std::span<uint8_t> rec, const param_source& src);
// Check `kind` on `rec`: -1 for a kind outside the table.
int param_check(size_t kind, std::span<const uint8_t> rec);

}  // namespace cnxd
