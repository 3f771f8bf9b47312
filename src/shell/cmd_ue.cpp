// The UE control commands written by hand: the MAC address and the IMEI,
// both sent as LTE information records (type, length, value), and the
// firmware download, which starts the device's download session.
#include <array>
#include <cstdint>
#include <cstring>

#include "base/be.h"
#include "download/download.h"

#include "modem/cm_wrappers.h"
#include "shell/cmd_handlers.h"
#include "shell/cmd_request.h"

namespace cnxd {
namespace {

constexpr uint8_t LTE_INFO_MAC = 0;
constexpr uint8_t LTE_INFO_IMEI = 1;

// Builds the value with the row's builder and sends it as an LTE
// information record of `type`.
template <size_t Len>
int send_lte_info(int argc, char** argv, uint8_t type)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    std::array<uint8_t, 2 + Len> rec{type, static_cast<uint8_t>(Len)};
    if (dev == 0 || cmd_make(e, e.builder, std::span(rec).subspan(2), argc, argv) != 0)
        return 0;
    cm_set_lte_info(dev, rec);
    cmd_leave(e);
    return 0;
}

}  // namespace

int cmd_change_mac_address(int argc, char** argv) { return send_lte_info<6>(argc, argv, LTE_INFO_MAC); }

int cmd_change_imei(int argc, char** argv) { return send_lte_info<9>(argc, argv, LTE_INFO_IMEI); }

// The request the builder fills: the file path, the 16-bit image type, the
// device index in the last word.
constexpr size_t DOWNLOAD_PATH_SIZE = 128;
constexpr size_t DOWNLOAD_TYPE = 128;
constexpr size_t DOWNLOAD_DEV = 132;
constexpr size_t DOWNLOAD_REQ_SIZE = 136;

int cmd_firmware_download(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    std::array<uint8_t, DOWNLOAD_REQ_SIZE> req{};
    if (dev == 0 || cmd_make(e, e.builder, req, argc, argv) != 0 || cmd_check(e, e.builder, req) != 0)
        return 0;
    store_be32(&req[DOWNLOAD_DEV], dev);
    const char* path = reinterpret_cast<const char*>(req.data());
    download_request r{std::string(path, strnlen(path, DOWNLOAD_PATH_SIZE)), load_be16(req.data() + DOWNLOAD_TYPE)};
    // The download clears the word when it ends, and so does a refusal
    // unless another session of the device still downloads.
    downloading_set(1, dev);
    run_download(dev, std::move(r));
    cmd_leave(e);
    return 0;
}

}  // namespace cnxd
