// Client API requests: one HCI_API_REQUEST becomes one SDK call on the
// client's behalf, with its outcome left in the client's shared block; one
// HCI_CLI_COMMAND feeds a command line to the shell or the modem.
#pragma once

#include <cstdint>
#include <span>

#include "server/client.h"

namespace cnxd {

// Serves one request payload (command id, length, device index, data).
int cnxd_handler(cnxd_client_rec* client, std::span<const uint8_t> request);
// Serves one command-line frame.
int cnxd_cli_command_handler(cnxd_client_rec* client, const HciFrame& frame);

}  // namespace cnxd
