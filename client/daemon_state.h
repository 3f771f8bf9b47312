// cnxd-cli's view of the state socket: the document as it came, printed
// as tables (inspect), or each device's status as a report (status, top).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace cnxd::cli {

// The document the daemon's state socket gives; nothing (and a message
// on standard error) when the socket cannot be read.
std::optional<std::string> state_read();
// The document as tables; false when it is not a document of the daemon's.
bool state_print(const std::string& json, FILE* out);

struct status_style {
    bool trend = false;   // sparklines of the signal history
    bool colour = false;  // terminal colours
};
// Each device's status (or `dev`'s alone) as sections of "label: value"
// lines; false when the document is not the daemon's or has no such
// device.
bool status_print(const std::string& json, std::optional<uint32_t> dev, status_style style, FILE* out);
// The devices part of the document (one device's object for `dev`) as
// JSON text; nothing when there is none.
std::optional<std::string> status_json(const std::string& json, std::optional<uint32_t> dev);

}  // namespace cnxd::cli
