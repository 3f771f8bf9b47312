// The record layouts of the indications that only inform (the print-only
// rows of ind.def): what the common handler shape prints after the title,
// one labelled line per field in record order. Every print-only row has
// one, checked at compile time with its fit in the row's forward length;
// so have the attach and PDN answers, whose bodies print them, and the
// UICC's answers to its commands (a printer per command, each within its
// answer's size).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/record.h"
#include "ltesdk.h"

namespace cnxd {

// The fields of the record of SDK callback `cb_id`: those of a print-only
// row, and those the attach and PDN answers' bodies print (empty for other
// rows, and for a record that is the device index alone).
record_fields ind_layout(uint16_t cb_id);

// The UICC's answer to a command (the UICC answer record): a 16-bit
// result, 16 bits reserved, the 16-bit command type, then the command's
// data.
constexpr size_t UICC_ANSWER_RESULT = 0;
constexpr size_t UICC_ANSWER_TYPE = 4;
constexpr size_t UICC_ANSWER_DATA = 6;
struct uicc_answer {
    const char* heading = nullptr;  // none for the status
    record_fields fields{};         // of the data
    size_t size = 0;                // of the data
    size_t all = 0;                 // of the data when all records were read (read record only)
};
// The answer of command `type`, or nullptr for a type without one.
const uicc_answer* ind_uicc_answer(uint16_t type);

}  // namespace cnxd
