// The notifications of a changed modem setting that the client dispatcher
// (and, for roaming, the shell) raise: each prints the change and forwards
// it to the clients (events 166, 167 and 168) as the device index and the
// one-byte value at `value`.
#pragma once

#include <cstdint>

namespace cnxd {

void airplane_change_notification(uint32_t dev, const uint8_t* value);
void camode_change_notification(uint32_t dev, const uint8_t* value);
void roam_allow_change_notification(uint32_t dev, const uint8_t* value);

}  // namespace cnxd
