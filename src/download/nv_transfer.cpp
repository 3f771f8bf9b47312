// NV items between their files and the modem: an item's file goes to the
// modem in one transfer record; an upload asks the modem for the item, whose
// data come back in the binary upload response.
#include <cstdio>
#include <vector>

#include "base/be.h"
#include "base/fd.h"
#include "base/path.h"
#include "download/download.h"
#include "ltesdk.h"
#include "modem/bringup.h"
#include "modem/cm_printf.h"

namespace cnxd {
namespace {

// The items' files, item 1 first, in this directory of the working
// directory.
constexpr const char* NV_DIR = "nv_data";
constexpr const char* NV_FILES[] = {"lte_info.nv_data", "board_conf.nv_data", "rf_cal.nv_data", "temp.nv_data",
                                    "net_info.nv_data"};

bool nv_item_valid(int item) { return item >= 1 && item <= static_cast<int>(std::size(NV_FILES)); }

// An item's place in the modem's NV: the item number times 256.
uint16_t nv_item_offset(int item) { return static_cast<uint16_t>(item * 256); }

}  // namespace

int cm_nv_download(uint32_t dev, int item)
{
    if (!nv_item_valid(item))
        return -1;
    char path[64];
    std::snprintf(path, sizeof path, "%s/%s", NV_DIR, NV_FILES[item - 1]);
    std::vector<uint8_t> rec(transfer::NV_SIZE, 0);
    {
        const unique_file f(std::fopen(cnxd_path(path).c_str(), "r"));
        if (!f) {
            cm_printf(CM_ERR, "[%-25s] Failed to open nv file %s\n", __func__, path);
            return -1;
        }
        const size_t n = std::fread(&rec[transfer::DATA], 1, transfer::NV_DATA_MAX, f.get());
        transfer_header(rec, static_cast<uint32_t>(n), transfer::NV_TYPE, nv_item_offset(item));
    }
    return LAPI_DownloadBinary(hAPI, dev, rec.data());
}

int cm_nv_upload(uint32_t dev, int item)
{
    if (!nv_item_valid(item))
        return -1;
    uint8_t rec[6] = {};
    store_be16(&rec[0], transfer::NV_TYPE);
    store_be16(&rec[4], nv_item_offset(item));
    return LAPI_UploadBinary(hAPI, dev, rec);
}

}  // namespace cnxd
