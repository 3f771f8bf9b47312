#include "ind/uicc_unlock.h"

#include "base/be.h"
#include "modem/cm_printf.h"

namespace cnxd {

// Only the entry point so far: the unlock sequence itself belongs to the
// informational indication handlers.
void ind_uicc_unlock(uint32_t dev, std::span<const uint8_t, UICC_UNLOCK_BLOCK_LEN> block)
{
    cm_printf(CM_TRACE, "[%s+]\n", "ind_uicc_unlock");
    cm_printf(CM_INFO, "DEV_IDX(%u) unlock value : %u\n", dev, load_be32(block.data()));
    cm_printf(CM_TRACE, "[%s-]\n", "ind_uicc_unlock");
}

}  // namespace cnxd
