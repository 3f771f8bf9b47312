#include "dm/dm_report.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "base/be.h"
#include "dm/dm_log.h"
#include "server/delivery.h"
#include "status/dev_status.h"

namespace cnxd {
namespace {

// ---- Name tables --------------------------------------------------------------

constexpr const char* BANDWIDTH_NAMES[] = {"1.4MHz", "3MHz", "5MHz", "10MHz", "15MHz", "20MHz"};
constexpr const char* RRC_STATE_NAMES[] = {"RRC IDLE", "RRC CONNECTED"};
constexpr const char* PAGING_CYCLE_NAMES[] = {"0.32Sec", "0.64Sec", "1.28Sec", "2.56Sec", "FALSE"};
constexpr const char* UE_STATUS_NAMES[] = {"Off",       "Scanning",      "No Network", "Connecting",
                                           "Connected", "Connect error", "Scanned"};
constexpr const char* ROAMING_STATUS_NAMES[] = {"Home", "Roaming"};
constexpr const char* APERIODIC_CQI_MODES[] = {"1-2", "2-0", "2-2", "3-0", "3-1"};
constexpr const char* PERIODIC_CQI_MODES[] = {"1-0", "1-1", "2-0", "2-1"};
constexpr std::span<const char* const> BANDWIDTH(BANDWIDTH_NAMES);
constexpr std::span<const char* const> RRC_STATE(RRC_STATE_NAMES);
constexpr std::span<const char* const> PAGING_CYCLE(PAGING_CYCLE_NAMES);
constexpr std::span<const char* const> UE_STATUS(UE_STATUS_NAMES);
constexpr std::span<const char* const> ROAMING_STATUS(ROAMING_STATUS_NAMES);

// ---- Hand-written fields ------------------------------------------------------

std::string lead(const record_field& f) { return std::string(f.label) + f.sep; }

// "Status : %s" with the name of the byte, "Status : Unknown(%d)" past the names.
void status_field(record_sink out, const record_field& f, std::span<const uint8_t> bytes, int)
{
    if (f.off >= bytes.size())
        return;
    const uint8_t v = bytes[f.off];
    if (v < f.names.size())
        out("%s%s\n", lead(f).c_str(), f.names[v]);
    else
        out("%sUnknown(%d)\n", lead(f).c_str(), v);
}

// The two TAC bytes in hex, "NV, NV" for 0xFFFF.
void tac_field(record_sink out, const record_field& f, std::span<const uint8_t> bytes, int)
{
    if (f.off + 2 > bytes.size())
        return;
    if (load_be16(bytes.data() + f.off) == 0xFFFF)
        out("%sNV, NV\n", lead(f).c_str());
    else
        out("%s0x%02x, 0x%02x\n", lead(f).c_str(), bytes[f.off], bytes[f.off + 1]);
}

void nas_cell_id(record_sink out, const record_field& f, std::span<const uint8_t> bytes, int)
{
    if (f.off + 4 > bytes.size())
        return;
    const uint32_t id = load_be32(bytes.data() + f.off);
    out("%s%u(0x%04x)\n", lead(f).c_str(), id, id);
}

// Half dB, halved toward zero before it prints with one decimal (-21 prints
// -10.0); below -59 not valid.
void rsrq_field(record_sink out, const record_field& f, std::span<const uint8_t> bytes, int)
{
    if (f.off + 2 > bytes.size())
        return;
    const auto v = static_cast<int16_t>(load_be16(bytes.data() + f.off));
    if (v < -59)
        out("%sNV\n", lead(f).c_str());
    else
        out("%s%.1f\n", lead(f).c_str(), static_cast<double>(v / 2));
}

constexpr record_field status(std::span<const char* const> names)
{
    record_field f = rec::custom("Status", 0, status_field);
    f.names = names;
    return f;
}

// ---- Field tables -------------------------------------------------------------

// The three transmit powers in tenths of dBm, as the single-value reports
// 30 to 32 print them.
constexpr record_field TX_POWER[] = {
    rec::real1("PUSCH", 0, 2, 10).with_unit(" dBm").with_valid(-600, 400, "N/A"),
    rec::real1("PUCCH", 2, 2, 10).with_unit(" dBm").with_valid(-600, 400, "N/A"),
    rec::real1("PRACH", 4, 2, 10).with_unit(" dBm").with_valid(-600, 400, "N/A"),
};
constexpr record_field MSISDN[] = {rec::line("MSISDN"), rec::text("Number", 0, 64)};
constexpr record_field NR_RSRP_CELL[] = {rec::snum("\tNR Neighbor CELL_%d RSRP", 0, 2).with_unit("dBm")};
constexpr record_field NR_RSRQ_CELL[] = {rec::real1("\tNR Neighbor CELL_%d RSRQ", 0, 2, 10).with_unit("dB")};
constexpr record_field NR_SINR_CELL[] = {rec::real1("\tNR Neighbor CELL_%d SINR", 0, 2, 10).with_unit("dB")};
constexpr record_field NR_NEIGHBOUR_RSRP[] = {rec::array("", 0, 2, 512, NR_RSRP_CELL)};
constexpr record_field NR_NEIGHBOUR_RSRQ[] = {rec::array("", 0, 2, 512, NR_RSRQ_CELL)};
constexpr record_field NR_NEIGHBOUR_SINR[] = {rec::array("", 0, 2, 512, NR_SINR_CELL)};
static_assert(record_tbl_ok(TX_POWER) && record_tbl_ok(MSISDN) && record_tbl_ok(NR_NEIGHBOUR_RSRP) &&
              record_tbl_ok(NR_NEIGHBOUR_RSRQ) && record_tbl_ok(NR_NEIGHBOUR_SINR));

// ---- Printers -----------------------------------------------------------------

void print_field(const dm_report_row& row, std::span<const uint8_t> data)
{
    record_print(dm_printf, std::span(&row.how.field, 1), data);
}

void print_fields(const dm_report_row& row, std::span<const uint8_t> data)
{
    record_print(dm_printf, row.how.fields, data);
}

// The data in order as unsigned values of the row's width, "Value[n] : %u"
// each; a tail shorter than that prints as narrower values (2 bytes, then
// 1), so every byte shows.
void print_values(const dm_report_row& row, std::span<const uint8_t> data)
{
    size_t w = row.how.width;
    int n = 0;
    for (size_t at = 0; at < data.size(); at += w) {
        while (w > data.size() - at)
            w /= 2;
        dm_printf("Value[%d] : %u\n", n++, static_cast<unsigned>(record_uint(data, at, w)));
    }
}

// The data as texts: each run of characters up to a NUL byte, "Value[n] :
// %s" each; NUL bytes between texts are skipped.
void print_texts(const dm_report_row&, std::span<const uint8_t> data)
{
    int n = 0;
    for (auto at = data.begin(); at != data.end();) {
        const auto end = std::find(at, data.end(), uint8_t{0});
        if (end != at)
            dm_printf("Value[%d] : %s\n", n++, std::string(at, end).c_str());
        at = end == data.end() ? end : end + 1;
    }
}

void print_after_line(const dm_report_row& row, std::span<const uint8_t> data)
{
    dm_printf("%s\n", row.how.text);
    if (!data.empty())
        dm_print_hex(data.data(), data.size());
}

// A count line, then a block per cell: its heading, its field, a blank line.
void print_neighbours(const dm_report_row& row, std::span<const uint8_t> data)
{
    const size_t w = row.how.width;
    const size_t n = data.size() / w;
    dm_printf("Number of NEIGHBOR CELL : %d\n", static_cast<int>(n));
    for (size_t i = 0; i < n; ++i) {
        dm_printf("NEIGHBOR CELL[%d]\n", static_cast<int>(i));
        record_print(dm_printf, std::span(&row.how.field, 1), data.subspan(i * w, w));
        dm_printf("\n");
    }
}

void print_cells(const dm_report_row& row, std::span<const uint8_t> data)
{
    const size_t w = row.how.cells == dm_cells::u16 ? 2 : 4;
    for (size_t i = 0; i < data.size() / w; ++i) {
        const uint8_t* p = data.data() + i * w;
        const int cell = static_cast<int>(i);
        switch (row.how.cells) {
        case dm_cells::s32:
            dm_printf("\tCELL_%d: %d\n", cell, static_cast<int32_t>(load_be32(p)));
            break;
        case dm_cells::u16:
            dm_printf("\tCELL_%d: %d\n", cell, load_be16(p));
            break;
        case dm_cells::half_db_pair:
            dm_printf("\tCELL_%d: %.1f/%.1f\n", cell, static_cast<int16_t>(load_be16(p)) / 2.0,
                      static_cast<int16_t>(load_be16(p + 2)) / 2.0);
            break;
        }
    }
    if (row.how.braces)
        dm_printf("}");
}

void print_pair(const dm_report_row& row, std::span<const uint8_t> data)
{
    dm_printf(row.how.text, static_cast<int32_t>(load_be32(data, 0)), static_cast<int32_t>(load_be32(data, 4)));
}

// One signed value in tenths of dBm per receive antenna.
void rsrp_per_antenna(const dm_report_row&, std::span<const uint8_t> data)
{
    for (size_t i = 0; i < data.size() / 2; ++i)
        dm_printf("RSRP rx%d : %.1f(dBm)\n", static_cast<int>(i),
                  static_cast<int16_t>(load_be16(data.data() + 2 * i)) / 10.0);
}

void uicc_id(const dm_report_row&, std::span<const uint8_t> data)
{
    std::string line = "UICC ID : ";
    char byte[4];
    for (const uint8_t b : data) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        line += byte;
    }
    dm_printf("%s\n", line.c_str());
}

// The 16-bit counters of one CQI mode: "(index)", the counter at `first`
// and the one at `second`, for the 16 CQI indexes.
void cqi_mode(std::span<const uint8_t> data, const char* mode, size_t first, size_t second)
{
    std::string line;
    char cell[48];
    for (size_t i = 0; i < 16; ++i) {
        std::snprintf(cell, sizeof cell, "(%d)%d,%d ", static_cast<int>(i), load_be16(data, 2 * (first + i)),
                      load_be16(data, 2 * (second + i)));
        line += cell;
    }
    dm_printf("mode %s\n", mode);
    dm_printf("%s\n", line.c_str());
}

void cqi_statistics(const dm_report_row&, std::span<const uint8_t> data)
{
    dm_printf("Aperiodic\n");
    for (size_t m = 0; m < std::size(APERIODIC_CQI_MODES); ++m)
        cqi_mode(data, APERIODIC_CQI_MODES[m], 16 * m, 144 + 16 * m);
    dm_printf("Periodic\n");
    for (size_t m = 0; m < std::size(PERIODIC_CQI_MODES); ++m)
        cqi_mode(data, PERIODIC_CQI_MODES[m], 80 + 16 * m, 224 + 16 * m);
}

void downlink_mcs(const dm_report_row&, std::span<const uint8_t> data)
{
    struct Group {
        const char* title;
        size_t from, to;
    };
    static constexpr Group groups[] = {{"QPSK(MCS 0 ~ 9)\n", 0, 9},
                                       {"16QAM(MCS 10 ~ 16)\n", 10, 16},
                                       {"64QAM(MCS 17 ~ 28)\n", 17, 28},
                                       {"Retransmission(MCS 29 ~ 31)\n", 29, 31}};
    dm_printf("CW0 MCS\n");
    for (const Group& g : groups) {
        dm_printf("%s", g.title);
        std::string line;
        for (size_t n = g.from; n <= g.to; ++n)
            line += std::to_string(load_be16(data, 2 * n)) + " ";
        dm_printf("%s\n", line.c_str());
    }
}

// ---- Row kinds ----------------------------------------------------------------

constexpr dm_how one(record_field f) { return {.body = print_field, .field = f}; }
constexpr dm_how fields(record_fields t) { return {.body = print_fields, .fields = t}; }
// Counters of 4 bytes (or `width`), in order; texts; see the printers.
constexpr dm_how values(size_t width = 4) { return {.body = print_values, .width = width}; }
constexpr dm_how texts() { return {.body = print_texts}; }
constexpr dm_how counted() { return {.body = print_values, .width = 4, .count_first = true}; }
constexpr dm_how pdn(record_field f) { return {.body = print_field, .field = f, .count_first = true}; }
constexpr dm_how fields_after_line(const char* label) { return {.body = print_after_line, .text = label}; }
constexpr dm_how neighbours(record_field f, size_t width)
{
    return {.body = print_neighbours, .field = f, .width = width};
}
constexpr dm_how neighbours(record_field f) { return neighbours(f, f.width); }
constexpr dm_how cells(dm_cells kind, bool braces) { return {.body = print_cells, .cells = kind, .braces = braces}; }
constexpr dm_how pair(const char* format) { return {.body = print_pair, .text = format}; }
constexpr dm_how by(dm_body fn) { return {.body = fn}; }
// The address printer needs the title per address; its row says so.
constexpr dm_how addresses(const char* label, size_t size)
{
    return {.width = size, .text = label, .title_per_item = true};
}
constexpr dm_cells CELL_S32 = dm_cells::s32;
constexpr dm_cells CELL_U16 = dm_cells::u16;
constexpr dm_cells CELL_PAIR = dm_cells::half_db_pair;

constexpr dm_report_row basic_tbl[] = {
#define DM_BASIC(id, title, payload, how) {id, title, payload, how},
#define DM_EXT(type, title, how)
#include "dm/dm_report.def"
#undef DM_BASIC
#undef DM_EXT
};

constexpr dm_report_row ext_tbl[] = {
#define DM_BASIC(id, title, payload, how)
#define DM_EXT(type, title, how) {type, title, 0, how},
#include "dm/dm_report.def"
#undef DM_BASIC
#undef DM_EXT
};

constexpr bool ascending(std::span<const dm_report_row> rows)
{
    for (size_t i = 1; i < rows.size(); ++i)
        if (rows[i].id <= rows[i - 1].id)
            return false;
    return true;
}
static_assert(ascending(basic_tbl) && ascending(ext_tbl), "one row per id, in order");

const dm_report_row* find(std::span<const dm_report_row> rows, uint16_t id)
{
    const auto it = std::lower_bound(rows.begin(), rows.end(), id,
                                     [](const dm_report_row& r, uint16_t v) { return r.id < v; });
    return it != rows.end() && it->id == id ? &*it : nullptr;
}

// The addresses of a PDN address report, each under the title; a length
// that is no whole number of addresses is an error line.
void print_addresses(const dm_report_row& row, int device, std::span<const uint8_t> data)
{
    const size_t w = row.how.width;
    if (data.empty() || data.size() % w != 0) {
        dm_printf(row.title, device);
        dm_printf("%s %d] Error or No Data\n", row.how.text, static_cast<int>(data.size()));
        return;
    }
    for (size_t i = 0; i < data.size(); i += w) {
        dm_printf(row.title, device);
        dm_printf("%s : ", row.how.text);
        dm_print_hex(data.data() + i, w);
    }
}

// The common shape: a blank line, the time, the title, the fields, a blank line.
void print_report(const dm_report_row& row, uint32_t dev_idx, std::span<const uint8_t> data)
{
    // The device name is "lte" and the index minus one; index 0 is no modem
    // the SDK reports and prints as lte-1.
    const int device = static_cast<int>(dev_idx) - 1;
    dm_printf("\n");
    dm_print_time();
    if (row.how.title_per_item) {
        print_addresses(row, device, data);
    } else {
        const bool counted_title = row.how.count_first;
        dm_printf(row.title, device, counted_title && !data.empty() ? data[0] : 0);
        row.how.body(row, counted_title && !data.empty() ? data.subspan(1) : data);
    }
    dm_printf("\n");
}

}  // namespace

