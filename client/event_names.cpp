#include "event_names.h"

#include <algorithm>
#include <iterator>

// Generated into the build directory from the indication table.
#include <cnxd_event_names.h>

namespace cnxd::cli {

const char* event_name(uint16_t event)
{
    const auto row = std::ranges::find(event_name_tbl, event, &event_name_row::event);
    return row == std::end(event_name_tbl) ? nullptr : row->name;
}

}  // namespace cnxd::cli
