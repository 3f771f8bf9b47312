// State and entry points of the indication handlers that other modules
// reach: the ADMIN PDN reference count, the UICC unlock and the DM filter
// table.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

namespace cnxd {

// Open PDN connections of APN type 2 (admin) while the store's operator
// code is 7; wraps at 256. Raised and lowered by the connection handlers on
// the SDK callback thread, lowered by the client dispatcher on the main
// thread.
extern std::atomic<uint8_t> g_vzw_admin_pdn_reference_count;

// The UICC unlock block: its first word is the unlock value (0, 1 or 2).
constexpr size_t UICC_UNLOCK_BLOCK_LEN = 11;
// Unlocks the device's UICC with `block`.
void ind_uicc_unlock(uint32_t dev, std::span<const uint8_t, UICC_UNLOCK_BLOCK_LEN> block);

// The DM filter table handed to the SDK with every DM log extension read
// request: one byte per DM item id (non-zero: the item is reported).
constexpr size_t DM_FILTER_ITEMS = 256;
extern std::array<uint8_t, DM_FILTER_ITEMS> s_filter_dm_db;

}  // namespace cnxd
