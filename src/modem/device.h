// Per-device state of the modem devices and the small operations on it that
// the client dispatcher and the command shell call: the init-complete and
// current-operator tables, the airplane, carrier-aggregation and roaming
// change notifications, the pending MAC and IMEI changes, and the client
// identities that get the modem's console output.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

namespace cnxd {

// Per-device tables hold this many entries; a device index of 123 or more
// is outside every table.
constexpr size_t DEVICE_TABLE_SIZE = 123;
// Operator code reported for a device outside the tables.
constexpr uint8_t OPERATOR_UNKNOWN = 255;

constexpr size_t MAC_ADDR_LEN = 6;
constexpr size_t IMEI_LEN = 9;

// 1 once the device's online request sequence has finished, 0 before and
// after a device insert or removal. Written on the SDK callback and online
// threads, read by the dispatcher on the main thread.
extern std::array<std::atomic<uint8_t>, DEVICE_TABLE_SIZE> init_complete;
// The operator code the modem last reported for the device.
extern std::array<std::atomic<uint8_t>, DEVICE_TABLE_SIZE> current_operator;

// The device's init-complete flag; 0 outside the table.
uint8_t get_init_complete(uint32_t dev);
void set_init_complete(uint32_t dev, uint8_t value);
// The device's current operator code; OPERATOR_UNKNOWN outside the table.
uint8_t get_current_operator(uint32_t dev);
void set_current_operator(uint32_t dev, uint8_t value);

// Pending MAC and IMEI changes, applied and cleared at the device's next NV
// upload.
extern uint8_t is_change_mac_addr[DEVICE_TABLE_SIZE];
extern uint8_t change_mac_addr[DEVICE_TABLE_SIZE][MAC_ADDR_LEN];
extern uint8_t is_change_imei_addr[DEVICE_TABLE_SIZE];
extern uint8_t change_imei_addr[DEVICE_TABLE_SIZE][IMEI_LEN];

void ind_set_change_mac_address(uint32_t dev, const uint8_t* mac);
void ind_set_change_imei_address(uint32_t dev, const uint8_t* imei);

// The notifications of a changed setting: print it and forward it to the
// clients (events 166, 167 and 168) as the device index and the one-byte
// value at `value`.
void airplane_change_notification(uint32_t dev, const uint8_t* value);
void camode_change_notification(uint32_t dev, const uint8_t* value);
void roam_allow_change_notification(uint32_t dev, const uint8_t* value);

// Where the modem's own log goes: 0 off, 1 serial port, 2 the client log
// stream, 3 file, 4 the specific identifiers only.
constexpr uint32_t ARM1_LOG_UART = 1;
extern std::atomic<uint32_t> arm1_log_direction;
uint32_t get_arm1_log_direction();

// Client identities that get the modem's console output while the log
// direction is 4; 0 marks a free slot.
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
