// The DM report dispatchers: a report the modem sent (a DM log response or
// a DM log extension response whose result is 0) printed into dm.log by the
// printer of its id (dm_report.def).
#pragma once

#include <cstdint>
#include <span>

#include "base/record.h"

namespace cnxd {

// A basic report: result (2), DM log id (2), the payload from byte 4. An id
// without a printer logs "Unknown DM Msg Type %d\n" to the clients.
void print_dm_msg(uint32_t dev_idx, std::span<const uint8_t> report);

// An extended report: result (2), DM log id (2), extended type (2), data
// length (2), the data from byte 8. Types 139 and 140 are logged and not
// printed, 235 prints nothing, others without a printer log "Unknown DM Ext
// Msg Type %d\n".
void print_dm_ext_msg(uint32_t dev_idx, std::span<const uint8_t> report);

struct dm_report_row;
using dm_body = void (*)(const dm_report_row& row, std::span<const uint8_t> data);

enum class dm_cells : uint8_t { s32, u16, half_db_pair };

// How a report's data prints (see dm_report.def).
struct dm_how {
    dm_body body = nullptr;
    record_fields fields{};
    record_field field{};
    size_t width = 0;            // neighbours, addresses: bytes of one element
    dm_cells cells = dm_cells::s32;
    bool braces = false;
    const char* text = nullptr;  // a label or a format of the row
    bool count_first = false;    // data byte 0 is the title's second number
    bool title_per_item = false;  // addresses: the title before each one
};

struct dm_report_row {
    uint16_t id;
    const char* title;
    uint32_t payload;  // basic reports: bytes of payload printed at most
    dm_how how;
};

// Every row, basic ids first and then the extended types, for tests and
// fuzzing.
std::span<const dm_report_row> dm_basic_reports();
std::span<const dm_report_row> dm_ext_reports();

}  // namespace cnxd
