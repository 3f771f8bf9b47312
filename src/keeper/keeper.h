// The connection keeper: an opt-in supervisor that keeps a device attached
// and its chosen PDN connections up without any client.
//
// Settings come from the store node "config wan lte autoconnect" at each
// decision: ENABLE (0 by default: the keeper sends nothing), pdn_labels
// (the PDN labels to keep up, "0" or "0 1"; the first is the attach's),
// first_wait and longest_wait (seconds between attempts: the first, doubling
// up to the longest) and reset_after (failures in a row after which the
// modem is reset once; 0 never).
//
// What it knows of a device comes from the indication handlers (answers to
// attach, detach, PDN connect and disconnect, interface ready and release,
// device insert and removal) and from the end of the device's online
// sequence. A detach or disconnect answer is always to someone else's
// request (the keeper asks for neither): it stands the keeper down for that
// connection until an attach or connectivity answer it did not ask for
// shows that someone asked again.
//
// Threads: the hooks only note the fact and wake the keeper's worker; the
// timer callback only wakes it too. The worker reads the store, decides,
// logs one line per decision and sends its requests through the shell's
// request wrappers (cm_attach_request, cm_pdn_connectivity_request,
// cm_device_reset), the APN part from the store's APN table entry of the
// label, so the traces, the capture and the answers' handlers see them as
// any other.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cnxd {

// What an indication tells the keeper of a device.
enum class keeper_fact : uint8_t {
    attach_answer,      // value: the answer's result (0 attached)
    detach_answer,      // someone's detach went through
    connect_answer,     // value: the default EPS bearer id of someone's (or the keeper's) PDN
    disconnect_answer,  // value: the default EPS bearer id of the PDN someone closed
    interface_ready,    // value: the interface's default EPS bearer id
    interface_release,  // value: the same, or one of the all-interfaces ids
    device_change,      // inserted or removed: everything it had is gone
};

void keeper_heard(uint32_t dev, keeper_fact fact, uint16_t value = 0);
// The device finished its online sequence (on line and initialised).
void keeper_device_ready(uint32_t dev);

// Starts the worker (after the timer service) and stops it (before the
// SDK closes); stop ends any wait of its at once and never waits for a
// request it has under way.
void keeper_start();
void keeper_stop();

// What the state socket shows of a device.
struct keeper_counters {
    uint32_t attaches = 0;     // attach requests sent
    uint32_t connects = 0;     // PDN connectivity requests sent
    uint32_t failures = 0;     // attempts that did not bring the connection up in time
    uint32_t resets = 0;       // modem resets
    uint32_t drops = 0;        // kept connections lost without anyone asking
    uint32_t stand_downs = 0;  // detaches and disconnects asked for by a client or the shell
};
struct keeper_view {
    std::vector<int> labels;
    const char* state = "off";
    int failures = 0;                     // in a row
    std::optional<int> next_attempt_s;  // none while no attempt is due
    keeper_counters counters;
};
keeper_view keeper_state(uint32_t dev);

}  // namespace cnxd
