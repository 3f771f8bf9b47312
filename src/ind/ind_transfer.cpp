// Bodies of the binary transfer answers: a download response goes to the
// device's firmware download; an NV upload answer writes a pending MAC or
// IMEI change into the uploaded NV data and downloads them back.
#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "base/be.h"
#include "download/download.h"
#include "ind/ind_body.h"
#include "modem/cm_wrappers.h"
#include "modem/device_tables.h"
#include "server/delivery.h"

namespace cnxd {
namespace {

// NV upload answer: the upload request's six bytes, the data length, the
// data.
constexpr size_t UPLOAD_LEN = 6;
constexpr size_t UPLOAD_DATA = 10;

// The changed data go back in a record of this size; what does not fit
// behind the header is left out.
constexpr size_t CHANGE_SIZE = 2048;
constexpr size_t CHANGE_ROOM = CHANGE_SIZE - transfer::DATA;
// Its header: the NV item of the device's addresses, as long as that item
// is.
constexpr uint32_t CHANGE_LEN = 0x306;
constexpr uint32_t CHANGE_OFFSET = 0x100;

// Where the addresses lie in that item.
constexpr size_t NV_MAC = 88;
constexpr size_t NV_IMEI = 16;

std::string mac_text(const uint8_t* m)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x-%02x-%02x-%02x-%02x-%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return text;
}

// The 16 digits of an IMEI's 8 bytes after its length byte, one per
// nibble, each byte's low nibble first.
std::string imei_digits(const uint8_t* imei)
{
    static constexpr char HEX[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 1; i < IMEI_LEN; ++i) {
        out += HEX[imei[i] & 0x0F];
        out += HEX[imei[i] >> 4];
    }
    return out;
}

// Writes the change into `data` (the NV item's bytes) and logs it; the MAC
// change wins when both are pending.
void apply_change(const pending_nv_change& change, uint8_t* data)
{
    if (change.mac) {
        cnxd_srv_send_log("change MAC Addreess %s -> %s\n", mac_text(data + NV_MAC).c_str(),
                          mac_text(change.mac_addr.data()).c_str());
        std::ranges::copy(change.mac_addr, data + NV_MAC);
    } else {
        cnxd_srv_send_log("change IMEI %s -> %s\n", imei_digits(data + NV_IMEI).c_str(),
                          imei_digits(change.imei_addr.data()).c_str());
        std::ranges::copy(change.imei_addr, data + NV_IMEI);
    }
}

void download_changed_nv(uint32_t dev, const pending_nv_change& change, std::span<const uint8_t> uploaded)
{
    std::array<uint8_t, CHANGE_SIZE> rec{};
    std::copy_n(uploaded.begin(), std::min(uploaded.size(), CHANGE_ROOM), rec.begin() + transfer::DATA);
    apply_change(change, &rec[transfer::DATA]);
    transfer_header(rec, CHANGE_LEN, transfer::NV_TYPE, CHANGE_OFFSET);
    cm_binary_download(dev, rec.data());
}

}  // namespace

ind_next ind_body_binary_download_response(ind_call& call)
{
    call.title();
    continue_download(static_cast<int32_t>(load_be32(call.record(), 0)), call.dev_idx());
    return ind_next::forward;
}

ind_next ind_body_binary_upload_response(ind_call& call)
{
    call.title();
    const uint32_t dev = call.dev_idx();
    if (dev >= DEVICE_TABLE_SIZE) {
        cnxd_srv_send_log("Invalid device index\n");
        return ind_next::done;
    }
    const auto rec = call.record();
    const auto data = rec.subspan(std::min(rec.size(), UPLOAD_DATA));
    const pending_nv_change change = take_pending_nv_change(dev);
    if (change.mac || change.imei)
        download_changed_nv(dev, change, data.first(std::min<size_t>(data.size(), load_be32(rec, UPLOAD_LEN))));
    return ind_next::forward;
}

}  // namespace cnxd
