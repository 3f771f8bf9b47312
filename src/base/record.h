// Record printers: the fields of a record the modem sends (an indication,
// a DM report) described as a constexpr table, and one function that
// prints a record through such a table, one line per field:
//
//   constexpr record_field CELL_TBL[] = {
//       rec::num("Physical CELL ID", 0, 2),                    // "Physical CELL ID : 301"
//       rec::snum("RSRP", 2, 2).with_valid(-149, INT16_MAX),   // "RSRP : -98", "RSRP : NV"
//       rec::real1("TX Power", 4, 2, 10).with_unit("(dBm)"),   // "TX Power : -54.9(dBm)"
//       rec::array("NEIGHBOR CELL[%d]", 7, 2, 8, NEIGHBOR_TBL).with_count(6, 1),
//   };
//   static_assert(record_tbl_ok(CELL_TBL));
//   record_print(cnxd_srv_send_log, CELL_TBL, record);
//
// A number line is the label (left-aligned in `pad` columns), the separator
// (" : "), the value, the unit and a newline. Every multi-byte number is
// big-endian. What a table cannot say is a custom field: a function named
// in the row that prints that part of the record by hand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>

#include "base/be.h"

namespace cnxd {

// Where the text goes: a printf-style channel (cnxd_srv_send_log,
// dm_printf). Each line is one call; a NUL byte in it goes as a "%c" call
// of its own, since "%s" would end at it.
using record_sink = int (*)(const char* fmt, ...);

enum class record_fmt : uint8_t {
    dec,         // the number in decimal (of its signedness), divided by the scale
    hex,         // the number as "%x"
    real1,       // the number divided by the scale, as "%.1f"
    name,        // the entry of `names` the number picks
    text,        // characters up to the first NUL, at most `width` of them
    ipv4,        // 4 bytes as dotted decimal
    ipv6,        // 16 bytes as IPv6 text
    hex_block,   // `width` bytes dumped "%02x " each (the print_st dump)
    char_block,  // `width` bytes dumped "%c " each (the print_ch dump)
    line,        // the label alone on its line
    array,       // elements of `width` bytes, each printed through `sub`
    custom,      // printed by `custom`
};

struct record_field;
using record_fields = std::span<const record_field>;

// A predicate on the (sub)record a field is printed from.
using record_when = bool (*)(std::span<const uint8_t> bytes);
// A hand-written part: prints field `f` of `bytes` (the whole (sub)record;
// `f.off` says where the part starts); `number` is that of the array
// element being printed (0 outside arrays).
using record_custom = void (*)(record_sink out, const record_field& f, std::span<const uint8_t> bytes, int number);

// A field that lies beyond the bytes received prints as far as it is
// there: a number or an address prints only when all of its bytes are
// there (a cut-off value would be a wrong one), a text or a block prints
// the bytes that are there (possibly none), an array the elements that are
// wholly there; a count field that is not there counts 0. Lines, groups
// and custom fields always print (a custom field bounds itself).
struct record_field {
    const char* label = "";      // may hold one "%d": the element's number
    size_t off = 0;              // from the start of the (sub)record
    size_t width = 1;            // number: 1, 2, 4 or 8; text, block: size; array: element size (0: a group)
    bool is_signed = false;
    record_fmt format = record_fmt::dec;
    uint8_t pad = 0;             // label column width ("%-*s")
    const char* sep = " : ";     // between label and value
    const char* unit = "";       // after the value
    int32_t scale = 1;           // the number is divided by it
    int64_t lo = std::numeric_limits<int64_t>::min();  // valid raw values: [lo, hi]
    int64_t hi = std::numeric_limits<int64_t>::max();
    const char* invalid = nullptr;  // printed for a value outside [lo, hi]
    std::span<const char* const> names{};
    size_t count_off = 0;        // text, block, array: a count field in the same record
    uint8_t count_width = 0;     //   of this many bytes (0: none)
    uint16_t max = 0;            // array: most elements printed
    uint8_t first = 0;           // array: number of the first element
    record_fields sub{};         // array: the fields of one element
    record_when when = nullptr;  // printed only when this holds
    record_custom custom = nullptr;

