// The UICC unlock that the shell's "uiccext" and the client dispatcher ask
// of the UICC handling of the indications.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace cnxd {

// The UICC unlock block: its first word is the unlock value (0, 1 or 2).
constexpr size_t UICC_UNLOCK_BLOCK_LEN = 11;
// Unlocks the device's UICC with `block`.
void ind_uicc_unlock(uint32_t dev, std::span<const uint8_t, UICC_UNLOCK_BLOCK_LEN> block);

}  // namespace cnxd
