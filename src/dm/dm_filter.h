// The DM filter table: which DM items the modem reports. The client
// dispatcher hands it to the SDK with every DM log extension read request.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace cnxd {

// One byte per DM item id; non-zero: the item is reported.
constexpr size_t DM_FILTER_ITEMS = 256;
extern std::array<uint8_t, DM_FILTER_ITEMS> s_filter_dm_db;

}  // namespace cnxd
