#include "modem/device.h"

#include <sys/uio.h>

#include <algorithm>
#include <mutex>

#include "base/be.h"
#include "modem/cm_printf.h"
#include "server/delivery.h"

namespace cnxd {

std::array<std::atomic<uint8_t>, DEVICE_TABLE_SIZE> init_complete{};
std::array<std::atomic<uint8_t>, DEVICE_TABLE_SIZE> current_operator{};

uint8_t is_change_mac_addr[DEVICE_TABLE_SIZE];
uint8_t change_mac_addr[DEVICE_TABLE_SIZE][MAC_ADDR_LEN];
uint8_t is_change_imei_addr[DEVICE_TABLE_SIZE];
uint8_t change_imei_addr[DEVICE_TABLE_SIZE][IMEI_LEN];

std::atomic<uint32_t> arm1_log_direction{ARM1_LOG_UART};

namespace {

constexpr uint16_t EVT_AIRPLANE_CHANGE = 166;
constexpr uint16_t EVT_CAMODE_CHANGE = 167;
constexpr uint16_t EVT_ROAM_ALLOW_CHANGE = 168;

bool in_table(uint32_t dev) { return dev < DEVICE_TABLE_SIZE; }

// The identity list is written by the dispatcher (main thread) and read by
// the console output handler (SDK callback thread).
std::mutex specific_id_lock;
uint32_t specific_id_list[ARM1_LOG_SPECIFIC_IDS];

// Prints the change and forwards device index and value to the clients.
void change_notification(const char* name, const char* title, const char* label, uint16_t event,
                         uint32_t dev, const uint8_t* value)
{
    cm_printf(CM_TRACE, "[%s+]\n", name);
    cnxd_srv_send_log(title, static_cast<int>(dev));
    cnxd_srv_send_log(label, *value);
    uint8_t dev_be[4];
    store_be32(dev_be, dev);
    uint8_t byte = *value;
    iovec pieces[3] = {{nullptr, 0}, {dev_be, sizeof dev_be}, {&byte, 1}};
    cnxd_srv_send_sdk_cb_assemble_hci(event, pieces, 3);
}

int add_specific_id(uint32_t id)
{
    for (size_t slot = 0; slot < ARM1_LOG_SPECIFIC_IDS; ++slot) {
        if (specific_id_list[slot] == id) {
            cnxd_srv_send_log("already exist specific id (%zu, 0x%08x) \n", slot, id);
            return 1;
        }
        cnxd_srv_send_log("exist specific id (%zu, 0x%08x) \n", slot, specific_id_list[slot]);
    }
    for (size_t slot = 0; slot < ARM1_LOG_SPECIFIC_IDS; ++slot) {
        if (specific_id_list[slot] == 0) {
            specific_id_list[slot] = id;
            cnxd_srv_send_log("add specific id (%zu, 0x%08x) \n", slot, id);
            return 1;
        }
        cnxd_srv_send_log("exist specific id (%zu, 0x%08x) \n", slot, specific_id_list[slot]);
    }
    return -1;
}

int remove_specific_id(uint32_t id)
{
    for (size_t slot = 0; slot < ARM1_LOG_SPECIFIC_IDS; ++slot) {
        if (specific_id_list[slot] == id) {
            specific_id_list[slot] = 0;
            cnxd_srv_send_log("rm specific id (%zu, 0x%08x) \n", slot, id);
            return 1;
        }
        cnxd_srv_send_log("exist specific id (%zu, 0x%08x) \n", slot, specific_id_list[slot]);
    }
    return -1;
}

}  // namespace

uint8_t get_init_complete(uint32_t dev) { return in_table(dev) ? init_complete[dev].load() : 0; }

void set_init_complete(uint32_t dev, uint8_t value)
{
    if (in_table(dev))
        init_complete[dev] = value;
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

// A null address or a device outside the tables leaves the tables as they
// are.
void ind_set_change_mac_address(uint32_t dev, const uint8_t* mac)
{
    if (!in_table(dev) || !mac)
        return;
    is_change_mac_addr[dev] = 1;
    std::copy_n(mac, MAC_ADDR_LEN, change_mac_addr[dev]);
}

void ind_set_change_imei_address(uint32_t dev, const uint8_t* imei)
{
    if (!in_table(dev) || !imei)
        return;
    is_change_imei_addr[dev] = 1;
    std::copy_n(imei, IMEI_LEN, change_imei_addr[dev]);
}

void airplane_change_notification(uint32_t dev, const uint8_t* value)
{
    change_notification("airplane_change_notification", "\nAIRPLANE CHANGE INDICATION(DEV_IDX(%d))\n",
                        "Airplane Mode : %d\n", EVT_AIRPLANE_CHANGE, dev, value);
}

void camode_change_notification(uint32_t dev, const uint8_t* value)
{
    change_notification("camode_change_notification", "\nCA MODE CHANGE INDICATION(DEV_IDX(%d))\n",
                        "CA Mode : %d\n", EVT_CAMODE_CHANGE, dev, value);
}

void roam_allow_change_notification(uint32_t dev, const uint8_t* value)
{
    change_notification("roam_allow_change_notification", "\nROAM ALLOW CHANGE INDICATION(DEV_IDX(%d))\n",
                        "ROAM ALLOW : %d\n", EVT_ROAM_ALLOW_CHANGE, dev, value);
}

uint32_t get_arm1_log_direction() { return arm1_log_direction; }

int ind_set_arm1_log_specific_id(std::span<const uint8_t, ARM1_LOG_SPECIFIC_REC_LEN> rec)
{
    const uint8_t op = rec[0];
    const uint32_t id = load_be32(rec.data() + 1);
    cnxd_srv_send_log("Set arm1log specific (%d, 0x%08x) \n", op, id);
    std::lock_guard guard(specific_id_lock);
    return op == ARM1_LOG_SPECIFIC_ADD ? add_specific_id(id) : remove_specific_id(id);
}

std::array<uint32_t, ARM1_LOG_SPECIFIC_IDS + 1> arm1_log_specific_id_list()
{
    std::array<uint32_t, ARM1_LOG_SPECIFIC_IDS + 1> copy{};
    std::lock_guard guard(specific_id_lock);
    std::copy(std::begin(specific_id_list), std::end(specific_id_list), copy.begin());
    return copy;
}

}  // namespace cnxd
