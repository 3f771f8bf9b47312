// A device's first-time sequence after its first protocol-stack
// initialisation: protocol information, the platform's modem settings, and
// the online request thread, which waits for the online answer, runs the
// init script, marks the device initialised and starts the watchdog.
#pragma once

#include <cstdint>

namespace cnxd {

// What the online request thread runs of the subsystems above the modem
// once the online answer came or the wait ended. Either may be null (in
// tests): that step is left out.
struct online_request_steps {
    void (*run_init_script)();
    void (*start_watchdog)();
};
void online_request_set_steps(const online_request_steps& steps);

// How long an online request thread waits for the online answer: 30 s, or
// CNXD_ONLINE_WAIT_MS milliseconds.
int online_wait_ms();

// Runs the first-time sequence of `dev` (on the SDK callback thread).
void lte_first_time_sequence(uint32_t dev);

// Asks the modem for protocol information `type` with parameter byte
// `param` (the operator code for type 6, else 0).
void request_protocol_info(uint32_t dev, uint16_t type, uint8_t param = 0);

// The online answer: wakes the waiting online request thread, if any.
void online_event_signal();

// Shutdown: cuts every online request thread's wait short and joins them;
// the threads then neither run the script nor start the watchdog. Later
// sequences run again as usual.
void online_requests_stop();

}  // namespace cnxd
