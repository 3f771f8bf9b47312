// The count of open ADMIN PDN connections, kept by the connection
// indications and read by the client dispatcher and the shell's PDN
// disconnect before they drop a connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

namespace cnxd {

// Open PDN connections of APN type 2 (admin) while the store's operator
// code is 7; wraps at 256, reset to 0 by the detach response and the device
// removal. Raised and lowered by the connection handlers on the SDK callback
// thread, lowered by the client dispatcher on the main thread and by the shell.
extern std::atomic<uint8_t> g_vzw_admin_pdn_reference_count;

// Drops one hold when the count is above `floor`: the new count, or
// nothing when the count was not above it.
std::optional<uint8_t> admin_pdn_release(uint8_t floor);

}  // namespace cnxd
