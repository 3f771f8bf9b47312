// Inside the modem simulator: the state shared by its parts.
//  sim_core.cpp     call record, programmed failures and answers, set-up and
//                   tear-down, registrations, the callback thread, printing
//  sim_control.cpp  the control language, ltesim.conf and the control socket
//  sim_model.cpp    how the simulated modem answers each request
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lapi_size.h"
#include "ltesdk.h"

namespace ltesim {

// One request as a generated body sees it.
struct Request {
    const char* name = "";
    std::optional<uint32_t> handle;       // none for calls without one
    std::optional<uint32_t> dev;          // none for calls without a device
    std::vector<uint8_t> bytes;           // what `calls` shows
    std::span<const uint8_t> record;      // the request record, when its size is known
    uint8_t* answer = nullptr;            // the caller's answer area
    size_t answer_size = 0;
    uint32_t value = 0;                   // first value argument
};

// The knobs of `set`, with their defaults.
struct Knobs {
    int boot_image_type = 1;
    int device_present = 1;
    int delay_ms = 20;
    int ip_alloc = 0;  // 0 by NAS signalling, 1 by DHCP
    int pdn_type = 2;  // 0 IPv4, 1 IPv6, 2 both
    int op = 0;        // operator code of protocol information type 5
    int ps_init_result = 0;
    int online_result = 0;
    int attach_result = 0;
    int watchdog_answer = 1;    // 0: watchdog requests stay unanswered
    int watchdog_delay_ms = 0;  // added to delay_ms before a watchdog answer
    int download_crc_chunk = 0;     // N: the Nth chunk of an image is answered with a CRC error
    int download_silent_chunk = 0;  // N: the Nth chunk of an image stays unanswered
    int download_early = 0;         // 1: a download is answered before its call returns
    int download_silent_end = 0;    // 1: an image's end record stays unanswered
    int call_delay_ms = 0;          // every request function takes this long to return
};

// A callback waiting for delivery. When `chunk` is not empty, it is
// delivered inside the record, after `record`'s bytes, and its address word
// is written at `addr_field` just before delivery.
struct Event {
    uint32_t id = 0;
    uint32_t dev = 0;
    std::vector<uint8_t> record;
    std::vector<uint8_t> chunk;
    size_t addr_field = 0;
    int group = 0;  // non-zero: cancelled together (periodic reports)
};

// sim_core.cpp
int32_t request(Request r);
void post(Event ev, int delay_ms);
void cancel_group(int group);
// Waits until every callback due by now has been delivered.
void sync_callbacks();
bool registered(uint32_t id);
std::string call_lines();
void clear_calls();
void set_fail(std::string_view name, int32_t code);
void set_answer(std::string_view name, std::vector<uint8_t> bytes);
bool sdk_open();
bool sdk_open_locked();  // with the simulator lock held
Knobs& knobs();  // guarded by the simulator lock; use only inside it
std::mutex& lock();
// The names of lapi.def and the set-up calls.
bool known_function(std::string_view name);

// sim_control.cpp
void run_conf_file();
void start_control_server();
void stop_control_server();

// sim_model.cpp: called with the simulator lock held.
void model_answer(const Request& r);
// True when the callbacks it posted are to be delivered before the request
// returns (the caller waits for them once it has let go of the lock).
bool model_react(const Request& r);
void model_reset();
void model_initialized();
void model_device_present(int present);
// Brings the PDN of `slot` up with `apn` (its TID entry and the interface
// ready), or down without one (the interface release); a `slot` below 0
// takes every PDN down with one release, as a network detach does. Empty
// on success, else why not.
std::string model_pdn(int slot, std::optional<std::string_view> apn);
// The image bytes the device has received since its last download began.
std::vector<uint8_t> model_image(uint32_t dev);
// The data the modem holds for NV item `item` (answered to an upload).
void model_set_nv(int item, std::vector<uint8_t> data);

// Shared helpers.
std::string to_hex(std::span<const uint8_t> bytes);
std::optional<std::vector<uint8_t>> from_hex(std::string_view text);

}  // namespace ltesim
