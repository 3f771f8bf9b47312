#include "ind/admin_pdn_count.h"

namespace cnxd {

std::atomic<uint8_t> g_vzw_admin_pdn_reference_count{0};

}  // namespace cnxd
