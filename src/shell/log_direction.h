// Where the modem's own log and console output go: the log direction
// arm1_log_direction, the list of client identities of direction 4, the
// setter that arm1log and the command socket's accept run, and the router of
// the modem's console output (SDK callback 188). One table row per direction
// holds all of it: its word, what the setter does and where output goes.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace cnxd {

// The log directions; any other value drops the modem's console output.
constexpr uint32_t ARM1_LOG_OFF = 0;            // the clients' log channel only
constexpr uint32_t ARM1_LOG_UART = 1;           // standard output (the serial port)
constexpr uint32_t ARM1_LOG_CLIENTS = 2;        // log channel and command-socket connections
constexpr uint32_t ARM1_LOG_FILE = 3;           // the SDK log, line by line
constexpr uint32_t ARM1_LOG_SPECIFIC_ONLY = 4;  // the clients of the specific-id list

// One command of a switch of direction: a line for the modem's console, or
// one run by the router's shell.
struct log_switch_step {
    bool to_modem;
    const char* text;  // null: no step
};

struct log_direction_row {
    const char* word;  // in arm1log's usage
    // g_is_qlog_to_pc: whether client log text is copied to the system log.
    uint32_t qlog_to_pc;
    int sdk_log_type;
    std::array<log_switch_step, 3> steps;  // run in order
    void (*route)(std::string_view text);  // where console output goes
};

// Indexed by direction.
extern const std::span<const log_direction_row> log_direction_tbl;

// Starts at ARM1_LOG_UART. Read by the console output router on the SDK
// callback thread, written by shell threads.
extern std::atomic<uint32_t> arm1_log_direction;
uint32_t get_arm1_log_direction();

// Switches the modem log to `direction` as its row says: the copy of client
// log text to the system log, the daemon's log type and the modem's console
// buffering and host log interface commands. Any value is stored in
// arm1_log_direction; only the table's directions act.
void set_arm1_log_direction(uint32_t direction);
// Set by a daemon running in the foreground: its own log then stays where
// its options put it (standard error, or its file) whatever the direction,
// so that whoever watches it (an operator at the terminal, a test) does not
// lose it, the stop's lines included, at the first shell connection.
extern std::atomic<bool> arm1_log_keeps_daemon_log;

// Routes the modem console's `text` (`len` bytes, or up to a NUL) by the log
// direction; a null text or another direction is dropped. The first argument
// carries nothing.
void cli_cmd_rsp_route(uint32_t unused, char* text, uint32_t len);

// Client identities that get the modem's console output while the direction
// is 4; 0 marks a free slot.
constexpr size_t ARM1_LOG_SPECIFIC_IDS = 10;
// The specific identifier record: operation byte (1 add, anything else
// remove), then the identity, 32-bit big-endian.
constexpr size_t ARM1_LOG_SPECIFIC_REC_LEN = 5;
constexpr uint8_t ARM1_LOG_SPECIFIC_ADD = 1;

// Adds or removes one identity; 1 on success (an identity already listed
// counts as added), -1 when the list is full or the identity is not in it.
int ind_set_arm1_log_specific_id(std::span<const uint8_t, ARM1_LOG_SPECIFIC_REC_LEN> rec);
// A copy of the list with a 0 entry behind it, as the log senders take it.
std::array<uint32_t, ARM1_LOG_SPECIFIC_IDS + 1> arm1_log_specific_id_list();

}  // namespace cnxd