std::span<const dm_report_row> dm_basic_reports() { return basic_tbl; }
std::span<const dm_report_row> dm_ext_reports() { return ext_tbl; }

void print_dm_msg(uint32_t dev_idx, std::span<const uint8_t> report)
{
    const uint16_t id = load_be16(report, 2);
    const dm_report_row* row = find(basic_tbl, id);
    if (!row) {
        cnxd_srv_send_log("Unknown DM Msg Type %d\n", id);
        return;
    }
    const auto payload = report.subspan(std::min<size_t>(4, report.size()));
    print_report(*row, dev_idx, payload.first(std::min<size_t>(payload.size(), row->payload)));
}

void print_dm_ext_msg(uint32_t dev_idx, std::span<const uint8_t> report)
{
    constexpr uint16_t RESET_SELECT = 139;
    constexpr uint16_t RESET_ALL = 140;
    constexpr uint16_t SILENT = 235;
    const uint16_t type = load_be16(report, 4);
    if (type == RESET_SELECT || type == RESET_ALL) {
        cnxd_srv_send_log("Ignore L3 RRC Statistics Reset select/all item. (%d)\n", type);
        return;
    }
    if (type == SILENT)
        return;
    const dm_report_row* row = find(ext_tbl, type);
    if (!row) {
        cnxd_srv_send_log("Unknown DM Ext Msg Type %d\n", type);
        return;
    }
    const auto data = report.subspan(std::min<size_t>(8, report.size()));
    const auto shown = data.first(std::min<size_t>(data.size(), load_be16(report, 6)));
    status_dm_ext(dev_idx, type, shown);
    print_report(*row, dev_idx, shown);
}

}  // namespace cnxd
