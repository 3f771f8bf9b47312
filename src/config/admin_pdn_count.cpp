#include "config/admin_pdn_count.h"

namespace cnxd {

std::atomic<uint8_t> g_vzw_admin_pdn_reference_count{0};

std::optional<uint8_t> admin_pdn_release(uint8_t floor)
{
    uint8_t n = g_vzw_admin_pdn_reference_count;
    while (n > floor && !g_vzw_admin_pdn_reference_count.compare_exchange_weak(n, static_cast<uint8_t>(n - 1))) {
    }
    if (n <= floor)
        return std::nullopt;
    return static_cast<uint8_t>(n - 1);
}

}  // namespace cnxd
