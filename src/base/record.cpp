#include "base/record.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

namespace cnxd {
namespace {

// A byte dump of this many bytes or more starts on the line after its
// label and runs 16 bytes to a line.
constexpr size_t LONG_DUMP_FROM = 17;
constexpr size_t DUMP_PER_LINE = 16;

// The label with its "%d" (if any) replaced by `number`.
std::string label_of(const record_field& f, int number)
{
    std::string label = f.label;
    if (const size_t at = label.find("%d"); at != std::string::npos)
        label.replace(at, 2, std::to_string(number));
    return label;
}

// "label<pad>sep": the start of a value line.
std::string lead_of(const record_field& f, int number)
{
    std::string lead = label_of(f, number);
    if (lead.size() < f.pad)
        lead.append(f.pad - lead.size(), ' ');
    return lead + f.sep;
}

template <typename... Args>
void append(std::string& s, const char* fmt, Args... args)
{
    char cell[64];
    const int n = std::snprintf(cell, sizeof cell, fmt, args...);
    s.append(cell, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof cell) - 1)));
}

// The bytes of a text or block that are there: `width` of them, or as many
// as its count field says (at most `width`).
std::span<const uint8_t> part_of(const record_field& f, std::span<const uint8_t> bytes)
{
    size_t size = f.width;
    if (f.count_width)
        size = std::min<size_t>(size, record_uint(bytes, f.count_off, f.count_width));
    const size_t off = std::min(f.off, bytes.size());
    return bytes.subspan(off, std::min(size, bytes.size() - off));
}

bool lies_inside(const record_field& f, std::span<const uint8_t> bytes)
{
    return f.off <= bytes.size() && f.width <= bytes.size() - f.off;
}

bool valid(const record_field& f, uint64_t raw, int64_t value)
{
    if (f.is_signed)
        return value >= f.lo && value <= f.hi;
    return (f.lo <= 0 || raw >= static_cast<uint64_t>(f.lo)) && f.hi >= 0 && raw <= static_cast<uint64_t>(f.hi);
}

// The value of a number field, as its line shows it.
void append_number(std::string& line, const record_field& f, uint64_t raw, int64_t value)
{
    switch (f.format) {
    case record_fmt::dec:
        if (f.is_signed)
            append(line, "%" PRId64, value / f.scale);
        else
            append(line, "%" PRIu64, raw / static_cast<uint64_t>(f.scale));
        break;
    case record_fmt::hex:
        append(line, "%" PRIx64, raw);
        break;
    case record_fmt::real1:
        append(line, "%.1f", (f.is_signed ? static_cast<double>(value) : static_cast<double>(raw)) / f.scale);
        break;
    default:  // name
        if (raw < f.names.size())
            line += f.names[raw];
        else if (f.invalid)
            line += f.invalid;
        else
            append(line, "%" PRIu64, raw);
    }
}

void print_number(record_sink out, const record_field& f, std::span<const uint8_t> bytes, int number)
{
    const unsigned bits = static_cast<unsigned>(f.width * 8);
    if (!lies_inside(f, bytes) || bits == 0 || bits > 64)
        return;
    const uint64_t raw = record_uint(bytes, f.off, f.width);
    int64_t value = static_cast<int64_t>(raw);
    if (f.is_signed && bits < 64 && (raw >> (bits - 1)) & 1)
        value = static_cast<int64_t>(raw) - (int64_t{1} << bits);
    std::string line = lead_of(f, number);
    if (f.invalid && !valid(f, raw, value)) {
        line += f.invalid;
    } else {
        append_number(line, f, raw, value);
        line += f.unit;
    }
    record_send(out, line + "\n");
}

void print_address(record_sink out, const record_field& f, std::span<const uint8_t> bytes, int number)
{
    if (!lies_inside(f, bytes))
        return;
    char text[INET6_ADDRSTRLEN] = "";
    inet_ntop(f.format == record_fmt::ipv4 ? AF_INET : AF_INET6, bytes.data() + f.off, text, sizeof text);
    record_send(out, lead_of(f, number) + text + f.unit + "\n");
}

void print_text(record_sink out, const record_field& f, std::span<const uint8_t> bytes, int number)
{
    const auto part = part_of(f, bytes);
    const std::string chars(part.begin(), std::find(part.begin(), part.end(), uint8_t{0}));
    record_send(out, lead_of(f, number) + chars + f.unit + "\n");
}

// "label : " and the bytes on one line when short; else "label", then the
// bytes 16 to a line and a blank line. Long dumps go out a line at a time.
void print_dump(record_sink out, const record_field& f, std::span<const uint8_t> bytes, int number)
{
    const auto part = part_of(f, bytes);
    const char* each = f.format == record_fmt::hex_block ? "%02x " : "%c ";
    const std::string label = label_of(f, number);
    std::string line;
    if (part.size() < LONG_DUMP_FROM) {
        line = label + " : ";
        for (uint8_t b : part)
            append(line, each, b);
        record_send(out, line + "\n");
        return;
    }
    record_send(out, label + "\n");
    for (size_t i = 0; i < part.size(); ++i) {
        if (i != 0 && i % DUMP_PER_LINE == 0) {
            record_send(out, line);
            line = "\n";
        }
        append(line, each, part[i]);
    }
    record_send(out, line + "\n\n");
}

// Each element: its heading line, then its fields. A group (width 0) is one
// element: the bytes from its offset on.
void print_array(record_sink out, const record_field& f, std::span<const uint8_t> bytes, int number)
{
    const size_t off = std::min(f.off, bytes.size());
    const auto from = bytes.subspan(off);
    size_t count = 1;
    if (f.width != 0) {
        count = f.count_width ? record_uint(bytes, f.count_off, f.count_width) : SIZE_MAX;
        count = std::min({count, size_t{f.max}, from.size() / f.width});
    }
    for (size_t i = 0; i < count; ++i) {
        const int n = f.width ? f.first + static_cast<int>(i) : number;
        if (*f.label)
            record_send(out, label_of(f, n) + "\n");
        record_print(out, f.sub, f.width ? from.subspan(i * f.width, f.width) : from, n);
    }
}

void print_field(record_sink out, const record_field& f, std::span<const uint8_t> bytes, int number)
{
    switch (f.format) {
    case record_fmt::dec:
    case record_fmt::hex:
    case record_fmt::real1:
    case record_fmt::name:
        print_number(out, f, bytes, number);
        break;
    case record_fmt::text:
        print_text(out, f, bytes, number);
        break;
    case record_fmt::ipv4:
    case record_fmt::ipv6:
        print_address(out, f, bytes, number);
        break;
    case record_fmt::hex_block:
    case record_fmt::char_block:
        print_dump(out, f, bytes, number);
        break;
    case record_fmt::line:
        record_send(out, label_of(f, number) + "\n");
        break;
    case record_fmt::array:
        print_array(out, f, bytes, number);
        break;
    case record_fmt::custom:
        f.custom(out, f, bytes, number);
        break;
    }
}

}  // namespace

void record_print(record_sink out, record_fields fields, std::span<const uint8_t> bytes, int number)
{
    for (const record_field& f : fields)
        if (!f.when || f.when(bytes))
            print_field(out, f, bytes, number);
}

void record_send(record_sink out, std::string_view text)
{
    while (!text.empty()) {
        const size_t nul = text.find('\0');
        const size_t n = nul == std::string_view::npos ? text.size() : nul;
        if (n)
            out("%.*s", static_cast<int>(n), text.data());
        if (nul == std::string_view::npos)
            return;
        out("%c", '\0');
        text.remove_prefix(n + 1);
    }
}

}  // namespace cnxd
