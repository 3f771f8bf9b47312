#include "dm/dm_filter.h"

namespace cnxd {

std::array<uint8_t, DM_FILTER_ITEMS> s_filter_dm_db{};

}  // namespace cnxd