    constexpr record_field with_pad(uint8_t cols, const char* s = " : ") const
    {
        record_field f = *this;
        f.pad = cols;
        f.sep = s;
        return f;
    }
    constexpr record_field with_sep(const char* s) const { return with_pad(pad, s); }
    constexpr record_field with_unit(const char* u) const
    {
        record_field f = *this;
        f.unit = u;
        return f;
    }
    // The number is divided by `div` (toward zero for dec).
    constexpr record_field with_scale(int32_t div) const
    {
        record_field f = *this;
        f.scale = div;
        return f;
    }
    // Values outside [l, h] print `text` in place of the value and unit.
    constexpr record_field with_valid(int64_t l, int64_t h, const char* text = "NV") const
    {
        record_field f = *this;
        f.lo = l;
        f.hi = h;
        f.invalid = text;
        return f;
    }
    // The length of a text or block, or the element count of an array, is
    // the number of `w` bytes at `o`.
    constexpr record_field with_count(size_t o, uint8_t w) const
    {
        record_field f = *this;
        f.count_off = o;
        f.count_width = w;
        return f;
    }
    constexpr record_field only_if(record_when w) const
    {
        record_field f = *this;
        f.when = w;
        return f;
    }
};

namespace rec {

constexpr record_field number(const char* l, size_t o, size_t w, bool s, record_fmt fmt)
{
    return {.label = l, .off = o, .width = w, .is_signed = s, .format = fmt};
}
constexpr record_field num(const char* l, size_t o, size_t w) { return number(l, o, w, false, record_fmt::dec); }
constexpr record_field snum(const char* l, size_t o, size_t w) { return number(l, o, w, true, record_fmt::dec); }
constexpr record_field hex(const char* l, size_t o, size_t w) { return number(l, o, w, false, record_fmt::hex); }
// A signed number in 1/`div` units, printed "%.1f".
constexpr record_field real1(const char* l, size_t o, size_t w, int32_t div)
{
    return number(l, o, w, true, record_fmt::real1).with_scale(div);
}
// An unsigned number printed as its entry of `names`; past the table, the
// invalid text when one is given, else the number.
constexpr record_field name(const char* l, size_t o, size_t w, std::span<const char* const> names)
{
    record_field f = number(l, o, w, false, record_fmt::name);
    f.names = names;
    return f;
}
constexpr record_field text(const char* l, size_t o, size_t size) { return number(l, o, size, false, record_fmt::text); }
constexpr record_field ipv4(const char* l, size_t o) { return number(l, o, 4, false, record_fmt::ipv4); }
constexpr record_field ipv6(const char* l, size_t o) { return number(l, o, 16, false, record_fmt::ipv6); }
constexpr record_field hex_block(const char* l, size_t o, size_t size)
{
    return number(l, o, size, false, record_fmt::hex_block);
}
constexpr record_field char_block(const char* l, size_t o, size_t size)
{
    return number(l, o, size, false, record_fmt::char_block);
}
constexpr record_field line(const char* l) { return number(l, 0, 0, false, record_fmt::line); }
// Up to `max` elements of `size` bytes from `o`, each introduced by its
// heading line `l` (none when empty) and printed through `sub`; as many as
// the bytes hold unless with_count names a count field.
constexpr record_field array(const char* l, size_t o, size_t size, uint16_t max, record_fields sub)
{
    record_field f = number(l, o, size, false, record_fmt::array);
    f.max = max;
    f.sub = sub;
    return f;
}
// The fields of `sub` printed once, from the bytes at `o` on: a nested part
// shared by several records, or fields printed together under one only_if.
constexpr record_field group(size_t o, record_fields sub) { return array("", o, 0, 1, sub); }
constexpr record_field custom(const char* l, size_t o, record_custom fn)
{
    record_field f = number(l, o, 0, false, record_fmt::custom);
    f.custom = fn;
    return f;
}

}  // namespace rec

// The unsigned big-endian number of `width` (1, 2, 4 or 8) bytes at `off`,
// or 0 when it is not wholly inside `bytes`: for predicates and counts.
constexpr uint64_t record_uint(std::span<const uint8_t> bytes, size_t off, size_t width)
{
    if (off > bytes.size() || width > bytes.size() - off)
        return 0;
    const uint8_t* p = bytes.data() + off;
    switch (width) {
    case 1:
        return *p;
    case 2:
        return load_be16(p);
    case 4:
        return load_be32(p);
    case 8:
        return (uint64_t{load_be32(p)} << 32) | load_be32(p + 4);
    default:
        return 0;
    }
}

// Whether a table is one record_print can print: number widths of 1, 2, 4
// or 8 bytes, a positive scale, names for a name field, elements and a
// maximum for an array, a function for a custom field. For a static_assert
// beside each table.
constexpr bool record_tbl_ok(record_fields fields)
{
    for (const record_field& f : fields) {
        switch (f.format) {
        case record_fmt::dec:
        case record_fmt::hex:
        case record_fmt::real1:
        case record_fmt::name:
            if ((f.width != 1 && f.width != 2 && f.width != 4 && f.width != 8) || f.scale <= 0 ||
                (f.format == record_fmt::name && f.names.empty()))
                return false;
            break;
        case record_fmt::array:
            if (f.max == 0 || f.sub.empty() || !record_tbl_ok(f.sub))
                return false;
            break;
        case record_fmt::custom:
            if (!f.custom)
                return false;
            break;
        default:
            break;
        }
        if (f.count_width != 0 && f.count_width != 1 && f.count_width != 2 && f.count_width != 4)
            return false;
    }
    return true;
}

// Prints every field of `fields` from `bytes`, in table order, never
// reading outside `bytes`.
void record_print(record_sink out, record_fields fields, std::span<const uint8_t> bytes, int number = 0);

// Sends `text` through `out` as it is, NUL bytes included (each as a "%c"
// of 0, since "%s" would end at it): for custom fields.
void record_send(record_sink out, std::string_view text);

}  // namespace cnxd
