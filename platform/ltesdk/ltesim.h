// The modem simulator behind ltesdk.h on a host: its control language, for
// tests that drive it in-process. Everything else reaches it through the
// control socket or ltesim.conf (docs/ltesim.md).
#pragma once

#include <string>
#include <string_view>

namespace ltesim {

// Runs one line of the control language while the SDK is open (and also
// before, for the knobs); returns the reply, every line ending in '\n'.
std::string control(std::string_view line);

}  // namespace ltesim
