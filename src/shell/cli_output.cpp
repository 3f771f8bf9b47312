#include "shell/cli_output.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "ltesdk.h"
#include "modem/device.h"
#include "modem/log_direction.h"
#include "server/delivery.h"
#include "shell/cmd_socket.h"

namespace cnxd {
namespace {

void to_log_channel(std::string_view text)
{
    cnxd_srv_send_log("%.*s", static_cast<int>(text.size()), text.data());
}

void to_stdout(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void to_log_and_sockets(std::string_view text)
{
    to_log_channel(text);
    cmd_socket_broadcast(text);
}

// Each non-empty line its own SDK log line.
void to_sdk_log(std::string_view text)
{
    for (size_t at = 0; at < text.size();) {
        const size_t nl = std::min(text.find('\n', at), text.size());
        if (nl > at)
            sdk_log(3, "%.*s", static_cast<int>(nl - at), text.data() + at);
        at = nl + 1;
    }
}

void to_specific_ids(std::string_view text)
{
    const auto ids = arm1_log_specific_id_list();
    cnxd_srv_send_log_to_ids(ids.data(), "%.*s", static_cast<int>(text.size()), text.data());
}

// Where the text goes, by direction.
constexpr void (*cli_output_routes[])(std::string_view) = {
    to_log_channel, to_stdout, to_log_and_sockets, to_sdk_log, to_specific_ids,
};
static_assert(std::size(cli_output_routes) == ARM1_LOG_SPECIFIC_ONLY + 1);

}  // namespace

void cli_cmd_rsp_route(uint32_t /*unused*/, char* text, uint32_t len)
{
    if (!text)
        return;
    const uint32_t direction = get_arm1_log_direction();
    if (direction < std::size(cli_output_routes))
        cli_output_routes[direction](std::string_view(text, strnlen(text, len)));
}

}  // namespace cnxd
