// The record layouts of the indications that only inform: what the common
// handler shape prints after the title, one labelled line per field in
// record order. An id without a layout prints its title alone.
#pragma once

#include <cstdint>

#include "base/record.h"
#include "ltesdk.h"

namespace cnxd {

// The fields of the record of SDK callback `cb_id` (empty when it has no
// layout here).
record_fields ind_layout(uint16_t cb_id);

}  // namespace cnxd
