// The record layouts of the indications that only inform (the print-only
// rows of ind.def): what the common handler shape prints after the title,
// one labelled line per field in record order. Every print-only row has
// one, checked at compile time with its fit in the row's forward length;
// so have the attach and PDN answers, whose bodies print them.
#pragma once

#include <cstdint>

#include "base/record.h"
#include "ltesdk.h"

namespace cnxd {

// The fields of the record of SDK callback `cb_id`: those of a print-only
// row, and those the attach and PDN answers' bodies print (empty for other
// rows, and for a record that is the device index alone).
record_fields ind_layout(uint16_t cb_id);

}  // namespace cnxd
