// Request builders and validity checks: the make_parameter and
// parameter_check tables of param.def, reached by their index.
//
// A builder fills a zeroed request record from its parameter file and/or
// the command's arguments and returns 0, or -1 after printing why (the
// first failing field). A composite builder's first argument is a request
// type that picks the file and the fields of the record's value; a type
// inside its table's range that has no row answers PARAM_NOT_YET, the "not
// yet implemented" result the handlers report as such. A check tests the
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

constexpr int PARAM_NOT_YET = -2;

// How a field's value is read.
enum class param_read_kind : uint8_t {
    num,      // decimal (of its signedness), `width` bytes
    hex,      // hexadecimal, `width` bytes
    text,     // at most `max` characters, no terminator
    bits,     // bit list of `max` bits
    list,     // decimal list of at most `max` elements of `width` bytes
    hex_list, // hexadecimal list, likewise
    group,    // the fields of `sub` for each of several elements of `stride` bytes
};

struct param_field;
using param_fields = std::span<const param_field>;

// One field of a request record: where its value comes from (a file tag or
// a command argument), how it is read, and where it goes. Shares the
// record printer's vocabulary: `off`, `width`, `is_signed`, the count
// field (`count_off`, `count_width`), `sub` and the `when` predicate, which
// sees the (element) record as filled so far.
//
// A group's elements are numbered from 0; inside one, a tag is a format
// with the element numbers of the enclosing groups ("EARFCN_%d",
// "data_earfcn%d_%d") and the element's `prefixes` entry before it. The
// element count is the count field's value (more than `max` fails, naming
// `label`), or with `optional` how many elements from 0 on have their
// first tag in the file (stored in the count field when there is one), or
// the number of `prefixes`, or else `max`.
struct param_field {
    const char* tag = nullptr;   // the file's tag; nullptr: argument `arg`
    int arg = 0;                 // argument number in messages (the device index is #1)
    param_read_kind kind = param_read_kind::num;
    size_t off = 0;
    size_t width = 1;            // number or element width
    bool is_signed = false;
    char sep = ',';
    uint16_t max = 0;            // text: characters; lists: elements; bits: bits; group: elements
    size_t count_off = 0;        // lists: the maximum is the count field at
    uint8_t count_width = 0;     //   count_off (0: none), at most `max`
    record_when when = nullptr;  // read only when this holds
    const char* label = nullptr; // what the failure line names, when not the tag
    const char* tail = "";       // printed after the failure line's closing bracket
    bool replaces = false;       // text: a present tag clears the field first
    bool optional = false;       // tag: read only when the file has it; argument:
                                 //   only when it is the last one given
    int flag = -1;               // a byte set to 1 once the field is read
    bool trace = false;          // prints a "[TEST_LOG]" line of the tag read
    param_fields sub{};          // group: the fields of one element
    size_t stride = 0;           // group: bytes of one element
    std::span<const char* const> prefixes{};  // group: one per element
};
// Argument lists (kind list, no tag) take every argument from `arg` on and
// store their count in the count field.

// One range test of a check: the field's value (of its width and
// signedness) must lie in [lo, hi] (or be one of `one_of`), else `message`
// is printed with the check's name, the value and `hi` (`numbered`: the
// element number and the value), then each of `notes` with the name. A
// group tests the ranges of `sub` on each element, as many as the count
// field says (at most `max`) or `max`.
struct param_range {
    size_t off = 0;
    size_t width = 1;
    bool is_signed = false;
    int64_t lo = 0;
    int64_t hi = 0;
    const char* message = "";
    record_when when = nullptr;   // tested only when this holds
    bool last_if_zero = false;    // a value of 0 ends the check (after passing)
    std::span<const int64_t> one_of{};
    std::span<const char* const> notes{};
    bool numbered = false;
    std::span<const param_range> sub{};
    size_t stride = 0;
    size_t count_off = 0;
    uint8_t count_width = 0;
    uint16_t max = 0;
};

struct param_source {
    const char* path = nullptr;       // the parameter file
    const param_args* args = nullptr; // the command's arguments (make_argument)
};

struct make_param_row;
using param_builder = int (*)(const make_param_row& row, std::span<uint8_t> rec, const param_source& src);
// A hand-written request type of a composite: fills the type's value and
// returns its length, or -1.
using param_type_builder = int (*)(const make_param_row& row, std::span<uint8_t> value, const param_source& src);

// One request type of a composite builder: the file and the fields of the
// type's value (offsets from the value's start), or a hand-written body.
struct param_type {
    uint16_t type;
    const char* name;  // the sub-builder's name in messages; nullptr: the builder's
    const char* file;  // the path buffer, or nullptr for argument fields only
    size_t size;       // bytes of the value; its length unless `hand` says
    param_fields fields;
    param_type_builder hand = nullptr;
};

// A composite record: the 16-bit request type (the first argument) at 0,
// the value at `value_off`, and the value's 16-bit length at 2 when
// `has_len`.
struct param_composite {
    std::span<const param_type> types;  // by rising type
    size_t value_off;
    bool has_len;
    const char* type_message;  // a type outside the table's range
    // A type between two rows: PARAM_NOT_YET (the composite commands'
    // "not yet implemented"), or false: the type message as for any other.
    bool gaps_not_yet = true;
};

struct make_param_row {
    int kind;
    const char* name;
    const char* file;  // the path buffer the handler passes, or nullptr
    size_t size;
    int check;         // the request's check (parameter_check index), or -1
    param_fields fields;                 // read by the generic filler
    const param_composite* composite;    // a composite's request types
    param_builder body;                  // the generic filler, the composite one or a hand-written builder
};

struct param_check_row {
    int kind;
    const char* name;
    std::span<const param_range> ranges;
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

// Whether this model supports carrier aggregation, by the header of the
// working CA band combination list file: 0 supported, -1 not.
int ca_support_check();

}  // namespace cnxd
