// The names of forwarded events, as cnxd-cli prints them beside the numbers.
#pragma once

#include <cstdint>

namespace cnxd::cli {

// The title of the event's first row in the indication table, or nullptr
// for an event no row names.
const char* event_name(uint16_t event);

}  // namespace cnxd::cli
