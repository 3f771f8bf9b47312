// The first-time settings of a device and the NAS configuration requests.
#include <algorithm>
#include <array>

#include "base/be.h"
#include "config/confdb_access.h"
#include "modem/cm_call.h"
#include "modem/cm_wrappers.h"
#include "modem/device_tables.h"
#include "server/delivery.h"

namespace cnxd {
namespace {

// SMS submit record carrying a setting: 16-bit type, 16-bit length of what
// follows, sub-type byte, a zero byte, 32-bit value.
constexpr size_t SMS_SUBMIT_SIZE = 110;
constexpr uint16_t SMS_SUBMIT_SETTING = 7;
constexpr uint8_t SMS_SUB_TIMER = 3;
constexpr uint8_t SMS_SUB_SAVE = 5;

// Type/length/value records of the PHY and RRC controls.
constexpr uint16_t PHY_ANT_RX_MODE = 3;
constexpr uint16_t RRC_INTRA_BAND_CA = 11;
constexpr uint16_t RRC_DL_UL_MAX_LAYER = 20;

constexpr size_t NAS_CONFIG_SIZE = 33;
// NAS item identifier of each configuration index.
constexpr std::array<uint8_t, NAS_CONFIG_MAX_INDEX + 1> nas_config_item_tbl = {
    0x80, 0x81, 0x82, 0x83, 0x85, 0x86, 0x84, 0x87, 0x88, 0x89, 0x8A,
};

template <size_t N>
std::array<uint8_t, N> tlv16(uint16_t type)
{
    std::array<uint8_t, N> rec{};
    store_be16(&rec[0], type);
    store_be16(&rec[2], static_cast<uint16_t>(N - 4));
    return rec;
}

std::array<uint8_t, SMS_SUBMIT_SIZE> sms_setting_record(uint8_t sub_type, int value)
{
    auto rec = tlv16<SMS_SUBMIT_SIZE>(SMS_SUBMIT_SETTING);
    rec[4] = sub_type;
    store_be32(&rec[6], static_cast<uint32_t>(value));
    return rec;
}

}  // namespace

std::atomic<uint32_t> ctr_5gnr_flag{0};

void cm_set_ext_earfcn_request(uint32_t dev_idx, int value)
{
    std::array<uint8_t, 4> rec{};
    store_be32(rec.data(), static_cast<uint32_t>(value));
    cm_request<LAPI_SetEARFCNExtendRequest>(__func__, "EARFCN extension request fail", dev_idx, rec.data());
}

void cm_set_SMSTimerRequest(uint32_t dev_idx, int value)
{
    auto rec = sms_setting_record(SMS_SUB_TIMER, value);
    cm_request<LAPI_SMSSubmitRequest>(__func__, "SMS timer config request fail", dev_idx, rec.data());
}

void cm_set_SMSSaveConfigRequest(uint32_t dev_idx, int value)
{
    auto rec = sms_setting_record(SMS_SUB_SAVE, value);
    cm_request<LAPI_SMSSubmitRequest>(__func__, "SMS save config request fail", dev_idx, rec.data());
}

void cm_set_SMSConfigRequest(uint32_t dev_idx, int value)
{
    cm_enter(__func__);
    const uint8_t type = static_cast<uint8_t>(value);
    gSmsConfType = type;
    cm_printf(CM_INFO, "[%-25s] SMS Config type :0x%x\n", __func__, type);
    if (cm_check(__func__, LAPI_SendSmsConfChangeInd(hAPI, dev_idx, type), "SMS config change indication fail") != 0)
        return;
    cm_leave(__func__);
}

void cm_set_KeepCampOnAfterDetachRequest(uint32_t dev_idx, int value)
{
    cm_enter(__func__);
    cm_printf(CM_INFO, "[%-25s] Keep camp on after detach option :0x%x\n", __func__, value);
    if (value == 1 &&
        cm_check(__func__, LAPI_KeepCampOnAfterDetachRequest(hAPI, dev_idx), "keep camp on after detach request fail") != 0)
        return;
    cm_leave(__func__);
}

void cm_set_AntRxModeConfigRequest(uint32_t dev_idx, int value)
{
    auto rec = tlv16<5>(PHY_ANT_RX_MODE);
    rec[4] = static_cast<uint8_t>(value);
    cm_request<LAPI_PHYFunctionControlRequest>(__func__, "antenna RX mode config request fail", dev_idx, rec.data());
}

void cm_set_DLULMaxLayerRequest(uint32_t dev_idx, int value)
{
    constexpr uint8_t ul_max_layer = 0;
    cm_enter(__func__);
    auto rec = tlv16<6>(RRC_DL_UL_MAX_LAYER);
    rec[4] = static_cast<uint8_t>(value);
    rec[5] = ul_max_layer;
    cm_printf(CM_INFO, "[%-25s] dl_max_layer:%d, ul_max_layer:%d\n", __func__, rec[4], rec[5]);
    cm_check(__func__, LAPI_RRCCapabilityControlRequest(hAPI, dev_idx, rec.data()), "DL/UL max layer request fail");
    cm_leave(__func__);
}

void cm_set_IntraBandCAmodeRequest(uint32_t dev_idx, int value)
{
    cm_enter(__func__);
    if (value == 0) {
        cm_printf(CM_INFO, "[%-25s] Default mode(Intra_band CA mode:0x%d)\n", __func__, value);
        return;
    }
    auto rec = tlv16<10>(RRC_INTRA_BAND_CA);
    rec[9] = static_cast<uint8_t>(value);
    cm_printf(CM_INFO, "[%-25s] Intra_band CA mode option :0x%d\n", __func__, value);
    cm_check(__func__, LAPI_RRCCapabilityControlRequest(hAPI, dev_idx, rec.data()),
             "RRC Capability Control Set Request Failed");
    cm_leave(__func__);
}

int cm_nas_config_request(uint32_t dev_idx, int get, int index, int value)
{
    if (get == 0)
        return set_nas_config(dev_idx, index, value);
    const int32_t rc = cm_request<LAPI_GetNASConfigRequest>(__func__, "get NAS config request fail", dev_idx);
    return rc == 0 ? 0 : -1;
}

int set_nas_config(uint32_t dev_idx, int index, int value)
{
    if (index < 0 || index > NAS_CONFIG_MAX_INDEX) {
        cnxd_srv_send_log("[NAS_CONFIG]%s Invalid Idex:%d \n", __func__, index);
        return 1;
    }
    std::array<uint8_t, NAS_CONFIG_SIZE> rec{};
    rec[0] = 1;  // one item
    rec[1] = nas_config_item_tbl[static_cast<size_t>(index)];
    rec[2] = static_cast<uint8_t>(value);
    const int32_t rc = cm_request<LAPI_SetNASConfigRequest>(__func__, "set NAS config request fail", dev_idx, rec.data());
    return rc == 0 ? 0 : -1;
}

void cm_5g_add_security_ctrl_request(uint32_t dev_idx)
{
    std::array<uint8_t, CM_5G_SECURITY_SIZE> rec{};
    if (ctr_5gnr_flag != 1) {
        rec[0] = 255;
        rec[16] = 255;
    } else {
        std::fill_n(&rec[0], 4, 1);
        std::fill_n(&rec[16], 4, 1);
    }
    cm_5g_add_security_ctrl_request(dev_idx, rec);
}

void cm_5g_add_security_ctrl_request(uint32_t dev_idx, std::array<uint8_t, CM_5G_SECURITY_SIZE> rec)
{
    sdk_log(6, "%s\n", __func__);
    cm_request<LAPI_5GAddSecurityCtrlRequest>(__func__, "5G Additional Security Control Request fail", dev_idx,
                                              rec.data());
}

void cm_change_imei_address(uint32_t dev_idx, void* upload, std::span<const uint8_t, 9> imei)
{
    static_assert(imei.size() == IMEI_LEN);
    cm_enter(__func__);
    ind_set_change_imei_address(dev_idx, imei.data());
    cm_check(__func__, LAPI_UploadBinary(hAPI, dev_idx, upload), "Change IMEI Fail");
    cm_leave(__func__);
}

void cm_set_lte_info(uint32_t dev_idx, std::span<uint8_t> record)
{
    if (LAPI_SetLTEInfo(hAPI, dev_idx, record.data()) != 0)
        cm_printf(CM_ERR, "[%-25s] LAPI_SetLTEInfo (type : %d)\n", __func__, record.empty() ? 0 : record[0]);
}

}  // namespace cnxd
