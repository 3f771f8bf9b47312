// The per-device tables of the modem devices, indexed by device index:
// whether a device has finished its online sequence, the operator code it
// last reported, and its pending MAC and IMEI changes.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

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

// 1 once the device's operator code has been asked for (protocol
// information type 5), 0 after a device insert or removal.
extern std::array<std::atomic<uint8_t>, DEVICE_TABLE_SIZE> get_operator_complete;

// The device's init-complete flag; 0 outside the table.
uint8_t get_init_complete(uint32_t dev);
void set_init_complete(uint32_t dev, uint8_t value);
uint8_t get_get_operator_complete(uint32_t dev);
void set_get_operator_complete(uint32_t dev, uint8_t value);
// The device's current operator code; OPERATOR_UNKNOWN outside the table.
uint8_t get_current_operator(uint32_t dev);
void set_current_operator(uint32_t dev, uint8_t value);

// The pending MAC and IMEI changes of a device, applied at its next NV
// upload. Set by the client dispatcher and the shell, taken by the NV upload
// answer on the SDK callback thread, so only reached through these calls.
struct pending_nv_change {
    bool mac = false;
    std::array<uint8_t, MAC_ADDR_LEN> mac_addr{};
    bool imei = false;
    std::array<uint8_t, IMEI_LEN> imei_addr{};
};

// Record a pending change; a null address or a device outside the tables
// changes nothing.
void ind_set_change_mac_address(uint32_t dev, const uint8_t* mac);
void ind_set_change_imei_address(uint32_t dev, const uint8_t* imei);
// The device's pending changes, with both flags cleared; nothing pending
// outside the tables.
pending_nv_change take_pending_nv_change(uint32_t dev);

}  // namespace cnxd
