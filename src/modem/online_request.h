// A device's first-time sequence after its first protocol-stack
// initialisation: protocol information, the platform's modem settings, and
// the online request thread, which waits for the online answer, runs the
// init script, marks the device initialised and starts the watchdog.
#pragma once

#include <cstdint>

namespace cnxd {

// What the online request thread runs of the subsystems above the modem
// once the online answer came or the wait ended. Any may be null (in
// tests): that step is left out.
struct online_request_steps {
    void (*run_init_script)();
    void (*start_watchdog)();
    // Last, with the device on line and initialised.
    void (*device_ready)(uint32_t dev);
};
void online_request_set_steps(const online_request_steps& steps);

// How long an online request thread waits for the online answer: 30 s, or
// CNXD_ONLINE_WAIT_MS milliseconds.
int online_wait_ms();

// Runs the first-time sequence of `dev` (on the SDK callback thread). The
// sequence's online wait replaces any earlier wait of the device.
void lte_first_time_sequence(uint32_t dev);

// Asks the modem for protocol information `type` with parameter byte
// `param` (the operator code for type 6, else 0).
void request_protocol_info(uint32_t dev, uint16_t type, uint8_t param = 0);

// The online answer of `dev`: wakes the device's current online wait, if
// one is waiting.
void online_event_signal(uint32_t dev);

// The device was inserted or removed: its online wait, if any, ends at once
// and its thread neither runs the init script nor marks the device
// initialised nor starts the watchdog. Called before the device's
// init-complete flag is cleared.
void online_request_forget(uint32_t dev);

// Shutdown: ends every online wait, and no online request thread runs a
// step from here on. The threads are detached and never joined; this waits
// at most a moment for those still running the init script to leave it.
// A later first-time sequence runs as usual again.
void online_requests_stop();

}  // namespace cnxd
