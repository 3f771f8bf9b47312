// cnxd-cli's view of the state socket: the document as it came, or
// printed as tables.
#pragma once

#include <optional>
#include <string>

namespace cnxd::cli {

// The document the daemon's state socket gives; nothing (and a message
// on standard error) when the socket cannot be read.
std::optional<std::string> state_read();
// The document as tables; false when it is not a document of the daemon's.
bool state_print(const std::string& json, FILE* out);

}  // namespace cnxd::cli
