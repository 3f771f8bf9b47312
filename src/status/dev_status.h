// What each device's modem has told the daemon, kept for the state
// socket: on line or not, attach state and its last results, the data
// connections with their addresses, the serving cell's figures and their
// recent history, and counts of attach, detach and interface-release
// events. Only observing: nothing here changes what the daemon does.
//
// The feeds are single calls from the indication handlers (SDK callback
// thread), the DM report dispatcher and the DHCP notices; each takes one
// short lock and never waits on anything else, so no delivery is held up.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cnxd {

using status_clock = std::chrono::steady_clock;

// Devices 0 to STATUS_DEVICES - 1 are kept (the daemon's device tables'
// size); news of another index is dropped.
constexpr uint32_t STATUS_DEVICES = 123;

// ---- Feeds ------------------------------------------------------------------

void status_inserted(uint32_t dev, uint8_t boot_image);
void status_removed(uint32_t dev);
void status_online(uint32_t dev, int32_t result);
// Attach (`attach` true) or detach answer: its result and cause.
void status_attach(uint32_t dev, bool attach, uint16_t result, uint16_t cause);
// An interface record (if_record.h) that is up, as configured (with the
// address DHCP gave it; one of another data path than the daemon's is
// left out), or released (every interface for the special bearer ids).
void status_interface_up(uint32_t dev, std::span<const uint8_t> nic);
void status_interface_released(uint32_t dev, std::span<const uint8_t> nic);
// A DHCP client got a new IPv4 address for the interface `name`.
void status_interface_ipv4(const char* name, const uint8_t* addr);
// An extended DM report: its type and data (print_dm_ext_msg's layout).
void status_dm_ext(uint32_t dev, uint16_t type, std::span<const uint8_t> data);

// ---- The view ---------------------------------------------------------------

// A figure in tenths of its unit; empty when the modem reported it not
// valid (or never reported it).
using status_tenths = std::optional<int32_t>;

enum class status_rat : uint8_t { lte, nr };
constexpr size_t STATUS_RATS = 2;
constexpr size_t STATUS_HISTORY = 120;

struct status_cell {
    bool seen = false;
    status_clock::time_point at{};
    status_tenths rsrp, rsrq, sinr;  // dBm, dB, dB
    std::optional<int64_t> pci, band, cell_id;
    // The last STATUS_HISTORY samples of RSRP and SINR, oldest first; the
    // time the last one began.
    status_clock::time_point sample_at{};
    std::vector<status_tenths> rsrp_history, sinr_history;
};

struct status_connection {
    std::string name, apn, ipv4, ipv6;
    uint8_t ip_type = 0;
    uint16_t eps_bearer = 0;
    bool dhcp = false;
    status_clock::time_point since{};
};

enum class status_attach_state : uint8_t { unknown, attached, detached, attach_failed };

struct status_device {
    bool inserted = false;
    bool online = false;
    std::optional<int32_t> online_result;
    uint8_t boot_image = 0;
    status_attach_state attach = status_attach_state::unknown;
    status_clock::time_point attach_since{};
    // The last attach and detach answers: result and cause.
    std::optional<std::array<uint16_t, 2>> last_attach, last_detach;
    uint32_t attaches = 0, detaches = 0, releases = 0;
    std::vector<status_connection> connections;
    std::array<status_cell, STATUS_RATS> cells{};
};

// A copy of a device's status; empty when nothing was ever told of it.
std::optional<status_device> status_of(uint32_t dev);
const char* status_attach_name(status_attach_state s);

// Forgets everything (tests).
void status_reset();

}  // namespace cnxd
