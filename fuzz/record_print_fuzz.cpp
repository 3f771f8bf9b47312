// Record bytes printed through a field table: the first byte picks the
// table (the interface record as the ready indication prints it, as the
// release and change indications print it, or a table of nested counted
// arrays, texts, blocks and numbers of every kind), the rest is the record
// in a heap block of exactly its size. Nothing may be read past it, and no
// array may print more elements than its maximum.
#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/record.h"
#include "ind/ind_print.h"
#include "support/check.h"

namespace {

using namespace cnxd;

// The text of each call of the sink.
std::vector<std::string> printed;

int capture(const char* fmt, ...)
{
    char buf[4096];
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    printed.emplace_back(buf, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buf) - 1)));
    return n;
}

constexpr uint16_t CELLS_MAX = 4;
constexpr uint16_t VALUES_MAX = 3;
constexpr const char* STATES[] = {"RRC IDLE", "RRC CONNECTED"};

constexpr record_field VALUE[] = {
    rec::snum("\tVALUE_%d", 0, 2).with_sep(": ").with_valid(-149, 330),
};
constexpr record_field CELL[] = {
    rec::num("Physical CELL ID", 0, 2),
    rec::real1("RSRQ", 2, 2, 2).with_unit("dB"),
    rec::array("", 5, 2, VALUES_MAX, VALUE).with_count(4, 1),
    rec::text("Name", 11, 8).with_count(10, 1),
};
constexpr record_field NESTED[] = {
    rec::num("Count", 0, 1),
    rec::array("CELL[%d]", 1, 19, CELLS_MAX, CELL).with_count(0, 1),
    rec::snum("Total", 1, 8),
    rec::num("Total", 1, 8).with_valid(0, 1000),
    rec::hex("Flags", 3, 4),
    rec::name("State", 5, 1, STATES).with_valid(0, 1),
    rec::hex_block("KEY", 9, 40).with_count(8, 1),
    rec::char_block("TXT", 6, 40),
    rec::group(2, VALUE).only_if([](std::span<const uint8_t> r) { return (record_uint(r, 0, 1) & 1) != 0; }),
    rec::ipv6("IPv6 Address", 20),
};
static_assert(record_tbl_ok(NESTED));

// Lines that start with `what` (a dumped byte or a text of the record may
// hold it too, but never at the start of a line).
size_t lines_starting(std::string_view what)
{
    return static_cast<size_t>(
        std::count_if(printed.begin(), printed.end(), [&](const std::string& s) { return s.starts_with(what); }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const record_fields tables[] = {nic_ready_tbl, nic_head_tbl, NESTED};
    const record_fields table = tables[data[0] % std::size(tables)];
    const size_t len = size - 1;
    auto block = std::make_unique<uint8_t[]>(len);
    std::copy_n(data + 1, len, block.get());
    printed.clear();
    record_print(capture, table, {block.get(), len});
    if (table.data() == NESTED) {
        cnxd::fuzz::expect(lines_starting("CELL[") <= CELLS_MAX, "no more cells than the maximum");
        cnxd::fuzz::expect(lines_starting("\tVALUE_") <= CELLS_MAX * VALUES_MAX + 1,
                           "no more values than the maxima");
    }
    return 0;
}
