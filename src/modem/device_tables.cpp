#include "modem/device_tables.h"

#include <algorithm>
#include <mutex>

#include "modem/cm_memcpy.h"

namespace cnxd {

std::array<std::atomic<uint8_t>, DEVICE_TABLE_SIZE> init_complete{};
std::array<std::atomic<uint8_t>, DEVICE_TABLE_SIZE> current_operator{};
std::array<std::atomic<uint8_t>, DEVICE_TABLE_SIZE> get_operator_complete{};

namespace {

bool in_table(uint32_t dev) { return dev < DEVICE_TABLE_SIZE; }

// Guards the four pending-change tables.
std::mutex pending_lock;
uint8_t is_change_mac_addr[DEVICE_TABLE_SIZE];
uint8_t change_mac_addr[DEVICE_TABLE_SIZE][MAC_ADDR_LEN];
uint8_t is_change_imei_addr[DEVICE_TABLE_SIZE];
uint8_t change_imei_addr[DEVICE_TABLE_SIZE][IMEI_LEN];

}  // namespace

uint8_t get_init_complete(uint32_t dev) { return in_table(dev) ? init_complete[dev].load() : 0; }

void set_init_complete(uint32_t dev, uint8_t value)
{
    if (in_table(dev))
        init_complete[dev] = value;
}

uint8_t get_get_operator_complete(uint32_t dev) { return in_table(dev) ? get_operator_complete[dev].load() : 0; }

void set_get_operator_complete(uint32_t dev, uint8_t value)
{
    if (in_table(dev))
        get_operator_complete[dev] = value;
}

uint8_t get_current_operator(uint32_t dev)
{
    return in_table(dev) ? current_operator[dev].load() : OPERATOR_UNKNOWN;
}

void set_current_operator(uint32_t dev, uint8_t value)
{
    if (in_table(dev))
        current_operator[dev] = value;
}

namespace {

// Records a pending change of the device: its value through the guarded
// copy (a null value is logged as the indication handlers' "ind"), and its
// flag only when the value was copied, so that no stale slot is applied.
template <size_t N>
void set_pending(uint32_t dev, const uint8_t* value, uint8_t (&flag)[DEVICE_TABLE_SIZE],
                 uint8_t (&table)[DEVICE_TABLE_SIZE][N])
{
    if (!in_table(dev))
        return;
    std::lock_guard guard(pending_lock);
    if (check_memcpy(table[dev], value, N, "ind", __LINE__))
        flag[dev] = 1;
}

}  // namespace

void ind_set_change_mac_address(uint32_t dev, const uint8_t* mac)
{
    set_pending(dev, mac, is_change_mac_addr, change_mac_addr);
}

void ind_set_change_imei_address(uint32_t dev, const uint8_t* imei)
{
    set_pending(dev, imei, is_change_imei_addr, change_imei_addr);
}

pending_nv_change take_pending_nv_change(uint32_t dev)
{
    pending_nv_change out;
    if (!in_table(dev))
        return out;
    std::lock_guard guard(pending_lock);
    out.mac = is_change_mac_addr[dev] != 0;
    std::copy_n(change_mac_addr[dev], MAC_ADDR_LEN, out.mac_addr.begin());
    out.imei = is_change_imei_addr[dev] != 0;
    std::copy_n(change_imei_addr[dev], IMEI_LEN, out.imei_addr.begin());
    is_change_mac_addr[dev] = 0;
    is_change_imei_addr[dev] = 0;
    return out;
}

}  // namespace cnxd
