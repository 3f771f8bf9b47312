// Client API requests: one HCI_API_REQUEST becomes one SDK call on the
// client's behalf, with its outcome left in the client's shared block; one
// HCI_CLI_COMMAND feeds a command line to the shell or the modem.
#pragma once

#include <cstdint>
#include <span>

#include "server/client.h"

namespace cnxd {

// Serves one request payload (command id, length, device index, data):
// marks the client busy, runs the command's row of the command table,
// stores the result word and raises the client's completion. Returns 0.
int cnxd_handler(cnxd_client_rec* client, std::span<const uint8_t> request);
// Serves one command-line frame.
int cnxd_cli_command_handler(cnxd_client_rec* client, const HciFrame& frame);

// The handlers the server takes for these frames (cnxd_srv_set_handlers).
constexpr cnxd_srv_handlers cnxd_api_handlers{cnxd_handler, cnxd_cli_command_handler};

// The name in the command table's row of `id`: the SDK function the
// command calls, or the daemon's own function for commands without an SDK
// call; nullptr for an id that is not a command.
const char* api_cmd_name(uint16_t id);

}  // namespace cnxd
